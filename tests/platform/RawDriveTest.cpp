// Registration of sources that hold no FAT, exFAT or NTFS volume: with the deep search each such
// source, or each such partition of its table, becomes a drive of file system "raw"; without it
// nothing changes. Images from tests/images/recipes/disks.sh and rawcarve.sh.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "platform/DriveDiscovery.h"
#include "platform/DriveTable.h"
#include "platform/LostVolumeDrives.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
// One drive as the test expects it; display is the source's path plus this suffix.
struct RawDrive
{
    std::string drive;
    std::string fileSystem;
    u64 offset = 0;
    u64 length = 0;
    std::string displaySuffix;
    std::string note;
};

struct RawSourceCase
{
    const char* name;
    std::string source; // an image of a recipe, or one SourcePath makes ("@zeros", ...)
    bool deep = true;
    std::vector<RawDrive> drives;
    std::string message; // the one message expected ("" when none); "@" stands for the path
};

void PrintTo(const RawSourceCase& c, std::ostream* out)
{
    *out << c.name;
}

const std::string kNoFs = "no file system: carved by contents";
constexpr u64 kMiB = 1 << 20;

class RawDriveTest : public testing::TestWithParam<RawSourceCase>
{
protected:
    void SetUp() override { g_DriveTable.Clear(); }
    void TearDown() override { g_DriveTable.Clear(); }
};

// The image of a recipe, or one made here: "@zeros" (1 MiB of zeros), "@tiny" (less than a
// sector), "@empty", "@cut" (see below).
std::string SourcePath(const std::string& source)
{
    if (source[0] != '@')
        return TestImage(source);
    const std::string path = ScratchDir("rawdrive") + "/" + source.substr(1) + ".img";
    if (source == "@cut")
    {
        // The table of disk_nofs, its partition cut short by the end of the image.
        fs::copy_file(TestImage("disk_nofs"), path, fs::copy_options::overwrite_existing);
        fs::resize_file(path, 3 * kMiB);
        return path;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (source == "@tiny")
        out << "shorter than one sector";
    out.close();
    if (source == "@zeros")
        fs::resize_file(path, kMiB);
    return path;
}

TEST_P(RawDriveTest, DeepSearchRegistersWhatHoldsNoVolumeRaw)
{
    const RawSourceCase& c = GetParam();
    const std::string path = SourcePath(c.source);
    ASSERT_FALSE(path.empty());
    std::vector<std::string> errors;
    std::vector<std::string> expected;
    for (const RawDrive& d : c.drives)
        expected.push_back(d.drive);
    EXPECT_EQ(AddCommandLineSources({path}, &errors, c.deep), expected);
    std::string message = c.message;
    if (const std::size_t at = message.find('@'); at != std::string::npos)
        message.replace(at, 1, path);
    EXPECT_EQ(errors,
              message.empty() ? std::vector<std::string>{} : std::vector<std::string>{message});
    for (const RawDrive& d : c.drives)
    {
        SCOPED_TRACE(d.drive);
        const std::optional<DriveSource> source = g_DriveTable.Find(d.drive);
        ASSERT_TRUE(source.has_value());
        EXPECT_EQ(source->fileSystem, d.fileSystem);
        EXPECT_EQ(source->offset, d.offset);
        EXPECT_EQ(source->length, d.length);
        EXPECT_EQ(source->display, path + d.displaySuffix);
        EXPECT_EQ(source->note, d.note);
    }
}

// The wizard registers its sources without the deep search; choosing it adds what only the deep
// search reads, once, beside what was there.
TEST(RawDriveWizardTest, DeepSearchChoiceAddsTheRawDrivesOnce)
{
    g_DriveTable.Clear();
    const std::string parts = TestImage("rawcarve_parts");
    const std::string zeros = SourcePath("@zeros");
    const std::string noDisks = ScratchDir("rawdrive-nodisks"); // no sysfs: no machine disk
    std::vector<std::string> errors;
    EXPECT_EQ(AddCommandLineSources({parts, zeros}, &errors), std::vector<std::string>{"C:"});
    errors.clear();
    EXPECT_EQ(AddLostVolumeDrives({parts, zeros}, &errors, noDisks, noDisks),
              (std::vector<std::string>{"D:", "E:", "F:"}));
    EXPECT_TRUE(errors.empty());
    std::vector<std::string> listed;
    for (const DriveSource& s : g_DriveTable.All())
        listed.push_back(s.drive + " " + s.fileSystem + " " + s.display);
    EXPECT_EQ(listed,
              (std::vector<std::string>{"C: FAT16 " + parts + " (partition 2)",
                                        "D: raw " + parts + " (partition 1)",
                                        "E: raw " + parts + " (partition 3)", "F: raw " + zeros}));
    EXPECT_TRUE(AddLostVolumeDrives({parts, zeros}, &errors, noDisks, noDisks).empty());
    g_DriveTable.Clear();
}

const std::vector<RawDrive> kParts = {
    {"C:", "raw", 2048 * 512, 4 * kMiB, " (partition 1)", "holds ext4: carved by contents"},
    {"D:", "FAT16", 10240 * 512, 8 * kMiB, " (partition 2)", ""},
    {"E:", "raw", 26624 * 512, 2 * kMiB, " (partition 3)", kNoFs},
};

INSTANTIATE_TEST_SUITE_P(
    Sources, RawDriveTest,
    testing::Values(
        RawSourceCase{
            "ZerosAreOneRawDrive", "@zeros", true, {{"C:", "raw", 0, kMiB, "", kNoFs}}, ""},
        RawSourceCase{"ZerosWithoutDeepAreRefused",
                      "@zeros",
                      false,
                      {},
                      "'@' holds no FAT, exFAT or NTFS volume"},
        RawSourceCase{"LessThanASectorIsRefused",
                      "@tiny",
                      true,
                      {},
                      "'@' holds no FAT, exFAT or NTFS volume"},
        RawSourceCase{
            "EmptyIsRefused", "@empty", true, {}, "'@' holds no FAT, exFAT or NTFS volume"},
        RawSourceCase{"PartitionWithoutFileSystemIsRaw",
                      "disk_nofs",
                      true,
                      {{"C:", "raw", 2048 * 512, 4 * kMiB, " (partition 1)", kNoFs}},
                      ""},
        RawSourceCase{"PartitionEndsWithTheImage",
                      "@cut",
                      true,
                      {{"C:", "raw", 2048 * 512, 2 * kMiB, " (partition 1)", kNoFs}},
                      ""},
        RawSourceCase{"EachPartitionOfAnotherFileSystemIsRaw", "rawcarve_parts", true, kParts, ""},
        RawSourceCase{"WithoutDeepOnlyTheFatPartition",
                      "rawcarve_parts",
                      false,
                      {{"C:", "FAT16", 10240 * 512, 8 * kMiB, " (partition 2)", ""}},
                      ""},
        RawSourceCase{"RecognisedPartitionsStayAsTheyAre",
                      "disk_mbr",
                      true,
                      {{"C:", "FAT16", 2048 * 512, 8 * kMiB, " (partition 1)", ""},
                       {"D:", "FAT32", 20480 * 512, 36 * kMiB, " (partition 5)", ""},
                       {"E:", "NTFS", 96256 * 512, 8 * kMiB, " (partition 6)", ""}},
                      ""},
        RawSourceCase{"ExtFourSourceIsOneRawDrive",
                      "rawcarve_ext4",
                      true,
                      {{"C:", "raw", 0, 36 * kMiB, "", "holds ext4: carved by contents"}},
                      ""}),
    [](const testing::TestParamInfo<RawSourceCase>& param)
    { return std::string(param.param.name); });
} // namespace
