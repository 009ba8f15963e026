// The preview of one find: a picture scaled to fit, text, or a hex dump of its first bytes,
// with its condition. The bytes are the find's, read into memory; nothing is written.
#pragma once

#include <wx/dialog.h>

#include <string>
#include <vector>

#include "platform/Types.h"

class wxStaticText;

// What a preview shows.
enum class PreviewKind
{
    kPicture,
    kText,
    kHex,
};

// True when bytes start as a picture wxImage reads (JPEG, PNG, GIF, BMP, TIFF).
[[nodiscard]] bool StartsAsPicture(const std::vector<u8>& bytes);

class CPreviewDlg : public wxDialog
{
public:
    // name: the find's name (the title); condition: its condition text; note: what the read
    // left out, or empty; bytes: the find's first bytes.
    CPreviewDlg(wxWindow* parent, const std::string& name, const std::string& condition,
                const std::string& note, const std::vector<u8>& bytes);

    [[nodiscard]] PreviewKind Kind() const { return m_kind; }
    [[nodiscard]] wxStaticText* StatusLine() const { return m_status; }
    // The text or hex dump shown; empty for a picture.
    [[nodiscard]] const std::string& Text() const { return m_text; }

private:
    // Adds the picture to the dialog when bytes hold one; false when they do not.
    bool AddPicture(const std::vector<u8>& bytes, wxSizer* sizer);

    PreviewKind m_kind = PreviewKind::kHex;
    wxStaticText* m_status = nullptr;
    std::string m_text;
};
