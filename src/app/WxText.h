// Engine texts (UTF-8) as wx strings.
#pragma once

#include <wx/string.h>

#include <string>

// A text that is not UTF-8 (a name from a damaged volume) is shown byte for byte as Latin-1
// rather than dropped.
inline wxString WxText(const std::string& text)
{
    wxString converted = wxString::FromUTF8(text);
    if (converted.empty() && !text.empty())
        converted = wxString(text.c_str(), wxConvISO8859_1, text.size());
    return converted;
}
