// The application icon, drawn at the sizes the window manager and the About box ask for.
#pragma once

#include <wx/icon.h>
#include <wx/iconbndl.h>

// The icon at size × size pixels.
wxIcon AppIcon(int size);
// The icon at 16, 32 and 48 pixels.
wxIconBundle AppIcons();
