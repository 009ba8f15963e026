// The result list's rows: a filter's matches below the shown folder with their folders, the
// count line, and the sort by each column (folders first, numbers as numbers).
#include "catalog/ResultList.h"

#include <gtest/gtest.h>

#include <clocale>

#include "catalog/Catalog.h"
#include "catalog/VolumeEngine.h"
#include "scan/fat/FatEngine.h"

namespace
{
using Names = std::vector<std::string>;

struct Listed
{
    const char* path;
    const char* name;
    u8 attr;
    u64 size;
    s16 year;
    FindCondition condition;
};

class ResultListFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::setlocale(LC_ALL, "C");
        catalog.InitFileTypes();
        const Listed listed[] = {
            {"C:", "docs", 0x10, 0, 2020, FindCondition::kNotJudged},
            {"C:", "top.jpg", 0x20, 10240, 2021, FindCondition::kGood},
            {"C:", "Zeta.txt", 0x20, 2048, 1999, FindCondition::kPartial},
            {"C:", "alpha.TXT", 0x20, 900, 2010, FindCondition::kOverwritten},
            {"C:\\docs", "photos", 0x10, 0, 2019, FindCondition::kNotJudged},
            {"C:\\docs", "report.txt", 0x20, 5000, 2015, FindCondition::kGood},
            {"C:\\docs\\photos", "beach.JPG", 0x20, 300000, 2018, FindCondition::kInferred},
            {"C:\\docs\\photos", "old.jpg", 0x20, 1, 2005, FindCondition::kOverwritten},
            {"C:\\docsx", "decoy.jpg", 0x20, 1, 2005, FindCondition::kGood},
        };
        VolumeEntry volume;
        volume.name = "C:";
        volume.fsType = kFsFat32;
        volume.engine = &FatEngine();
        for (const Listed& s : listed)
        {
            FoundItem item;
            item.path = s.path;
            item.name = s.name;
            item.attr = s.attr;
            item.size = s.size;
            item.accessed = {s.year, 1, 2, 3, 4, 5};
            item.condition = s.condition;
            volume.items.push_back(item);
        }
        catalog.m_volumes.push_back(std::move(volume));
        catalog.m_curVolume = 0;
        catalog.m_curPath = "C:";
    }

    std::vector<std::string> Shown() const
    {
        std::vector<std::string> names;
        for (std::size_t i = 0; i < list.Count(); ++i)
            names.push_back(list.SelectionName(i));
        return names;
    }

    CCatalog catalog;
    ResultList list;
};

TEST_F(ResultListFixture, FilterListsMatchesBelowTheFolderWithTheirFolders)
{
    list.Open(catalog);
    EXPECT_FALSE(list.Filtered());
    EXPECT_EQ(Shown(), (Names{"docs", "docsx", "top.jpg", "Zeta.txt", "alpha.TXT"}));

    list.Filter().SetName("*.jpg");
    list.Open(catalog);
    EXPECT_TRUE(list.Filtered());
    EXPECT_EQ(Shown(), (Names{"top.jpg", "docs\\photos\\beach.JPG", "docs\\photos\\old.jpg",
                              "docsx\\decoy.jpg"}));
    EXPECT_EQ(list.Row(1).path, "C:\\docs\\photos");
    EXPECT_EQ(list.Row(1).row.size, "292.97 KB");
    EXPECT_EQ(list.Row(1).row.condition, "inferred");
    EXPECT_EQ(list.ShownText(), "4 of 7 files shown");

    catalog.m_curPath = "C:\\docs"; // "C:\docsx" is not below it
    list.Filter().SetRecoverableOnly(true);
    list.Open(catalog);
    EXPECT_EQ(Shown(), (Names{"photos\\beach.JPG"}));
    EXPECT_EQ(list.ShownText(), "1 of 3 files shown");

    list.Filter().SetName("PHOTO");
    list.Filter().SetRecoverableOnly(false);
    list.Open(catalog);
    EXPECT_EQ(Shown(), (Names{"photos"}));
    EXPECT_EQ(list.Row(0).row.description, "Directory");

    list.Filter().SetName("");
    list.Open(catalog); // a cleared filter is the folder view again
    EXPECT_FALSE(list.Filtered());
    EXPECT_EQ(Shown(), (Names{"..", "photos", "report.txt"}));
}

TEST_F(ResultListFixture, SortsByEachColumnFoldersFirstNumbersAsNumbers)
{
    struct Case
    {
        ResultColumn column;
        int clicks; // 2: the same header again reverses
        Names names;
    };
    const Case cases[] = {
        {ResultColumn::kName, 1, {"docs", "docsx", "alpha.TXT", "top.jpg", "Zeta.txt"}},
        {ResultColumn::kName, 2, {"docsx", "docs", "Zeta.txt", "top.jpg", "alpha.TXT"}},
        {ResultColumn::kSize, 1, {"docs", "docsx", "alpha.TXT", "Zeta.txt", "top.jpg"}},
        {ResultColumn::kSize, 2, {"docs", "docsx", "top.jpg", "Zeta.txt", "alpha.TXT"}},
        {ResultColumn::kAccess, 1, {"docsx", "docs", "Zeta.txt", "alpha.TXT", "top.jpg"}},
        {ResultColumn::kCondition, 1, {"docs", "docsx", "top.jpg", "Zeta.txt", "alpha.TXT"}},
    };
    for (const Case& c : cases)
    {
        ResultList fresh;
        for (int i = 0; i < c.clicks; ++i)
            fresh.SortBy(c.column);
        fresh.Open(catalog);
        std::vector<std::string> names;
        for (std::size_t i = 0; i < fresh.Count(); ++i)
            names.push_back(fresh.Row(i).row.name);
        EXPECT_EQ(names, c.names) << "column " << static_cast<int>(c.column) << " x" << c.clicks;
    }

    // ".." stays on top; a filtered list sorts by its folder column too.
    catalog.m_curPath = "C:\\docs";
    list.SetSort(ResultColumn::kName, false);
    list.Open(catalog);
    EXPECT_EQ(Shown(), (Names{"..", "photos", "report.txt"}));
    list.Filter().SetType(FindType::kPictures);
    list.SetSort(ResultColumn::kPath, false);
    list.Open(catalog);
    EXPECT_EQ(Shown(), (Names{"photos\\beach.JPG", "photos\\old.jpg"}));
    list.SortBy(ResultColumn::kAccess);
    EXPECT_EQ(Shown(), (Names{"photos\\old.jpg", "photos\\beach.JPG"}));
}
} // namespace
