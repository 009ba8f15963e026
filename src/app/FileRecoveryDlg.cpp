// The main dialog: layout in dialog units, the wizard's host, the result rows on the list, and
// the workers' notices arriving as queued events.
#include "app/FileRecoveryDlg.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dirdlg.h>
#include <wx/filename.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include <string>
#include <vector>

#include <algorithm>
#include <utility>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/DriveList.h"
#include "platform/LostVolumeDrives.h"

namespace
{
constexpr const char* kAppName = "Orlavent";
constexpr int kTypeIcon = 16;
constexpr int kPathColumn = 5; // the matches' folders, shown while a filter is set
// The message line's width in dialog units, and beside the deep search's offer.
constexpr int kMessageWidth = 448;
constexpr int kMessageWidthBesideOffer = 398;

// Texts are UTF-8 inside the engine; a text that is not (a name from a damaged volume) is shown
// byte for byte rather than dropped.
wxString ToWx(const std::string& text)
{
    wxString converted = wxString::FromUTF8(text);
    if (converted.empty() && !text.empty())
        converted = wxString(text.c_str(), wxConvISO8859_1, text.size());
    return converted;
}

std::string FromWx(const wxString& text)
{
    return text.utf8_string();
}

// The first icon of names (theme names, one a line) that the icon theme has, else the generic
// document icon; always kTypeIcon square.
wxBitmap TypeBitmap(const std::string& names)
{
    wxBitmap bitmap;
    std::size_t at = 0;
    while (!bitmap.IsOk() && at <= names.size())
    {
        std::size_t end = names.find('\n', at);
        if (end == std::string::npos)
            end = names.size();
        const std::string name = names.substr(at, end - at);
        if (!name.empty())
            bitmap = wxArtProvider::GetBitmap(wxString::FromUTF8(name), wxART_LIST,
                                              wxSize(kTypeIcon, kTypeIcon));
        at = end + 1;
    }
    if (!bitmap.IsOk())
        bitmap =
            wxArtProvider::GetBitmap(wxART_NORMAL_FILE, wxART_LIST, wxSize(kTypeIcon, kTypeIcon));
    if (!bitmap.IsOk())
        bitmap = wxBitmap(kTypeIcon, kTypeIcon);
    if (bitmap.GetWidth() != kTypeIcon || bitmap.GetHeight() != kTypeIcon)
        bitmap =
            wxBitmap(bitmap.ConvertToImage().Rescale(kTypeIcon, kTypeIcon, wxIMAGE_QUALITY_HIGH));
    return bitmap;
}
} // namespace

CFileRecoveryDlg::CFileRecoveryDlg(wxWindow* parent, std::string driveNotice)
    : m_engineBox(m_sink, [this](const std::string& text, const std::string& caption)
                  { m_showBox(text, caption); }),
      m_wizard(*this), m_driveNotice(std::move(driveNotice))
{
    m_showBox = [this](const std::string& text, const std::string& caption)
    {
        wxMessageDialog box(this, ToWx(text), ToWx(caption), wxOK | wxICON_NONE);
        box.ShowModal();
    };
    m_chooseFolder = [this](std::string* folder)
    {
        wxString start = folder->empty() ? wxGetHomeDir() : ToWx(*folder);
        wxDirDialog chooser(this, "Save to", start, wxDD_DEFAULT_STYLE);
        if (chooser.ShowModal() != wxID_OK || chooser.GetPath().empty())
            return false;
        *folder = FromWx(chooser.GetPath());
        return true;
    };

    Create(parent, wxID_ANY, kAppName, wxPoint(0, 0), wxDefaultSize,
           wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
    SetClientSize(ConvertDialogToPixels(wxSize(510, 286)));
    auto at = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
    auto size = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };

    new wxStaticBox(this, wxID_ANY, "Drive List", at(7, 7), size(397, 204));
    new wxStaticBox(this, wxID_ANY, "Message", at(7, 214), size(496, 64));
    new wxStaticBox(this, wxID_ANY, "Operations", at(411, 7), size(92, 203));
    m_driveList = new CDriveList(this, kIdDriveList, at(14, 17), size(381, 186),
                                 wxLC_ICON | wxLC_ALIGN_LEFT | wxBORDER_SUNKEN);
    m_message = new wxStaticText(this, kIdMessage, wxString(), at(22, 230), size(kMessageWidth, 16),
                                 wxST_NO_AUTORESIZE | wxALIGN_LEFT);
    m_deepOffer =
        new wxButton(this, kIdDeepSearchOffer, kDeepSearchButtonText, at(424, 227), size(72, 15));
    m_deepOffer->Hide();
    m_deepChoice =
        new wxCheckBox(this, kIdDeepSearchChoice, kDeepSearchChoiceText, at(14, 17), size(300, 12));
    m_progress = new wxGauge(this, kIdProgress, 100, at(21, 255), size(463, 14),
                             wxGA_HORIZONTAL | wxGA_SMOOTH);
    m_button1 = new wxButton(this, kIdWizardButton, "Button1", at(426, 25), size(65, 47));
    m_reset = new wxButton(this, kIdReset, "Reset", at(426, 90), size(65, 46));
    m_about = new wxButton(this, kIdAbout, "About", at(426, 152), size(66, 48));

    CreateFilterBar();

    SetIcons(AppIcons());
    m_typeImages.Create(kTypeIcon, kTypeIcon, true, 20);

    m_button1->Bind(wxEVT_BUTTON, &CFileRecoveryDlg::OnButton1, this);
    m_reset->Bind(wxEVT_BUTTON, &CFileRecoveryDlg::OnReset, this);
    m_about->Bind(wxEVT_BUTTON, &CFileRecoveryDlg::OnAbout, this);
    m_deepOffer->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_wizard.OnDeepSearch(); });
    m_deepChoice->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OfferLostVolumes(); });
    m_driveList->Bind(wxEVT_LIST_ITEM_ACTIVATED, &CFileRecoveryDlg::OnItemActivated, this);
    m_driveList->Bind(wxEVT_LIST_COL_CLICK, &CFileRecoveryDlg::OnColumnClick, this);
    Bind(wxEVT_CHAR_HOOK, &CFileRecoveryDlg::OnCharHook, this);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { PreviewSelected(); }, kIdPreviewCommand);
    Bind(ORL_EVT_WORKER, &CFileRecoveryDlg::OnWorker, this);
    Bind(wxEVT_CONTEXT_MENU, &CFileRecoveryDlg::OnContextMenu, this);
    Bind(wxEVT_MENU, &CFileRecoveryDlg::OnAbout, this, kIdAboutCommand);
    Bind(wxEVT_CLOSE_WINDOW, &CFileRecoveryDlg::OnClose, this);

    // From here on the workers' notices reach this dialog.
    m_catalog.m_sink = &m_sink;
    m_catalog.m_messageBox = &m_engineBox;
    m_catalog.m_fileTypes = &m_fileTypes;
    m_catalog.InitFileTypes();
    m_sink.Attach(this);

    // Enter presses the wizard button.
    m_button1->SetDefault();
    SetDefaultItem(m_button1);
    m_wizard.OnButton1();
    m_driveList->SetFocus();
}

CFileRecoveryDlg::~CFileRecoveryDlg()
{
    Shutdown();
}

void CFileRecoveryDlg::Shutdown()
{
    m_closing = true;
    m_sink.Detach();
    m_catalog.StopWorkers(false);
}

void CFileRecoveryDlg::ShowAbout()
{
    CAboutDlg about(this);
    about.ShowModal();
}

// ---- wx events ----

void CFileRecoveryDlg::OnButton1(wxCommandEvent&)
{
    m_wizard.OnButton1();
}

void CFileRecoveryDlg::OnReset(wxCommandEvent&)
{
    m_wizard.OnReset();
}

void CFileRecoveryDlg::OnAbout(wxCommandEvent&)
{
    ShowAbout();
}

void CFileRecoveryDlg::OnItemActivated(wxListEvent&)
{
    // The list takes Enter for itself once it has a current row; outside the results, where a
    // double-click means nothing, Enter still presses the wizard button (the default button).
    if (m_wizard.State() == kWizardResults)
        m_wizard.OnDoubleClick();
    else if (!wxGetMouseState().ButtonIsDown(wxMOUSE_BTN_ANY))
        m_wizard.OnButton1();
}

void CFileRecoveryDlg::OnContextMenu(wxContextMenuEvent& event)
{
    // The About entry that a system menu would hold; over the results' list, Preview first.
    wxMenu menu;
    const auto* from = dynamic_cast<wxWindow*>(event.GetEventObject());
    if (m_wizard.State() == kWizardResults && from != nullptr &&
        (from == m_driveList || from->GetParent() == m_driveList))
    {
        menu.Append(kIdPreviewCommand, "Preview\tSpace");
        menu.AppendSeparator();
    }
    menu.Append(kIdAboutCommand, "&About Orlavent - Brenmoor");
    wxPoint where = event.GetPosition();
    PopupMenu(&menu, where == wxDefaultPosition ? wxDefaultPosition : ScreenToClient(where));
}

void CFileRecoveryDlg::OnWorker(wxThreadEvent& event)
{
    if (m_closing)
        return;
    const WorkerNotice notice = event.GetPayload<WorkerNotice>();
    switch (notice.message)
    {
    case WM_SCAN_NOTIFY:
        m_wizard.OnScanNotify(notice.code, notice.text, notice.extra);
        break;
    case WM_RECOVER_NOTIFY:
        m_wizard.OnRecoverNotify(notice.code, notice.text, notice.extra);
        break;
    case kBoxNotice:
        m_showBox(notice.text, notice.caption);
        break;
    default:
        break;
    }
}

void CFileRecoveryDlg::OnClose(wxCloseEvent& event)
{
    Shutdown();
    event.Skip(); // the dialog's own close ends the modal loop
}

// ---- the wizard's host ----

void CFileRecoveryDlg::ShowDriveChoice()
{
    m_rows.clear();
    ShowFilterBar(false);
    m_driveList->DeleteAllColumns();
    m_driveList->ShowVirtualRows(nullptr, 0);
    // Sources of no file system are offered only for the deep search, the one that carves them.
    const u32 raw = m_deepChoice->GetValue() ? kFsBitRaw : 0;
    m_driveList->FillDrives(kDriveFixed, kFsBitFat | kFsBitNtfs | kFsBitExfat | raw, true,
                            kAlignTop, kViewIcon);
    m_deepChoice->Show();
    if (!m_driveNotice.empty())
        SetMessage(m_driveNotice);
}

void CFileRecoveryDlg::OfferLostVolumes()
{
    // Unchosen again: the drives only the deep search can read leave the list.
    if (!m_deepChoice->GetValue())
    {
        if (m_lostVolumesAdded)
            ShowDriveChoice();
        return;
    }
    if (m_lostVolumesAdded)
    {
        ShowDriveChoice();
        return;
    }
    m_lostVolumesAdded = true;
    wxBusyCursor busy;
    std::vector<std::string> errors;
    const std::vector<std::string> added = AddLostVolumeDrives(m_sources, &errors);
    for (const std::string& error : errors)
        m_driveNotice += (m_driveNotice.empty() ? "" : " ") + error;
    if (!added.empty() || !errors.empty())
        ShowDriveChoice();
}

std::string CFileRecoveryDlg::SelectedDrives()
{
    return m_driveList->GetSelectedDrives();
}

void CFileRecoveryDlg::ShowResultColumns()
{
    m_driveList->SetViewStyle(kViewReport);
    m_driveList->SetAlignStyle(kAlignLeft);
    m_driveList->DeleteAllItems();
    m_driveList->ShowVirtualRows(this, 0);
    m_driveList->DeleteAllColumns();
    m_rows.clear();
    m_driveList->InsertColumn(0, "Name", wxLIST_FORMAT_LEFT, 200);
    m_driveList->InsertColumn(1, "Description", wxLIST_FORMAT_LEFT, 100);
    m_driveList->InsertColumn(2, "Size", wxLIST_FORMAT_LEFT, 100);
    m_driveList->InsertColumn(3, "Access", wxLIST_FORMAT_LEFT, 100);
    m_driveList->InsertColumn(4, "Condition", wxLIST_FORMAT_LEFT, 100);
    m_driveList->SetImageList(&m_typeImages, wxIMAGE_LIST_SMALL);
    m_deepChoice->Hide();
    ShowFilterBar(true);
}

bool CFileRecoveryDlg::DeepSearchChosen()
{
    return m_deepChoice->GetValue();
}

u32 CFileRecoveryDlg::StartSearch(const std::string& selection, bool deep)
{
    m_catalog.m_deepSearch = deep;
    return m_catalog.StartSearch(selection);
}

void CFileRecoveryDlg::ShowDeepSearchOffer(bool show)
{
    m_message->SetSize(
        ConvertDialogToPixels(wxSize(show ? kMessageWidthBesideOffer : kMessageWidth, 16)));
    m_deepOffer->Show(show);
}

void CFileRecoveryDlg::StopWorkers()
{
    m_catalog.StopWorkers(true);
    if (!m_catalog.m_volumes.empty())
        ShowCurrentFolder();
}

void CFileRecoveryDlg::ShowCurrentFolder()
{
    const s32 volume = m_catalog.m_curVolume;
    if (volume < 0 || static_cast<std::size_t>(volume) >= m_catalog.m_volumes.size())
        return;
    m_catalog.ShowFolder(m_catalog.m_volumes[static_cast<std::size_t>(volume)], &m_rows);
    RenderRows();
}

std::vector<SelectedRow> CFileRecoveryDlg::SelectedRows()
{
    std::vector<SelectedRow> rows;
    for (long item = m_driveList->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
         item != -1; item = m_driveList->GetNextItem(item, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
    {
        const auto index = static_cast<std::size_t>(item);
        if (item >= 0 && index < m_list.Count())
        {
            const ListedRow& row = m_list.Row(index);
            const std::string name = m_list.SelectionName(index);
            const bool below = name != row.row.name;
            rows.push_back(SelectedRow{name, row.row.description, below ? row.path : std::string(),
                                       below ? row.row.name : std::string()});
        }
    }
    return rows;
}

void CFileRecoveryDlg::Navigate(const std::string& name)
{
    if (!m_catalog.Navigate(name, &m_rows))
        return;
    RenderRows();
    if (m_list.Filtered())
        ShowMessageLine();
}

bool CFileRecoveryDlg::ChooseFolder(std::string* folder)
{
    return m_chooseFolder(folder);
}

u32 CFileRecoveryDlg::StartRecovery(const std::string& destination)
{
    return m_catalog.StartRecovery(destination);
}

void CFileRecoveryDlg::ShowMessageBox(const std::string& text)
{
    m_showBox(text, kAppName);
}

void CFileRecoveryDlg::SetButtonText(const std::string& text)
{
    m_button1->SetLabel(ToWx(text));
}

void CFileRecoveryDlg::EnableButton(bool enable)
{
    m_button1->Enable(enable);
}

void CFileRecoveryDlg::EnableReset(bool enable)
{
    m_reset->Enable(enable);
}

void CFileRecoveryDlg::SetProgressRange(u32 upper)
{
    // A bar needs a range of at least one step.
    m_progress->SetRange(static_cast<int>(std::max<u32>(upper, 1)));
    if (m_progress->GetValue() > m_progress->GetRange())
        m_progress->SetValue(m_progress->GetRange());
}

void CFileRecoveryDlg::SetProgress(u32 position)
{
    // A position past the range shows a full bar, as a native progress bar clamps it.
    const u32 range = static_cast<u32>(std::max(m_progress->GetRange(), 1));
    m_progress->SetValue(static_cast<int>(std::min(position, range)));
}

void CFileRecoveryDlg::SetMessage(const std::string& text)
{
    m_wizardMessage = text;
    m_message->SetLabelText(ToWx(text));
}

void CFileRecoveryDlg::RenderRows()
{
    // The listing is made again from the catalogue, filtered and sorted as the bar says.
    TakeFilterBar();
    m_list.Open(m_catalog);
    while (static_cast<std::size_t>(m_typeImages.GetImageCount()) < m_catalog.m_typeIcons.size())
        m_typeImages.Add(TypeBitmap(
            m_catalog.m_typeIcons[static_cast<std::size_t>(m_typeImages.GetImageCount())]));
    m_driveList->Freeze();
    const bool pathShown = m_driveList->GetColumnCount() > kPathColumn;
    if (m_list.Filtered() && !pathShown)
        m_driveList->InsertColumn(kPathColumn, "Path", wxLIST_FORMAT_LEFT, 100);
    else if (!m_list.Filtered() && pathShown)
        m_driveList->DeleteColumn(kPathColumn);
    m_driveList->ShowVirtualRows(this, static_cast<long>(m_list.Count()));
    FitColumns();
    m_driveList->Thaw();
}
