// The body-file and CSV texts of hostile and ordinary names, and the times a timeline reads,
// without a volume.
#include <gtest/gtest.h>

#include <cstdlib>

#include "catalog/FindTimes.h"
#include "cli/Timeline.h"

namespace
{
FoundItem Item(const char* path, const char* name, u32 deleted, u8 attr)
{
    FoundItem item;
    item.path = path;
    item.name = name;
    item.deleted = deleted;
    item.attr = attr;
    item.size = 42;
    item.record = 7;
    return item;
}

// A name cannot break a body-file line or its columns; paths take "/" between their parts.
TEST(TimelineTest, BodyLinesKeepTheirColumns)
{
    struct Case
    {
        FoundItem item;
        const char* line;
    };
    const FindTimes times{.accessed = 4, .modified = 3, .changed = 2, .created = 1};
    const Case cases[] = {
        {Item("C:\\docs", "report.txt", 1, 0x20),
         "0|C:/docs/report.txt (deleted)|7|r/rrwxrwxrwx|0|0|42|4|3|2|1"},
        {Item("C:", "old", 1, 0x10), "0|C:/old (deleted)|7|d/drwxrwxrwx|0|0|42|4|3|2|1"},
        {Item("C:\\a", "ro.txt", 0, 0x21), "0|C:/a/ro.txt|7|r/rr-xr-xr-x|0|0|42|4|3|2|1"},
        {Item("C:\\x|y", "a|b\nc\x7f\\d", 1, 0x20),
         "0|C:/x^y/a^b^c^\\d (deleted)|7|r/rrwxrwxrwx|0|0|42|4|3|2|1"},
    };
    for (const Case& c : cases)
    {
        std::string line;
        AppendBodyLine(line, c.item, times);
        EXPECT_EQ(line, c.line);
    }
    std::string negative;
    FindTimes before;
    before.accessed = -5;
    AppendBodyLine(negative, Item("C:", "n", 0, 0), before);
    EXPECT_TRUE(negative.ends_with("|0|0|0|0")) << negative;
}

TEST(TimelineTest, CsvFieldsAreQuotedAsRfc4180Has)
{
    struct Case
    {
        const char* field;
        const char* csv;
    };
    const Case cases[] = {
        {"plain.txt", "plain.txt"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"C:\\docs", "C:\\docs"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
        {"bad\xff\xc3", "bad\xef\xbf\xbd\xef\xbf\xbd"},
        {"", ""},
    };
    for (const Case& c : cases)
    {
        std::string out;
        AppendCsvField(out, c.field);
        EXPECT_EQ(out, c.csv) << c.field;
    }
}

TEST(TimelineTest, TimesBecomeUnixSeconds)
{
    // FILETIMEs: whole seconds cut, not rounded; none before 1970.
    EXPECT_EQ(FileTimeToUnix(116444736000000000LL), 0);
    EXPECT_EQ(FileTimeToUnix(116444736000000000LL + 19999999), 1);
    EXPECT_EQ(FileTimeToUnix(132223104000000000LL), 1577836800);
    EXPECT_EQ(FileTimeToUnix(0), 0);
    EXPECT_EQ(FileTimeToUnix(-1), 0);
    // Local times by the machine's zone: UTC here.
    const char* zone = std::getenv("TZ");
    const std::string kept = zone != nullptr ? zone : "";
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(LocalTimeToUnix(FoundTime{2020, 1, 1, 0, 0, 0}), 1577836800);
    EXPECT_EQ(LocalTimeToUnix(FoundTime{2021, 3, 4, 5, 6, 8}), 1614834368);
    EXPECT_EQ(LocalTimeToUnix(FoundTime{}), 0);
    EXPECT_EQ(LocalTimeToUnix(FoundTime{1601, 1, 1, 0, 0, 0}), 0);
    EXPECT_EQ(LocalTimeToUnix(FoundTime{2020, 13, 1, 0, 0, 0}), 0);
    if (zone != nullptr)
        ::setenv("TZ", kept.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}
} // namespace
