// The wizard's states, texts and counts, driven through a recording fake of the dialog.
#include "app/Wizard.h"

#include <gtest/gtest.h>

#include "catalog/Catalog.h"

namespace
{
class FakeHost final : public IWizardHost
{
public:
    void ShowDriveChoice() override { ++driveChoices; }
    std::string SelectedDrives() override { return drives; }
    void ShowResultColumns() override { ++resultColumns; }
    bool DeepSearchChosen() override { return deepChosen; }
    u32 StartSearch(const std::string& selection, bool deep) override
    {
        searched.push_back(selection);
        deepSearches.push_back(deep);
        return searchStatus;
    }
    void ShowDeepSearchOffer(bool show) override { offerShown = show; }
    void StopWorkers() override { ++stops; }
    void ShowCurrentFolder() override { ++folderListings; }
    std::vector<SelectedRow> SelectedRows() override { return rows; }
    void Navigate(const std::string& name) override { navigated.push_back(name); }
    bool ChooseFolder(std::string* folder) override
    {
        ++folderDialogs;
        if (chosenFolder.empty())
            return false;
        *folder = chosenFolder;
        return true;
    }
    u32 StartRecovery(const std::string& destination) override
    {
        recovered.push_back(destination);
        return recoveryStatus;
    }
    void ShowMessageBox(const std::string& text) override { boxes.push_back(text); }
    void SetButtonText(const std::string& text) override { button = text; }
    void EnableButton(bool enable) override { buttonEnabled = enable; }
    void EnableReset(bool enable) override { resetEnabled = enable; }
    void SetProgressRange(u32 upper) override { range = upper; }
    void SetProgress(u32 position) override { progress.push_back(position); }
    void SetMessage(const std::string& text) override { message = text; }

    std::string drives = "E:";
    bool deepChosen = false;
    u32 searchStatus = 0;
    u32 recoveryStatus = 0;
    std::string chosenFolder = "/tmp/rescue";
    std::vector<SelectedRow> rows;

    int driveChoices = 0, resultColumns = 0, stops = 0, folderListings = 0, folderDialogs = 0;
    std::vector<std::string> searched, navigated, recovered, boxes;
    std::string button, message;
    bool buttonEnabled = false, resetEnabled = true, offerShown = true;
    std::vector<bool> deepSearches;
    u32 range = 0;
    std::vector<u32> progress;
};

class WizardFixture : public ::testing::Test
{
protected:
    void SetUp() override { wizard.OnButton1(); }

    // From the drive choice through a finished search to the results.
    void SearchToResults()
    {
        wizard.OnButton1();
        wizard.OnScanNotify(0, "Finding deleted File(s)...", 0);
        wizard.OnScanNotify(2, "", 0);
    }

    // From the results into a running recovery.
    void StartRecovery()
    {
        host.rows = {{"a.txt", "plain text document"}};
        wizard.OnButton1();
        ASSERT_EQ(wizard.State(), kWizardRunning);
    }

    FakeHost host;
    CWizard wizard{host};
};

using CWizardTest = WizardFixture;
} // namespace

TEST_F(CWizardTest, StartsOnTheDriveChoice)
{
    EXPECT_EQ(wizard.State(), kWizardChoose);
    EXPECT_EQ(host.button, ">> Next >>");
    EXPECT_TRUE(host.buttonEnabled);
    EXPECT_FALSE(host.resetEnabled);
    EXPECT_EQ(host.driveChoices, 1);
}

TEST_F(CWizardTest, NextWithoutDriveAsksForOneAndStays)
{
    host.drives.clear();
    wizard.OnButton1();
    EXPECT_EQ(host.boxes, (std::vector<std::string>{"Please select a drive."}));
    EXPECT_EQ(wizard.State(), kWizardChoose);
    EXPECT_EQ(host.resultColumns, 0);
    EXPECT_TRUE(host.searched.empty());
}

TEST_F(CWizardTest, FailedSearchStartReportsAndShowsTheDrivesAgain)
{
    host.searchStatus = 5;
    wizard.OnButton1();
    EXPECT_EQ(host.boxes,
              (std::vector<std::string>{
                  "Failed to search deleted file(s) on Drive.\n\nPlease reselect another."}));
    EXPECT_EQ(wizard.State(), kWizardChoose);
    EXPECT_EQ(host.driveChoices, 2);
    EXPECT_EQ(host.button, ">> Next >>");
}

TEST_F(CWizardTest, SearchCountsFilesAndFoldersAndFinishes)
{
    host.drives = "C:E:";
    wizard.OnButton1();
    EXPECT_EQ(host.searched, (std::vector<std::string>{"C:E:"}));
    EXPECT_EQ(host.button, "Stop Searching");
    EXPECT_EQ(host.range, 100u);
    EXPECT_EQ(wizard.State(), kWizardRunning);

    wizard.OnScanNotify(0, "Finding deleted File(s)...", 0);
    EXPECT_EQ(host.message, "Finding deleted File(s)...");
    for (u32 attr : {0x20u, 0x21u, 0x20u, 0x10u, 0x00u})
        wizard.OnScanNotify(1, "E:\\found", attr);
    EXPECT_EQ(host.message, "E:\\found");
    wizard.OnScanNotify(2, "", 0);
    EXPECT_EQ(host.message, "Result:Found 3 File(s) and 2 Directories.");
    EXPECT_EQ(host.progress.back(), 100u);
    EXPECT_EQ(host.button, "Save To");
    EXPECT_TRUE(host.resetEnabled);
    EXPECT_EQ(host.folderListings, 1);
    EXPECT_EQ(wizard.State(), kWizardResults);
}

// A part of the volume that could not be read is shown as it comes, and stays named under the
// result; a warning is shown as it comes. A new search starts without the old parts.
TEST_F(CWizardTest, UnreadablePartsAreShownAndStayNamedUnderTheResult)
{
    const std::string unreadable = "E:\\docs could not be read: no data came from bytes 0 to 1";
    for (u32 parts : {1u, 3u})
    {
        SCOPED_TRACE(parts);
        wizard.OnReset(); // back to the drive choice
        wizard.OnButton1();
        ASSERT_EQ(wizard.State(), kWizardRunning);
        wizard.OnScanNotify(0, "Finding deleted File(s)...", 0);
        wizard.OnScanNotify(3, "E:\\ a warning", 0);
        EXPECT_EQ(host.message, "E:\\ a warning");
        for (u32 k = 0; k < parts; ++k)
        {
            wizard.OnScanNotify(4, k == 0 ? unreadable : "E:\\other could not be read: x", 0);
            EXPECT_EQ(host.message, k == 0 ? unreadable : "E:\\other could not be read: x");
            wizard.OnScanNotify(1, "E:\\found", 0x20);
        }
        wizard.OnScanNotify(2, "", 0);
        EXPECT_EQ(host.message, "Result:Found " + std::to_string(parts) +
                                    " File(s) and 0 Directories. " + unreadable +
                                    (parts == 1 ? "" : " (and 2 more)"));
    }
}

TEST_F(CWizardTest, SearchProgressClimbsWrapsAndReachesHundredOnlyAtTheEnd)
{
    wizard.OnButton1();
    wizard.OnScanNotify(0, "Finding deleted File(s)...", 0);
    host.progress.clear();
    for (int i = 0; i < 200; ++i)
        wizard.OnScanNotify(1, "x", 0x20);
    ASSERT_EQ(host.progress.size(), 200u);
    EXPECT_EQ(host.progress[0], 2u);
    EXPECT_EQ(host.progress[97], 99u);
    EXPECT_EQ(host.progress[98], 1u);
    for (u32 position : host.progress)
        EXPECT_TRUE(position >= 1 && position <= 99);
    wizard.OnScanNotify(2, "", 0);
    EXPECT_EQ(host.progress.back(), 100u);
}

TEST_F(CWizardTest, StopSearchingListsFirstVolumeWithoutResultCount)
{
    wizard.OnButton1();
    wizard.OnScanNotify(1, "E:\\last find", 0x20);
    wizard.OnButton1();
    EXPECT_EQ(host.stops, 1);
    EXPECT_EQ(host.message, "E:\\last find");
    EXPECT_EQ(host.button, "Save To");
    EXPECT_EQ(wizard.State(), kWizardResults);
    // A finished notice that crossed the stop changes nothing.
    wizard.OnScanNotify(2, "", 0);
    EXPECT_EQ(host.message, "E:\\last find");
    EXPECT_EQ(host.folderListings, 0);
    wizard.OnReset();
    wizard.OnScanNotify(2, "", 0);
    EXPECT_EQ(wizard.State(), kWizardChoose);
    EXPECT_EQ(host.button, ">> Next >>");
}

TEST_F(CWizardTest, SaveToWithoutSelectionAsksForOne)
{
    SearchToResults();
    wizard.OnButton1();
    EXPECT_EQ(host.boxes, (std::vector<std::string>{
                              "Please Select File(s) and Folder(s) you want to recover."}));
    EXPECT_EQ(host.folderDialogs, 0);
    EXPECT_EQ(wizard.State(), kWizardResults);
}

TEST_F(CWizardTest, CollectSelectionSkipsOnlyTheUpRowAndMarksFolders)
{
    host.rows = {{"..", ""},
                 {"docs", "Directory"},
                 {"..hidden", "hidden File"},
                 {"a.txt", "plain text document"},
                 {"x.Directory", "Directory File"}};
    EXPECT_EQ(wizard.CollectSelection(), 5u);
    ASSERT_EQ(g_Selection.size(), 4u);
    EXPECT_EQ(g_Selection[0].name, "docs");
    EXPECT_EQ(g_Selection[0].isDir, 1u);
    EXPECT_EQ(g_Selection[1].name, "..hidden");
    EXPECT_EQ(g_Selection[1].isDir, 0u);
    EXPECT_EQ(g_Selection[3].isDir, 0u);
}

TEST_F(CWizardTest, OnlyTheUpRowSelectedStillStartsAnEmptyRecovery)
{
    SearchToResults();
    host.rows = {{"..", ""}};
    wizard.OnButton1();
    EXPECT_TRUE(g_Selection.empty());
    EXPECT_EQ(host.recovered, (std::vector<std::string>{"/tmp/rescue"}));
    EXPECT_EQ(wizard.State(), kWizardRunning);
    EXPECT_EQ(host.button, "Stop Recovering");
    EXPECT_FALSE(host.resetEnabled);
}

TEST_F(CWizardTest, CancelledFolderChoiceKeepsResultsAndDestination)
{
    SearchToResults();
    StartRecovery();
    wizard.OnRecoverNotify(0xFF, "Finished Recovery Successfully.", 0xFFFFFF);
    host.chosenFolder.clear();
    host.rows = {{"a.txt", "plain text document"}};
    wizard.OnButton1();
    EXPECT_EQ(host.recovered.size(), 1u);
    EXPECT_EQ(wizard.Destination(), "/tmp/rescue");
    EXPECT_EQ(wizard.State(), kWizardResults);
}

TEST_F(CWizardTest, FailedRecoveryStartStaysOnResults)
{
    SearchToResults();
    host.recoveryStatus = 512;
    host.rows = {{"a.txt", "plain text document"}};
    wizard.OnButton1();
    EXPECT_EQ(host.boxes, (std::vector<std::string>{"Failed to recover deleted file(s).\n"}));
    EXPECT_EQ(wizard.State(), kWizardResults);
    EXPECT_EQ(host.button, "Save To");
}

TEST_F(CWizardTest, SummaryCountsWarningsAndReturnsToResults)
{
    SearchToResults();
    StartRecovery();
    wizard.OnRecoverNotify(3, "", 10);
    EXPECT_EQ(host.range, 10u);
    wizard.OnRecoverNotify(4, "", 13);
    EXPECT_EQ(host.progress.back(), 3u);
    wizard.OnRecoverNotify(0, "Recovering C:\\a.txt", 0x20 << 8);
    EXPECT_EQ(host.message, "Recovering C:\\a.txt");
    wizard.OnRecoverNotify(1, "Permission denied", 0);
    wizard.OnRecoverNotify(1, "C:\\a.txt is partial: ...", 4); // copied from taken clusters
    wizard.OnRecoverNotify(0xFF, "Finished Recovery Successfully.", 0xFFFFFF);
    EXPECT_EQ(
        host.message,
        "Finished Recovery Successfully. (2) warnings. 1 file(s) partly or wholly overwritten.");
    EXPECT_EQ(host.stops, 1);
    EXPECT_EQ(host.button, "Save To");
    EXPECT_EQ(wizard.State(), kWizardResults);

    StartRecovery();
    wizard.OnRecoverNotify(0xFF, "Finished Recovery Successfully.", 0xFFFFFF);
    EXPECT_EQ(host.message, "Finished Recovery Successfully. (0) warnings.");
}

TEST_F(CWizardTest, FatalRecoveryTextEndsTheRun)
{
    SearchToResults();
    StartRecovery();
    wizard.OnRecoverNotify(1, "warned", 0);
    wizard.OnRecoverNotify(2, "Drive has NOT enough space to store files.", 0);
    EXPECT_EQ(host.message, "Drive has NOT enough space to store files.");
    EXPECT_EQ(host.progress.back(), 100u);
    EXPECT_EQ(wizard.State(), kWizardResults);
    EXPECT_EQ(wizard.WarningCount(), 0u);
}

TEST_F(CWizardTest, SummaryAfterStopDoesNotReopenTheFolderChoice)
{
    SearchToResults();
    StartRecovery();
    wizard.OnButton1(); // "Stop Recovering"
    EXPECT_EQ(wizard.State(), kWizardResults);
    int dialogs = host.folderDialogs;
    wizard.OnRecoverNotify(0xFF, "Finished Recovery Successfully.", 0xFFFFFF);
    EXPECT_EQ(host.message, "Finished Recovery Successfully. (0) warnings.");
    EXPECT_EQ(host.folderDialogs, dialogs);
    EXPECT_EQ(host.recovered.size(), 1u);
    EXPECT_EQ(wizard.State(), kWizardResults);
}

TEST_F(CWizardTest, DoubleClickOpensFoldersAndRecoversFiles)
{
    host.rows = {{"docs", "Directory"}};
    wizard.OnDoubleClick(); // ignored outside the results
    EXPECT_TRUE(host.navigated.empty());

    SearchToResults();
    for (const char* name : {"docs", "..", "C:"})
    {
        host.rows = {{name, std::string(name) == "docs" ? "Directory" : ""}};
        wizard.OnDoubleClick();
    }
    EXPECT_EQ(host.navigated, (std::vector<std::string>{"docs", "..", "C:"}));
    EXPECT_TRUE(host.recovered.empty());

    host.rows = {{"b.txt", "plain text document"}, {"docs", "Directory"}};
    wizard.OnDoubleClick();
    EXPECT_EQ(host.recovered.size(), 1u);
    ASSERT_EQ(g_Selection.size(), 2u);
    EXPECT_EQ(wizard.State(), kWizardRunning);
}

TEST_F(CWizardTest, ResetReturnsToTheDriveChoice)
{
    SearchToResults();
    wizard.OnReset();
    EXPECT_EQ(wizard.State(), kWizardChoose);
    EXPECT_EQ(host.driveChoices, 2);
    EXPECT_FALSE(host.resetEnabled);
    EXPECT_EQ(host.button, ">> Next >>");
}

// The deep search: chosen on the drive page, or offered after a normal search that found
// nothing on any volume (and only then), the offer starting the same drives again, deep. Its
// progress is the share of the volume read, in thousandths, until the next volume starts; a
// stop leaves the finished bar alone.
TEST_F(CWizardTest, DeepSearchIsChosenOrOfferedAndShowsTheShareRead)
{
    const std::string nothing = "Result:Found 0 File(s) and 0 Directories.";
    EXPECT_FALSE(host.offerShown);
    struct
    {
        bool chosen;
        std::vector<u32> finds; // attributes of the finds, on two volumes
        bool offered;
    } const cases[] = {
        {false, {}, true}, {false, {0x20}, false}, {true, {}, false}, {true, {0x10}, false}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.chosen << " " << c.finds.size());
        wizard.OnReset();
        host.drives = "C:E:";
        host.deepChosen = c.chosen;
        host.searched.clear();
        host.deepSearches.clear();
        wizard.OnButton1();
        for (u32 attr : c.finds)
            wizard.OnScanNotify(1, "E:\\x", attr); // on the volume searched first
        wizard.OnScanNotify(0, "Finding deleted File(s)...", 0);
        wizard.OnScanNotify(2, "", 0);
        EXPECT_EQ(host.deepSearches, std::vector<bool>{c.chosen});
        EXPECT_EQ(host.offerShown, c.offered);
        EXPECT_EQ(wizard.DeepSearchOffered(), c.offered);
        if (c.finds.empty())
        {
            EXPECT_EQ(host.message, c.offered ? nothing + kDeepSearchOfferText : nothing);
        }
        wizard.OnDeepSearch();
        EXPECT_EQ(host.searched.size(), c.offered ? 2u : 1u);
        EXPECT_EQ(wizard.State(), c.offered ? kWizardRunning : kWizardResults);
        if (!c.offered)
            continue;
        EXPECT_EQ(host.searched.back(), "C:E:");
        EXPECT_EQ(host.deepSearches.back(), true);
        EXPECT_FALSE(host.offerShown);
        EXPECT_FALSE(host.resetEnabled);
        EXPECT_EQ(host.button, "Stop Searching");
        wizard.OnDeepSearch(); // the offer is gone while it runs
        EXPECT_EQ(host.searched.size(), 2u);

        host.progress.clear();
        wizard.OnScanNotify(0, "Finding deleted File(s)...", 0);
        wizard.OnScanNotify(5, "Deep search: 0% read, 0 found", 0);
        EXPECT_EQ(host.range, 1000u);
        wizard.OnScanNotify(1, "E:\\Folder_3_\\a.jpg", 0x20);
        wizard.OnScanNotify(5, "Deep search: 42% read, 1 found", 427);
        EXPECT_EQ(host.message, "Deep search: 42% read, 1 found");
        EXPECT_EQ(host.progress, (std::vector<u32>{1, 0, 427}));
        wizard.OnScanNotify(5, "Deep search: 100% read, 1 found", 5000); // clamped
        EXPECT_EQ(host.progress.back(), 1000u);
        wizard.OnScanNotify(0, "Finding deleted File(s)...", 0); // the next volume
        EXPECT_EQ(host.range, 100u);
        wizard.OnScanNotify(5, "Deep search: 50% read, 0 found", 500);
        wizard.OnButton1(); // Stop Searching during the pass: a full bar
        EXPECT_EQ(host.range, 100u);
        EXPECT_EQ(host.progress.back(), 100u);
        wizard.OnScanNotify(5, "Deep search: 51% read, 0 found", 510); // crossed the stop
        EXPECT_EQ(host.progress.back(), 100u);
        EXPECT_FALSE(host.offerShown); // a deep search is not offered again
        EXPECT_EQ(wizard.State(), kWizardResults);
    }
}
