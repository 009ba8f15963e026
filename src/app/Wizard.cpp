// The wizard's states and transitions, and its handling of the workers' notices.
#include "app/Wizard.h"

#include "catalog/Catalog.h"
#include "platform/EventSink.h"
#include "platform/Format.h"

namespace
{
constexpr u32 kProgressFull = 100;
constexpr u32 kDeepProgressFull = 1000; // the deep search's progress comes in thousandths
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
        m_host.ShowDeepSearchOffer(false);
        m_deepOffered = false;
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
        (void)BeginSearch(selection, m_host.DeepSearchChosen());
        break;
    }

    case kWizardRunning:
        m_host.StopWorkers();
        if (m_worker == Worker::Search && m_progressRange != kProgressFull)
            UseProgressRange(kProgressFull); // the deep search's thousandths
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
        m_host.ShowDeepSearchOffer(false);
        m_deepOffered = false;
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

bool CWizard::BeginSearch(const std::string& selection, bool deep)
{
    m_host.ShowDeepSearchOffer(false);
    m_deepOffered = false;
    m_host.ShowResultColumns();
    UseProgressRange(kProgressFull);
    m_host.SetProgress(0);
    m_unreadableCount = 0;
    m_firstUnreadable.clear();
    m_anyFound = false;
    m_deepPhase = false;
    m_selection = selection;
    m_deep = deep;
    if (m_host.StartSearch(selection, deep) != 0)
    {
        m_host.ShowMessageBox(
            "Failed to search deleted file(s) on Drive.\n\nPlease reselect another.");
        m_state = kWizardSetup;
        OnButton1();
        return false;
    }
    m_state = kWizardRunning;
    m_worker = Worker::Search;
    m_host.SetButtonText(kStopSearchText);
    m_host.EnableReset(false);
    return true;
}

void CWizard::OnDeepSearch()
{
    // Only the offer shown with the results of a search that found nothing starts it.
    if (m_state != kWizardResults || !m_deepOffered || m_selection.empty())
        return;
    (void)BeginSearch(m_selection, true);
}

void CWizard::UseProgressRange(u32 upper)
{
    m_progressRange = upper;
    m_host.SetProgressRange(upper);
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
        m_deepPhase = false;
        if (m_progressRange != kProgressFull)
            UseProgressRange(kProgressFull);
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

    case kScanDeepProgress:
        // A stop crosses the last notices of the pass: they must not move a finished bar.
        if (m_state != kWizardRunning || m_worker != Worker::Search)
            break;
        if (!m_deepPhase)
            UseProgressRange(kDeepProgressFull);
        m_deepPhase = true;
        m_host.SetMessage(text);
        m_host.SetProgress(attr < kDeepProgressFull ? attr : kDeepProgressFull);
        break;

    case kScanFind:
        m_host.SetMessage(text);
        m_anyFound = true;
        // In the deep search the bar shows the share of the volume read, not the finds.
        if (!m_deepPhase)
        {
            ++m_progressCounter;
            if (m_progressCounter >= kProgressFull)
                m_progressCounter = 1;
            m_host.SetProgress(m_progressCounter);
        }
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
        if (m_progressRange != kProgressFull)
            UseProgressRange(kProgressFull);
        m_host.SetProgress(kProgressFull);
        ShowSearchResult();
        m_host.SetButtonText(kSaveToText);
        m_host.EnableReset(true);
        m_worker = Worker::None;
        m_state = kWizardResults;
        break;

    default:
        break;
    }
}

void CWizard::ShowSearchResult()
{
    // A part of the volume that could not be read stays named under the result.
    std::string result =
        Format("Result:Found %u File(s) and %u Directories.", m_fileCount, m_folderCount);
    if (m_unreadableCount != 0)
        result += Format(
            " %s%s", m_firstUnreadable.c_str(),
            m_unreadableCount > 1 ? Format(" (and %u more)", m_unreadableCount - 1).c_str() : "");
    // Nothing found on any volume: a formatted or damaged volume may still hold its files.
    m_deepOffered = !m_deep && !m_anyFound;
    if (m_deepOffered)
        result += kDeepSearchOfferText;
    m_host.SetMessage(result);
    m_host.ShowDeepSearchOffer(m_deepOffered);
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
        UseProgressRange(value & 0xFFFF);
        break;

    default:
        m_host.SetProgress(value % 10);
        break;
    }
}
