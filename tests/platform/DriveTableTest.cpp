// DriveTable: letters handed out from C: on, replacement of a letter given twice, and
// lookups that ignore the case of the drive letter.
#include "platform/DriveTable.h"
#include "support/DriveSources.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace
{
TEST(DriveTableTest, NextLettersStartAtCAndSkipTakenOnes)
{
    DriveTable table;
    table.Register(MakeSource("d:", "/images/d.img"));
    EXPECT_EQ(table.RegisterNext("/images/a.img"), "C:");
    EXPECT_EQ(table.RegisterNext("/images/b.img", 1048576, 4096), "E:");
    std::vector<DriveSource> all = table.All();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].drive, "C:");
    EXPECT_EQ(all[1].drive, "D:");
    EXPECT_EQ(all[2].drive, "E:");
    EXPECT_EQ(all[2].offset, 1048576u);
    EXPECT_EQ(all[2].length, 4096u);
}

TEST(DriveTableTest, NoLetterLeftGivesAnEmptyText)
{
    DriveTable table;
    for (char letter = 'C'; letter <= 'Z'; ++letter)
        EXPECT_EQ(table.RegisterNext("/images/x.img"), std::string({letter, ':'}));
    EXPECT_EQ(table.RegisterNext("/images/y.img"), "");
    EXPECT_EQ(table.All().size(), 24u);
}

TEST(DriveTableTest, SecondRegistrationOfALetterReplacesTheFirst)
{
    DriveTable table;
    table.Register(MakeSource("X:", "/images/old.img"));
    table.Register(MakeSource("x:", "/dev/sdz", 512, 1024));
    std::vector<DriveSource> all = table.All();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].drive, "X:");
    EXPECT_EQ(all[0].path, "/dev/sdz");
    EXPECT_EQ(all[0].offset, 512u);
    EXPECT_EQ(all[0].length, 1024u);
}

struct LookupCase
{
    const char* asked;
    const char* found; // nullptr: not in the table
};

void PrintTo(const LookupCase& c, std::ostream* os)
{
    *os << '"' << c.asked << '"';
}

class DriveTableLookupTest : public ::testing::TestWithParam<LookupCase>
{
};

TEST_P(DriveTableLookupTest, FindIgnoresLetterCase)
{
    DriveTable table;
    table.Register(MakeSource("C:", "/images/c.img"));
    table.Register(MakeSource("q:", "/images/q.img"));
    std::optional<DriveSource> hit = table.Find(GetParam().asked);
    if (GetParam().found)
    {
        ASSERT_TRUE(hit.has_value());
        EXPECT_EQ(hit->path, GetParam().found);
    }
    else
    {
        EXPECT_FALSE(hit.has_value());
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, DriveTableLookupTest,
                         ::testing::Values(LookupCase{"C:", "/images/c.img"},
                                           LookupCase{"c:", "/images/c.img"},
                                           LookupCase{"Q:", "/images/q.img"},
                                           LookupCase{"q:", "/images/q.img"},
                                           LookupCase{"D:", nullptr}, LookupCase{"", nullptr},
                                           LookupCase{"C", nullptr}));

TEST(DriveTableTest, ClearEmptiesTheTable)
{
    DriveTable table;
    table.RegisterNext("/images/a.img");
    table.Clear();
    EXPECT_TRUE(table.All().empty());
    EXPECT_FALSE(table.Find("C:").has_value());
    EXPECT_EQ(table.RegisterNext("/images/b.img"), "C:");
}

// The notes the wizard says before a drive is chosen: only drives that have one, in drive order.
TEST(DriveTableTest, NotesNameTheirDrivesInOrder)
{
    DriveTable table;
    for (const auto& [drive, note] :
         {std::pair{"E:", "main boot region damaged"},
          std::pair{"C:", "sector 0 could not be read"}, std::pair{"D:", ""}})
    {
        DriveSource source;
        source.drive = drive;
        source.note = note;
        table.Register(source);
    }
    EXPECT_EQ(table.Notes(), (std::vector<std::string>{"C: sector 0 could not be read",
                                                       "E: main boot region damaged"}));
}
} // namespace
