// The preview dialog: the picture through wxImage from memory, else the text, else the hex
// dump, under a line with the find's condition.
#include "app/PreviewDlg.h"

#include <wx/button.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <cstring>

#include "app/WxText.h"
#include "recovery/PreviewReader.h"

namespace
{
constexpr int kMaxWidth = 640; // the picture is scaled to fit this box
constexpr int kMaxHeight = 480;

bool StartsWith(const std::vector<u8>& bytes, const char* magic, std::size_t length)
{
    return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

} // namespace

bool StartsAsPicture(const std::vector<u8>& bytes)
{
    return StartsWith(bytes, "\xFF\xD8\xFF", 3) || StartsWith(bytes, "\x89PNG\r\n\x1A\n", 8) ||
           StartsWith(bytes, "GIF87a", 6) || StartsWith(bytes, "GIF89a", 6) ||
           StartsWith(bytes, "BM", 2) || StartsWith(bytes, "II*\0", 4) ||
           StartsWith(bytes, "MM\0*", 4);
}

CPreviewDlg::CPreviewDlg(wxWindow* parent, const std::string& name, const std::string& condition,
                         const std::string& note, const std::vector<u8>& bytes)
    : wxDialog(parent, wxID_ANY, "Preview - " + WxText(name), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER)
{
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    std::string status = "Condition: " + (condition.empty() ? std::string("-") : condition);
    if (!note.empty())
        status += ". " + note;
    if (!AddPicture(bytes, sizer))
    {
        std::string& shown = m_text;
        if (LooksLikeText(bytes))
        {
            m_kind = PreviewKind::kText;
            shown = PreviewText(bytes);
        }
        else
        {
            m_kind = PreviewKind::kHex;
            const std::size_t head = std::min<std::size_t>(bytes.size(), kPreviewHexBytes);
            shown = HexDump(
                std::vector<u8>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(head)));
            status += ". First " + std::to_string(head) + " bytes in hex";
        }
        auto* text = new wxTextCtrl(this, wxID_ANY, WxText(shown), wxDefaultPosition,
                                    wxSize(kMaxWidth, kMaxHeight),
                                    wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP | wxHSCROLL);
        if (m_kind == PreviewKind::kHex)
            text->SetFont(wxFont(wxFontInfo().Family(wxFONTFAMILY_TELETYPE)));
        sizer->Add(text, 1, wxEXPAND | wxALL, 8);
    }
    m_status = new wxStaticText(this, wxID_ANY, WxText(status));
    sizer->Insert(0, m_status, 0, wxLEFT | wxRIGHT | wxTOP, 8);
    sizer->Add(new wxButton(this, wxID_CANCEL, "Close"), 0, wxALIGN_RIGHT | wxALL, 8);
    SetEscapeId(wxID_CANCEL);
    SetSizerAndFit(sizer);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); }, wxID_CANCEL);
}

bool CPreviewDlg::AddPicture(const std::vector<u8>& bytes, wxSizer* sizer)
{
    if (!StartsAsPicture(bytes))
        return false;
    if (wxImage::FindHandler(wxBITMAP_TYPE_JPEG) == nullptr)
        wxInitAllImageHandlers();
    wxImage image;
    {
        wxLogNull quiet; // a damaged picture is no error to report: it falls back to hex
        wxMemoryInputStream stream(bytes.data(), bytes.size());
        if (!image.LoadFile(stream, wxBITMAP_TYPE_ANY) || !image.IsOk())
            return false;
    }
    const double scale = std::min({1.0, static_cast<double>(kMaxWidth) / image.GetWidth(),
                                   static_cast<double>(kMaxHeight) / image.GetHeight()});
    if (scale < 1.0)
        image.Rescale(std::max(1, static_cast<int>(image.GetWidth() * scale)),
                      std::max(1, static_cast<int>(image.GetHeight() * scale)),
                      wxIMAGE_QUALITY_HIGH);
    sizer->Add(new wxStaticBitmap(this, wxID_ANY, wxBitmap(image)), 1, wxALIGN_CENTER | wxALL, 8);
    m_kind = PreviewKind::kPicture;
    return true;
}
