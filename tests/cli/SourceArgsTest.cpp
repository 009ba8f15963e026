// Drive letters for SOURCE arguments: explicit X:=PATH claims, the C:-onward assignment of
// plain paths, and the argument mistakes that must be refused.
#include "cli/SourceArgs.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "cli/Json.h"

namespace
{
struct AssignCase
{
    const char* label;
    std::vector<std::string> args;
    std::vector<std::string> drives; // expected, in argument order; empty when refused
    const char* error;               // expected part of the message when refused
};

// Test names and failure messages show the case label, not the bytes of the case.
void PrintTo(const AssignCase& c, std::ostream* os)
{
    *os << c.label;
}

class SourceArgsAssign : public ::testing::TestWithParam<AssignCase>
{
};

std::vector<std::string> Plain(int count)
{
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        args.push_back("disk" + std::to_string(i) + ".img");
    return args;
}

std::vector<std::string> Letters(char from, char to)
{
    std::vector<std::string> drives;
    for (char c = from; c <= to; ++c)
        drives.push_back(std::string{c, ':'});
    return drives;
}
} // namespace

TEST_P(SourceArgsAssign, GivesDrivesInArgumentOrder)
{
    const AssignCase& c = GetParam();
    std::vector<SourceArg> sources;
    std::string error;
    bool ok = AssignDrives(c.args, &sources, &error);
    if (c.drives.empty())
    {
        EXPECT_FALSE(ok);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        return;
    }
    ASSERT_TRUE(ok) << error;
    ASSERT_EQ(sources.size(), c.drives.size());
    for (std::size_t i = 0; i < sources.size(); ++i)
        EXPECT_EQ(sources[i].drive, c.drives[i]) << "argument " << i;
}

INSTANTIATE_TEST_SUITE_P(
    SourceArgs, SourceArgsAssign,
    ::testing::Values(
        AssignCase{"PlainPathsFromC", {"a.img", "b.img", "/dev/sdb1"}, {"C:", "D:", "E:"}, ""},
        // A letter claimed later on the line is not handed to an earlier plain path.
        AssignCase{"ClaimedLetterSkipped", {"a.img", "C:=b.img", "c.img"}, {"D:", "C:", "E:"}, ""},
        AssignCase{"LowerCaseLetter", {"e:=a.img", "b.img"}, {"E:", "C:"}, ""},
        AssignCase{"LettersBelowC", {"A:=a.img", "B:=b.img"}, {"A:", "B:"}, ""},
        // Not a drive claim: a path that merely contains ":=".
        AssignCase{"DigitIsNoLetter", {"1:=a.img"}, {"C:"}, ""},
        AssignCase{"AllLettersCToZ", Plain(24), Letters('C', 'Z'), ""},
        AssignCase{"MoreSourcesThanLetters", Plain(25), {}, "more sources than drive letters"},
        AssignCase{"LetterTwice", {"D:=a.img", "d:=b.img"}, {}, "drive D: is given twice"},
        AssignCase{"EmptyClaim", {"D:="}, {}, "no path after 'D:='"},
        AssignCase{"EmptyPath", {""}, {}, "empty SOURCE"}),
    [](const ::testing::TestParamInfo<AssignCase>& p) { return std::string(p.param.label); });

TEST(SourceArgs, SplitDriveSpecKeepsThePathWhole)
{
    std::string drive;
    std::string path;
    ASSERT_TRUE(SplitDriveSpec("x:=images/a:=b.img", &drive, &path));
    EXPECT_EQ(drive, "X:");
    EXPECT_EQ(path, "images/a:=b.img");
    EXPECT_FALSE(SplitDriveSpec("C:", &drive, &path));
    EXPECT_FALSE(SplitDriveSpec("CC:=a", &drive, &path));
}

TEST(Json, QuoteEscapesWhatJsonForbids)
{
    EXPECT_EQ(JsonQuote("plain name.img"), "\"plain name.img\"");
    EXPECT_EQ(JsonQuote("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonQuote(std::string("x\n\t\x01\x7f", 5)), "\"x\\n\\t\\u0001\\u007f\"");
    EXPECT_EQ(JsonQuote("caf\xc3\xa9"), "\"caf\xc3\xa9\"");
}
