// FatBootSector: BPB checks, FAT type decision, geometry and cluster limits on crafted boot
// sectors, and the geometry of real mkfs.fat volumes against The Sleuth Kit's fsstat.
#include "fat/FatBootSector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <regex>
#include <sstream>
#include <string>

#include "fat/FatTestVolume.h"
#include "support/TestImages.h"

namespace
{
struct Parsed
{
    FatBootSector boot;
    bool ok = false;
};

Parsed ParseFields(const BpbFields& f)
{
    Parsed p;
    const auto sector = MakeBootSector(f);
    p.ok = p.boot.Parse(sector.data() + 11);
    return p;
}

u32 TypeOf(const FatBootSector& boot)
{
    u32 type = 0;
    (void)boot.GetFatType(&type);
    return type;
}

// The cluster limit lowered one value at a time, as the volume bound is defined: the first
// value, going down, whose first sector lies inside the volume or that has no sector.
u64 LimitByStepping(const FatBootSector& boot)
{
    u64 value = boot.GetClusterLimit(false);
    while (value != 0)
    {
        s64 sector = static_cast<s64>(value);
        if (!boot.ClusterToSector(&sector) || static_cast<u64>(sector) < boot.GetTotalSectors())
            break;
        --value;
    }
    return value;
}

TEST(FatBootSectorTest, NewObjectIsNotValid)
{
    FatBootSector boot;
    u32 type = 0;
    EXPECT_EQ(boot.GetFatType(&type), 0u);
    EXPECT_EQ(type, 7u);
    EXPECT_EQ(boot.GetBytesPerSector(), 0xFFFFFFFFu);
    EXPECT_EQ(boot.GetTotalSectors(), ~0ull);
    s64 cluster = 5;
    EXPECT_FALSE(boot.ClusterToSector(&cluster));
    EXPECT_EQ(cluster, 5);
    u64 sector = 0;
    u32 count = 0;
    EXPECT_FALSE(boot.GetRootDir(&sector, &count));
    EXPECT_FALSE(boot.GetFatLocation(&sector, &count, &count));
    EXPECT_FALSE(boot.Parse(nullptr));
}

struct TypeCase
{
    u64 clusters;
    u32 type;
};

class FatBootSectorTypeTest : public ::testing::TestWithParam<TypeCase>
{
};

// Cluster count = total - reserved - FAT area - root directory sectors, one sector a cluster.
TEST_P(FatBootSectorTypeTest, ClusterCountDecidesType)
{
    BpbFields f;
    f.reservedSectors = 1;
    f.fatCount = 2;
    f.fatSectors16 = 256;
    f.rootEntryCount = 512; // 32 sectors
    f.totalSectors16 = 0;
    f.totalSectors32 = static_cast<u32>(1 + 2 * 256 + 32 + GetParam().clusters);
    Parsed p = ParseFields(f);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(TypeOf(p.boot), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, FatBootSectorTypeTest,
                         ::testing::Values(TypeCase{1, 1}, TypeCase{4084, 1}, TypeCase{4085, 2},
                                           TypeCase{65524, 2}, TypeCase{65525, 3},
                                           TypeCase{1000000, 3}));

struct CheckCase
{
    const char* what;
    BpbFields fields;
    bool valid;
};

BpbFields With(void (*change)(BpbFields&))
{
    BpbFields f;
    change(f);
    return f;
}

class FatBootSectorCheckTest : public ::testing::TestWithParam<CheckCase>
{
};

TEST_P(FatBootSectorCheckTest, ParseAcceptsOnlyUsableGeometry)
{
    Parsed p = ParseFields(GetParam().fields);
    EXPECT_EQ(p.ok, GetParam().valid) << GetParam().what;
    u32 type = 0;
    EXPECT_EQ(p.boot.GetFatType(&type), GetParam().valid ? 1u : 0u);
    if (!GetParam().valid)
    {
        EXPECT_EQ(type, 7u);
        EXPECT_EQ(p.boot.GetBytesPerSector(), 0xFFFFFFFFu);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bpb, FatBootSectorCheckTest,
    ::testing::Values(
        CheckCase{"defaults", BpbFields{}, true},
        CheckCase{"bps 0", With([](BpbFields& f) { f.bytesPerSector = 0; }), false},
        CheckCase{"bps 520", With([](BpbFields& f) { f.bytesPerSector = 520; }), false},
        CheckCase{"bps 1024", With([](BpbFields& f) { f.bytesPerSector = 1024; }), true},
        CheckCase{"bps 2048", With([](BpbFields& f) { f.bytesPerSector = 2048; }), true},
        CheckCase{"bps 4096", With([](BpbFields& f) { f.bytesPerSector = 4096; }), true},
        CheckCase{"bps 8192", With([](BpbFields& f) { f.bytesPerSector = 8192; }), false},
        CheckCase{"bps 0xFE00", With([](BpbFields& f) { f.bytesPerSector = 0xFE00; }), false},
        CheckCase{"spc 0", With([](BpbFields& f) { f.sectorsPerCluster = 0; }), false},
        CheckCase{"spc 3", With([](BpbFields& f) { f.sectorsPerCluster = 3; }), false},
        CheckCase{"spc 128", With([](BpbFields& f) { f.sectorsPerCluster = 128; }), true},
        CheckCase{"spc 255", With([](BpbFields& f) { f.sectorsPerCluster = 255; }), false},
        CheckCase{"no total", With([](BpbFields& f) { f.totalSectors32 = 0; }), false},
        // 1 reserved + 2 * 32 FAT + 32 root = 97 sectors of overhead.
        CheckCase{"total == overhead", With([](BpbFields& f) { f.totalSectors32 = 97; }), false},
        CheckCase{"total == overhead + 1", With([](BpbFields& f) { f.totalSectors32 = 98; }), true},
        // 0x80000000 * 2 FATs wraps to 0 in 32 bits and would leave room for data.
        CheckCase{"FAT area past 2^32",
                  With(
                      [](BpbFields& f)
                      {
                          f.fatSectors16 = 0;
                          f.fatSectors32 = 0x80000000u;
                          f.totalSectors32 = 0xFFFFFFFFu;
                      }),
                  false},
        CheckCase{"no FAT copies", With([](BpbFields& f) { f.fatCount = 0; }), true}));

TEST(FatBootSectorTest, Fat16GeometryAndRootDirectory)
{
    BpbFields f; // 512-byte sectors, 1 reserved, 2 FATs of 32 sectors, 512 root entries
    f.sectorsPerCluster = 2;
    f.fatSectors32 = 999; // ignored: fatSectors16 is set
    Parsed p = ParseFields(f);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(TypeOf(p.boot), 2u); // (10000 - 97) / 2 = 4951 clusters
    u64 first = 0;
    u32 size = 0;
    u32 count = 0;
    ASSERT_TRUE(p.boot.GetFatLocation(&first, &size, &count));
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(size, 32u);
    EXPECT_EQ(count, 2u);
    u64 root = 0;
    u32 entries = 0;
    ASSERT_TRUE(p.boot.GetRootDir(&root, &entries));
    EXPECT_EQ(root, 65u);
    EXPECT_EQ(entries, 512u);
    EXPECT_EQ(p.boot.GetBytesPerSector(), 512u);
    EXPECT_EQ(p.boot.GetTotalSectors(), 10000u);
    EXPECT_EQ(p.boot.GetBpb()->sectorsPerCluster, 2);
    s64 second = 3;
    ASSERT_TRUE(p.boot.ClusterToSector(&second));
    EXPECT_EQ(second, 97 + 2);
}

TEST(FatBootSectorTest, Fat32RootDirectoryIsTheRootCluster)
{
    BpbFields f = Fat32Fields();
    f.sectorsPerCluster = 8;
    f.totalSectors32 = 32 + 600 + 8 * 70000;
    f.rootCluster = 5;
    Parsed p = ParseFields(f);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(TypeOf(p.boot), 3u);
    u64 root = 0;
    u32 cluster = 0;
    ASSERT_TRUE(p.boot.GetRootDir(&root, &cluster));
    EXPECT_EQ(root, 632u + 3 * 8);
    EXPECT_EQ(cluster, 5u);

    // A root cluster below 2 names no sector; the volume stays usable.
    f.rootCluster = 0;
    p = ParseFields(f);
    ASSERT_TRUE(p.ok);
    ASSERT_TRUE(p.boot.GetRootDir(&root, &cluster));
    EXPECT_EQ(root, ~0ull);
    EXPECT_EQ(cluster, 0u);
}

TEST(FatBootSectorTest, ClusterToSector)
{
    BpbFields f;
    f.sectorsPerCluster = 4; // data area at 97
    Parsed p = ParseFields(f);
    ASSERT_TRUE(p.ok);
    const struct
    {
        s64 in;
        bool ok;
        s64 out;
    } cases[] = {
        {2, true, 97},
        {3, true, 101},
        {0x0FFFFFFF, true, 97 + (0x0FFFFFFFll - 2) * 4},
        {1, false, 1},
        {0, false, 0},
        {-1, false, -1},
        {std::numeric_limits<s64>::min(), false, std::numeric_limits<s64>::min()},
        // Its sector number does not fit: refused rather than wrapped.
        {std::numeric_limits<s64>::max(), false, std::numeric_limits<s64>::max()},
    };
    for (const auto& c : cases)
    {
        s64 v = c.in;
        EXPECT_EQ(p.boot.ClusterToSector(&v), c.ok) << c.in;
        EXPECT_EQ(v, c.out) << c.in;
    }
}

TEST(FatBootSectorTest, ExtensionFollowsTheType)
{
    // A FAT12-sized volume whose text claims FAT32: the cluster count decides, and the
    // label comes from the FAT12/16 position.
    BpbFields f = Fat12Fields();
    auto sector = MakeBootSector(f);
    std::memcpy(&sector[0x2B], "SMALL LABEL", 11);
    std::memcpy(&sector[0x36], "FAT32   ", 8);
    std::memcpy(&sector[0x47], "WRONG LABEL", 11);
    FatBootSector boot;
    ASSERT_TRUE(boot.Parse(sector.data() + 11));
    EXPECT_EQ(TypeOf(boot), 1u);
    EXPECT_EQ(std::string(boot.GetBpb()->ext.fat16.volumeLabel, 11), "SMALL LABEL");

    BpbFields f32 = Fat32Fields();
    auto sector32 = MakeBootSector(f32);
    std::memcpy(&sector32[0x47], "BIG  LABEL ", 11);
    ASSERT_TRUE(boot.Parse(sector32.data() + 11));
    EXPECT_EQ(TypeOf(boot), 3u);
    EXPECT_EQ(std::string(boot.GetBpb()->ext.fat32.volumeLabel, 11), "BIG  LABEL ");
    EXPECT_EQ(boot.GetBpb()->ext.fat32.fatSectors32, 600u);
}

TEST(FatBootSectorTest, Fat12NineSectorFatHolds3072Entries)
{
    // A 1.44 MB floppy: 2880 sectors, 9-sector FATs, 224 root entries, data from sector 33.
    BpbFields f;
    f.fatSectors16 = 9;
    f.rootEntryCount = 224;
    f.totalSectors16 = 2880;
    f.totalSectors32 = 0;
    Parsed p = ParseFields(f);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(TypeOf(p.boot), 1u);
    EXPECT_EQ(p.boot.GetClusterLimit(false), 3072u);
    // Cluster 2848 starts at sector 33 + 2846 = 2879, the last one.
    EXPECT_EQ(p.boot.GetClusterLimit(true), 2848u);
}

// The lowered limit, computed by division, agrees with stepping down one value at a time.
TEST(FatBootSectorTest, VolumeLimitMatchesSteppingDown)
{
    std::vector<BpbFields> volumes;
    volumes.push_back(Fat12Fields());
    volumes.push_back(Fat16Fields());
    volumes.push_back(Fat32Fields());
    for (u8 spc : {1, 2, 8, 64})
    {
        BpbFields f; // FAT larger than the volume
        f.sectorsPerCluster = spc;
        f.totalSectors32 = 97 + 5 * spc + 3; // a partial cluster at the end
        volumes.push_back(f);
        f.totalSectors32 = 97 + 5 * spc;
        volumes.push_back(f);
    }
    BpbFields tinyFat = Fat32Fields(); // FAT smaller than the volume
    tinyFat.fatSectors32 = 600;
    tinyFat.totalSectors32 = 32 + 600 + 200000;
    volumes.push_back(tinyFat);
    BpbFields noData; // one sector of data: no whole cluster
    noData.sectorsPerCluster = 4;
    noData.totalSectors32 = 98;
    volumes.push_back(noData);
    for (const BpbFields& f : volumes)
    {
        Parsed p = ParseFields(f);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.boot.GetClusterLimit(true), LimitByStepping(p.boot))
            << "spc " << int(f.sectorsPerCluster) << " total " << f.totalSectors32;
    }
}

TEST(FatBootSectorTest, HugeHostileLimitIsComputedAtOnce)
{
    // FAT32 by cluster count, with a FAT32 size field that claims 2^32 - 1 sectors of 4096
    // bytes: 2^42 entries, lowered to the volume without stepping through them.
    BpbFields f = Fat32Fields();
    f.bytesPerSector = 4096;
    f.fatSectors16 = 600; // geometry uses this one
    f.fatSectors32 = 0xFFFFFFFFu;
    f.totalSectors32 = 0xFFFFFFFFu;
    Parsed p = ParseFields(f);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(TypeOf(p.boot), 3u);
    EXPECT_EQ(p.boot.GetClusterLimit(false), 0xFFFFFFFFull * 4096 / 4);
    s64 base = 2;
    ASSERT_TRUE(p.boot.ClusterToSector(&base));
    EXPECT_EQ(base, 32 + 600);
    EXPECT_EQ(p.boot.GetClusterLimit(true), 0xFFFFFFFFull - 632 - 1 + 2);
}

// --- Real volumes -------------------------------------------------------------------------

// The layout fsstat prints for a FAT volume.
struct FsstatLayout
{
    u32 fatType = 0;
    u64 totalSectors = 0;
    u64 firstFatSector = 0;
    u64 fatSectors = 0;
    u32 fatCount = 0;
    u64 rootDirSector = 0;
    u64 rootDirEnd = 0;
    u64 clusterArea = 0;
    u32 sectorSize = 0;
    u32 clusterSize = 0;
    u64 lastCluster = 0;
};

FsstatLayout RunFsstat(const std::string& image)
{
    FsstatLayout l;
    std::string out;
    EXPECT_EQ(RunCommand("fsstat '" + image + "'", &out), 0) << "fsstat failed";
    std::istringstream in(out);
    std::string line;
    std::smatch m;
    const std::regex type("^File System Type: FAT(12|16|32)");
    const std::regex total("^Total Range: 0 - ([0-9]+)");
    const std::regex fat("^\\* FAT ([0-9]+): ([0-9]+) - ([0-9]+)");
    const std::regex root("^\\*+ Root Directory: ([0-9]+) - ([0-9]+)");
    const std::regex area("^\\*+ Cluster Area: ([0-9]+) - ");
    const std::regex sector("^Sector Size: ([0-9]+)");
    const std::regex cluster("^Cluster Size: ([0-9]+)");
    const std::regex range("^Total Cluster Range: 2 - ([0-9]+)");
    while (std::getline(in, line))
    {
        if (std::regex_search(line, m, type))
            l.fatType = m[1] == "12" ? 1 : m[1] == "16" ? 2 : 3;
        else if (std::regex_search(line, m, total))
            l.totalSectors = std::stoull(m[1]) + 1;
        else if (std::regex_search(line, m, fat))
        {
            if (l.fatCount++ == 0)
            {
                l.firstFatSector = std::stoull(m[2]);
                l.fatSectors = std::stoull(m[3]) - l.firstFatSector + 1;
            }
        }
        else if (std::regex_search(line, m, root))
        {
            l.rootDirSector = std::stoull(m[1]);
            l.rootDirEnd = std::stoull(m[2]);
        }
        else if (std::regex_search(line, m, area))
            l.clusterArea = std::stoull(m[1]);
        else if (std::regex_search(line, m, sector))
            l.sectorSize = static_cast<u32>(std::stoul(m[1]));
        else if (std::regex_search(line, m, cluster))
            l.clusterSize = static_cast<u32>(std::stoul(m[1]));
        else if (std::regex_search(line, m, range))
            l.lastCluster = std::stoull(m[1]);
    }
    return l;
}

class FatBootSectorImageTest : public ::testing::TestWithParam<const char*>
{
};

TEST_P(FatBootSectorImageTest, GeometryMatchesFsstat)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    const std::vector<u8> bytes = ReadImage(image);
    ASSERT_GE(bytes.size(), 512u);
    FatBootSector boot;
    ASSERT_TRUE(boot.Parse(bytes.data() + 11));
    const FsstatLayout tsk = RunFsstat(image);
    ASSERT_NE(tsk.fatType, 0u) << "fsstat gave no FAT type";

    EXPECT_EQ(TypeOf(boot), tsk.fatType);
    EXPECT_EQ(boot.GetBytesPerSector(), tsk.sectorSize);
    EXPECT_EQ(u32(boot.GetBpb()->sectorsPerCluster) * tsk.sectorSize, tsk.clusterSize);
    EXPECT_EQ(boot.GetTotalSectors(), tsk.totalSectors);
    u64 first = 0;
    u32 size = 0;
    u32 count = 0;
    ASSERT_TRUE(boot.GetFatLocation(&first, &size, &count));
    EXPECT_EQ(first, tsk.firstFatSector);
    EXPECT_EQ(size, tsk.fatSectors);
    EXPECT_EQ(count, tsk.fatCount);
    u64 root = 0;
    u32 countOrCluster = 0;
    ASSERT_TRUE(boot.GetRootDir(&root, &countOrCluster));
    EXPECT_EQ(root, tsk.rootDirSector);
    // mkfs.fat puts the FAT32 root into cluster 2; a fixed root's sectors hold its entries.
    const u64 rootEntries = (tsk.rootDirEnd - tsk.rootDirSector + 1) * tsk.sectorSize / 32;
    EXPECT_EQ(countOrCluster, tsk.fatType == 3 ? 2u : rootEntries);
    s64 base = 2;
    ASSERT_TRUE(boot.ClusterToSector(&base));
    EXPECT_EQ(static_cast<u64>(base), tsk.clusterArea);

    // fsstat counts whole clusters; the limit also takes a partial last cluster whose first
    // sector lies inside the volume, and never exceeds what the FAT holds.
    const u64 spc = boot.GetBpb()->sectorsPerCluster;
    const u64 partial = (tsk.totalSectors - tsk.clusterArea) % spc != 0 ? 1 : 0;
    const u64 expected = std::min(boot.GetClusterLimit(false), tsk.lastCluster + partial);
    EXPECT_EQ(boot.GetClusterLimit(true), expected);
}

INSTANTIATE_TEST_SUITE_P(Mkfs, FatBootSectorImageTest, ::testing::Values("fat12", "fat16", "fat32"),
                         [](const auto& p) { return std::string(p.param); });
} // namespace
