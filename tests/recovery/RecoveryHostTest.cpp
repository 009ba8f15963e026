// The check that keeps a recovery off the volume it reads, over a fake system: block devices,
// whole disks with partition offsets, image files, and destinations not made yet.
#include <gtest/gtest.h>

#include <map>

#include "recovery/RecoveryFixture.h"

using namespace recoverytest;

namespace
{
constexpr u64 kSdb = 0x0810;  // whole disk
constexpr u64 kSdb1 = 0x0811; // its partition at sector 2048
constexpr u64 kSdb2 = 0x0812; // its partition at sector 206848
constexpr u64 kRootFs = 0x0801;
constexpr u64 kLoop0 = 0x0700;     // loop device over /images/disk.img
constexpr u64 kLoop0p1 = 0x0701;   // its partition at byte 1 MiB
constexpr u64 kFuseImage = 0x0031; // a FUSE mount of /images/disk.img itself
constexpr u64 kFuseSdb1 = 0x0032;  // a FUSE mount of /dev/sdb1 (not as fuseblk)
constexpr u64 kFuseLoop = 0x0033;  // a FUSE mount of /dev/loop0

// A small fake system: paths with their facts, and the partitions of kSdb.
class FakeSystem
{
public:
    FakeSystem()
    {
        m_paths["/dev/sdb"] = PathFacts{false, true, 5, kSdb};
        m_paths["/dev/sdb1"] = PathFacts{false, true, 5, kSdb1};
        m_paths["/dev/sdb2"] = PathFacts{false, true, 5, kSdb2};
        m_paths["/"] = PathFacts{true, false, kRootFs, 0};
        m_paths["/images"] = PathFacts{true, false, kRootFs, 0};
        m_paths["/images/disk.img"] = PathFacts{false, false, kRootFs, 0, 77};
        m_paths["/images/other.img"] = PathFacts{false, false, kRootFs, 0, 78};
        m_paths["/mnt/loop"] = PathFacts{true, false, kLoop0, 0, 1};
        m_paths["/mnt/loopp1"] = PathFacts{true, false, kLoop0p1, 0, 1};
        m_paths["/mnt/one"] = PathFacts{true, false, kSdb1, 0};
        m_paths["/mnt/one/deep"] = PathFacts{true, false, kSdb1, 0};
        m_paths["/mnt/two"] = PathFacts{true, false, kSdb2, 0};
        m_paths["/mnt/whole"] = PathFacts{true, false, kSdb, 0};
        m_paths["/dev/loop0"] = PathFacts{false, true, 5, kLoop0};
        m_paths["/mnt/fuse-image"] = PathFacts{true, false, kFuseImage, 0, 1};
        m_paths["/mnt/fuse-sdb1"] = PathFacts{true, false, kFuseSdb1, 0, 1};
        m_paths["/mnt/fuse-loop"] = PathFacts{true, false, kFuseLoop, 0, 1};
        m_host.mountSources = [](u64 device)
        {
            std::vector<std::string> sources;
            if (device == kFuseImage)
                sources = {"/images/disk.img"};
            else if (device == kFuseSdb1)
                sources = {"/dev/sdb1"};
            else if (device == kFuseLoop)
                sources = {"/dev/loop0"};
            else if (device == kRootFs)
                sources = {"/dev/root", "tmpfs"};
            return sources;
        };
        m_host.stat = [this](const std::string& path) -> std::optional<PathFacts>
        {
            auto it = m_paths.find(path);
            if (it == m_paths.end())
                return std::nullopt;
            return it->second;
        };
        m_host.partitions = [](u64 disk)
        {
            std::vector<PartitionFacts> parts;
            if (disk == kSdb)
                parts = {{kSdb1, 2048}, {kSdb2, 206848}};
            return parts;
        };
        m_host.loopBacking = [](u64 device) -> std::optional<LoopFacts>
        {
            if (device == kLoop0)
                return LoopFacts{"/images/disk.img", 0};
            if (device == kLoop0p1)
                return LoopFacts{"/images/disk.img", 1 << 20};
            return std::nullopt;
        };
    }
    FakeHost m_host;
    std::map<std::string, PathFacts> m_paths;
};

struct ClashCase
{
    const char* name;
    const char* source;
    u64 offset;
    const char* destination;
    bool clash;
};
void PrintTo(const ClashCase& c, std::ostream* os)
{
    *os << c.name;
}
} // namespace

class DestinationIsSourceTest : public ::testing::TestWithParam<ClashCase>
{
};

TEST_P(DestinationIsSourceTest, ComparesTheDestinationFileSystemWithTheSourceVolume)
{
    FakeSystem system;
    const ClashCase& c = GetParam();
    DriveSource source;
    source.drive = "E:";
    source.path = c.source;
    source.offset = c.offset;
    EXPECT_EQ(DestinationIsSource(system.m_host, c.destination, source), c.clash);
}

INSTANTIATE_TEST_SUITE_P(
    RecoveryHost, DestinationIsSourceTest,
    ::testing::Values(
        ClashCase{"PartitionDeviceOntoItself", "/dev/sdb1", 0, "/mnt/one/rescue", true},
        ClashCase{"NotYetMadeLevelsUseTheNearestFolder", "/dev/sdb1", 0, "/mnt/one/deep/a/b/c",
                  true},
        ClashCase{"OtherPartitionOfTheSameDisk", "/dev/sdb1", 0, "/mnt/two/rescue", false},
        ClashCase{"OtherDisk", "/dev/sdb1", 0, "/images/rescue", false},
        ClashCase{"WholeDiskWithOffsetOntoThatPartition", "/dev/sdb", 2048 * 512, "/mnt/one/x",
                  true},
        ClashCase{"WholeDiskWithOffsetOntoAnotherPartition", "/dev/sdb", 2048 * 512, "/mnt/two/x",
                  false},
        ClashCase{"WholeDiskOffsetMatchingNoPartition", "/dev/sdb", 4096 * 512, "/mnt/one/x",
                  false},
        ClashCase{"WholeDiskFileSystemOntoItself", "/dev/sdb", 0, "/mnt/whole/x", true},
        ClashCase{"ImageFileBesideItself", "/images/disk.img", 0, "/images/rescue", false},
        ClashCase{"ImageFileOnAMountedPartition", "/images/disk.img", 0, "/mnt/one", false},
        ClashCase{"SourceMissing", "/dev/gone", 0, "/mnt/one", false},
        ClashCase{"ImageMountedThroughALoopDevice", "/images/disk.img", 0, "/mnt/loop/x", true},
        ClashCase{"ImagePartitionMountedThroughALoopDevice", "/images/disk.img", 1 << 20,
                  "/mnt/loopp1/x", true},
        ClashCase{"ImageLoopPartitionAtAnotherOffset", "/images/disk.img", 0, "/mnt/loopp1", false},
        ClashCase{"OtherImageMounted", "/images/other.img", 0, "/mnt/loop", false},
        ClashCase{"ImageFileMountedByAFuseDriver", "/images/disk.img", 0, "/mnt/fuse-image/x",
                  true},
        ClashCase{"ImagePartitionInsideAFuseMountedImage", "/images/disk.img", 1 << 20,
                  "/mnt/fuse-image", true},
        ClashCase{"OtherImageBesideAFuseMount", "/images/other.img", 0, "/mnt/fuse-image", false},
        ClashCase{"DeviceMountedByAFuseDriver", "/dev/sdb1", 0, "/mnt/fuse-sdb1/x", true},
        ClashCase{"LoopDeviceOverTheImageMountedByAFuseDriver", "/images/disk.img", 0,
                  "/mnt/fuse-loop", true}),
    [](const ::testing::TestParamInfo<ClashCase>& p) { return std::string(p.param.name); });

TEST(RecoveryHost, MountSourcesComeFromTheLinesOfTheDevice)
{
    const std::string table =
        "22 1 0:21 / /proc rw,nosuid shared:5 - proc proc rw\n"
        "36 22 0:49 / /mnt/my\\040img rw,nosuid master:1 - fuse /srv/disk\\040one.img rw\n"
        "37 22 0:49 / /mnt/again rw - fuse /srv/b\\134c.img rw\n"
        "38 22 8:17 / /mnt/one rw - ext4 /dev/sdb1 rw\n"
        "39 22 0:49 / /broken rw\n";
    EXPECT_EQ(ParseMountSources(table, 49),
              (std::vector<std::string>{"/srv/disk one.img", "/srv/b\\c.img"}));
    EXPECT_EQ(ParseMountSources(table, (8u << 8) | 17u), (std::vector<std::string>{"/dev/sdb1"}));
    EXPECT_TRUE(ParseMountSources(table, 99).empty());
}

TEST(RecoveryHost, NearestExistingWalksUpToAFolderThatExists)
{
    FakeSystem system;
    EXPECT_EQ(NearestExisting(system.m_host, "/mnt/one/deep/a/b"), "/mnt/one/deep");
    EXPECT_EQ(NearestExisting(system.m_host, "/mnt/one"), "/mnt/one");
    EXPECT_EQ(NearestExisting(system.m_host, "/nowhere/x"), "/");
    EXPECT_EQ(NearestExisting(system.m_host, "relative/x"), ".");
    EXPECT_EQ(NearestExisting(system.m_host, "/mnt/one//x/"), "/mnt/one");
}

TEST(RecoveryHost, SystemHostAnswersForRealPaths)
{
    IRecoveryHost& host = SystemRecoveryHost();
    u64 blockSize = 0;
    u64 freeBlocks = 0;
    EXPECT_TRUE(host.FreeSpace("/", &blockSize, &freeBlocks));
    EXPECT_GT(blockSize, 0u);
    EXPECT_FALSE(host.FreeSpace("/no/such/folder", &blockSize, &freeBlocks));
    std::optional<PathFacts> root = host.Stat("/");
    ASSERT_TRUE(root.has_value());
    EXPECT_TRUE(root->isDirectory);
    EXPECT_FALSE(host.Stat("/no/such/folder").has_value());
    EXPECT_TRUE(host.Partitions(0).empty());
}
