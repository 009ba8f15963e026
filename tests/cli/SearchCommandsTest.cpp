// The scan and recover commands' pieces that need no volume: JSON and terminal-safe text of
// names, item lines, and the turning of --item paths into recovery runs.
#include <gtest/gtest.h>

#include "cli/Json.h"
#include "cli/ListedItems.h"
#include "cli/Recover.h"
#include "cli/Scan.h"
#include "cli/SearchRun.h"
#include "cli/TextOut.h"

namespace
{
struct TextCase
{
    const char* input;
    const char* json;      // JsonQuote
    const char* printable; // PrintableText
};

class SearchCommandsTextTest : public ::testing::TestWithParam<TextCase>
{
};

TEST_P(SearchCommandsTextTest, EscapesNamesForJsonAndTerminal)
{
    EXPECT_EQ(JsonQuote(GetParam().input), GetParam().json);
    EXPECT_EQ(PrintableText(GetParam().input), GetParam().printable);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SearchCommandsTextTest,
    ::testing::Values(TextCase{"plain.txt", "\"plain.txt\"", "plain.txt"},
                      TextCase{"C:\\docs", "\"C:\\\\docs\"", "C:\\docs"},
                      TextCase{"say \"hi\"", "\"say \\\"hi\\\"\"", "say \"hi\""},
                      TextCase{"a\nb\tc\x01", "\"a\\nb\\tc\\u0001\"", "a\\x0Ab\\x09c\\x01"},
                      TextCase{"\x1b[2J\x7f", "\"\\u001b[2J\\u007f\"", "\\x1B[2J\\x7F"},
                      TextCase{"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
                               "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"",
                               "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
                      // C1 controls: as UTF-8 they are valid JSON; raw they are invalid UTF-8.
                      TextCase{"\xc2\x9b"
                               "1m",
                               "\"\xc2\x9b"
                               "1m\"",
                               "\\xC2\\x9B1m"},
                      TextCase{"\x9b"
                               "1m",
                               "\"\\ufffd1m\"", "\\x9B1m"},
                      // Invalid UTF-8: a stray byte, a cut sequence, an overlong form, a surrogate,
                      // and a code point above U+10FFFF.
                      TextCase{"a\xff"
                               "b",
                               "\"a\\ufffdb\"", "a\\xFFb"},
                      TextCase{"end\xc3", "\"end\\ufffd\"", "end\\xC3"},
                      TextCase{"\xc0\xaf", "\"\\ufffd\\ufffd\"", "\\xC0\\xAF"},
                      TextCase{"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\"", "\\xED\\xA0\\x80"},
                      TextCase{"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\"",
                               "\\xF4\\x90\\x80\\x80"}));

// Plain ASCII is taken eight bytes at a time: a byte that needs escaping, or one that is no
// ASCII, is met at every place of a long name and quoted as it is on its own.
TEST(SearchCommandsTest, EscapesAreFoundAtEveryPlaceOfALongName)
{
    const std::string specials[] = {"\x01", "\x1f", "\"", "\\", "\x7f", "\xc3\xa9", "\xff", "~ "};
    const std::string plain = "abcdefghijklmnopq";
    for (const std::string& special : specials)
        for (std::size_t at = 0; at <= plain.size(); ++at)
        {
            const std::string name = plain.substr(0, at) + special + plain.substr(at);
            const std::string alone = JsonQuote(special);
            EXPECT_EQ(JsonQuote(name), "\"" + plain.substr(0, at) +
                                           alone.substr(1, alone.size() - 2) + plain.substr(at) +
                                           "\"")
                << at << " " << PrintableText(special);
        }
}

TEST(SearchCommandsTest, ItemLinesCarryEveryField)
{
    VolumeEntry volume;
    volume.name = "C:";
    volume.fsType = kFsFat16;
    FoundItem item;
    item.path = "C:\\docs";
    item.name = "r\"1\".txt";
    item.attr = 0x20;
    item.deleted = 1;
    item.size = 5368709120ull;
    item.first = 7;
    item.created = {1999, 12, 31, 23, 59, 58};
    item.accessed = {2000, 1, 2, 3, 4, 5};
    item.condition = FindCondition::kPartial;
    item.overwrittenPct = 40;
    EXPECT_EQ(
        FormatItemJson(volume, item),
        "{\"volume\":\"C:\",\"fs\":\"FAT16\",\"path\":\"C:\\\\docs\",\"name\":\"r\\\"1\\\".txt\","
        "\"dir\":false,\"deleted\":1,\"size\":5368709120,\"first\":7,"
        "\"created\":\"1999-12-31 23:59:58\",\"accessed\":\"2000-01-02 03:04:05\","
        "\"condition\":\"partial\",\"overwritten_pct\":40,\"deep\":0,\"found_by\":\"search\","
        "\"content\":\"\"}");
    EXPECT_EQ(FormatItemText(item),
              "deleted  file      5368709120  2000-01-02 03:04:05  partial 40%       "
              "C:\\docs\\r\"1\".txt");
    item.attr = 0x10;
    item.deleted = 0;
    item.size = 0;
    item.condition = FindCondition::kNotJudged;
    item.overwrittenPct = 0;
    EXPECT_NE(FormatItemJson(volume, item).find("\"dir\":true,\"deleted\":0"), std::string::npos);
    EXPECT_NE(FormatItemJson(volume, item)
                  .find("\"condition\":\"\",\"overwritten_pct\":0,\"deep\":0,\"found_by\":"
                        "\"search\",\"content\":\"\"}"),
              std::string::npos);
    EXPECT_EQ(FormatItemText(item).substr(0, 30), "live     folder             - ");
}

// The listings show a live folder only when a deleted find lies below it, at any depth; a
// folder whose name merely begins like a holding folder's ("docsx" beside "docs") is no
// parent of it.
TEST(SearchCommandsTest, LiveFoldersAreListedOnlyAboveADeletedFind)
{
    struct Row
    {
        const char* path;
        const char* name;
        bool folder;
        bool deleted;
        bool listed;
    };
    const Row rows[] = {
        {"C:", "docs", true, false, true}, // holds a find three levels down
        {"C:\\docs", "a", true, false, true},
        {"C:\\docs\\a", "b", true, false, true},
        {"C:\\docs\\a\\b", "gone.txt", false, true, true},
        {"C:\\docs", "empty", true, false, false}, // nothing below it
        {"C:", "docsx", true, false, false},       // a name that begins like docs
        {"C:", "$Extend", true, false, false},
        {"C:\\$Extend", "$Deleted", true, false, false},
        {"C:", "old", true, true, true},             // deleted folders are finds themselves
        {"C:\\old", "live.txt", false, false, true}, // live files stay as they are
        {"C:", "keep", true, false, true},           // holds a deleted folder only
        {"C:\\keep", "gone", true, true, true},
    };
    VolumeEntry volume;
    volume.name = "C:";
    for (const Row& r : rows)
    {
        FoundItem item;
        item.path = r.path;
        item.name = r.name;
        item.attr = r.folder ? 0x10 : 0x20;
        item.deleted = r.deleted ? 1 : 0;
        volume.items.push_back(std::move(item));
    }
    const CListedItems listed(volume);
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(listed.Listed(volume.items[i]), rows[i].listed)
            << rows[i].path << "\\" << rows[i].name;
}

TEST(SearchCommandsTest, TimesTakeFourAndTwoDigitsAndPrintfBeyond)
{
    const std::pair<FoundTime, const char*> cases[] = {
        {{1601, 1, 1, 0, 0, 0}, "1601-01-01 00:00:00"},
        {{601, 2, 9, 7, 5, 3}, "0601-02-09 07:05:03"},
        {{9999, 12, 31, 24, 60, 61}, "9999-12-31 24:60:61"},
        {{0, 0, 0, 0, 0, 0}, "0000-00-00 00:00:00"},
        {{2024, 10, 99, 10, 10, 10}, "2024-10-99 10:10:10"},
        {{10000, 1, 1, 0, 0, 0}, "10000-01-01 00:00:00"},
        {{-5, 1, 1, 0, 0, 0}, "-005-01-01 00:00:00"},
        {{2000, 1, 1, 0, 0, 200}, "2000-01-01 00:00:200"},
    };
    for (const auto& [time, text] : cases)
        EXPECT_EQ(TimeText(time), text);
}

// A volume with a file and a folder in the root, a file below the folder, and a file in a
// folder that has no item of its own.
VolumeEntry SampleVolume()
{
    VolumeEntry volume;
    volume.name = "D:";
    volume.fsType = kFsNtfs;
    auto add = [&](const char* path, const char* name, u8 attr)
    {
        FoundItem item;
        item.path = path;
        item.name = name;
        item.attr = attr;
        volume.items.push_back(item);
    };
    add("D:", "docs", 0x10);
    add("D:\\docs", "a.txt", 0x20);
    add("D:\\docs\\sub", "deep.txt", 0x20);
    add("D:", "root.txt", 0x20);
    add("D:\\Folder_1_", "lost.txt", 0x20);
    add("D:\\docsx", "near.txt", 0x20);
    add("D:\\docs", "back\\slash.txt", 0x20);
    add("D:\\docs", "100%.txt", 0x20);
    return volume;
}

std::string Describe(const std::vector<RecoverGroup>& groups)
{
    std::string out;
    for (const RecoverGroup& g : groups)
    {
        out += "[" + g.folder + "]";
        for (const SelEntry& e : g.entries)
            out += " " + e.name + (e.isDir ? "/" : "");
        out += ";";
    }
    return out;
}

TEST(SearchCommandsTest, RootSelectionIncludesFoldersWithoutItems)
{
    EXPECT_EQ(Describe({RootSelection(SampleVolume())}), "[D:] docs/ root.txt Folder_1_/ docsx/;");
    VolumeEntry empty;
    empty.name = "E:";
    EXPECT_TRUE(RootSelection(empty).entries.empty());
}

struct SelectCase
{
    std::vector<std::string> items;
    const char* groups; // Describe() of the result, or the error's start
    bool ok;
};

class SearchCommandsSelectTest : public ::testing::TestWithParam<SelectCase>
{
};

TEST_P(SearchCommandsSelectTest, TurnsItemPathsIntoRuns)
{
    std::vector<VolumeEntry> volumes;
    volumes.push_back(SampleVolume());
    std::vector<RecoverGroup> groups;
    std::string error;
    bool ok = SelectItems(volumes, GetParam().items, &groups, &error);
    ASSERT_EQ(ok, GetParam().ok) << error;
    if (ok)
        EXPECT_EQ(Describe(groups), GetParam().groups);
    else
        EXPECT_EQ(error.rfind(GetParam().groups, 0), 0u) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SearchCommandsSelectTest,
    ::testing::Values(SelectCase{{"D:\\docs\\a.txt"}, "[D:\\docs] a.txt;", true},
                      SelectCase{{"d:\\docs\\"}, "[D:] docs/;", true},
                      // A folder known only from the paths below it.
                      SelectCase{{"D:\\docs\\sub"}, "[D:\\docs] sub/;", true},
                      SelectCase{{"D:\\Folder_1_"}, "[D:] Folder_1_/;", true},
                      SelectCase{{"D:"}, "[D:] docs/ root.txt Folder_1_/ docsx/;", true},
                      // One run per folder, in order of first mention; repeats are dropped.
                      SelectCase{{"D:\\root.txt", "D:\\docs\\a.txt", "D:\\docs", "D:\\root.txt"},
                                 "[D:] root.txt docs/;[D:\\docs] a.txt;",
                                 true},
                      // A name holding a backslash: as listed, or escaped.
                      SelectCase{
                          {"D:\\docs\\back\\slash.txt"}, "[D:\\docs] back\\slash.txt;", true},
                      SelectCase{{"D:\\docs\\back%5Cslash.txt", "D:\\docs\\100%25.txt"},
                                 "[D:\\docs] back\\slash.txt 100%.txt;",
                                 true},
                      SelectCase{{"D:\\docs\\100%.txt"}, "[D:\\docs] 100%.txt;", true},
                      SelectCase{{"D:\\docs\\back%41slash.txt"}, "no item", false},
                      SelectCase{{"D:\\doc"}, "no item", false},
                      SelectCase{{"D:\\docs\\A.TXT"}, "no item", false},
                      SelectCase{{"C:\\docs"}, "'C:\\docs' lies on no volume", false},
                      SelectCase{{"D:docs"}, "'D:docs' lies on no volume", false}));
} // namespace
