// FatTable: entry decoding per FAT width, cluster states, the moving window and its edges on
// crafted volumes, and whole FATs and cluster chains of real volumes against The Sleuth Kit.
#include "fat/FatTable.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "disk/Faulty_RW.h"
#include "disk/Mem_RW.h"
#include "fat/FatBootSector.h"
#include "fat/FatTestVolume.h"
#include "support/TestImages.h"

namespace
{
// A memory reader that remembers the 512-byte sector where each read started.
class CRecording_RW : public CMem_RW
{
public:
    using CMem_RW::CMem_RW;
    [[nodiscard]] u32 ReadBytes(void* buffer, u32 byteCount, u32* bytesDone,
                                s64 byteOffset) override
    {
        starts.push_back(static_cast<u64>(byteOffset) / 512);
        return CMem_RW::ReadBytes(buffer, byteCount, bytesDone, byteOffset);
    }
    std::vector<u64> starts;
};

// A boot sector and a table attached to a reader over the volume's image.
struct Attached
{
    FatBootSector boot;
    FatTable table;
    bool ok = false;

    Attached(CDirectRW& reader, const u8* bpb)
    {
        ok = boot.Parse(bpb) && table.Attach(&reader, boot);
    }
};

BpbFields Fat16FullFat()
{
    BpbFields f = Fat16Fields();
    f.totalSectors16 = 1 + 32 + 1 + 9000; // more clusters than the FAT's 8192 entries
    return f;
}

BpbFields Fat12FullFat()
{
    BpbFields f = Fat12Fields();
    f.fatSectors16 = 9; // 3072 entries
    f.totalSectors16 = 1 + 9 + 1 + 4000;
    return f;
}

TEST(FatTableTest, Fat12EntriesShareBytes)
{
    TestVolume vol(Fat12Fields(), 12);
    // Cluster 2: low 12 bits of the 16-bit value at byte 3; cluster 3: high 12 bits of the
    // 16-bit value at byte 4.
    u8* fat = vol.Image().data() + vol.FatOffset();
    fat[3] = 0x23;
    fat[4] = 0x61;
    fat[5] = 0x45;
    vol.SetEntry(4, 0xFF7);
    vol.SetEntry(5, 0xABC);
    CMem_RW rw(vol.Image());
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.table.FatBits(), 12u);
    EXPECT_EQ(a.table.GetEntry(2), 0x123u);
    EXPECT_EQ(a.table.GetEntry(3), 0x456u);
    EXPECT_EQ(a.table.GetEntry(4), 0xFF7u);
    EXPECT_EQ(a.table.GetEntry(5), 0xABCu);
}

TEST(FatTableTest, Fat32TopNibbleIsIgnored)
{
    TestVolume vol(Fat32Fields(), 32);
    vol.SetEntry(7, 0xF0000005);
    vol.SetEntry(8, 0xFFFFFFFF);
    CMem_RW rw(vol.Image());
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.table.FatBits(), 32u);
    EXPECT_EQ(a.table.GetEntry(7), 5u);
    EXPECT_EQ(a.table.GetEntry(8), 0x0FFFFFFFu);
    EXPECT_EQ(a.table.GetClusterState(8), ClusterState::kChainEnd);
}

TEST(FatTableTest, EntriesOutsideTheLimitAreUnreadable)
{
    TestVolume vol(Fat16Fields(), 16); // 5000 clusters: limit 5001
    vol.SetEntry(5001, 0x1234);
    vol.SetEntry(5002, 0x4321);
    CRecording_RW rw(vol.Image());
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.table.ClusterLimit(), 5001u);
    const std::size_t reads = rw.starts.size();
    for (u32 c : {0u, 1u, 5002u, 0xFFFFFFFFu})
    {
        EXPECT_EQ(a.table.GetEntry(c), 1u) << c;
        EXPECT_EQ(a.table.GetClusterState(c), ClusterState::kInvalid) << c;
    }
    EXPECT_EQ(rw.starts.size(), reads) << "clusters out of range must not reach the volume";
    // The limit's own entry is read, but the cluster is not classified.
    EXPECT_EQ(a.table.GetEntry(5001), 0x1234u);
    EXPECT_EQ(a.table.GetClusterState(5001), ClusterState::kInvalid);
}

struct StateCase
{
    u32 bits;
    u32 cluster;
    u32 entry;
    u32 prev; // entry of cluster - 1
    ClusterState state;
};

class FatTableStateTest : public ::testing::TestWithParam<StateCase>
{
};

TEST_P(FatTableStateTest, EntryGivesState)
{
    const StateCase& c = GetParam();
    BpbFields f = c.bits == 12 ? Fat12Fields() : c.bits == 16 ? Fat16Fields() : Fat32Fields();
    TestVolume vol(f, c.bits);
    vol.SetEntry(c.cluster, c.entry);
    vol.SetEntry(c.cluster - 1, c.prev);
    CMem_RW rw(vol.Image());
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.table.GetClusterState(c.cluster), c.state)
        << c.bits << "-bit cluster " << c.cluster << " entry " << std::hex << c.entry;
}

constexpr ClusterState kFree = ClusterState::kFree;
constexpr ClusterState kLinked = ClusterState::kLinked;
constexpr ClusterState kHead = ClusterState::kChainHead;
constexpr ClusterState kEnd = ClusterState::kChainEnd;
constexpr ClusterState kBad = ClusterState::kBad;

INSTANTIATE_TEST_SUITE_P(
    Widths, FatTableStateTest,
    ::testing::Values(
        StateCase{12, 10, 0, 9, kFree}, StateCase{12, 10, 11, 10, kLinked},
        StateCase{12, 10, 11, 0xFFF, kHead}, StateCase{12, 10, 0xFFF, 0, kEnd},
        StateCase{12, 10, 0xFF7, 0, kBad}, StateCase{12, 10, 0xFF8, 9, kLinked},
        StateCase{12, 10, 0xFFE, 0xFFF, kHead},
        // Cluster 2 heads a chain whatever cluster 1 holds.
        StateCase{12, 2, 3, 0x123, kHead}, StateCase{16, 2, 3, 0x0005, kHead},
        StateCase{16, 10, 0, 9, kFree}, StateCase{16, 10, 11, 10, kLinked},
        StateCase{16, 10, 11, 0xFFFF, kHead}, StateCase{16, 10, 0xFFFF, 0, kEnd},
        StateCase{16, 10, 0xFFF7, 0, kBad}, StateCase{16, 10, 0xFFF8, 9, kLinked},
        // The end-of-chain value is a single value: 0xFFF8 before a cluster makes no head.
        StateCase{16, 10, 11, 0xFFF8, kLinked}, StateCase{32, 10, 0, 9, kFree},
        StateCase{32, 10, 11, 10, kLinked}, StateCase{32, 10, 11, 0x0FFFFFFF, kHead},
        StateCase{32, 10, 0x0FFFFFFF, 0, kEnd}, StateCase{32, 10, 0xFFFFFFFF, 0, kEnd},
        StateCase{32, 10, 0x0FFFFFF7, 0, kBad}, StateCase{32, 10, 0x0FFFFFF8, 9, kLinked},
        StateCase{32, 2, 0x0FFFFFFF, 0, kEnd}));

TEST(FatTableTest, Fat16EntryFFF8LeadsOutOfRange)
{
    TestVolume vol(Fat16Fields(), 16);
    vol.SetEntry(20, 0xFFF8);
    CMem_RW rw(vol.Image());
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    const ClusterState s = a.table.GetClusterState(20);
    EXPECT_TRUE(s == ClusterState::kLinked || s == ClusterState::kChainHead);
    const u32 next = a.table.GetEntry(20);
    EXPECT_EQ(next, 0xFFF8u);
    EXPECT_EQ(a.table.GetClusterState(next), ClusterState::kInvalid);
}

TEST(FatTableTest, MissLoadsWindowAtTheEntrysSector)
{
    // 5000 clusters of a 32-sector FAT16: entry 2047 is at byte 4094, past the first window's
    // last 4-byte position.
    TestVolume vol(Fat16Fields(), 16);
    vol.SetEntry(2046, 0x1111);
    vol.SetEntry(2047, 0xBEEF);
    vol.SetEntry(2048, 0x2222);
    CRecording_RW rw(vol.Image());
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(rw.starts, std::vector<u64>{1});
    EXPECT_EQ(a.table.GetEntry(2046), 0x1111u); // byte 4092: still a hit
    EXPECT_EQ(rw.starts.size(), 1u);
    EXPECT_EQ(a.table.GetEntry(2047), 0xBEEFu);
    EXPECT_EQ(a.table.WindowSector(), 7u);
    EXPECT_EQ(rw.starts.back(), 1u + 7);
    EXPECT_EQ(a.table.GetEntry(2048), 0x2222u); // served by the new window
    EXPECT_EQ(rw.starts.size(), 2u);
}

TEST(FatTableTest, SmallFatNeedsNoSecondRead)
{
    // A FAT12 of 2000 clusters: every entry offset is at most 3001.
    TestVolume vol(Fat12Fields(), 12);
    for (u32 c = 2; c < 2001; ++c)
        vol.SetEntry(c, c + 1 < 2001 ? c + 1 : 0xFFF);
    CRecording_RW rw(vol.Image());
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    for (u32 c = 2; c <= a.table.ClusterLimit(); ++c)
        (void)a.table.GetClusterState(c);
    EXPECT_EQ(a.table.GetEntry(2000), 0xFFFu);
    EXPECT_EQ(rw.starts.size(), 1u);
}

struct EndCase
{
    u32 bits;
    BpbFields fields;
    u32 lastInside; // the last entry lying wholly inside the FAT
};

class FatTableEndTest : public ::testing::TestWithParam<EndCase>
{
};

// The entries at the end of the FAT read correctly from a window pulled back to end with the
// FAT; an entry that would reach past the FAT (only the limit's own) is unreadable, and the
// bytes after the FAT (0xA5 in the image) never show up.
TEST_P(FatTableEndTest, EndOfFatReadsStayInside)
{
    const EndCase& c = GetParam();
    TestVolume vol(c.fields, c.bits);
    vol.SetEntry(c.lastInside, 0x321);
    vol.SetEntry(c.lastInside - 1, 0x123);
    CMem_RW rw(vol.Image());
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    const u32 limit = a.table.ClusterLimit();
    EXPECT_EQ(a.table.GetEntry(c.lastInside), 0x321u);
    EXPECT_EQ(a.table.GetEntry(c.lastInside - 1), 0x123u);
    EXPECT_EQ(a.table.WindowSector(), vol.FatSectors() - 4096 / 512);
    for (u32 cl = c.lastInside + 1; cl <= limit; ++cl)
        EXPECT_EQ(a.table.GetEntry(cl), 1u) << cl;
    EXPECT_EQ(a.table.GetClusterState(c.lastInside), ClusterState::kLinked);
}

INSTANTIATE_TEST_SUITE_P(Widths, FatTableEndTest,
                         ::testing::Values(EndCase{12, Fat12FullFat(), 3071},
                                           EndCase{16, Fat16FullFat(), 8191},
                                           EndCase{32, Fat32Fields(), 76799}));

// A FAT16 volume whose every entry is 0x7777, on a device that ends after FAT sector 27 of 32.
struct ShortFat16Device
{
    ShortFat16Device()
    {
        for (u32 c = 2; c < 8192; ++c)
            volume.SetEntry(c, 0x7777);
        bytes = volume.Image();
        bytes.resize((1 + 28) * 512);
    }
    TestVolume volume{Fat16FullFat(), 16};
    std::vector<u8> bytes;
};

TEST(FatTableTest, ShortDeviceLeavesNoStaleBytes)
{
    // The device ends after FAT sector 27 of 32. The first window is full of entries; the
    // window pulled back to FAT sectors 24..31 gets only four sectors from the device, and the
    // rest must read as zero, not as what the earlier window held at those positions.
    ShortFat16Device device;
    CMem_RW rw(device.bytes);
    Attached a(rw, device.volume.Bpb());
    ASSERT_TRUE(a.ok);
    const u32 inDevice = 27 * 256 + 5;                       // FAT sector 27
    const u32 pastDevice = 28 * 256 + 5;                     // FAT sector 28: beyond the device
    EXPECT_EQ(a.table.GetEntry(pastDevice - 3072), 0x7777u); // same window position, sector 16
    EXPECT_EQ(a.table.GetEntry(inDevice), 0x7777u);
    EXPECT_EQ(a.table.WindowSector(), 24u);
    EXPECT_EQ(a.table.GetEntry(pastDevice), 0u);
    EXPECT_EQ(a.table.GetEntry(8191), 0u);
}

TEST(FatTableTest, FailedWindowReadIsNeverServedAsZeros)
{
    BpbFields f = Fat16FullFat();
    TestVolume vol(f, 16);
    vol.SetEntry(3000, 0x0BAD); // FAT sector 11
    CFaulty_RW rw(vol.Image());
    rw.FailSector(1 + 11);
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.table.GetEntry(3000), 1u);
    // The window moved but holds nothing: asking again reads again rather than answering 0.
    EXPECT_EQ(a.table.GetEntry(3000), 1u);
    EXPECT_EQ(a.table.GetEntry(3001), 1u);
    rw.Heal();
    EXPECT_EQ(a.table.GetEntry(3000), 0x0BADu);
}

TEST(FatTableTest, AttachRefusesUnusableInput)
{
    TestVolume vol(Fat16Fields(), 16);
    FatBootSector invalid;
    FatTable table;
    CMem_RW rw(vol.Image());
    EXPECT_FALSE(table.Attach(&rw, invalid));

    FatBootSector boot;
    ASSERT_TRUE(boot.Parse(vol.Bpb()));
    EXPECT_FALSE(table.Attach(nullptr, boot));

    CFaulty_RW failing(vol.Image());
    failing.FailSector(1);
    EXPECT_FALSE(table.Attach(&failing, boot));

    // A FAT that starts beyond the end of the device reads as empty.
    std::vector<u8> onlyBoot(vol.Image().begin(), vol.Image().begin() + 512);
    CMem_RW shortRw(onlyBoot);
    FatTable empty;
    ASSERT_TRUE(empty.Attach(&shortRw, boot));
    EXPECT_EQ(empty.GetEntry(2), 0u);
    EXPECT_EQ(empty.GetClusterState(2), ClusterState::kFree);
}

struct SectorCase
{
    u16 bytesPerSector;
    u32 cluster;
};

class FatTableSectorSizeTest : public ::testing::TestWithParam<SectorCase>
{
};

// Larger sectors: the window holds 4096 / bytesPerSector whole sectors (3072 bytes for 1536)
// and entries beyond them load a new window, also once the reader has been opened again with
// 512-byte sectors (as it is to read the finds' data).
TEST_P(FatTableSectorSizeTest, EntriesBeyondTheFirstWindow)
{
    const SectorCase& c = GetParam();
    BpbFields f = Fat16Fields();
    f.bytesPerSector = c.bytesPerSector;
    f.fatSectors16 = static_cast<u16>(8192 * 2 / c.bytesPerSector);
    f.totalSectors16 = static_cast<u16>(1 + f.fatSectors16 + 1 + 9000);
    TestVolume vol(f, 16);
    vol.SetEntry(c.cluster, 0x5A5A);
    vol.SetEntry(100, 0x0101);
    CMem_RW rw(vol.Image(), c.bytesPerSector);
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.table.GetEntry(100), 0x0101u);
    EXPECT_EQ(a.table.GetEntry(c.cluster), 0x5A5Au);
    EXPECT_EQ(a.table.GetEntry(100), 0x0101u);
    ASSERT_EQ(rw.Open("C:", 512), kOk);
    EXPECT_EQ(a.table.GetEntry(c.cluster), 0x5A5Au);
    EXPECT_EQ(a.table.GetEntry(100), 0x0101u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FatTableSectorSizeTest,
                         ::testing::Values(SectorCase{1024, 4000}, SectorCase{1536, 1750},
                                           SectorCase{2048, 2047}, SectorCase{4096, 2500}));

// --- The FAT kept in memory ---------------------------------------------------------------

struct MemoryCase
{
    u32 bits;
    BpbFields fields;
    u64 segments; // reads KeepInMemory's table needs for every entry
};

class FatTableMemoryTest : public ::testing::TestWithParam<MemoryCase>
{
};

// Every entry (and every cluster out of range) reads the same from memory as through the
// window, the FAT is read one segment at a time, each segment once, however often and in
// whatever order the entries are asked for.
TEST_P(FatTableMemoryTest, AgreesWithTheWindow)
{
    const MemoryCase& c = GetParam();
    TestVolume vol(c.fields, c.bits);
    const u32 mask = c.bits == 12 ? 0xFFF : c.bits == 16 ? 0xFFFF : 0x0FFFFFFF;
    const u32 bps = c.fields.bytesPerSector;
    for (u32 cl = 2; cl < 200000; ++cl)
        if ((cl + 1) * c.bits / 8 <= (c.fields.fatSectors16 + c.fields.fatSectors32) * bps)
            vol.SetEntry(cl, (cl * 2654435761u) & mask);
    CMem_RW windowRw(vol.Image(), bps);
    Attached windowed(windowRw, vol.Bpb());
    CMem_RW memoryRw(vol.Image(), bps);
    Attached kept(memoryRw, vol.Bpb());
    ASSERT_TRUE(windowed.ok && kept.ok);
    ASSERT_TRUE(kept.table.KeepInMemory(u64{1} << 30));
    const u32 limit = kept.table.ClusterLimit();
    for (int pass = 0; pass < 2; ++pass)
        for (u32 k = 0; k <= limit + 1; ++k)
        {
            // The second pass runs backwards.
            const u32 cl = pass == 0 ? k : limit + 1 - k;
            ASSERT_EQ(kept.table.GetEntry(cl), windowed.table.GetEntry(cl)) << cl;
            ASSERT_EQ(kept.table.GetClusterState(cl), windowed.table.GetClusterState(cl)) << cl;
        }
    // In blocks of an odd size, so that blocks straddle the segments, from cluster 0 on.
    std::vector<u32> block(777);
    for (u32 from = 0; from <= limit + 1; from += 777)
    {
        kept.table.GetEntries(from, 777, block.data());
        for (u32 i = 0; i < 777 && from + i <= limit + 1; ++i)
            ASSERT_EQ(block[i], windowed.table.GetEntry(from + i)) << from + i;
    }
    EXPECT_EQ(memoryRw.ReadCount(), 1 + c.segments);
    // Released, the window serves again.
    kept.table.ReleaseMemory();
    EXPECT_EQ(kept.table.GetEntry(limit / 2), windowed.table.GetEntry(limit / 2));
}

// 600 FAT sectors of 512 bytes: 307,200 bytes in two segments. With 1536-byte sectors a
// segment is 170 whole sectors (261,120 bytes), not 256 KiB: the second starts on a sector.
BpbFields Fat32LargeSectors()
{
    BpbFields f = Fat32Fields();
    f.bytesPerSector = 1536;
    f.fatSectors32 = 200;
    f.totalSectors32 = 32 + 200 + 80000;
    return f;
}

INSTANTIATE_TEST_SUITE_P(Widths, FatTableMemoryTest,
                         ::testing::Values(MemoryCase{12, Fat12FullFat(), 1},
                                           MemoryCase{16, Fat16FullFat(), 1},
                                           MemoryCase{32, Fat32Fields(), 2},
                                           MemoryCase{32, Fat32LargeSectors(), 2}));

TEST(FatTableTest, InMemoryFailedSegmentIsServedByTheWindow)
{
    // FAT32: the second segment (FAT sectors 512 on) cannot be read at FAT sector 520; its
    // other entries come through the window, those of sector 520 are unreadable until the
    // device heals, and the first segment stays in memory.
    TestVolume vol(Fat32Fields(), 32);
    vol.SetEntry(100, 0x1234);
    vol.SetEntry(512 * 128 + 5, 0x2345); // FAT sector 512
    vol.SetEntry(520 * 128 + 7, 0x3456); // FAT sector 520
    CFaulty_RW rw(vol.Image());
    rw.FailSector(32 + 520);
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    ASSERT_TRUE(a.table.KeepInMemory(u64{1} << 30));
    EXPECT_EQ(a.table.GetEntry(100), 0x1234u);
    EXPECT_EQ(a.table.GetEntry(512 * 128 + 5), 0x2345u);
    EXPECT_EQ(a.table.GetEntry(520 * 128 + 7), 1u);
    std::vector<u32> block(256);
    a.table.GetEntries(520 * 128, 256, block.data()); // FAT sectors 520 and 521
    EXPECT_EQ(block[7], 1u);
    EXPECT_EQ(block[128], 0u);
    rw.Heal();
    EXPECT_EQ(a.table.GetEntry(520 * 128 + 7), 0x3456u);
    EXPECT_EQ(a.table.GetEntry(100), 0x1234u);
}

TEST(FatTableTest, InMemoryShortDeviceReadsZerosPastItsEnd)
{
    // The device ends after FAT sector 27 of 32: as through the window, entries past it are 0.
    ShortFat16Device device;
    CMem_RW rw(device.bytes);
    Attached a(rw, device.volume.Bpb());
    ASSERT_TRUE(a.ok);
    ASSERT_TRUE(a.table.KeepInMemory(u64{1} << 30));
    EXPECT_EQ(a.table.GetEntry(27 * 256 + 5), 0x7777u);
    EXPECT_EQ(a.table.GetEntry(28 * 256 + 5), 0u);
    EXPECT_EQ(a.table.GetEntry(8191), 0u);
    EXPECT_EQ(a.table.GetEntry(8192), 1u); // past the FAT
}

TEST(FatTableTest, KeepInMemoryRefusesAFatAboveTheLimit)
{
    TestVolume vol(Fat32Fields(), 32);
    vol.SetEntry(70000, 0x4567);
    CMem_RW rw(vol.Image());
    Attached a(rw, vol.Bpb());
    ASSERT_TRUE(a.ok);
    EXPECT_FALSE(a.table.KeepInMemory(300000));
    EXPECT_EQ(a.table.GetEntry(70000), 0x4567u);
    FatTable detached;
    EXPECT_FALSE(detached.KeepInMemory(u64{1} << 30));
}

// --- Real volumes -------------------------------------------------------------------------

struct ImageVolume
{
    std::vector<u8> bytes;
    std::unique_ptr<CMem_RW> rw;
    FatBootSector boot;
    FatTable table;
    u64 base = 0;
    u32 spc = 0;

    bool Open(const std::string& image)
    {
        bytes = ReadImage(image);
        if (bytes.size() < 512)
            return false;
        rw = std::make_unique<CMem_RW>(bytes.data(), bytes.size());
        if (!boot.Parse(bytes.data() + 11) || !table.Attach(rw.get(), boot))
            return false;
        s64 s = 2;
        if (!boot.ClusterToSector(&s))
            return false;
        base = static_cast<u64>(s);
        spc = boot.GetBpb()->sectorsPerCluster;
        return true;
    }
    [[nodiscard]] u32 ClusterOf(u64 sector) const
    {
        return static_cast<u32>((sector - base) / spc + 2);
    }

    // Follows a chain the way the directory walk does, with a bound.
    std::vector<u32> Chain(u32 first)
    {
        std::vector<u32> clusters;
        u32 c = first;
        ClusterState s = table.GetClusterState(c);
        while ((s == ClusterState::kLinked || s == ClusterState::kChainHead ||
                s == ClusterState::kChainEnd) &&
               clusters.size() <= table.ClusterLimit())
        {
            clusters.push_back(c);
            if (s == ClusterState::kChainEnd)
                break;
            c = table.GetEntry(c);
            s = table.GetClusterState(c);
        }
        return clusters;
    }
};

// Clusters of a file in order, from the sector list istat prints.
std::vector<u32> IstatClusters(const std::string& image, const std::string& inode,
                               const ImageVolume& vol)
{
    std::string out;
    EXPECT_EQ(RunCommand("istat '" + image + "' " + inode, &out), 0) << "istat failed";
    std::vector<u32> clusters;
    const std::size_t at = out.find("Sectors:");
    EXPECT_NE(at, std::string::npos) << out;
    if (at == std::string::npos)
        return clusters;
    std::istringstream in(out.substr(at + 8));
    u64 sector = 0;
    while (in >> sector)
    {
        if (sector < vol.base) // istat pads its last row of sectors with zeros
            continue;
        const u32 c = vol.ClusterOf(sector);
        if (clusters.empty() || clusters.back() != c)
            clusters.push_back(c);
    }
    return clusters;
}

// Inode number of a live path in a listing of "fls -r -p -u".
std::string InodeOf(const std::string& listing, const std::string& path)
{
    std::istringstream in(listing);
    std::string line;
    const std::regex row("^[a-z-]/[a-z-] ([0-9]+):\\t(.*)$");
    std::smatch m;
    while (std::getline(in, line))
        if (std::regex_match(line, m, row) && m[2] == path)
            return m[1];
    ADD_FAILURE() << path << " not listed by fls";
    return "0";
}

class FatTableImageTest : public ::testing::TestWithParam<const char*>
{
};

TEST_P(FatTableImageTest, ChainsMatchIstat)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    ImageVolume vol;
    ASSERT_TRUE(vol.Open(image));
    std::string listing;
    ASSERT_EQ(RunCommand("fls -r -p -u '" + image + "'", &listing), 0) << "fls failed";
    for (const char* path : {"BIG.BIN", "FRAG.BIN", "MANY", "DOCS", "DOCS/SUB/DEEP.TXT"})
    {
        const std::vector<u32> expected = IstatClusters(image, InodeOf(listing, path), vol);
        ASSERT_FALSE(expected.empty()) << path;
        EXPECT_EQ(vol.Chain(expected.front()), expected) << path;
    }
}

// Every entry of the FAT against the allocation runs fsstat prints ("A-B (n) -> X").
TEST_P(FatTableImageTest, EveryEntryMatchesFsstat)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    ImageVolume vol;
    ASSERT_TRUE(vol.Open(image));
    std::string out;
    ASSERT_EQ(RunCommand("fsstat '" + image + "'", &out), 0) << "fsstat failed";
    const std::regex run("^([0-9]+)-([0-9]+) \\(([0-9]+)\\) -> ([0-9]+|EOF)$");
    std::map<u32, u32> expected; // cluster -> entry; 0xFFFFFFFF for end of chain
    std::istringstream in(out.substr(out.find("FAT CONTENTS")));
    std::string line;
    std::smatch m;
    while (std::getline(in, line))
    {
        if (!std::regex_match(line, m, run))
            continue;
        const u32 first = vol.ClusterOf(std::stoull(m[1]));
        const u32 last = vol.ClusterOf(std::stoull(m[2]));
        for (u32 c = first; c < last; ++c)
            expected[c] = c + 1;
        expected[last] = m[4] == "EOF" ? 0xFFFFFFFFu : vol.ClusterOf(std::stoull(m[4]));
    }
    ASSERT_GT(expected.size(), 50u);
    const u32 endMin = vol.table.FatBits() == 12   ? 0xFF8
                       : vol.table.FatBits() == 16 ? 0xFFF8
                                                   : 0x0FFFFFF8;
    u32 used = 0;
    for (u32 c = 2; c < vol.table.ClusterLimit(); ++c)
    {
        const u32 entry = vol.table.GetEntry(c);
        const auto it = expected.find(c);
        if (it == expected.end())
            EXPECT_EQ(entry, 0u) << "cluster " << c;
        else if (it->second == 0xFFFFFFFFu)
            EXPECT_GE(entry, endMin) << "cluster " << c;
        else
            EXPECT_EQ(entry, it->second) << "cluster " << c;
        used += entry != 0;
    }
    EXPECT_EQ(used, expected.size());
}

INSTANTIATE_TEST_SUITE_P(Mkfs, FatTableImageTest, ::testing::Values("fat12", "fat16", "fat32"),
                         [](const auto& p) { return std::string(p.param); });
} // namespace
