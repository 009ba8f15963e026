// The application icon: a disk with a document lifted out of it, drawn with the platform's
// vector graphics so it stays sharp at every size.
#include "app/AppIcon.h"

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/image.h>

#include <memory>

wxIcon AppIcon(int size)
{
    wxImage canvas(size, size);
    canvas.InitAlpha();
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            canvas.SetAlpha(x, y, 0);
    wxBitmap bitmap(canvas, 32);
    {
        wxMemoryDC dc(bitmap);
        std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
        if (gc)
        {
            const double s = size / 32.0;
            // The disk: a dark blue slab with a light stripe.
            gc->SetPen(wxPen(wxColour(20, 40, 90), static_cast<int>(1 * s + 0.5)));
            gc->SetBrush(wxBrush(wxColour(40, 90, 170)));
            gc->DrawRoundedRectangle(2 * s, 18 * s, 28 * s, 12 * s, 3 * s);
            gc->SetBrush(wxBrush(wxColour(120, 200, 120)));
            gc->DrawEllipse(24 * s, 22 * s, 4 * s, 4 * s);
            // The document coming back out of it.
            gc->SetPen(wxPen(wxColour(90, 90, 90), static_cast<int>(1 * s + 0.5)));
            gc->SetBrush(wxBrush(wxColour(255, 255, 255)));
            gc->DrawRectangle(9 * s, 2 * s, 14 * s, 18 * s);
            gc->SetPen(wxPen(wxColour(40, 90, 170), static_cast<int>(1 * s + 0.5)));
            for (int line = 0; line < 3; ++line)
                gc->StrokeLine(12 * s, (6 + line * 4) * s, 20 * s, (6 + line * 4) * s);
        }
    }
    wxIcon icon;
    icon.CopyFromBitmap(bitmap);
    return icon;
}

wxIconBundle AppIcons()
{
    wxIconBundle icons;
    for (int size : {16, 32, 48})
        icons.AddIcon(AppIcon(size));
    return icons;
}
