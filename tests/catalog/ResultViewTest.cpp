// The result view's rows: order, texts and type indexes of a folder listing, folder browsing,
// file types learnt once per extension, and the time text.
#include "catalog/ResultView.h"

#include <gtest/gtest.h>

#include <clocale>
#include <map>

#include "catalog/Catalog.h"
#include "catalog/VolumeEngine.h"
#include "scan/fat/FatEngine.h"
#include "scan/ntfs/NtfsEngine.h"

namespace
{
// A file-type database that knows a few extensions and counts the lookups.
class FakeFileTypes final : public IFileTypes
{
public:
    bool Lookup(const std::string& extension, FileTypeInfo* info) override
    {
        ++lookups[extension];
        if (extension == "txt")
        {
            *info = {"plain text document", "text-plain\ntext-x-generic"};
            return true;
        }
        if (extension == "TXT")
        {
            *info = {"Text (upper)", "text-x-generic"};
            return true;
        }
        return false;
    }
    std::map<std::string, int> lookups;
};

FoundItem Item(const std::string& path, const std::string& name, u8 attr, u64 size = 0)
{
    FoundItem item;
    item.path = path;
    item.name = name;
    item.attr = attr;
    item.size = size;
    item.accessed = {2021, 3, 4, 5, 6, 7};
    return item;
}

VolumeEntry Volume(const std::string& name, u32 fsType, std::vector<FoundItem> items)
{
    VolumeEntry volume;
    volume.name = name;
    volume.fsType = fsType;
    volume.engine =
        fsType == kFsNtfs ? static_cast<const IVolumeEngine*>(&NtfsEngine()) : &FatEngine();
    volume.items.assign(items.begin(), items.end());
    return volume;
}

std::vector<std::string> Names(const std::vector<ResultRow>& rows)
{
    std::vector<std::string> names;
    for (const ResultRow& row : rows)
        names.push_back(row.name);
    return names;
}

class ResultViewFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::setlocale(LC_ALL, "C");
        catalog.m_fileTypes = &types;
        catalog.InitFileTypes();
    }

    CCatalog catalog;
    FakeFileTypes types;
    std::vector<ResultRow> rows;
};

using CCatalogResultView = ResultViewFixture;
} // namespace

TEST_F(CCatalogResultView, VolumeListShowsEveryVolumeAsPlainText)
{
    catalog.m_volumes.push_back(Volume("C:", kFsFat32, {}));
    catalog.m_volumes.push_back(Volume("D:", kFsNtfs, {}));
    catalog.m_curPath.clear();
    catalog.ShowFolder(catalog.m_volumes[0], &rows);
    ASSERT_EQ(Names(rows), (std::vector<std::string>{"C:", "D:"}));
    for (const ResultRow& row : rows)
    {
        EXPECT_EQ(row.image, kImageNone);
        EXPECT_TRUE(row.description.empty() && row.size.empty() && row.access.empty() &&
                    row.condition.empty());
    }
}

TEST_F(CCatalogResultView, FolderListsUpRowThenFoldersNewestFirstThenFilesInFoundOrder)
{
    catalog.m_volumes.push_back(
        Volume("C:", kFsFat32,
               {Item("C:\\docs", "a.txt", 0x20, 0), Item("C:\\docs", "Old", 0x10),
                Item("C:\\docs", "b.xyz", 0x20, 1024), Item("C:\\docs", "New", 0x10),
                Item("C:\\docs", "README", 0x20, 1536), Item("C:\\docs", "c.jpg", 0x20, 2048)}));
    catalog.m_volumes[0].items[0].condition = FindCondition::kGood;
    catalog.m_volumes[0].items[2].condition = FindCondition::kPartial;
    catalog.m_volumes[0].items[2].overwrittenPct = 40;
    catalog.m_volumes[0].items[4].condition = FindCondition::kOverwritten;
    catalog.m_volumes[0].items[4].overwrittenPct = 100;
    catalog.m_volumes[0].items[4].SetContent(FindContent::kDamaged);
    catalog.m_volumes[0].items[5].condition = FindCondition::kInferred;
    catalog.m_volumes[0].items[5].SetContent(FindContent::kValid);
    catalog.m_curPath = "C:\\docs";
    catalog.ShowFolder(catalog.m_volumes[0], &rows);
    ASSERT_EQ(Names(rows),
              (std::vector<std::string>{"..", "New", "Old", "a.txt", "b.xyz", "README", "c.jpg"}));
    EXPECT_EQ(rows[0].image, kImageNone);
    EXPECT_EQ(rows[1].description, "Directory");
    EXPECT_EQ(rows[1].image, kImageFolder);
    EXPECT_TRUE(rows[1].size.empty());
    EXPECT_EQ(rows[1].access, "03/04/21  05:06:07");
    EXPECT_EQ(rows[3].description, "plain text document");
    EXPECT_EQ(rows[3].size, "0.00 KB");
    EXPECT_EQ(rows[4].description, "xyz File");
    EXPECT_EQ(rows[4].size, "1.00 KB");
    EXPECT_EQ(rows[5].description, "Unknown File");
    EXPECT_EQ(rows[5].image, kImageFile);
    EXPECT_EQ(rows[5].size, "1.50 KB");
    // The condition column: files only, with the share of damaged clusters where some are.
    EXPECT_EQ(rows[1].condition, "");
    EXPECT_EQ(rows[3].condition, "good");
    EXPECT_EQ(rows[4].condition, "partial 40%");
    // What the file's validator read follows the condition.
    EXPECT_EQ(rows[5].condition, "overwritten 100%, damaged");
    EXPECT_EQ(rows[6].condition, "inferred, valid");
    EXPECT_EQ(catalog.m_fileCount, 4u);
}

TEST_F(CCatalogResultView, FatShowsOnlyTheRunNearestTheEndNtfsShowsAll)
{
    std::vector<FoundItem> items = {Item("C:", "early.txt", 0x20), Item("C:\\x", "other", 0x20),
                                    Item("C:", "late.txt", 0x20)};
    catalog.m_volumes.push_back(Volume("C:", kFsFat16, items));
    catalog.m_volumes.push_back(Volume("C:", kFsNtfs, items));
    catalog.m_curPath = "C:";
    // "x" has no item of its own, but "other" lies below it: a row leads there.
    catalog.ShowFolder(catalog.m_volumes[0], &rows);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"x", "late.txt"}));
    catalog.ShowFolder(catalog.m_volumes[1], &rows);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"x", "early.txt", "late.txt"}));
    EXPECT_EQ(catalog.m_fileCount, 2u);
    // After a deep search appended its finds (the Carved folder in the root), FAT shows all.
    catalog.m_volumes[0].foldersScattered = true;
    catalog.ShowFolder(catalog.m_volumes[0], &rows);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"x", "early.txt", "late.txt"}));
}

TEST_F(CCatalogResultView, LevelsWithoutAnItemGetAFolderRowWithTheirNewestTime)
{
    // Lost parents: files below "Folder_1_" and "Folder_2_\deep", which have no items.
    FoundItem older = Item("D:\\Folder_1_", "a.txt", 0x20);
    older.accessed = {2020, 1, 1, 0, 0, 0};
    FoundItem newer = Item("D:\\Folder_1_", "b.txt", 0x20);
    newer.accessed = {2022, 2, 2, 0, 0, 0};
    catalog.m_volumes.push_back(
        Volume("D:", kFsNtfs,
               {Item("D:", "docs", 0x10), older, newer, Item("D:\\docs", "in.txt", 0x20),
                Item("D:\\Folder_2_\\deep", "c.txt", 0x20), Item("D:", "root.txt", 0x20)}));
    catalog.m_curVolume = 0;
    catalog.m_curPath = "D:";
    catalog.ShowFolder(catalog.m_volumes[0], &rows);
    // The folder with an item keeps its row; the levels follow it, then the files.
    EXPECT_EQ(Names(rows),
              (std::vector<std::string>{"docs", "Folder_2_", "Folder_1_", "root.txt"}));
    EXPECT_EQ(rows[2].description, "Directory");
    EXPECT_EQ(rows[2].size, "");
    EXPECT_EQ(rows[2].access, catalog.FormatTime(newer.accessed));
    EXPECT_EQ(catalog.m_fileCount, 1u);
    ASSERT_TRUE(catalog.Navigate("Folder_2_", &rows));
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"..", "deep"}));
    ASSERT_TRUE(catalog.Navigate("deep", &rows));
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"..", "c.txt"}));
}

TEST_F(CCatalogResultView, NavigateWalksVolumesFoldersAndBackUp)
{
    catalog.m_volumes.push_back(Volume("C:", kFsFat32, {Item("C:", "docs", 0x10)}));
    catalog.m_volumes.push_back(
        Volume("D:", kFsNtfs, {Item("D:\\a", "deep.txt", 0x20), Item("D:", "a", 0x10)}));
    catalog.m_curPath = "C:";
    catalog.m_curVolume = 0;

    ASSERT_TRUE(catalog.Navigate("..", &rows)); // root -> volume list
    EXPECT_EQ(catalog.m_curPath, "");
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"C:", "D:"}));

    ASSERT_TRUE(catalog.Navigate("D:", &rows)); // volume -> its root, no ".."
    EXPECT_EQ(catalog.m_curVolume, 1);
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"a"}));

    ASSERT_TRUE(catalog.Navigate("a", &rows));
    EXPECT_EQ(catalog.m_curPath, "D:\\a");
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"..", "deep.txt"}));

    ASSERT_TRUE(catalog.Navigate("nothing-here", &rows)); // empty folder: only ".."
    EXPECT_EQ(Names(rows), (std::vector<std::string>{".."}));
    ASSERT_TRUE(catalog.Navigate("..", &rows));
    ASSERT_TRUE(catalog.Navigate("..", &rows));
    EXPECT_EQ(catalog.m_curPath, "D:");
}

TEST_F(CCatalogResultView, NavigateIgnoresWhatNamesNothing)
{
    catalog.m_volumes.push_back(Volume("C:", kFsFat32, {Item("C:", "f.txt", 0x20)}));
    catalog.m_curPath = "C:";
    rows = {ResultRow{"kept", {}, {}, {}, kImageNone, {}}};
    for (const char* text : {"", "E:", "c:"})
    {
        EXPECT_FALSE(catalog.Navigate(text, &rows)) << text;
        EXPECT_EQ(catalog.m_curPath, "C:");
        EXPECT_EQ(Names(rows), (std::vector<std::string>{"kept"}));
    }
    catalog.m_curPath.clear();
    EXPECT_FALSE(catalog.Navigate("..", &rows));
    EXPECT_FALSE(catalog.Navigate("folder", &rows));
    EXPECT_EQ(catalog.m_curPath, "");
}

TEST_F(CCatalogResultView, NavigateWithoutVolumesChangesNothing)
{
    catalog.m_curPath = "C:\\gone";
    catalog.m_curVolume = 3;
    EXPECT_FALSE(catalog.Navigate("sub", &rows));
    EXPECT_FALSE(catalog.Navigate("..", &rows));
    EXPECT_EQ(catalog.m_curPath, "C:\\gone");
}

TEST_F(CCatalogResultView, FileTypesAreLearntOncePerExtensionCaseKept)
{
    struct Case
    {
        std::string extension;
        std::string description;
    };
    const Case cases[] = {{"txt", "plain text document"},
                          {"TXT", "Text (upper)"},
                          {"txt  ", "plain text document"},
                          {"xyz", "xyz File"},
                          {"", "Unknown File"},
                          {"Directory", "Directory File"},
                          {"File", "File File"},
                          {"xyz", "xyz File"}};
    std::vector<s32> images;
    for (const Case& c : cases)
    {
        std::string text = c.extension;
        s32 image = 99;
        catalog.GetFileType(text, &image);
        EXPECT_EQ(text, c.description) << c.extension;
        images.push_back(image);
    }
    EXPECT_EQ(images, (std::vector<s32>{2, 3, 2, 4, kImageFile, 5, 6, 4}));
    EXPECT_EQ(types.lookups["txt"], 1);
    EXPECT_EQ(types.lookups["TXT"], 1);
    EXPECT_EQ(types.lookups["xyz"], 1);
    ASSERT_EQ(catalog.m_typeIcons.size(), catalog.m_typeExts.size());
    EXPECT_EQ(catalog.m_typeIcons[kImageFolder], kFolderIconName);
    EXPECT_EQ(catalog.m_typeIcons[2], "text-plain\ntext-x-generic");
    EXPECT_EQ(catalog.m_typeIcons[4], kFileIconName);
}

TEST_F(CCatalogResultView, FileTypesWorkWithoutDatabaseOrInitialisation)
{
    CCatalog bare;
    std::string text = "doc";
    s32 image = 0;
    bare.GetFileType(text, &image);
    EXPECT_EQ(text, "doc File");
    EXPECT_EQ(image, 2);
    EXPECT_EQ(bare.m_typeNames[kImageFile], "Unknown File");
}

TEST_F(CCatalogResultView, FormatTimeUsesTheLocaleDateAndTime)
{
    EXPECT_EQ(catalog.FormatTime({1999, 12, 31, 23, 59, 58}), "12/31/99  23:59:58");
    EXPECT_EQ(catalog.FormatTime({2000, 1, 2, 3, 4, 5}), "01/02/00  03:04:05");
    // A damaged entry's fields that name no date or time of day leave that half empty.
    EXPECT_EQ(catalog.FormatTime({-5000, 0, 99, 77, 255, 61}), "  ");
    EXPECT_EQ(catalog.FormatTime({1999, 12, 31, 24, 0, 0}), "12/31/99  ");
    EXPECT_EQ(catalog.FormatTime({INT16_MIN, 0, 1, 0, 0, 0}), "  00:00:00");
    EXPECT_EQ(catalog.FormatTime({1600, 1, 1, 0, 0, 0}), "  00:00:00");
}
