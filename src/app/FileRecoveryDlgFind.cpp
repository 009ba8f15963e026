// The main dialog's finding aids over the result list: the filter bar, the sort by column, the
// condition colours and their legend, the columns fitted to their texts, the keys, and the
// preview of a find.
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>

#include "app/FileRecoveryDlg.h"
#include "app/PreviewDlg.h"
#include "app/WxText.h"
#include "catalog/VolumeEngine.h"
#include "platform/Status.h"
#include "recovery/PreviewReader.h"

namespace
{
constexpr long kPathColumn = 5;
constexpr int kMaxColumnWidth = 420;
constexpr int kColumnPadding = 16;
constexpr int kIconWidth = 20;
// A picture is read whole up to this size to be decoded; other previews need only their start.
constexpr u64 kPreviewPictureBytes = 32u << 20;

constexpr const char* kConditionLegend =
    "Condition of each file's clusters:\n"
    "good (green): free, and claimed by no other find\n"
    "inferred (blue): worked out around other data\n"
    "partial (orange): some now hold other data\n"
    "overwritten (red): live files hold them\n"
    "unknown (grey): the volume's allocation could not be read";

bool Inside(const wxWindow* window, const wxWindow* outer)
{
    for (; window != nullptr; window = window->GetParent())
        if (window == outer)
            return true;
    return false;
}

// The report view's header window, found among the list's children (its type is wx's own);
// null in the other views.
wxWindow* HeaderWindow(CDriveList* list)
{
    for (wxWindow* child : list->GetChildren())
        if (static_cast<const void*>(child) == static_cast<const void*>(list->m_headerWin))
            return child;
    return nullptr;
}

// What the preview says about a read that did not give every byte.
std::string ReadNote(u32 status)
{
    switch (status)
    {
    case kStreamClipped:
        return "Only part of its data could be placed; that part is shown";
    case kStreamUnreadable:
        return "Where its data lies could not be read";
    case kPreviewReadFailed:
        return "A read failed; the bytes before it are shown";
    default:
        return {};
    }
}
// The text of a column of a row.
const std::string& CellOf(const ListedRow& listed, long column)
{
    static const std::string kNone;
    switch (column)
    {
    case 0:
        return listed.row.name;
    case 1:
        return listed.row.description;
    case 2:
        return listed.row.size;
    case 3:
        return listed.row.access;
    case 4:
        return listed.row.condition;
    case kPathColumn:
        return listed.path;
    default:
        return kNone;
    }
}
} // namespace

void CFileRecoveryDlg::CreateFilterBar()
{
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
    m_search = new wxTextCtrl(this, kIdSearch, wxString(), at(14, 16), size(170, 13));
    m_search->SetHint("Name, or a pattern such as *.jpg (Ctrl+F)");
    wxArrayString types;
    for (std::size_t i = 0; i < kFindTypeCount; ++i)
        types.Add(FindTypeText(static_cast<FindType>(i)));
    m_typeChoice = new wxChoice(this, kIdTypeChoice, at(190, 16), size(80, 13), types);
    m_typeChoice->SetSelection(0);
    m_recoverable =
        new wxCheckBox(this, kIdRecoverableOnly, "Recoverable only", at(278, 17), size(110, 12));
    m_search->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { ApplyFilter(); });
    m_typeChoice->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { ApplyFilter(); });
    m_recoverable->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { ApplyFilter(); });
    const wxColour colours[] = {wxColour(),
                                wxColour(0x61, 0x61, 0x61),
                                wxColour(0x1B, 0x7F, 0x2A),
                                wxColour(0x15, 0x5F, 0xC0),
                                wxColour(0xB2, 0x5A, 0x00),
                                wxColour(0xC6, 0x28, 0x28)};
    for (std::size_t i = 0; i < std::size(colours); ++i)
        m_conditionAttrs[i].SetTextColour(colours[i]);
    ShowFilterBar(false);
}

void CFileRecoveryDlg::ShowFilterBar(bool show)
{
    if (!show)
    {
        // A new search starts unfiltered.
        m_search->ChangeValue(wxString());
        m_typeChoice->SetSelection(0);
        m_recoverable->SetValue(false);
        m_list.Filter() = FindFilter();
    }
    m_search->Show(show);
    m_typeChoice->Show(show);
    m_recoverable->Show(show);
    // The list begins below the filter bar, or below the drive page's deep search check box.
    const int top = 32;
    m_driveList->SetSize(wxRect(ConvertDialogToPixels(wxPoint(14, top)),
                                ConvertDialogToPixels(wxSize(381, 203 - top))));
    if (wxWindow* header = show ? HeaderWindow(m_driveList) : nullptr)
    {
        header->Unbind(wxEVT_MOTION, &CFileRecoveryDlg::OnHeaderMotion, this);
        header->Bind(wxEVT_MOTION, &CFileRecoveryDlg::OnHeaderMotion, this);
    }
}

void CFileRecoveryDlg::ApplyFilter()
{
    // While a worker runs the items may change: the bar's state is taken at the next listing.
    if (m_wizard.State() != kWizardResults)
        return;
    RenderRows();
    ShowMessageLine();
}

void CFileRecoveryDlg::TakeFilterBar()
{
    FindFilter& filter = m_list.Filter();
    filter.SetMimeTypes(&m_fileTypes);
    filter.SetName(m_search->GetValue().utf8_string());
    const int type = m_typeChoice->GetSelection();
    filter.SetType(type > 0 ? static_cast<FindType>(type) : FindType::kAll);
    filter.SetRecoverableOnly(m_recoverable->GetValue());
}

void CFileRecoveryDlg::ShowMessageLine()
{
    m_message->SetLabelText(WxText(m_list.Filtered() ? m_list.ShownText() : m_wizardMessage));
}

void CFileRecoveryDlg::SortByColumn(int column)
{
    if (m_wizard.State() != kWizardResults || column < 0 || column > kPathColumn)
        return;
    m_list.SortBy(static_cast<ResultColumn>(column));
    m_driveList->ShowVirtualRows(this, static_cast<long>(m_list.Count()));
    m_driveList->ShowSortIndicator(column, m_list.Ascending());
}

void CFileRecoveryDlg::OnColumnClick(wxListEvent& event)
{
    SortByColumn(event.GetColumn());
}

void CFileRecoveryDlg::OnHeaderMotion(wxMouseEvent& event)
{
    // The legend is the Condition column's tooltip.
    wxWindow* header = HeaderWindow(m_driveList);
    if (header == nullptr)
        return;
    int x = event.GetX();
    int scrolled = 0;
    m_driveList->CalcUnscrolledPosition(0, 0, &scrolled, nullptr);
    x += scrolled;
    int column = 0;
    for (int left = 0; column < m_driveList->GetColumnCount(); ++column)
    {
        left += m_driveList->GetColumnWidth(column);
        if (x < left)
            break;
    }
    if (column == 4)
        header->SetToolTip(kConditionLegend);
    else
        header->UnsetToolTip();
    event.Skip();
}

void CFileRecoveryDlg::FitColumns()
{
    // Each column as wide as its longest text (by bytes: measuring every row would cost more
    // than the listing) or its header, within bounds; the user may widen it.
    const int columns = m_driveList->GetColumnCount();
    for (int c = 0; c < columns; ++c)
    {
        std::size_t longest = 0;
        std::size_t row = kNoItem;
        for (std::size_t i = 0; i < m_list.Count(); ++i)
        {
            const std::size_t length = CellOf(m_list.Row(i), c).size();
            if (length > longest || row == kNoItem)
            {
                longest = length;
                row = i;
            }
        }
        wxListItem header;
        header.SetMask(wxLIST_MASK_TEXT);
        m_driveList->GetColumn(c, header);
        int width = m_driveList->GetTextExtent(header.GetText()).GetWidth() + kColumnPadding;
        if (row != kNoItem)
            width = std::max(
                width, m_driveList->GetTextExtent(RowText(static_cast<long>(row), c)).GetWidth() +
                           kColumnPadding + (c == 0 ? kIconWidth : 0));
        m_driveList->SetColumnWidth(c, std::min(width, kMaxColumnWidth));
    }
}

void CFileRecoveryDlg::SelectAllShown()
{
    if (m_wizard.State() != kWizardResults)
        return;
    for (long i = 0; i < m_driveList->GetItemCount(); ++i)
        m_driveList->SetItemState(i, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
}

bool CFileRecoveryDlg::HandleKey(int keyCode, int modifiers)
{
    if (m_wizard.State() != kWizardResults)
        return false;
    const bool control = modifiers == wxMOD_CONTROL;
    if (control && (keyCode == 'F' || keyCode == 'f'))
    {
        m_search->SetFocus();
        m_search->SelectAll();
        return true;
    }
    const bool inList = Inside(wxWindow::FindFocus(), m_driveList);
    if (control && (keyCode == 'A' || keyCode == 'a') && !Inside(wxWindow::FindFocus(), m_search))
    {
        SelectAllShown();
        return true;
    }
    if (keyCode == WXK_SPACE && modifiers == wxMOD_NONE && inList)
    {
        PreviewSelected();
        return true;
    }
    return false;
}

void CFileRecoveryDlg::OnCharHook(wxKeyEvent& event)
{
    if (!HandleKey(event.GetKeyCode(), event.GetModifiers()))
        event.Skip();
}

CPreviewDlg* CFileRecoveryDlg::PreviewSelected()
{
    if (m_wizard.State() != kWizardResults)
        return nullptr;
    const long selected = m_driveList->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (selected < 0 || static_cast<std::size_t>(selected) >= m_list.Count())
        return nullptr;
    const ListedRow& row = m_list.Row(static_cast<std::size_t>(selected));
    const s32 volumeIndex = m_catalog.m_curVolume;
    if (row.folder || row.item == kNoItem || volumeIndex < 0 ||
        static_cast<std::size_t>(volumeIndex) >= m_catalog.m_volumes.size())
        return nullptr;
    VolumeEntry& volume = m_catalog.m_volumes[static_cast<std::size_t>(volumeIndex)];
    if (row.item >= volume.items.size())
        return nullptr;
    const FoundItem& item = volume.items[row.item];
    std::vector<u8> bytes;
    u32 status = ReadPreview(volume, item, kPreviewTextBytes, &bytes);
    if (StartsAsPicture(bytes) && item.size > bytes.size())
        status = ReadPreview(volume, item, kPreviewPictureBytes, &bytes);
    if (m_preview != nullptr)
        m_preview->Destroy();
    m_preview =
        new CPreviewDlg(this, item.name.str(), ConditionLabel(item), ReadNote(status), bytes);
    m_preview->Bind(wxEVT_DESTROY,
                    [this](wxWindowDestroyEvent& event)
                    {
                        if (event.GetEventObject() == m_preview)
                            m_preview = nullptr;
                        event.Skip();
                    });
    m_preview->Show();
    return m_preview;
}

wxString CFileRecoveryDlg::RowText(long row, long column) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_list.Count())
        return {};
    return WxText(CellOf(m_list.Row(static_cast<std::size_t>(row)), column));
}

int CFileRecoveryDlg::RowImage(long row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_list.Count())
        return -1;
    return m_list.Row(static_cast<std::size_t>(row)).row.image;
}

wxItemAttr* CFileRecoveryDlg::RowAttr(long row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_list.Count())
        return nullptr;
    const auto condition =
        static_cast<std::size_t>(m_list.Row(static_cast<std::size_t>(row)).condition);
    return condition > 0 && condition < std::size(m_conditionAttrs) ? &m_conditionAttrs[condition]
                                                                    : nullptr;
}
