// The main dialog's wizard: four states driven by one button, the Reset button, the message
// line, the progress bar and the counts, as plain C++ over an abstract host (the dialog; tests
// use a fake). The worker threads' notices arrive here on the dialog thread.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"

// Wizard states.
inline constexpr u32 kWizardSetup = 0;   // not yet set up
inline constexpr u32 kWizardChoose = 1;  // choosing drives
inline constexpr u32 kWizardRunning = 2; // a worker thread runs
inline constexpr u32 kWizardResults = 3; // results shown

// Texts of the wizard button.
inline constexpr const char* kNextText = ">> Next >>";
inline constexpr const char* kStopSearchText = "Stop Searching";
inline constexpr const char* kSaveToText = "Save To";
inline constexpr const char* kStopRecoverText = "Stop Recovering";

// The deep search: the drive page's check box, the message area's offer after a search that
// found nothing, and the offer's button.
inline constexpr const char* kDeepSearchChoiceText = "Deep search (formatted or damaged volumes)";
inline constexpr const char* kDeepSearchOfferText =
    " A deep search may find what a format or damage left.";
inline constexpr const char* kDeepSearchButtonText = "Deep Search";

// One selected row of the list, its first two columns.
struct SelectedRow
{
    std::string name;
    std::string description;
    // A row of a filtered listing below the shown folder: the full path of the folder that
    // holds it, and its own name (name then leads there from the shown folder). Empty otherwise.
    std::string folder = {};
    std::string ownName = {};
};

// What the wizard asks of the dialog and, through it, of the catalogue.
class IWizardHost
{
public:
    virtual ~IWizardHost() = default;

    // Fills the list with the fixed FAT, exFAT and NTFS drives (and the command-line sources),
    // large icons, icon view.
    virtual void ShowDriveChoice() = 0;
    // The selected-drive string: a letter and a colon per selected drive, in list order.
    virtual std::string SelectedDrives() = 0;
    // Report view, aligned left, no items, the columns "Name", "Description", "Size", "Access",
    // "Condition".
    virtual void ShowResultColumns() = 0;
    // Whether the drive page's deep search check box is set.
    virtual bool DeepSearchChosen() = 0;
    // Starts the search over selection, each volume's deep search after its normal one when
    // deep is set; 0 when the search thread runs.
    virtual u32 StartSearch(const std::string& selection, bool deep) = 0;
    // Shows or hides the message area's button that offers the deep search.
    virtual void ShowDeepSearchOffer(bool show) = 0;
    // Stops both workers and lists the first volume's root.
    virtual void StopWorkers() = 0;
    // Lists the folder the catalogue names (the first volume's root at the end of a search).
    virtual void ShowCurrentFolder() = 0;
    // The selected rows in list order.
    virtual std::vector<SelectedRow> SelectedRows() = 0;
    // Opens the row named name (a volume, a folder or "..").
    virtual void Navigate(const std::string& name) = 0;
    // Asks the user for a destination folder ("Save to"); false when cancelled.
    virtual bool ChooseFolder(std::string* folder) = 0;
    // Prepares destination and starts the recovery of the selection; 0 when it runs.
    virtual u32 StartRecovery(const std::string& destination) = 0;
    // A message box with the application's name as caption and an OK button.
    virtual void ShowMessageBox(const std::string& text) = 0;
    virtual void SetButtonText(const std::string& text) = 0;
    virtual void EnableButton(bool enable) = 0;
    virtual void EnableReset(bool enable) = 0;
    virtual void SetProgressRange(u32 upper) = 0;
    virtual void SetProgress(u32 position) = 0;
    virtual void SetMessage(const std::string& text) = 0;
};

class CWizard
{
public:
    explicit CWizard(IWizardHost& host) : m_host(host) {}

    // The wizard button: set up the drive choice, start the search, stop the worker, or
    // recover the selection, by state.
    void OnButton1();
    // Back to the drive choice.
    void OnReset();
    // The offer's button, shown after a normal search that found nothing: the same drives are
    // searched again, deep.
    void OnDeepSearch();
    // A double-click (or activation) of a row: a file recovers the selection, a folder, a
    // volume or ".." is opened. Only in the results state.
    void OnDoubleClick();
    // WM_SCAN_NOTIFY: code 0 volume start, 1 a find (attr: its attribute byte), 2 finished,
    // 3 a warning, 4 a part of the volume that could not be read (both shown on the message
    // line; the first unreadable part stays named under the result), 5 the deep search's
    // progress (its text on the message line, attr: thousandths of the volume read, on the
    // progress bar until the next volume starts).
    void OnScanNotify(u32 code, const std::string& text, u32 attr);
    // WM_RECOVER_NOTIFY: code 0 file, 1 warning, 2 fatal, 3 range, 0xFF summary, other a
    // chunk counter in value.
    void OnRecoverNotify(u32 code, const std::string& text, u32 value);

    // Rebuilds g_Selection from the selected rows (".." left out) and returns the number of
    // selected rows, ".." included.
    u32 CollectSelection();
    // Asks for the destination folder and keeps it; false when the user cancelled.
    bool ChooseDestination();

    [[nodiscard]] u32 State() const { return m_state; }
    [[nodiscard]] const std::string& Destination() const { return m_destination; }
    [[nodiscard]] u32 FileCount() const { return m_fileCount; }
    [[nodiscard]] u32 FolderCount() const { return m_folderCount; }
    [[nodiscard]] u32 WarningCount() const { return m_warningCount; }
    [[nodiscard]] bool DeepSearchOffered() const { return m_deepOffered; }

private:
    enum class Worker
    {
        None,
        Search,
        Recovery,
    };

    // Shows the result columns and starts the search of selection; false (the drive choice
    // shown again) when it did not start.
    bool BeginSearch(const std::string& selection, bool deep);
    // Sets the progress bar's range, when it is not that already.
    void UseProgressRange(u32 upper);
    // The result line of the search that ended, and the deep search's offer when a normal
    // search found nothing.
    void ShowSearchResult();

    IWizardHost& m_host;
    u32 m_state = kWizardSetup;
    Worker m_worker = Worker::None; // the worker that state 2 waits for
    std::string m_destination;      // the folder chosen with "Save to"
    u32 m_fileCount = 0;            // files found by the running search
    u32 m_folderCount = 0;          // folders found by the running search
    u32 m_unreadableCount = 0;      // parts of the volumes it could not read
    std::string m_firstUnreadable;  // the notice of the first of them
    u32 m_progressCounter = 0;      // search progress, 1 to 99 and round again
    u32 m_progressRange = 0;        // the progress bar's range as last set
    std::string m_selection;        // the drives of the last search
    bool m_deep = false;            // the running or last search is a deep one
    bool m_deepPhase = false;       // the current volume's deep search reports its progress
    bool m_anyFound = false;        // a find of the running search, on any volume
    bool m_deepOffered = false;     // the message area offers the deep search
    u32 m_warningCount = 0;         // warnings of the running recovery
    u32 m_damagedCount = 0;         // of them, files copied from clusters other data has taken
};
