// The About box, laid out in dialog units.
#include "app/AboutDlg.h"

#include <wx/button.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "app/AppIcon.h"

CAboutDlg::CAboutDlg(wxWindow* parent)
{
    Create(parent, wxID_ANY, "About Orlavent - Brenmoor", wxDefaultPosition, wxDefaultSize,
           wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
    SetClientSize(ConvertDialogToPixels(wxSize(235, 58)));
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };

    new wxStaticBitmap(this, wxID_ANY, AppIcon(32), at(11, 17), size(20, 20));
    new wxStaticText(this, wxID_ANY, "Orlavent Version 3.2", at(40, 10), size(119, 8),
                     wxST_NO_AUTORESIZE);
    new wxStaticText(this, wxID_ANY, "Recovers deleted files\nfrom FAT, exFAT and NTFS volumes.",
                     at(40, 25), size(119, 20), wxST_NO_AUTORESIZE);
    auto* ok = new wxButton(this, wxID_OK, "OK", at(178, 7), size(50, 16));
    ok->SetDefault();
    ok->SetFocus();
    CentreOnParent();
}
