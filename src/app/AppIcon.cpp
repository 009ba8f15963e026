// The application icon: a disk with a document lifted out of it, rendered from the SVG that is
// also installed for menus and docks, so that windows and menus show the same picture.
#include "app/AppIcon.h"

#include <wx/bitmap.h>
#include <wx/bmpbndl.h>

#include "app/AppIconSvg.h"

namespace
{
constexpr int kSvgSize = 32; // the drawing's own grid
}

wxIcon AppIcon(int size)
{
    const wxBitmapBundle picture = wxBitmapBundle::FromSVG(kAppIconSvg, wxSize(kSvgSize, kSvgSize));
    wxIcon icon;
    icon.CopyFromBitmap(picture.GetBitmap(wxSize(size, size)));
    return icon;
}

wxIconBundle AppIcons()
{
    wxIconBundle icons;
    for (int size : {16, 32, 48})
        icons.AddIcon(AppIcon(size));
    return icons;
}
