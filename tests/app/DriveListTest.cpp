// The drive list: which drives of the drive table it offers, and the selected-drive string.
#include "app/DriveList.h"

#include <gtest/gtest.h>

#include <wx/frame.h>

#include <memory>

namespace
{
DriveSource Source(const std::string& drive, DriveType type, const std::string& fileSystem,
                   bool fromCommandLine)
{
    DriveSource source;
    source.drive = drive;
    source.path = "/nonexistent/orlavent-drive-list-test";
    source.driveType = type;
    source.fileSystem = fileSystem;
    source.fromCommandLine = fromCommandLine;
    return source;
}
} // namespace

TEST(CDriveList, AcceptsFixedFatExfatAndNtfsAndEverySourceNamedOnTheCommandLine)
{
    struct Case
    {
        DriveSource source;
        u32 fsMask;
        bool accepted;
    };
    const Case cases[] = {
        {Source("C:", DriveType::Fixed, "FAT32", false), 0x03, true},
        {Source("C:", DriveType::Fixed, "FAT12", false), 0x01, true},
        {Source("C:", DriveType::Fixed, "NTFS", false), 0x01, false},
        {Source("C:", DriveType::Fixed, "NTFS", false), 0x02, true},
        {Source("C:", DriveType::Fixed, "exFAT", false), 0x03, false},
        {Source("C:", DriveType::Fixed, "exFAT", false), 0x04, true},
        {Source("C:", DriveType::CdRom, "FAT16", false), 0x03, false},
        {Source("C:", DriveType::Removable, "FAT32", false), 0x03, false},
        {Source("C:", DriveType::Removable, "FAT32", true), 0x03, true},
        {Source("C:", DriveType::Unknown, "FAT32", true), 0x03, false},
        {Source("C:", DriveType::Fixed, "", false), 0x03, false}, // probe cannot open it
        // A source of no file system: only where the deep search is chosen.
        {Source("C:", DriveType::Fixed, "raw", true), 0x07, false},
        {Source("C:", DriveType::Fixed, "raw", true), 0x08, true},
    };
    for (const Case& c : cases)
    {
        g_DriveTable.Clear();
        g_DriveTable.Register(c.source);
        EXPECT_EQ(CDriveList::Accepts(c.source, kDriveFixed, c.fsMask), c.accepted)
            << c.source.fileSystem << " type " << static_cast<u32>(c.source.driveType) << " fsMask "
            << c.fsMask;
    }
    g_DriveTable.Clear();
}

TEST(CDriveList, SelectedDriveStringHoldsMoreThanFifteenDrives)
{
    g_DriveTable.Clear();
    for (char letter = 'C'; letter <= 'Z'; ++letter)
        g_DriveTable.Register(Source(std::string(1, letter) + ":", DriveType::Fixed,
                                     letter == 'E' ? "exFAT" : "FAT32", false));
    auto* frame = new wxFrame(nullptr, wxID_ANY, "drives");
    auto* list = new CDriveList(frame, wxID_ANY, wxDefaultPosition, wxSize(400, 300), wxLC_ICON);
    EXPECT_EQ(list->FillDrives(kDriveFixed, kFsBitFat | kFsBitNtfs, true, kAlignTop, kViewIcon),
              0u);
    ASSERT_EQ(list->GetItemCount(), 23); // C: to Z: without the exFAT drive E:
    EXPECT_EQ(list->GetItemText(0), "Local Disk (C:)");
    EXPECT_EQ(list->GetSelectedDrives(), "");
    std::string expected;
    for (long i = 0; i < list->GetItemCount(); ++i)
    {
        list->SetItemState(i, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
        expected += static_cast<char>(list->GetItemData(i));
        expected += ':';
    }
    EXPECT_EQ(list->GetSelectedDrives(), expected);
    EXPECT_EQ(expected.size(), 46u);
    EXPECT_EQ(expected.substr(0, 6), "C:D:F:");

    list->SetViewStyle(kViewReport);
    EXPECT_TRUE(list->HasFlag(wxLC_REPORT));
    EXPECT_FALSE(list->HasFlag(wxLC_ICON));
    list->SetAlignStyle(kAlignLeft);
    EXPECT_TRUE(list->HasFlag(wxLC_ALIGN_LEFT));
    list->SetViewStyle(kViewList);
    EXPECT_TRUE(list->HasFlag(wxLC_LIST));
    EXPECT_FALSE(list->HasFlag(wxLC_REPORT));
    frame->Destroy();
    g_DriveTable.Clear();
}
