// The About box: the application icon, its name and version, and what it does.
#pragma once

#include <wx/dialog.h>

class CAboutDlg : public wxDialog
{
public:
    explicit CAboutDlg(wxWindow* parent);
};
