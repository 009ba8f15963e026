// The real main dialog on a virtual X server: the road of a deleted file from the drive choice
// through the search and the folder browsing to the recovered files, on demo volumes made by
// mkfs.fat/mtools and mkntfs/libntfs-3g, with a screenshot of every wizard state.
#include "app/FileRecoveryDlg.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/evtloop.h>
#include <wx/gauge.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "app/AboutDlg.h"
#include "app/DriveList.h"
#include "app/PreviewDlg.h"
#include "platform/DriveDiscovery.h"
#include "platform/EventSink.h"
#include "support/TestImages.h"

// Xlib last: its macros (None, Status, ...) would clash with the names above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace
{
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Runs the event loop (queued worker events included) until done() or the timeout.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 60s)
{
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!done())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        wxTheApp->ProcessPendingEvents();
        wxYield();
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Lets the window paint without handling the workers' queued events.
void PaintOnly(wxWindow* window)
{
    for (int i = 0; i < 20; ++i)
    {
        window->Refresh();
        window->Update();
        wxTheApp->GetMainLoop() ? wxTheApp->GetMainLoop()->YieldFor(wxEVT_CATEGORY_UI)
                                : wxYieldIfNeeded();
        std::this_thread::sleep_for(10ms);
    }
}

// Saves what the X server shows of window as a PNG under the build tree; fails the test when
// the picture is blank. The pixels are read from the root window, as a screen grabber would.
void Screenshot(wxWindow* window, const std::string& name)
{
    PaintOnly(window);
    const wxRect rect = window->GetScreenRect();
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    XImage* pixels = XGetImage(display, DefaultRootWindow(display), rect.x, rect.y,
                               static_cast<unsigned>(rect.width),
                               static_cast<unsigned>(rect.height), AllPlanes, ZPixmap);
    ASSERT_NE(pixels, nullptr);
    wxImage image(rect.width, rect.height);
    std::set<unsigned long> colours;
    for (int y = 0; y < rect.height; ++y)
        for (int x = 0; x < rect.width; ++x)
        {
            const unsigned long pixel = XGetPixel(pixels, x, y);
            image.SetRGB(x, y, static_cast<unsigned char>((pixel >> 16) & 0xFF),
                         static_cast<unsigned char>((pixel >> 8) & 0xFF),
                         static_cast<unsigned char>(pixel & 0xFF));
            colours.insert(pixel & 0xFFFFFF);
        }
    XDestroyImage(pixels);
    XCloseDisplay(display);
    const fs::path dir = fs::path(ORL_BINARY_DIR) / "gui-screenshots";
    fs::create_directories(dir);
    const fs::path file = dir / (name + ".png");
    ASSERT_TRUE(image.SaveFile(file.string(), wxBITMAP_TYPE_PNG)) << file;
    EXPECT_GT(colours.size(), 3u) << name << " looks blank";
}

void Click(wxButton* button)
{
    ASSERT_TRUE(button->IsEnabled()) << button->GetLabel();
    wxCommandEvent event(wxEVT_BUTTON, button->GetId());
    event.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(event);
}

// Selects exactly the rows whose first column is among names.
void SelectRows(CFileRecoveryDlg& dialog, const std::set<std::string>& names)
{
    CDriveList* list = dialog.DriveList();
    for (long i = 0; i < list->GetItemCount(); ++i)
    {
        const bool wanted = names.count(list->GetItemText(i).utf8_string()) != 0;
        list->SetItemState(i, wanted ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
    }
}

void DoubleClick(CFileRecoveryDlg& dialog, const std::string& name)
{
    SelectRows(dialog, {name});
    CDriveList* list = dialog.DriveList();
    wxListEvent event(wxEVT_LIST_ITEM_ACTIVATED, list->GetId());
    event.SetEventObject(list);
    list->GetEventHandler()->ProcessEvent(event);
}

std::vector<std::string> RowNames(CFileRecoveryDlg& dialog)
{
    std::vector<std::string> names;
    CDriveList* list = dialog.DriveList();
    for (long i = 0; i < list->GetItemCount(); ++i)
        names.push_back(list->GetItemText(i).utf8_string());
    return names;
}

std::string Cell(CFileRecoveryDlg& dialog, const std::string& name, int column)
{
    CDriveList* list = dialog.DriveList();
    for (long i = 0; i < list->GetItemCount(); ++i)
        if (list->GetItemText(i).utf8_string() == name)
            return list->GetItemText(i, column).utf8_string();
    return "<no row " + name + ">";
}

// The content the FAT demo recipe writes: "<path> line NNNNN" lines cut to size.
std::string RecipeContent(const std::string& tag, std::size_t size)
{
    std::string text;
    for (int i = 1; text.size() < size; ++i)
    {
        char line[512];
        std::snprintf(line, sizeof line, "%s line %05d\n", tag.c_str(), i);
        text += line;
    }
    return text.substr(0, size);
}

// What The Sleuth Kit recovers of the deleted file at path (as fls -rdp names it) of image.
std::string SleuthKitContent(const std::string& image, const std::string& path)
{
    std::string listing;
    if (RunCommand("fls -rdp '" + image + "'", &listing) != 0)
        return "<fls failed>";
    std::regex line("^[-a-z]/r \\* ([0-9-]+):\t" +
                    std::regex_replace(path, std::regex("[.()]"), "\\$&") + "$");
    std::smatch match;
    std::size_t at = 0;
    while (at < listing.size())
    {
        std::size_t end = listing.find('\n', at);
        if (end == std::string::npos)
            end = listing.size();
        const std::string entry = listing.substr(at, end - at);
        if (std::regex_match(entry, match, line))
        {
            std::string content;
            if (RunCommand("icat -r '" + image + "' " + match[1].str(), &content) != 0)
                return "<icat failed>";
            return content;
        }
        at = end + 1;
    }
    return "<not listed by fls>";
}

class FileRecoveryDlgFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fat = TestImage("demo_fat32");
        ntfs = TestImage("demo_ntfs");
        ASSERT_FALSE(fat.empty());
        ASSERT_FALSE(ntfs.empty());
        g_DriveTable.Clear();
        std::vector<std::string> errors;
        drives = AddCommandLineSources({fat, ntfs}, &errors);
        ASSERT_EQ(drives, (std::vector<std::string>{"C:", "D:"}))
            << ::testing::PrintToString(errors);

        MakeDialog();
    }

    // A new dialog on the drive table, with the message boxes and the folder choice recorded.
    void MakeDialog()
    {
        dialog = new CFileRecoveryDlg(nullptr);
        dialog->SetShowBox([this](const std::string& text, const std::string& caption)
                           { boxes.push_back(caption + ": " + text); });
        dialog->SetChooseFolder(
            [this](std::string* folder)
            {
                ++folderChoices;
                *folder = destination;
                return true;
            });
        dialog->Show();
        PumpUntil([] { return false; }, 200ms);
    }

    void TearDown() override
    {
        if (dialog != nullptr)
            dialog->Destroy();
        PumpUntil([] { return false; }, 100ms);
        g_DriveTable.Clear();
    }

    // A screenshot of state 2: the workers' notices wait until it is taken.
    void RunningScreenshot(const std::string& shot)
    {
        wxTheApp->SuspendProcessingOfPendingEvents();
        Screenshot(dialog, shot);
        EXPECT_EQ(dialog->Wizard().State(), kWizardRunning);
        wxTheApp->ResumeProcessingOfPendingEvents();
    }

    std::string Message() const { return dialog->MessageLine()->GetLabel().utf8_string(); }
    std::string Button() const { return dialog->WizardButton()->GetLabel().utf8_string(); }

    // Selects the drive with letter and runs the search to its end.
    void SearchDrive(char letter, const std::string& shot)
    {
        CDriveList* list = dialog->DriveList();
        for (long i = 0; i < list->GetItemCount(); ++i)
            list->SetItemState(i,
                               list->GetItemData(i) == static_cast<unsigned char>(letter)
                                   ? wxLIST_STATE_SELECTED
                                   : 0,
                               wxLIST_STATE_SELECTED);
        ASSERT_EQ(list->GetSelectedDrives(), std::string(1, letter) + ":");
        Click(dialog->WizardButton());
        ASSERT_EQ(dialog->Wizard().State(), kWizardRunning);
        EXPECT_EQ(Button(), "Stop Searching");
        EXPECT_FALSE(dialog->ResetButton()->IsEnabled());
        if (!shot.empty())
            RunningScreenshot(shot);
        ASSERT_TRUE(PumpUntil([this] { return dialog->Wizard().State() == kWizardResults; }));
        EXPECT_EQ(Button(), "Save To");
        EXPECT_TRUE(dialog->ResetButton()->IsEnabled());
        EXPECT_EQ(dialog->Progress()->GetValue(), 100);
    }

    // Presses "Save To" on the selected rows and waits for the recovery's summary.
    void Recover(const std::string& shot)
    {
        Click(dialog->WizardButton());
        ASSERT_EQ(dialog->Wizard().State(), kWizardRunning) << ::testing::PrintToString(boxes);
        EXPECT_EQ(Button(), "Stop Recovering");
        EXPECT_FALSE(dialog->ResetButton()->IsEnabled());
        if (!shot.empty())
            RunningScreenshot(shot);
        ASSERT_TRUE(PumpUntil([this] { return dialog->Wizard().State() == kWizardResults; }));
        EXPECT_EQ(Message(), "Finished Recovery Successfully. (0) warnings.");
    }

    std::string fat, ntfs;
    std::vector<std::string> drives;
    CFileRecoveryDlg* dialog = nullptr;
    std::vector<std::string> boxes;
    std::string destination;
    int folderChoices = 0;
};

using CFileRecoveryDlgTest = FileRecoveryDlgFixture;
} // namespace

TEST_F(CFileRecoveryDlgTest, WalksADeletedFatFileAndFolderToTheDestination)
{
    destination = ScratchDir("gui-fat") + "/rescue";

    // State 1: the drive choice.
    EXPECT_EQ(dialog->GetTitle(), "Orlavent");
    EXPECT_EQ(dialog->Wizard().State(), kWizardChoose);
    EXPECT_EQ(Button(), ">> Next >>");
    EXPECT_FALSE(dialog->ResetButton()->IsEnabled());
    EXPECT_TRUE(dialog->WizardButton()->IsEnabled());
    EXPECT_EQ(dialog->GetDefaultItem(), dialog->WizardButton());
    EXPECT_TRUE(dialog->DriveList()->HasFlag(wxLC_ICON));
    std::vector<std::string> shown = RowNames(*dialog);
    EXPECT_NE(std::find(shown.begin(), shown.end(), "ORLDEMO (C:)"), shown.end())
        << ::testing::PrintToString(shown);
    EXPECT_TRUE(dialog->DeepSearchChoice()->IsShown());
    EXPECT_EQ(dialog->DeepSearchChoice()->GetLabel().utf8_string(), kDeepSearchChoiceText);
    EXPECT_FALSE(dialog->DeepSearchChoice()->GetValue());
    Screenshot(dialog, "state1-drive-choice");

    Click(dialog->WizardButton()); // nothing selected
    EXPECT_EQ(boxes, (std::vector<std::string>{"Orlavent: Please select a drive."}));
    EXPECT_EQ(dialog->Wizard().State(), kWizardChoose);
    boxes.clear();

    // States 2 and 3: the search and its results, the root of C:.
    ASSERT_NO_FATAL_FAILURE(SearchDrive('C', "state2-searching"));
    EXPECT_TRUE(std::regex_match(
        Message(), std::regex("Result:Found [0-9]+ File\\(s\\) and [0-9]+ Directories\\.")))
        << Message();
    EXPECT_TRUE(dialog->DriveList()->HasFlag(wxLC_REPORT));
    EXPECT_FALSE(dialog->DeepSearchChoice()->IsShown());
    EXPECT_FALSE(dialog->DeepSearchOffer()->IsShown()); // the search found something
    EXPECT_FALSE(dialog->Catalog().m_deepSearch);
    shown = RowNames(*dialog);
    for (const char* name : {"Documents", "Important Passwords Do Not Share.txt"})
        EXPECT_NE(std::find(shown.begin(), shown.end(), name), shown.end()) << name;
    EXPECT_EQ(Cell(*dialog, "Documents", 1), "Directory");
    EXPECT_EQ(Cell(*dialog, "Important Passwords Do Not Share.txt", 2), "0.20 KB");
    ASSERT_EQ(dialog->DriveList()->GetColumnCount(), 5);
    wxListItem header;
    header.SetMask(wxLIST_MASK_TEXT);
    ASSERT_TRUE(dialog->DriveList()->GetColumn(4, header));
    EXPECT_EQ(header.GetText().utf8_string(), "Condition");
    EXPECT_EQ(Cell(*dialog, "Documents", 4), "");
    EXPECT_EQ(Cell(*dialog, "Important Passwords Do Not Share.txt", 4), "good");
    Screenshot(dialog, "state3-results");

    // Open Documents, check the deleted file's row, go up and down again.
    DoubleClick(*dialog, "Documents");
    shown = RowNames(*dialog);
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), "..");
    EXPECT_EQ(Cell(*dialog, "Old Resume.txt", 2), "2.44 KB");
    EXPECT_EQ(Cell(*dialog, "Old Resume.txt", 1), "plain text document");
    EXPECT_FALSE(Cell(*dialog, "Old Resume.txt", 3).empty());
    DoubleClick(*dialog, "..");
    EXPECT_EQ(dialog->Catalog().m_curPath, "C:");
    DoubleClick(*dialog, "Documents");
    EXPECT_EQ(dialog->Catalog().m_curPath, "C:\\Documents");
    Screenshot(dialog, "state3-folder");

    // Recover the deleted file and the folder holding a deleted letter.
    SelectRows(*dialog, {"Old Resume.txt", "Letters"});
    ASSERT_NO_FATAL_FAILURE(Recover("state2-recovering"));
    EXPECT_EQ(folderChoices, 1);
    EXPECT_TRUE(boxes.empty()) << ::testing::PrintToString(boxes);
    EXPECT_EQ(ReadText(fs::path(destination) / "Old Resume.txt"),
              RecipeContent("Documents/Old Resume.txt", 2500));
    EXPECT_EQ(ReadText(fs::path(destination) / "Letters" / "Complaint to Landlord.txt"),
              RecipeContent("Documents/Letters/Complaint to Landlord.txt", 2100));
    // The Sleuth Kit, reading the same volume on its own, recovers the same bytes.
    EXPECT_EQ(ReadText(fs::path(destination) / "Old Resume.txt"),
              SleuthKitContent(fat, "Documents/Old Resume.txt"));
    EXPECT_EQ(ReadText(fs::path(destination) / "Letters" / "Complaint to Landlord.txt"),
              SleuthKitContent(fat, "Documents/Letters/Complaint to Landlord.txt"));
    EXPECT_EQ(dialog->Catalog().m_curPath, "C:"); // the first volume's root again
    Screenshot(dialog, "state3-recovered");

    // The About box, from the button's handler.
    CAboutDlg about(dialog);
    about.Show();
    Screenshot(&about, "about");
    about.Hide();

    // Reset returns to the drive choice.
    Click(dialog->ResetButton());
    EXPECT_EQ(dialog->Wizard().State(), kWizardChoose);
    EXPECT_EQ(Button(), ">> Next >>");
    EXPECT_TRUE(dialog->DriveList()->HasFlag(wxLC_ICON));
    EXPECT_EQ(dialog->DriveList()->GetItemCount(), static_cast<int>(drives.size()));
}

TEST_F(CFileRecoveryDlgTest, RecoversADeletedNtfsFileByDoubleClick)
{
    destination = ScratchDir("gui-ntfs");
    ASSERT_NO_FATAL_FAILURE(SearchDrive('D', ""));
    DoubleClick(*dialog, "Projects");
    DoubleClick(*dialog, "Orlavent");
    EXPECT_EQ(dialog->Catalog().m_curPath, "D:\\Projects\\Orlavent");
    std::vector<std::string> shown = RowNames(*dialog);
    for (const char* name : {"notes2.txt", "notes4.txt", "notes6.txt", "notes8.txt"})
        EXPECT_NE(std::find(shown.begin(), shown.end(), name), shown.end()) << name;

    // A double-click on a file recovers the selection.
    DoubleClick(*dialog, "notes4.txt");
    ASSERT_EQ(dialog->Wizard().State(), kWizardRunning) << ::testing::PrintToString(boxes);
    ASSERT_TRUE(PumpUntil([this] { return dialog->Wizard().State() == kWizardResults; }));
    EXPECT_EQ(Message(), "Finished Recovery Successfully. (0) warnings.");
    EXPECT_EQ(fs::file_size(fs::path(destination) / "notes4.txt"), 2800u);
    EXPECT_EQ(ReadText(fs::path(destination) / "notes4.txt"),
              SleuthKitContent(ntfs, "Projects/Orlavent/notes4.txt"));
}

TEST_F(CFileRecoveryDlgTest, FindsUnderALostParentAreReachable)
{
    ASSERT_NO_FATAL_FAILURE(SearchDrive('D', ""));
    // A find whose parent folder is lost lies under a made-up level that no item stands for.
    CCatalog& catalog = dialog->Catalog();
    auto volume = std::find_if(catalog.m_volumes.begin(), catalog.m_volumes.end(),
                               [](const VolumeEntry& v) { return v.name == "D:"; });
    ASSERT_NE(volume, catalog.m_volumes.end());
    FoundItem lost;
    lost.path = "D:\\Folder_9_\\inner";
    lost.name = "lost.txt";
    lost.attr = 0x20;
    lost.deleted = 1;
    lost.size = 5;
    volume->items.push_back(lost);
    DoubleClick(*dialog, "Projects");
    DoubleClick(*dialog, "..");
    EXPECT_EQ(Cell(*dialog, "Folder_9_", 1), "Directory");
    DoubleClick(*dialog, "Folder_9_");
    EXPECT_EQ(RowNames(*dialog), (std::vector<std::string>{"..", "inner"}));
    DoubleClick(*dialog, "inner");
    EXPECT_EQ(dialog->Catalog().m_curPath, "D:\\Folder_9_\\inner");
    EXPECT_EQ(RowNames(*dialog), (std::vector<std::string>{"..", "lost.txt"}));
}

TEST_F(CFileRecoveryDlgTest, StopSearchingShowsTheFirstVolume)
{
    CDriveList* list = dialog->DriveList();
    for (long i = 0; i < list->GetItemCount(); ++i)
        list->SetItemState(i, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    // Enter on the drive list (an activation without a mouse button) presses ">> Next >>".
    wxListEvent enter(wxEVT_LIST_ITEM_ACTIVATED, list->GetId());
    enter.SetEventObject(list);
    list->GetEventHandler()->ProcessEvent(enter);
    ASSERT_EQ(dialog->Wizard().State(), kWizardRunning);
    Click(dialog->WizardButton()); // "Stop Searching" at once
    EXPECT_EQ(dialog->Wizard().State(), kWizardResults);
    EXPECT_EQ(Button(), "Save To");
    EXPECT_EQ(dialog->Catalog().m_curPath, "C:");
    // Notices still queued from the stopped search change nothing.
    PumpUntil([] { return false; }, 300ms);
    EXPECT_EQ(dialog->Wizard().State(), kWizardResults);
    EXPECT_EQ(Button(), "Save To");
}

TEST_F(CFileRecoveryDlgTest, DriveChoiceShowsWhyTheDisksAreMissing)
{
    // Without a notice the message line starts empty; with one (the program gives it when it
    // could not open the machine's disks) every drive choice shows it, after Reset too.
    EXPECT_EQ(Message(), "");
    dialog->Destroy();
    dialog = new CFileRecoveryDlg(nullptr, kRunAsAdministratorText);
    dialog->Show();
    EXPECT_EQ(dialog->Wizard().State(), kWizardChoose);
    EXPECT_EQ(Message(), "Run as administrator to search the disks.");
    Screenshot(dialog, "state1-run-as-administrator");
    ASSERT_NO_FATAL_FAILURE(SearchDrive('C', ""));
    EXPECT_NE(Message(), kRunAsAdministratorText);
    Click(dialog->ResetButton());
    EXPECT_EQ(dialog->Wizard().State(), kWizardChoose);
    EXPECT_EQ(Message(), kRunAsAdministratorText);
}

TEST_F(CFileRecoveryDlgTest, FindsSortsPreviewsAndSavesWhatIsShown)
{
    const std::string image = TestImage("finder_fat");
    ASSERT_FALSE(image.empty());
    dialog->Destroy();
    g_DriveTable.Clear();
    std::vector<std::string> errors;
    ASSERT_EQ(AddCommandLineSources({image}, &errors), (std::vector<std::string>{"C:"}));
    MakeDialog();
    destination = ScratchDir("gui-finder");
    ASSERT_NO_FATAL_FAILURE(SearchDrive('C', ""));
    CDriveList* list = dialog->DriveList();
    auto focusOn = [](wxWindow* window)
    {
        window->SetFocus();
        // The list hands its focus to its inner window.
        return PumpUntil(
            [window]
            {
                const wxWindow* focus = wxWindow::FindFocus();
                return focus != nullptr && (focus == window || focus->GetParent() == window);
            },
            2s);
    };

    // Filter: every match below the shown folder, with its folder; Ctrl+F finds the field.
    EXPECT_TRUE(dialog->HandleKey('F', wxMOD_CONTROL));
    EXPECT_TRUE(PumpUntil([this] { return wxWindow::FindFocus() == dialog->SearchField(); }, 2s));
    dialog->SearchField()->SetValue("*.JPG");
    EXPECT_EQ(RowNames(*dialog), (std::vector<std::string>{"Beach Day.jpg"}));
    ASSERT_EQ(list->GetColumnCount(), 6);
    EXPECT_EQ(Cell(*dialog, "Beach Day.jpg", 5), "C:\\Photos\\2024");
    EXPECT_EQ(Message(), "1 of 6 files shown");
    Screenshot(dialog, "state3-filter");

    // Sort: by size as numbers, again reversed, folders first.
    dialog->SearchField()->SetValue("");
    dialog->TypeChoice()->SetSelection(static_cast<int>(FindType::kDocuments));
    dialog->ApplyFilter();
    dialog->SortByColumn(2);
    EXPECT_EQ(RowNames(*dialog),
              (std::vector<std::string>{"To do.txt", "Holiday plan.txt", "Budget 2024.txt"}));
    dialog->SortByColumn(2);
    EXPECT_EQ(RowNames(*dialog).front(), "Budget 2024.txt");
    Screenshot(dialog, "state3-sorted");

    // Preview: the space bar on a JPEG, the context menu's entry on a text.
    dialog->TypeChoice()->SetSelection(0);
    dialog->SearchField()->SetValue("beach");
    SelectRows(*dialog, {"Beach Day.jpg"});
    ASSERT_TRUE(focusOn(list));
    EXPECT_TRUE(dialog->HandleKey(WXK_SPACE, wxMOD_NONE));
    ASSERT_NE(dialog->Preview(), nullptr);
    EXPECT_EQ(dialog->Preview()->Kind(), PreviewKind::kPicture);
    // The picture decodes whole: its content is valid beside its condition.
    EXPECT_EQ(dialog->Preview()->StatusLine()->GetLabel().utf8_string(), "Condition: good, valid");
    Screenshot(dialog->Preview(), "state3-preview-picture");
    dialog->SearchField()->SetValue("holiday");
    SelectRows(*dialog, {"Holiday plan.txt"});
    wxCommandEvent menu(wxEVT_MENU, kIdPreviewCommand);
    dialog->GetEventHandler()->ProcessEvent(menu);
    ASSERT_NE(dialog->Preview(), nullptr);
    EXPECT_EQ(dialog->Preview()->Kind(), PreviewKind::kText);
    EXPECT_EQ(dialog->Preview()->Text(), RecipeContent("Documents/Trip/Holiday plan.txt", 900));
    Screenshot(dialog->Preview(), "state3-preview-text");
    dialog->Preview()->Destroy();
    EXPECT_TRUE(PumpUntil([this] { return dialog->Preview() == nullptr; }, 2s));

    // Ctrl+A selects the matches shown; Save To writes them below their folders.
    dialog->SearchField()->SetValue("");
    dialog->TypeChoice()->SetSelection(static_cast<int>(FindType::kPictures));
    dialog->ApplyFilter();
    ASSERT_TRUE(focusOn(list));
    EXPECT_TRUE(dialog->HandleKey('A', wxMOD_CONTROL));
    EXPECT_EQ(list->GetSelectedItemCount(), 2);
    ASSERT_NO_FATAL_FAILURE(Recover(""));
    for (const char* path : {"Photos/2024/Beach Day.jpg", "Photos/2024/Sunset.png"})
        EXPECT_EQ(ReadText(fs::path(destination) / path), SleuthKitContent(image, path)) << path;
}

// A card formatted by mistake: the normal search finds nothing, the message area offers the
// deep search, and its button searches the same drive again, deep, showing the share of the
// volume read on the bar. Chosen on the drive page, the deep search is not offered again.
TEST_F(CFileRecoveryDlgTest, OffersTheDeepSearchWhenNothingIsFound)
{
    const std::string image = TestImage("deepui_formatted");
    ASSERT_FALSE(image.empty());
    dialog->Destroy();
    g_DriveTable.Clear();
    std::vector<std::string> errors;
    ASSERT_EQ(AddCommandLineSources({image}, &errors), (std::vector<std::string>{"C:"}));
    MakeDialog();
    ASSERT_NO_FATAL_FAILURE(SearchDrive('C', ""));
    EXPECT_FALSE(dialog->Catalog().m_deepSearch);
    EXPECT_EQ(Message(),
              std::string("Result:Found 0 File(s) and 0 Directories.") + kDeepSearchOfferText);
    ASSERT_TRUE(dialog->DeepSearchOffer()->IsShown());
    EXPECT_EQ(dialog->DeepSearchOffer()->GetLabel().utf8_string(), kDeepSearchButtonText);
    Screenshot(dialog, "state3-deep-search-offer");

    Click(dialog->DeepSearchOffer());
    ASSERT_EQ(dialog->Wizard().State(), kWizardRunning);
    EXPECT_TRUE(dialog->Catalog().m_deepSearch);
    EXPECT_FALSE(dialog->DeepSearchOffer()->IsShown());
    EXPECT_FALSE(dialog->ResetButton()->IsEnabled());
    // The pass's progress as the worker posts it, handled before the search's own notices.
    dialog->Wizard().OnScanNotify(kScanDeepProgress, "Deep search: 42% read, 3 found", 427);
    EXPECT_EQ(dialog->Progress()->GetRange(), 1000);
    EXPECT_EQ(dialog->Progress()->GetValue(), 427);
    EXPECT_EQ(Message(), "Deep search: 42% read, 3 found");
    RunningScreenshot("state2-deep-search");
    ASSERT_TRUE(PumpUntil([this] { return dialog->Wizard().State() == kWizardResults; }));
    EXPECT_EQ(dialog->Progress()->GetRange(), 100);
    EXPECT_EQ(dialog->Progress()->GetValue(), 100);
    EXPECT_FALSE(dialog->DeepSearchOffer()->IsShown());

    Click(dialog->ResetButton());
    ASSERT_TRUE(dialog->DeepSearchChoice()->IsShown());
    dialog->DeepSearchChoice()->SetValue(true);
    Screenshot(dialog, "state1-deep-search-chosen");
    ASSERT_NO_FATAL_FAILURE(SearchDrive('C', ""));
    EXPECT_TRUE(dialog->Catalog().m_deepSearch);
    EXPECT_FALSE(dialog->DeepSearchOffer()->IsShown());
}

namespace
{
// Ticks or unticks the deep search's box as a click does.
void SetDeepChoice(CFileRecoveryDlg& dialog, bool chosen)
{
    wxCheckBox* box = dialog.DeepSearchChoice();
    box->SetValue(chosen);
    wxCommandEvent event(wxEVT_CHECKBOX, box->GetId());
    event.SetEventObject(box);
    event.SetInt(chosen ? 1 : 0);
    box->GetEventHandler()->ProcessEvent(event);
}
} // namespace

TEST_F(CFileRecoveryDlgTest, DeepSearchChoiceOffersASourceOfNoFileSystem)
{
    const std::string zeros = ScratchDir("gui-raw") + "/zeros.img";
    std::ofstream(zeros).close();
    fs::resize_file(zeros, 1 << 20);
    dialog->SetSources({fat, ntfs, zeros});
    // The row of the source of zeros, once the deep search's choice registered it.
    const auto rawRowShown = [this, &zeros]
    {
        const std::vector<std::string> rows = RowNames(*dialog);
        for (const DriveSource& source : g_DriveTable.All())
            if (source.path == zeros)
                return source.fileSystem == kRawFileSystem &&
                       std::find(rows.begin(), rows.end(), ShellDisplayName(source)) != rows.end();
        return false;
    };
    EXPECT_FALSE(rawRowShown());
    for (const bool chosen : {true, false, true})
    {
        SetDeepChoice(*dialog, chosen);
        EXPECT_EQ(rawRowShown(), chosen) << (chosen ? "ticked" : "unticked");
    }
}
