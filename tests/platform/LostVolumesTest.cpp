// The search for lost volumes on whole-disk images built by sfdisk, mkfs.fat + mtools, mkntfs +
// libntfs-3g and mkfs.exfat, then damaged by dd (tests/images/recipes/lostvol.sh): the volumes
// found where the table no longer lists them match the intact table (checked against mmls) and
// The Sleuth Kit's fsstat at their offsets; the search's caps hold.
#include "platform/LostVolumes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <ostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "platform/DriveDiscovery.h"
#include "platform/DriveTable.h"
#include "platform/LostVolumeDrives.h"
#include "support/TestImages.h"

namespace
{
struct ExpectedVolume
{
    u64 sector;    // offset in 512-byte sectors
    u64 sectors;   // length
    u32 partition; // 0 for a lost volume
    const char* fileSystem;
    const char* label;
    const char* note; // "" when none; a prefix of the note otherwise
};

struct LayoutCase
{
    const char* image;
    bool deep;
    std::vector<ExpectedVolume> volumes;
};

void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << c.image << (c.deep ? " deep" : "");
}

constexpr ExpectedVolume kFat32{2048, 73728, 1, "FAT32", "LOSTFAT32", ""};
constexpr ExpectedVolume kNtfs{75776, 32768, 2, "NTFS", "LostNtfs", ""};
constexpr ExpectedVolume kExfat{108544, 32768, 3, "exFAT", "LOSTEXFAT", ""};

ExpectedVolume Lost(ExpectedVolume v, const char* label = nullptr, const char* note = "")
{
    v.partition = 0;
    if (label != nullptr)
        v.label = label;
    v.note = note;
    return v;
}

// The Sleuth Kit's name of the file system at a sector offset ("FAT32", "NTFS", "exFAT").
std::string FsstatType(const std::string& image, u64 sector)
{
    std::string out;
    RunCommand("fsstat -o " + std::to_string(sector) + " '" + image + "' 2>&1", &out);
    std::smatch m;
    static const std::regex kType(R"(File System Type:\s*(\S+))");
    return std::regex_search(out, m, kType) ? m[1].str() : std::string();
}

class LostVolumeLayoutTest : public ::testing::TestWithParam<LayoutCase>
{
};

TEST_P(LostVolumeLayoutTest, VolumesAsTheIntactTableHadThem)
{
    const LayoutCase& c = GetParam();
    const std::string image = TestImage(c.image);
    ASSERT_FALSE(image.empty());
    SourceLayout layout;
    int err = -1;
    ASSERT_EQ(ReadSourceLayout(image, true, &layout, &err, c.deep), 0u);
    EXPECT_FALSE(layout.lostSearchCut);
    ASSERT_EQ(layout.volumes.size(), c.volumes.size());
    for (std::size_t i = 0; i < c.volumes.size(); ++i)
    {
        const SourceVolume& v = layout.volumes[i];
        const ExpectedVolume& e = c.volumes[i];
        SCOPED_TRACE("volume at sector " + std::to_string(e.sector));
        EXPECT_EQ(v.offset, e.sector * 512);
        EXPECT_EQ(v.length, e.sectors * 512);
        EXPECT_EQ(v.partition, e.partition);
        EXPECT_EQ(v.lost, e.partition == 0);
        EXPECT_EQ(v.info.fileSystem, e.fileSystem);
        EXPECT_EQ(v.info.label, e.label);
        EXPECT_EQ(v.info.note.rfind(e.note, 0), 0u) << v.info.note;
        EXPECT_EQ(v.info.note.empty(), *e.note == '\0') << v.info.note;
        // Where the boot sector survives, The Sleuth Kit reads the same file system there.
        if (*e.note == '\0')
        {
            EXPECT_EQ(FsstatType(image, e.sector), e.fileSystem);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, LostVolumeLayoutTest,
    ::testing::Values(LayoutCase{"lostvol_disk", true, {kFat32, kNtfs, kExfat}},
                      LayoutCase{"lostvol_nombr", false, {}},
                      LayoutCase{"lostvol_nombr", true, {Lost(kFat32), Lost(kNtfs), Lost(kExfat)}},
                      LayoutCase{"lostvol_partial", false, {kFat32}},
                      LayoutCase{"lostvol_partial", true, {kFat32, Lost(kNtfs), Lost(kExfat)}},
                      LayoutCase{"lostvol_backups",
                                 true,
                                 {Lost(kFat32, "", kLostBackupNote),
                                  Lost(kNtfs, "", kLostBackupNote),
                                  Lost(kExfat, "", kExfatBackupNote)}},
                      LayoutCase{"lostvol_random", true, {}}),
    [](const auto& tp)
    { return std::string(tp.param.image) + (tp.param.deep ? "_deep" : "_plain"); });

// The volumes found on the disk whose MBR is zeroed lie exactly where mmls sees the partitions
// of the intact disk.
TEST(LostVolumeSearchTest, FindsWhatMmlsListsOnTheIntactDisk)
{
    const std::string intact = TestImage("lostvol_disk");
    const std::string zeroed = TestImage("lostvol_nombr");
    ASSERT_FALSE(intact.empty());
    ASSERT_FALSE(zeroed.empty());
    std::string mmls;
    ASSERT_EQ(RunCommand("mmls '" + intact + "' 2>&1", &mmls), 0) << mmls;
    SourceLayout layout;
    int err = 0;
    ASSERT_EQ(ReadSourceLayout(zeroed, true, &layout, &err, true), 0u);
    ASSERT_EQ(layout.volumes.size(), 3u);
    for (const SourceVolume& v : layout.volumes)
    {
        const std::regex row("\\n\\d+:\\s+\\d+:\\d+\\s+0*" + std::to_string(v.offset / 512) +
                             "\\s+\\d+\\s+0*" + std::to_string(v.length / 512) + "\\s");
        EXPECT_TRUE(std::regex_search(mmls, row)) << v.offset / 512 << "\n" << mmls;
    }
}

// The caps: a search that may read only so many sectors, or list only so many volumes, stops and
// says where; a volume that overlaps a range given is left out.
TEST(LostVolumeSearchTest, CapsAndTakenRangesBoundTheSearch)
{
    const std::string image = TestImage("lostvol_nombr");
    ASSERT_FALSE(image.empty());
    std::ifstream file(image, std::ios::binary);
    const u64 size = 80 * 1024 * 1024;
    u64 reads = 0;
    DiskReadFn read = [&](u64 offset, void* buffer, u32 length)
    {
        ++reads;
        if (offset > size || length > size - offset)
            return false;
        file.clear();
        file.seekg(static_cast<std::streamoff>(offset));
        return static_cast<bool>(file.read(static_cast<char*>(buffer), length));
    };
    struct Case
    {
        u64 maxSectors;
        u32 maxVolumes;
        std::vector<DiskRange> taken;
        std::vector<u64> found; // sectors
        bool cut;
    };
    const DiskRange insideFat{u64{4096} * 512, u64{1024} * 512};
    const std::vector<Case> cases = {
        {kMaxLostVolumeSectors, kMaxLostVolumes, {}, {2048, 75776, 108544}, false},
        {kMaxLostVolumeSectors, 1, {}, {2048}, true},
        {100, kMaxLostVolumes, {}, {}, true},
        {kMaxLostVolumeSectors, kMaxLostVolumes, {insideFat}, {75776, 108544}, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(std::to_string(c.maxSectors) + " sectors, " + std::to_string(c.maxVolumes) +
                     " volumes");
        reads = 0;
        const LostVolumeSearch s = FindLostVolumes(read, size, c.taken, c.maxSectors, c.maxVolumes);
        std::vector<u64> found;
        for (const LostVolume& v : s.volumes)
            found.push_back(v.offset / 512);
        EXPECT_EQ(found, c.found);
        EXPECT_EQ(s.cut, c.cut);
        EXPECT_LE(s.sectorsRead, c.maxSectors);
        EXPECT_LE(reads, s.sectorsRead);
        if (c.cut)
        {
            EXPECT_GT(s.stoppedAt, 0u);
        }
    }
}
} // namespace

namespace
{
// Sectors of the intact disk laid at chosen places of an otherwise zero disk in memory: a boot
// sector copied 6 (FAT32) or 12 (exFAT) sectors after an unaligned one is a backup, not a volume
// of its own; a volume that claims more than the disk holds ends at the disk's end.
TEST(LostVolumeSearchTest, BackupCopiesAreNoVolumesAndLengthsStopAtTheDiskEnd)
{
    const std::vector<u8> disk = ReadWholeFile(TestImage("lostvol_disk"));
    ASSERT_EQ(disk.size(), u64{80} * 1024 * 1024);
    struct Put
    {
        u64 to;    // sector of the made-up disk
        u64 from;  // first sector of the intact disk
        u64 count; // sectors
    };
    struct Case
    {
        const char* label;
        u64 sectors; // of the made-up disk
        std::vector<Put> puts;
        std::vector<std::pair<u64, u64>> found; // (sector, sectors)
    };
    const std::vector<Case> cases = {
        {"FAT32 at 2042, its backup at 2048", 80000, {{2042, 2048, 1}, {2048, 2048, 1}}, {}},
        {"exFAT at 2036, its backup region at 2048",
         80000,
         {{2036, 108544, 12}, {2048, 108544, 12}},
         {}},
        {"FAT32 claiming more than the disk", 40000, {{2048, 2048, 1}}, {{2048, 40000 - 2048}}},
        {"NTFS backup alone", 120000, {{2048 + 32767, 75776 + 32767, 1}}, {{2048, 32768}}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::map<u64, const u8*> placed;
        for (const Put& put : c.puts)
            for (u64 k = 0; k < put.count; ++k)
                placed[put.to + k] = disk.data() + (put.from + k) * 512;
        DiskReadFn read = [&](u64 offset, void* buffer, u32 length)
        {
            if (offset % 512 != 0 || length % 512 != 0 || offset / 512 + length / 512 > c.sectors)
                return false;
            auto* out = static_cast<u8*>(buffer);
            for (u32 at = 0; at < length; at += 512)
            {
                const auto it = placed.find(offset / 512 + at / 512);
                if (it == placed.end())
                    std::memset(out + at, 0, 512);
                else
                    std::memcpy(out + at, it->second, 512);
            }
            return true;
        };
        std::vector<std::pair<u64, u64>> found;
        for (const LostVolume& v : FindLostVolumes(read, c.sectors * 512, {}).volumes)
            found.emplace_back(v.offset / 512, v.length / 512);
        EXPECT_EQ(found, c.found);
    }
}

// What the wizard's deep search adds to a drive table filled without it: the lost volumes of the
// sources, under the next free letters, once however often it is asked.
TEST(LostVolumeDrivesTest, LostVolumesJoinTheDriveTableOnce)
{
    const std::string zeroed = TestImage("lostvol_nombr");
    const std::string partial = TestImage("lostvol_partial");
    ASSERT_FALSE(zeroed.empty());
    ASSERT_FALSE(partial.empty());
    const std::string noDisks = ScratchDir("lostvol-nodisks"); // no sysfs: no machine disk
    g_DriveTable.Clear();
    std::vector<std::string> errors;
    EXPECT_EQ(AddCommandLineSources({zeroed, partial}, &errors), std::vector<std::string>{"C:"});
    errors.clear();
    const std::vector<std::string> added =
        AddLostVolumeDrives({zeroed, "Q:=" + partial}, &errors, noDisks, noDisks);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(added, (std::vector<std::string>{"D:", "E:", "F:", "G:", "H:"}));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"C:", partial + " (partition 1)"},
        {"D:", zeroed + " (lost volume at sector 2048)"},
        {"E:", zeroed + " (lost volume at sector 75776)"},
        {"F:", zeroed + " (lost volume at sector 108544)"},
        {"G:", partial + " (lost volume at sector 75776)"},
        {"H:", partial + " (lost volume at sector 108544)"}};
    std::vector<std::pair<std::string, std::string>> listed;
    for (const DriveSource& s : g_DriveTable.All())
        listed.emplace_back(s.drive, s.display);
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(AddLostVolumeDrives({zeroed, partial}, &errors, noDisks, noDisks).empty());
    EXPECT_EQ(g_DriveTable.All().size(), expected.size());
    g_DriveTable.Clear();
}
} // namespace
