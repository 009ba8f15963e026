// Safe native names, folder mapping, exclusive creation and the resident value of a record.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/ByteOrder.h"
#include "platform/Status.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryFixture.h"

using namespace recoverytest;

namespace
{
struct NameCase
{
    std::string in;
    std::string out;
};
} // namespace

TEST(RecoveryNames, SafeNameKeepsEveryNameInsideItsFolder)
{
    const NameCase cases[] = {
        {"report.txt", "report.txt"},
        {"caf\xC3\xA9 \xC3\xBC.txt", "caf\xC3\xA9 \xC3\xBC.txt"},
        {".", "_."},
        {"..", "_.."},
        {"...", "..."},
        {"", "_"},
        {"a/b", "a_b"},
        {"../../etc/passwd", ".._.._etc_passwd"},
        {std::string("nul\0in", 6), "nul_in"},
        {"tab\there\x7F", "tab_here_"},
        {"back\\slash", "back\\slash"},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(SafeName(c.in), c.out) << c.in;
}

TEST(RecoveryNames, MapFolderTurnsCatalogueLevelsIntoSafeNativeLevels)
{
    EXPECT_EQ(MapFolder("C:\\docs", "C:\\docs", "/d/docs"), "/d/docs");
    EXPECT_EQ(MapFolder("C:\\docs\\a\\b", "C:\\docs", "/d/docs"), "/d/docs/a/b");
    EXPECT_EQ(MapFolder("C:\\docs\\..\\x/y", "C:\\docs", "/d/docs"), "/d/docs/_../x_y");
    EXPECT_EQ(MapFolder("C:\\docs\\\\.", "C:\\docs", "/d/docs"), "/d/docs/_/_.");
}

TEST(RecoveryNames, FitNameShortensAtACharacterAndKeepsTheExtension)
{
    const std::string cjk = []
    {
        std::string s;
        for (int i = 0; i < 128; ++i)
            s += "\xE6\x96\x87"; // U+6587, three bytes
        return s;
    }();
    struct FitCase
    {
        std::string name;
        u32 max;
        std::size_t size;   // bytes of the result
        std::string suffix; // what it ends with
    };
    const FitCase cases[] = {
        {"short.txt", 255, 9, "short.txt"},
        {std::string(255, 'a'), 255, 255, "aaa"},
        {std::string(300, 'a') + ".txt", 255, 255, ".txt"},
        {cjk + ".txt", 255, 0, ".txt"},
        {cjk, 255, 0, ""},
        {std::string(300, 'a') + "." + std::string(40, 'e'), 255, 255, ""},
        {std::string(30, 'a') + ".txt", 10, 10, ""},
    };
    for (const FitCase& c : cases)
    {
        const std::string fitted = FitName(c.name, c.max);
        SCOPED_TRACE(c.name.substr(0, 40));
        EXPECT_LE(fitted.size(), c.max);
        if (c.size != 0)
        {
            EXPECT_EQ(fitted.size(), c.size);
        }
        EXPECT_TRUE(fitted.ends_with(c.suffix)) << fitted;
        EXPECT_EQ(fitted, FitName(c.name, c.max)) << "the same name always fits the same way";
        // Whole UTF-8 characters only: no lead byte without its continuation bytes.
        std::size_t at = fitted.find('~') == std::string::npos ? fitted.size() : fitted.find('~');
        EXPECT_EQ(fitted.substr(0, at).size() % (c.name == cjk || c.name == cjk + ".txt" ? 3 : 1),
                  0u);
    }
    // Two long names that share their first 255 bytes stay apart.
    EXPECT_NE(FitName(std::string(300, 'a') + "1.txt", 255),
              FitName(std::string(300, 'a') + "2.txt", 255));
    EXPECT_EQ(MapLevels("C:\\d\\" + std::string(300, 'b'), "C:\\d").at(0).size(), 255u);
}

TEST(RecoveryNames, CreateFreshFileNeverReplacesOrFollows)
{
    const std::string dir = ScratchDir("fresh");
    const std::string outside = ScratchDir("fresh-outside") + "/victim";
    WriteText(dir + "/a.txt", "keep");
    WriteText(dir + "/New a.txt", "keep new");
    ASSERT_EQ(::symlink(outside.c_str(), (dir + "/New (2) a.txt").c_str()), 0);

    std::string path;
    int error = 0;
    int fd = CreateFreshFile(dir, "a.txt", false, &path, &error);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(path, dir + "/New (3) a.txt");
    EXPECT_EQ(ReadText(dir + "/a.txt"), "keep");
    EXPECT_EQ(ReadText(dir + "/New a.txt"), "keep new");
    EXPECT_FALSE(std::filesystem::exists(outside)) << "a planted link was followed";

    fd = CreateFreshFile(dir, "b.txt", false, &path, &error);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(path, dir + "/b.txt");

    // A name listed earlier starts at "New " even when the plain name is free by now.
    fd = CreateFreshFile(dir, "c.txt", true, &path, &error);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(path, dir + "/New c.txt");
    EXPECT_FALSE(std::filesystem::exists(dir + "/c.txt"));

    EXPECT_EQ(CreateFreshFile(dir + "/missing", "c.txt", false, &path, &error), -1);
    EXPECT_EQ(error, ENOENT);
}

namespace
{
// A 1024-byte record whose update sequence array at 0x30 holds number 0x0007 and the two
// original end words 0xAAAA and 0xBBBB, with the halves' end words replaced by the number.
std::vector<u8> Record()
{
    std::vector<u8> r(1024);
    std::memcpy(r.data(), "FILE", 4);
    StoreLe16(&r[4], 0x30);
    StoreLe16(&r[6], 3);
    StoreLe16(&r[0x30], 0x0007);
    StoreLe16(&r[0x32], 0xAAAA);
    StoreLe16(&r[0x34], 0xBBBB);
    StoreLe16(&r[510], 0x0007);
    StoreLe16(&r[1022], 0x0007);
    return r;
}

struct ResidentCase
{
    const char* name;
    u32 offset;
    u64 size;
    u32 status;
    u32 start;
    u32 length;
};
void PrintTo(const ResidentCase& c, std::ostream* os)
{
    *os << c.name;
}
} // namespace

class ResidentValue : public ::testing::TestWithParam<ResidentCase>
{
};

TEST_P(ResidentValue, IsBoundedToItsRecord)
{
    const ResidentCase& c = GetParam();
    std::vector<u8> r = Record();
    u32 start = 99;
    u32 length = 99;
    EXPECT_EQ(ExtractResidentValue(r.data(), 1024, c.offset, c.size, &start, &length), c.status);
    EXPECT_EQ(start, c.start);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(LoadLe16(&r[510]), 0xAAAA);
    EXPECT_EQ(LoadLe16(&r[1022]), 0xBBBB);
}

INSTANTIATE_TEST_SUITE_P(
    RecoveryNames, ResidentValue,
    ::testing::Values(ResidentCase{"Inside", 0x98, 100, kOk, 0x98, 100},
                      ResidentCase{"Empty", 0x98, 0, kOk, 0x98, 0},
                      ResidentCase{"EndsAtRecordEnd", 1000, 24, kOk, 1000, 24},
                      ResidentCase{"SizePastEnd", 1000, 25, kErrBadNtfs, 1000, 24},
                      ResidentCase{"HugeSize", 0x98, 1ull << 40, kErrBadNtfs, 0x98, 1024 - 0x98},
                      ResidentCase{"OffsetPastEnd", 0xFFFF, 10, kErrBadNtfs, 1024, 0}),
    [](const ::testing::TestParamInfo<ResidentCase>& p) { return std::string(p.param.name); });

TEST(RecoveryNames, ResidentFixupIsSkippedWhenTheArrayLiesOutsideOrDoesNotMatch)
{
    std::vector<u8> r = Record();
    StoreLe16(&r[4], 1020); // array would run past the record
    u32 start = 0;
    u32 length = 0;
    (void)ExtractResidentValue(r.data(), 1024, 0, 8, &start, &length);
    EXPECT_EQ(LoadLe16(&r[510]), 0x0007);
    EXPECT_EQ(LoadLe16(&r[1022]), 0x0007);

    // A torn record keeps both halves as read: patching the second half alone mixed two writes.
    r = Record();
    StoreLe16(&r[510], 0x1234);
    (void)ExtractResidentValue(r.data(), 1024, 0, 8, &start, &length);
    EXPECT_EQ(LoadLe16(&r[510]), 0x1234);
    EXPECT_EQ(LoadLe16(&r[1022]), 0x0007);
}
