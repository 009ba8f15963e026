// The exFAT deep search's recognition of loose entry sets in a heap and the tree it rebuilds
// from them, on heaps built here: lost folders, chains over several clusters, sets that run
// over a cluster's end, and the hostile cases (folders that hold their own set, cycles, bad
// checksums, nesting without end).
#include "scan/exfat/ExfatDeepTree.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"

namespace
{
constexpr u32 kCluster = 512; // 16 slots
constexpr u32 kSlot = 32;
constexpr u32 kFirstHeld = 10; // the heap built starts at this cluster

// One set written into the heap: at cluster and slot, with an ASCII name of at most 15 units
// (three entries), pointing at first.
struct Put
{
    u32 cluster;
    u32 slot;
    std::string name;
    bool folder = false;
    u32 first = 0;
    u64 length = kCluster;
    bool noFatChain = true;
    bool deleted = false;
    bool badChecksum = false;
};

std::vector<u8> Heap(const std::vector<Put>& puts, u32 clusters)
{
    std::vector<u8> heap(std::size_t{clusters} * kCluster, 0);
    for (const Put& p : puts)
    {
        u8* b = &heap[(p.cluster - kFirstHeld) * kCluster + p.slot * kSlot];
        b[0] = 0x85;
        b[1] = 2;
        StoreLe16(&b[4], p.folder ? 0x10 : 0x20);
        StoreLe32(&b[8], 0x5A8B6000);
        b[32] = 0xC0;
        b[33] = p.noFatChain ? 0x03 : 0x01;
        b[35] = static_cast<u8>(p.name.size());
        StoreLe64(&b[32 + 8], p.length);
        StoreLe32(&b[32 + 0x14], p.first);
        StoreLe64(&b[32 + 0x18], p.length);
        b[64] = 0xC1;
        for (std::size_t u = 0; u < p.name.size(); ++u)
            StoreLe16(&b[64 + 2 + u * 2], static_cast<u8>(p.name[u]));
        StoreLe16(&b[2], ExfatSetChecksum(ByteView(b, 3 * kSlot), 3, false));
        if (p.badChecksum)
            b[3] ^= 1;
        if (p.deleted)
            for (u32 i = 0; i < 3; ++i)
                b[i * kSlot] &= 0x7F;
    }
    return heap;
}

// The places of the sets in the heap, as "path|name", in the order given.
std::vector<std::string> Placed(const std::vector<Put>& puts, u32 clusters,
                                const std::set<u32>& known = {})
{
    const std::vector<u8> heap = Heap(puts, clusters);
    ExfatLooseSets found;
    for (u32 c = 0; c < clusters; ++c)
        FindExfatLooseSets(ByteView(heap.data() + c * kCluster, heap.size() - c * kCluster),
                           kCluster, kFirstHeld + c, &found);
    std::vector<std::string> out;
    for (const ExfatDeepPlace& place :
         PlaceExfatLooseSets(found, kCluster, "C:", [&known](u32 c) { return known.contains(c); }))
        out.push_back(place.path + "|" + place.name);
    return out;
}
} // namespace

TEST(ExfatDeepTree, RebuildsTheTreeFromLooseSets)
{
    struct Case
    {
        const char* what;
        std::vector<Put> puts;
        u32 clusters;
        std::set<u32> known;
        std::vector<std::string> placed;
    };
    const Case cases[] = {
        {"a folder whose own set is lost holds a folder and a file",
         {{10, 0, "A", true, 11}, {10, 3, "x"}, {11, 0, "y"}},
         2,
         {},
         {"C:\\Folder_1_|A", "C:\\Folder_1_|x", "C:\\Folder_1_\\A|y"}},
        {"a chained folder goes on while its clusters hold sets; a set runs over a cluster's end",
         {{10, 0, "A", true, 11, 3 * kCluster, false},
          {11, 0, "y"},
          {11, 14, "s"},
          {12, 1, "z"},
          {13, 0, "w"}},
         4,
         {},
         {"C:\\Folder_1_|A", "C:\\Folder_2_|w", "C:\\Folder_1_\\A|y", "C:\\Folder_1_\\A|s",
          "C:\\Folder_1_\\A|z"}},
        {"a folder that holds its own set",
         {{10, 0, "S", true, 10}, {10, 3, "f"}},
         1,
         {},
         {"C:\\Folder_1_|S", "C:\\Folder_1_\\S|f"}},
        {"two folders that hold each other",
         {{10, 0, "A", true, 11}, {11, 0, "B", true, 10}, {11, 3, "z"}},
         2,
         {},
         {"C:\\Folder_1_|B", "C:\\Folder_1_\\B|A", "C:\\Folder_1_\\B\\A|z"}},
        {"a set whose checksum fails is no set",
         {{10, 0, "bad", false, 0, kCluster, true, false, true}, {10, 3, "ok"}},
         1,
         {},
         {"C:\\Folder_1_|ok"}},
        {"what the normal search read is left out",
         {{10, 0, "A", true, 11, 2 * kCluster}, {10, 3, "x"}, {11, 0, "y"}, {12, 0, "n"}},
         3,
         {11},
         {"C:\\Folder_1_|A", "C:\\Folder_1_|x"}},
        {"one folder found twice: the live set holds the children, the deleted one is left out",
         {{10, 0, "old", true, 11, kCluster, true, true}, {10, 3, "new", true, 11}, {11, 0, "y"}},
         2,
         {},
         {"C:\\Folder_1_|new", "C:\\Folder_1_\\new|y"}},
        {"names met twice in one folder are told apart",
         {{10, 0, "a.txt"}, {10, 3, "a.txt", false, 0, kCluster, true, true}, {10, 6, "b/c"}},
         1,
         {},
         {"C:\\Folder_1_|a.txt", "C:\\Folder_1_|a_1_.txt", "C:\\Folder_1_|b_c"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Placed(c.puts, c.clusters, c.known), c.placed);
    }
}

// Folders nested deeper than the tree is built start lost folders of their own: every set is
// placed once, and no path grows without end.
TEST(ExfatDeepTree, NestingWithoutEndIsCut)
{
    constexpr u32 kDepth = kMaxDeepLevels + 40;
    std::vector<Put> puts;
    for (u32 i = 0; i < kDepth; ++i)
        puts.push_back(Put{kFirstHeld + i, 0, "d" + std::to_string(i), true, kFirstHeld + i + 1});
    const std::vector<std::string> placed = Placed(puts, kDepth);
    ASSERT_EQ(placed.size(), kDepth);
    std::set<std::string> names;
    for (const std::string& p : placed)
    {
        names.insert(p.substr(p.find('|') + 1));
        EXPECT_LE(std::count(p.begin(), p.end(), '\\'), static_cast<long>(kMaxDeepLevels) + 1);
    }
    EXPECT_EQ(names.size(), kDepth);
    EXPECT_EQ(placed.back().rfind("C:\\Folder_2_\\", 0), 0u) << placed.back();
}
