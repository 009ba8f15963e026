// Byte-array tests of the exFAT parsers: the boot region (checks, checksum, backup), entry sets
// (live, deleted, damaged), times, and the FAT and bitmap windows over a tiny crafted volume.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "disk/Mem_RW.h"
#include "exfat/ExfatBoot.h"
#include "exfat/ExfatEntrySet.h"
#include "exfat/ExfatTable.h"
#include "platform/Unicode.h"

namespace
{
// A volume of 512-byte sectors and 1 KiB clusters: FAT at 24 (1 sector), heap at 32, 16
// clusters, root at cluster 4; the backup region copied to sector 12 with its checksum.
std::vector<u8> Volume(const std::function<void(u8*)>& patch = {})
{
    std::vector<u8> v((32 + 16 * 2) * 512, 0);
    u8* s = v.data();
    s[0] = 0xEB;
    s[1] = 0x76;
    s[2] = 0x90;
    std::memcpy(s + 3, "EXFAT   ", 8);
    StoreLe64(s + 0x48, 64);
    StoreLe32(s + 0x50, 24);
    StoreLe32(s + 0x54, 1);
    StoreLe32(s + 0x58, 32);
    StoreLe32(s + 0x5C, 16);
    StoreLe32(s + 0x60, 4);
    StoreLe16(s + 0x68, 0x0100);
    s[0x6C] = 9;
    s[0x6D] = 1;
    s[0x6E] = 1;
    StoreLe16(s + 0x1FE, 0xAA55);
    if (patch)
        patch(s);
    const u32 sum = ExfatBootChecksum(ByteView(s, 11 * 512), 512);
    for (u32 i = 0; i < 512; i += 4)
        StoreLe32(s + 11 * 512 + i, sum);
    std::memcpy(s + 12 * 512, s, 12 * 512);
    return v;
}

TEST(ExfatBoot, RegionChecksAndBackup)
{
    struct Case
    {
        const char* what;
        std::function<void(std::vector<u8>&)> damage;
        ExfatBootResult result;
        bool fromBackup;
    };
    auto field = [](std::size_t at, u8 value)
    { return [=](std::vector<u8>& v) { v = Volume([=](u8* s) { s[at] = value; }); }; };
    auto both = [](std::size_t at, u8 value)
    {
        return [=](std::vector<u8>& v)
        {
            v[at] = value;
            v[12 * 512 + at] = value;
        };
    };
    const Case cases[] = {
        {"valid", [](std::vector<u8>&) {}, ExfatBootResult::kValid, false},
        {"flags and percent in use are left out of the checksum",
         [](std::vector<u8>& v)
         {
             v[0x6A] = 3;
             v[0x70] = 50;
         },
         ExfatBootResult::kValid, false},
        {"main checksum wrong", [](std::vector<u8>& v) { v[0x64] ^= 1; }, ExfatBootResult::kValid,
         true},
        {"main signature gone", [](std::vector<u8>& v) { v[0x1FE] = 0; }, ExfatBootResult::kValid,
         true},
        {"both checksums wrong", both(0x64, 0x77), ExfatBootResult::kBadChecksum, false},
        {"not exFAT", both(0x03, 'N'), ExfatBootResult::kNotExfat, false},
        {"must-be-zero field used", field(0x20, 1), ExfatBootResult::kNotExfat, false},
        {"sector shift 8", field(0x6C, 8), ExfatBootResult::kBadGeometry, false},
        {"sector shift 13", field(0x6C, 13), ExfatBootResult::kBadGeometry, false},
        {"cluster over 32 MiB", field(0x6D, 17), ExfatBootResult::kBadGeometry, false},
        {"three FATs", field(0x6E, 3), ExfatBootResult::kBadGeometry, false},
        {"FAT inside the boot regions", field(0x50, 23), ExfatBootResult::kBadGeometry, false},
        {"FAT too short", field(0x54, 0), ExfatBootResult::kBadGeometry, false},
        {"heap past the volume", field(0x5C, 17), ExfatBootResult::kBadGeometry, false},
        {"no clusters", field(0x5C, 0), ExfatBootResult::kBadGeometry, false},
        {"root outside the heap", field(0x60, 18), ExfatBootResult::kBadGeometry, false},
        {"root cluster 1", field(0x60, 1), ExfatBootResult::kBadGeometry, false},
        {"short", [](std::vector<u8>& v) { v.resize(11 * 512); }, ExfatBootResult::kShort, false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        std::vector<u8> v = Volume();
        c.damage(v);
        ExfatBoot boot;
        bool fromBackup = false;
        EXPECT_EQ(ParseExfatBootRegion(ByteView(v.data(), v.size()), &boot, &fromBackup), c.result);
        EXPECT_EQ(fromBackup, c.fromBackup);
        if (c.result == ExfatBootResult::kValid)
        {
            EXPECT_EQ(boot.ClusterBytes(), 1024u);
            EXPECT_EQ(boot.HighestCluster(), 17u);
            u64 at = 0;
            EXPECT_TRUE(boot.ClusterOffset(17, &at));
            EXPECT_EQ(at, 32u * 512 + 15 * 1024);
            EXPECT_FALSE(boot.ClusterOffset(18, &at));
        }
    }
}

// An entry set: File, Stream Extension, File Name entries (15 units each) and extra secondaries.
struct SetLayout
{
    std::u16string name = u"Report.txt";
    bool deleted = false;
    u16 attributes = 0x20;
    u8 flags = 0x03;
    u32 first = 9;
    u64 length = 5000;
    u64 valid = 5000;
    int extraSecondaries = 0;
    int countDelta = 0;  // added to the secondary count
    int lengthDelta = 0; // added to the name length
};

std::vector<u8> MakeSet(const SetLayout& layout)
{
    const u32 nameEntries = static_cast<u32>((layout.name.size() + 14) / 15);
    const u32 count = 1 + nameEntries + layout.extraSecondaries;
    std::vector<u8> b((count + 1) * 32, 0);
    b[0] = 0x85;
    b[1] = static_cast<u8>(count + layout.countDelta);
    StoreLe16(&b[4], layout.attributes);
    StoreLe32(&b[8], 0x5A8B6000); // 2025-04-11 12:00:00
    StoreLe32(&b[0x10], 0x5A8B6000);
    b[32] = 0xC0;
    b[33] = layout.flags;
    b[35] = static_cast<u8>(layout.name.size() + layout.lengthDelta);
    StoreLe64(&b[32 + 8], layout.valid);
    StoreLe32(&b[32 + 0x14], layout.first);
    StoreLe64(&b[32 + 0x18], layout.length);
    for (u32 i = 0; i < nameEntries; ++i)
    {
        b[(2 + i) * 32] = 0xC1;
        for (u32 u = 0; u < 15 && i * 15 + u < layout.name.size(); ++u)
            StoreLe16(&b[(2 + i) * 32 + 2 + u * 2], layout.name[i * 15 + u]);
    }
    for (int i = 0; i < layout.extraSecondaries; ++i)
        b[(2 + nameEntries + i) * 32] = 0xE0; // a vendor extension
    StoreLe16(&b[2], ExfatSetChecksum(ByteView(b.data(), b.size()), count + 1, false));
    if (layout.deleted)
        for (u32 i = 0; i <= count; ++i)
            b[i * 32] &= 0x7F;
    return b;
}

TEST(ExfatEntrySet, DecodesLiveDeletedAndDamagedSets)
{
    struct Case
    {
        const char* what;
        SetLayout layout;
        std::function<void(std::vector<u8>&)> damage;
        ExfatSetResult result;
        u32 entries;
        bool checksumOk;
    };
    const std::u16string longName = u"Ein sehr langer Dateiname – äöü ✓ mit vielen Zeichen.txt";
    auto none = [](std::vector<u8>&) {};
    const Case cases[] = {
        {"live", {}, none, ExfatSetResult::kDecoded, 3, true},
        {"deleted keeps its whole name",
         {.deleted = true},
         none,
         ExfatSetResult::kDecoded,
         3,
         true},
        {"long deleted name",
         {.name = longName, .deleted = true},
         none,
         ExfatSetResult::kDecoded,
         6,
         true},
        {"vendor extension belongs to the set",
         {.extraSecondaries = 1},
         none,
         ExfatSetResult::kDecoded,
         4,
         true},
        {"checksum broken, entries consistent",
         {.deleted = true},
         [](std::vector<u8>& b) { b[32 + 0x18] ^= 1; },
         ExfatSetResult::kDecoded,
         3,
         false},
        {"trailing entry taken by a later set",
         {.deleted = true, .extraSecondaries = 1},
         [](std::vector<u8>& b) { b[3 * 32] = 0x85; },
         ExfatSetResult::kDecoded,
         3,
         false},
        {"name longer than its entries",
         {.name = u"Fifteen units!!", .lengthDelta = 1},
         none,
         ExfatSetResult::kInconsistent,
         0,
         false},
        {"secondary count too small",
         {.name = longName, .countDelta = -1},
         none,
         ExfatSetResult::kInconsistent,
         0,
         false},
        {"secondary count below two",
         {.countDelta = -1},
         none,
         ExfatSetResult::kInconsistent,
         0,
         false},
        {"set runs past the folder", {.countDelta = 2}, none, ExfatSetResult::kShort, 0, false},
        {"stream in use under a deleted file",
         {.deleted = true},
         [](std::vector<u8>& b) { b[32] = 0xC0; },
         ExfatSetResult::kInconsistent,
         0,
         false},
        {"name entry missing",
         {},
         [](std::vector<u8>& b) { b[64] = 0xC2; },
         ExfatSetResult::kInconsistent,
         0,
         false},
        {"empty name", {.name = u"\0x"}, none, ExfatSetResult::kInconsistent, 0, false},
        {"volume label",
         {},
         [](std::vector<u8>& b) { b[0] = 0x83; },
         ExfatSetResult::kNotFile,
         0,
         false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        std::vector<u8> b = MakeSet(c.layout);
        c.damage(b);
        ExfatEntrySet set;
        ASSERT_EQ(DecodeExfatEntrySet(ByteView(b.data(), b.size()), &set), c.result);
        if (c.result != ExfatSetResult::kDecoded)
            continue;
        EXPECT_EQ(set.entries, c.entries);
        EXPECT_EQ(set.checksumOk, c.checksumOk);
        EXPECT_EQ(set.deleted, c.layout.deleted);
        std::u16string name = c.layout.name;
        std::string utf8;
        for (char16_t ch : name)
        {
            u8 out[4];
            const u32 n = EncodeUtf8(ch, out);
            utf8.append(reinterpret_cast<const char*>(out), n);
        }
        EXPECT_EQ(set.name, utf8);
        EXPECT_EQ(set.firstCluster, c.layout.first);
        EXPECT_EQ(set.validDataLength, c.layout.valid);
        EXPECT_EQ(set.NoFatChain(), (c.layout.flags & 2) != 0);
    }
}

TEST(ExfatEntrySet, TimesTakeTheirUtcOffsetToLocalTime)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case
    {
        ExfatTime time;
        FoundTime expected;
    };
    const Case cases[] = {
        {{0x5A8B6000, 0, 0}, {2025, 4, 11, 12, 0, 0}},           // no offset: local already
        {{0x5A8B6000, 150, 0}, {2025, 4, 11, 12, 0, 1}},         // 1.5 s of 10 ms steps
        {{0x5A8B6000, 0, 0x84}, {2025, 4, 11, 11, 0, 0}},        // kept at UTC+1
        {{0x5A8B6000, 0, 0x80 | 0x7C}, {2025, 4, 11, 13, 0, 0}}, // kept at UTC-1
        {{0x00210000, 0, 0x88}, {1979, 12, 31, 22, 0, 0}},       // 1980-01-01 at UTC+2
        {{0, 0, 0}, {1980, 1, 1, 0, 0, 0}},                      // month and day 0
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExfatTimeToFoundTime(c.time), c.expected) << std::hex << c.time.timestamp;
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(ExfatTable, ChainsEndAtTheEndMarkARepeatOrTheHeap)
{
    std::vector<u8> v = Volume();
    u8* fat = v.data() + 24 * 512;
    const u32 entries[][2] = {{2, 3}, {3, 5},          {5, 0xFFFFFFFF}, {6, 7},
                              {7, 6}, {8, 0xFFFFFFF7}, {9, 40},         {17, 18}};
    for (const auto& e : entries)
        StoreLe32(fat + e[0] * 4, e[1]);
    // The bitmap in cluster 10: clusters 2, 3 and 17 allocated.
    v[32 * 512 + 8 * 1024] = 0x03;
    v[32 * 512 + 8 * 1024 + 1] = 0x80;
    CMem_RW reader(v);
    ExfatBoot boot;
    bool fromBackup = false;
    ASSERT_EQ(ParseExfatBootRegion(ByteView(v.data(), v.size()), &boot, &fromBackup),
              ExfatBootResult::kValid);
    ExfatTable table;
    ASSERT_TRUE(table.Attach(&reader, boot));
    EXPECT_EQ(table.Chain(2, 100), (std::vector<u32>{2, 3, 5}));
    EXPECT_EQ(table.Chain(2, 2), (std::vector<u32>{2, 3}));
    EXPECT_EQ(table.Chain(6, 100), (std::vector<u32>{6, 7}));
    EXPECT_EQ(table.Chain(8, 100), (std::vector<u32>{8}));
    EXPECT_EQ(table.Chain(9, 100), (std::vector<u32>{9}));
    EXPECT_EQ(table.Chain(17, 100), (std::vector<u32>{17}));
    EXPECT_TRUE(table.Chain(18, 100).empty());
    EXPECT_EQ(table.GetEntry(18), ExfatTable::kUnreadable);

    bool inUse = false;
    EXPECT_NE(table.ClusterAllocated(2, &inUse), 0u); // no bitmap yet
    EXPECT_FALSE(table.SetBitmap(10, 1));             // too short for 16 clusters
    ASSERT_TRUE(table.SetBitmap(10, 2));
    for (u32 c : {2u, 3u, 17u})
    {
        ASSERT_EQ(table.ClusterAllocated(c, &inUse), 0u);
        EXPECT_TRUE(inUse) << c;
    }
    ASSERT_EQ(table.ClusterAllocated(4, &inUse), 0u);
    EXPECT_FALSE(inUse);
    EXPECT_NE(table.ClusterAllocated(18, &inUse), 0u);
}
} // namespace
