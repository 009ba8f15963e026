// The wizard's states and transitions, and its handling of the workers' notices.
#include "app/Wizard.h"

#include "catalog/Catalog.h"
#include "platform/EventSink.h"
#include "platform/Format.h"

namespace
{
constexpr u32 kProgressFull = 100;
constexpr u32 kRecoverProgressEnd = 10;

constexpr const char* kDirectoryText = "Directory";
constexpr const char* kUpText = "..";

// A row shows a folder when its type column is the folder type. Only folders carry exactly
// this text: file types are described by the desktop, or as "<extension> File".
bool IsFolderRow(const SelectedRow& row)
{
    return row.description == kDirectoryText;
}
} // namespace

void CWizard::OnButton1()
{
    switch (m_state)
    {
    case kWizardSetup:
        m_host.EnableButton(true);
        m_host.SetButtonText(kNextText);
        m_host.EnableReset(false);
        m_host.ShowDriveChoice();
        m_state = kWizardChoose;
        break;

    case kWizardChoose:
    {
        std::string selection = m_host.SelectedDrives();
        if (selection.empty())
        {
            m_host.ShowMessageBox("Please select a drive.");
            break;
        }
        m_host.ShowResultColumns();
        m_host.SetProgressRange(kProgressFull);
        m_host.SetProgress(0);
        m_unreadableCount = 0;
        m_firstUnreadable.clear();
        if (m_host.StartSearch(selection) != 0)
        {
            m_host.ShowMessageBox(
                "Failed to search deleted file(s) on Drive.\n\nPlease reselect another.");
            m_state = kWizardSetup;
            OnButton1();
            break;
        }
        m_state = kWizardRunning;
        m_worker = Worker::Search;
        m_host.SetButtonText(kStopSearchText);
        break;
    }

    case kWizardRunning:
        m_host.StopWorkers();
        m_worker = Worker::None;
        m_host.SetProgress(kProgressFull);
        m_host.SetButtonText(kSaveToText);
        m_host.EnableReset(true);
        m_state = kWizardResults;
        break;

    case kWizardResults:
        if (CollectSelection() == 0)
        {
            m_host.ShowMessageBox("Please Select File(s) and Folder(s) you want to recover.");
            break;
        }
        if (!ChooseDestination())
            break;
        if (m_host.StartRecovery(m_destination) != 0)
        {
            m_host.ShowMessageBox("Failed to recover deleted file(s).\n");
            break;
        }
        m_state = kWizardRunning;
        m_worker = Worker::Recovery;
        m_host.SetButtonText(kStopRecoverText);
        m_host.EnableReset(false);
        break;

    default:
        break;
    }
}

void CWizard::OnReset()
{
    // Reset is enabled only with results shown, so no worker runs.
    if (m_state == kWizardRunning)
        return;
    m_state = kWizardSetup;
    OnButton1();
}

void CWizard::OnDoubleClick()
{
    if (m_state != kWizardResults)
        return;
    std::vector<SelectedRow> rows = m_host.SelectedRows();
    if (rows.empty())
        return;
    const SelectedRow& row = rows.front();
    if (!row.description.empty() && !IsFolderRow(row))
    {
        OnButton1(); // a file: recover the whole selection
        return;
    }
    m_host.Navigate(row.name);
}

u32 CWizard::CollectSelection()
{
    g_Selection.clear();
    std::vector<SelectedRow> rows = m_host.SelectedRows();
    for (const SelectedRow& row : rows)
    {
        // The row that leads up a level has no type; a found item named "..x" is kept.
        if (row.name == kUpText && row.description.empty())
            continue;
        const u32 isDir = IsFolderRow(row) ? 1u : 0u;
        if (row.folder.empty())
            g_Selection.push_back(SelEntry{row.name, isDir});
        else
            g_Selection.push_back(SelEntry{row.ownName, isDir, row.folder});
    }
    return static_cast<u32>(rows.size());
}

bool CWizard::ChooseDestination()
{
    std::string folder = m_destination;
    if (!m_host.ChooseFolder(&folder) || folder.empty())
        return false;
    m_destination = folder;
    return true;
}

void CWizard::OnScanNotify(u32 code, const std::string& text, u32 attr)
{
    switch (code)
    {
    case kScanVolumeStart:
        m_progressCounter = 1;
        m_host.SetProgress(m_progressCounter);
        m_fileCount = 0;
        m_folderCount = 0;
        m_host.SetMessage(text);
        break;

    case kScanWarning:
    case kScanUnreadable:
        m_host.SetMessage(text);
        if (code == kScanUnreadable && m_unreadableCount++ == 0)
            m_firstUnreadable = text;
        break;

    case kScanFind:
        m_host.SetMessage(text);
        ++m_progressCounter;
        if (m_progressCounter >= kProgressFull)
            m_progressCounter = 1;
        m_host.SetProgress(m_progressCounter);
        if (attr & 0x20)
            ++m_fileCount;
        else
            ++m_folderCount;
        break;

    case kScanFinished:
        // A notice that crossed the user's stop finds the wizard elsewhere: it is stale.
        if (m_state != kWizardRunning || m_worker != Worker::Search)
            break;
        m_host.ShowCurrentFolder();
        m_host.SetProgress(kProgressFull);
        // A part of the volume that could not be read stays named under the result.
        if (m_unreadableCount == 0)
            m_host.SetMessage(
                Format("Result:Found %u File(s) and %u Directories.", m_fileCount, m_folderCount));
        else
            m_host.SetMessage(Format("Result:Found %u File(s) and %u Directories. %s%s",
                                     m_fileCount, m_folderCount, m_firstUnreadable.c_str(),
                                     m_unreadableCount > 1
                                         ? Format(" (and %u more)", m_unreadableCount - 1).c_str()
                                         : ""));
        m_host.SetButtonText(kSaveToText);
        m_host.EnableReset(true);
        m_worker = Worker::None;
        m_state = kWizardResults;
        break;

    default:
        break;
    }
}

void CWizard::OnRecoverNotify(u32 code, const std::string& text, u32 value)
{
    switch (code)
    {
    case kRecoverFinished:
    case kRecoverFatal:
    {
        std::string shown = text;
        if (code == kRecoverFinished)
            shown += Format(" (%d) warnings.", static_cast<int>(m_warningCount));
        if (code == kRecoverFinished && m_damagedCount > 0)
            shown += Format(" %d file(s) partly or wholly overwritten.",
                            static_cast<int>(m_damagedCount));
        m_warningCount = 0;
        m_damagedCount = 0;
        m_host.SetMessage(shown);
        m_host.SetProgress(kRecoverProgressEnd);
        // After "Stop Recovering" the wizard shows results already: running the button
        // action again would ask for a destination nobody wants.
        if (m_state == kWizardRunning && m_worker == Worker::Recovery)
            OnButton1();
        break;
    }

    case kRecoverFile:
        m_host.SetMessage(text);
        break;

    case kRecoverWarning:
        m_host.SetMessage(text);
        ++m_warningCount;
        if (value == kWarnDamaged)
            ++m_damagedCount;
        break;

    case kRecoverRange:
        m_host.SetProgressRange(value & 0xFFFF);
        break;

    default:
        m_host.SetProgress(value % 10);
        break;
    }
}
