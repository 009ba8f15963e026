// The FAT folder walk on volumes made by mkfs.fat and mtools (fatscan.sh, fat.sh): the entries it
// hands out for the fixed root, live folders and their carried sectors, chains that loop; and
// the directory-block checks it relies on, on crafted bytes.
#include "fat/FatFolderWalk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "disk/Mem_RW.h"
#include "fat/FatBootSector.h"
#include "fat/FatDirBlock.h"
#include "fat/FatTable.h"
#include "platform/ByteOrder.h"
#include "platform/Format.h"
#include "support/TestImages.h"

namespace
{
// Every entry handed out, as "name|attr|deleted|size|first".
class RecordingEntries final : public FatEntrySink
{
public:
    void Entry(const FatEntryInfo& info, std::string name, u32 deleted) override
    {
        entries.push_back(Format("%s|%X|%u|%u|%u", name.c_str(), unsigned(info.attr), deleted,
                                 info.size, info.firstCluster));
    }
    void Unreadable(u64 byteOffset, u64 bytes) override
    {
        unreadable.push_back(Format("%llu+%llu", static_cast<unsigned long long>(byteOffset),
                                    static_cast<unsigned long long>(bytes)));
    }
    std::vector<std::string> entries;
    std::vector<std::string> unreadable;
};

// A FAT volume in memory with its boot sector and FAT, as a folder walk reads it.
struct WalkedVolume
{
    std::unique_ptr<CMem_RW> reader;
    FatBootSector boot;
    FatTable table;
    FatFolderSource source;
    u64 rootSector = 0;
    u32 rootEntriesOrCluster = 0;

    explicit WalkedVolume(std::vector<u8> image)
    {
        if (image.size() < 512 || !boot.Parse(image.data() + 11))
            return;
        const u32 bps = boot.GetBytesPerSector();
        reader = std::make_unique<CMem_RW>(std::move(image), bps);
        if (!table.Attach(reader.get(), boot) ||
            !boot.GetRootDir(&rootSector, &rootEntriesOrCluster))
            return;
        source = FatFolderSource{.reader = reader.get(),
                                 .boot = &boot,
                                 .table = &table,
                                 .bytesPerSector = bps,
                                 .sectorsPerCluster = boot.GetBpb()->sectorsPerCluster,
                                 .clusterCount = static_cast<u32>(boot.GetClusterLimit(true))};
    }

    // The entries of the fixed root.
    std::vector<std::string> Root()
    {
        FatFolderWalk walk(source, nullptr);
        RecordingEntries found;
        EXPECT_EQ(walk.WalkFixedRoot(rootSector, rootEntriesOrCluster, found), 0u);
        return found.entries;
    }

    // The entries of the live folder from cluster first.
    std::vector<std::string> Live(u32 first)
    {
        FatFolderWalk walk(source, nullptr);
        RecordingEntries found;
        EXPECT_EQ(walk.WalkLiveFolder(first, found), 0u);
        return found.entries;
    }
};

std::vector<u8> Image(const std::string& name)
{
    const std::string path = TestImage(name);
    EXPECT_FALSE(path.empty()) << name;
    return path.empty() ? std::vector<u8>{} : ReadWholeFile(path);
}

// The first cluster of the root's entry named name, from its "name|attr|deleted|size|first".
u32 FirstOf(const std::vector<std::string>& entries, const std::string& name)
{
    for (const std::string& e : entries)
        if (e.rfind(name + "|", 0) == 0)
            return static_cast<u32>(std::stoul(e.substr(e.rfind('|') + 1)));
    ADD_FAILURE() << name << " not handed out";
    return 0;
}

std::vector<u8> Entries(std::initializer_list<std::pair<const char*, u8>> entries)
{
    std::vector<u8> block;
    for (const auto& [name, attr] : entries)
    {
        u8 e[32] = {};
        std::memcpy(e, name, 11);
        e[11] = attr;
        StoreLe16(e + 26, 5);
        block.insert(block.end(), e, e + 32);
    }
    return block;
}
} // namespace

TEST(FatFolderWalkImageTest, RootLongNameAcrossChunksIsRead)
{
    WalkedVolume volume(Image("fatscanroot"));
    ASSERT_TRUE(volume.source.Usable());
    const std::vector<std::string> root = volume.Root();
    ASSERT_EQ(root.size(), 1u) << ::testing::PrintToString(root);
    EXPECT_EQ(root[0].substr(0, root[0].find('|')), "Root Straddling Name.txt");
    EXPECT_NE(root[0].find("|20|1|99|"), std::string::npos) << root[0];
}

TEST(FatFolderWalkImageTest, CarriedSectorExaminesEveryEntryOnce)
{
    // 4096-byte sectors: the carried sector holds 128 entries, among them the deleted W050.
    WalkedVolume volume(Image("fatscan4k"));
    ASSERT_TRUE(volume.source.Usable());
    const std::vector<std::string> root = volume.Root();
    EXPECT_EQ(root, (std::vector<std::string>{"WIDE|10|0|0|2"}));
    EXPECT_EQ(
        volume.Live(FirstOf(root, "WIDE")),
        (std::vector<std::string>{"_050.TXT|20|1|20|52", "Wide Straddling Name.txt|20|1|300|52"}));
}

TEST(FatFolderWalkImageTest, ChainCycleInLiveFolderEndsTheWalk)
{
    std::vector<u8> image = Image("fat16");
    WalkedVolume plain(image);
    ASSERT_TRUE(plain.source.Usable());
    const u32 first = FirstOf(plain.Root(), "MANY");
    const std::vector<std::string> entries = plain.Live(first);
    ASSERT_FALSE(entries.empty());
    // Point the last cluster of MANY's chain back to its first cluster.
    const u64 fat = u64{LoadLe16(&image[14])} * LoadLe16(&image[11]);
    u32 last = first;
    for (int steps = 0; LoadLe16(&image[fat + last * 2]) < 0xFFF8 && steps < 100; ++steps)
        last = LoadLe16(&image[fat + last * 2]);
    ASSERT_NE(last, first) << "MANY must span several clusters";
    StoreLe16(&image[fat + last * 2], static_cast<u16>(first));
    WalkedVolume looped(image);
    EXPECT_EQ(looped.Live(first), entries);
}

TEST(FatDirBlock, CheckDirBlockRules)
{
    std::vector<u8> good = Entries({{".          ", 0x10}, {"A       TXT", 0x20}});
    EXPECT_TRUE(CheckDirBlock(good.data(), static_cast<u32>(good.size()), 100));
    EXPECT_FALSE(CheckDirBlock(nullptr, 64, 100));
    EXPECT_FALSE(CheckDirBlock(good.data(), 31, 100));
    EXPECT_FALSE(CheckDirBlock(good.data(), static_cast<u32>(good.size()), 4)); // cluster 5 > 4

    std::vector<u8> endMark = Entries({{"A       TXT", 0x20}, {"B       TXT", 0x20}});
    endMark[32] = 0;
    endMark.resize(96, 0xFF); // junk after the end of the directory is not looked at
    EXPECT_TRUE(CheckDirBlock(endMark.data(), static_cast<u32>(endMark.size()), 100));
    std::vector<u8> emptyFirst = Entries({{"\0          ", 0x20}});
    EXPECT_FALSE(CheckDirBlock(emptyFirst.data(), 32, 100));
    for (u8 attr : {0x40, 0x80})
    {
        std::vector<u8> bad = Entries({{"A       TXT", 0x20}, {"B       TXT", attr}});
        EXPECT_FALSE(CheckDirBlock(bad.data(), static_cast<u32>(bad.size()), 100)) << int(attr);
    }
    std::vector<u8> longPart = Entries({{"A       TXT", 0x0F}});
    StoreLe16(&longPart[26], 0xFFFF); // a long-name part's cluster field is not checked
    EXPECT_TRUE(CheckDirBlock(longPart.data(), 32, 100));
}

// Clusters read on past a deleted folder's first one, on crafted bytes.
TEST(FatDirBlock, CheckDirContinuationRules)
{
    auto entry = [](const char* name, u8 attr)
    {
        std::vector<u8> e(32, 0);
        std::memcpy(e.data(), name, 11);
        e[11] = attr;
        StoreLe16(&e[22], 0x6000); // 12:00:00
        StoreLe16(&e[24], 0x5265); // 2021-03-05
        StoreLe16(&e[26], 5);
        return e;
    };
    auto longPart = [](u8 ord)
    {
        std::vector<u8> e(32, 0);
        e[0] = ord;
        e[11] = 0x0F;
        e[1] = 'a';
        return e;
    };
    auto block = [](std::initializer_list<std::vector<u8>> slots)
    {
        std::vector<u8> b;
        for (const std::vector<u8>& s : slots)
            b.insert(b.end(), s.begin(), s.end());
        return b;
    };
    const std::vector<u8> end(32, 0);
    std::vector<u8> deleted = entry("\xE5OO     TXT", 0x20);
    std::vector<u8> noDate = entry("A       TXT", 0x20);
    StoreLe16(&noDate[24], 0);
    StoreLe16(&noDate[22], 0);
    std::vector<u8> badMonth = entry("A       TXT", 0x20);
    StoreLe16(&badMonth[24], 0x53A5); // month 13
    std::vector<u8> typedPart = longPart(0x41);
    typedPart[12] = 1;
    std::vector<u8> clusterPart = longPart(0x41);
    clusterPart[26] = 1;
    std::vector<u8> junkAfterEnd(32, 0);
    junkAfterEnd[5] = 'x'; // a slot after the end that begins with 0 is allowed
    std::vector<u8> liveAfterEnd = entry("B       TXT", 0x20);
    struct Case
    {
        const char* what;
        std::vector<u8> bytes;
        bool folder;
    };
    const Case cases[] = {
        {"entries up to the end", block({longPart(0x42), longPart(0x01), deleted, end}), true},
        {"entries to the cluster end", block({entry("A       TXT", 0x20), deleted}), true},
        {"deleted long-name part", block({longPart(0xE5), deleted, end, junkAfterEnd}), true},
        {"no write date", block({noDate}), true},
        {"end mark first", block({end, deleted}), false},
        {"entry after the end", block({deleted, end, liveAfterEnd}), false},
        {"month 13", block({badMonth}), false},
        {"dot in a short name", block({entry("A.B     TXT", 0x20)}), false},
        {"control byte in a name", block({entry("A\x01      TXT", 0x20)}), false},
        {"attribute 0x80", block({entry("A       TXT", 0xA0)}), false},
        {"first cluster above the limit", block({entry("A       TXT", 0x20)}), false},
        {"long-name order 0", block({longPart(0x40)}), false},
        {"long-name order 21", block({longPart(0x15)}), false},
        {"long-name type", block({typedPart}), false},
        {"long-name cluster", block({clusterPart}), false},
        {"text", block({std::vector<u8>(32, 'a')}), false},
    };
    for (const Case& c : cases)
    {
        const u32 limit = std::string(c.what) == "first cluster above the limit" ? 4 : 100;
        EXPECT_EQ(CheckDirContinuation(c.bytes.data(), static_cast<u32>(c.bytes.size()), limit),
                  c.folder)
            << c.what;
    }
    EXPECT_FALSE(CheckDirContinuation(nullptr, 32, 100));
    EXPECT_FALSE(CheckDirContinuation(deleted.data(), 31, 100));
    EXPECT_TRUE(HasDirEnd(block({deleted, end}).data(), 64));
    EXPECT_FALSE(HasDirEnd(block({deleted, end}).data(), 32));
    EXPECT_FALSE(HasDirEnd(nullptr, 64));
}
