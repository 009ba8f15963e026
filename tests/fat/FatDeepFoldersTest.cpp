// The deep search's recogniser of folder clusters, over crafted clusters.
#include "fat/FatDeepFolders.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/ByteOrder.h"

namespace
{
constexpr u32 kClusterBytes = 512;
constexpr u32 kLimit = 1000;

// A short entry of a folder cluster at slot of cluster.
void PutEntry(std::vector<u8>& cluster, u32 slot, const char* name11, u8 attr, u32 first)
{
    u8* e = cluster.data() + slot * 32;
    std::memcpy(e, name11, 11);
    e[11] = attr;
    StoreLe16(e + 16, ((2021 - 1980) << 9) | (3 << 5) | 4);
    StoreLe16(e + 20, static_cast<u16>(first >> 16));
    StoreLe16(e + 24, ((2021 - 1980) << 9) | (3 << 5) | 4);
    StoreLe16(e + 26, static_cast<u16>(first));
}

// Cluster 40 of a folder whose parent is cluster 30, holding one file.
std::vector<u8> FolderCluster()
{
    std::vector<u8> c(kClusterBytes, 0);
    PutEntry(c, 0, ".          ", 0x10, 40);
    PutEntry(c, 1, "..         ", 0x10, 30);
    PutEntry(c, 2, "FILE    TXT", 0x20, 41);
    return c;
}

TEST(FatDeepFolders, TellsFolderClustersApart)
{
    struct Case
    {
        const char* what;
        void (*change)(std::vector<u8>&);
        u32 readAs;     // the cluster number the bytes are read as
        bool folder;    // recognised
        u32 parent = 0; // then its parent
    };
    const Case cases[] = {
        {"a folder's first cluster", [](std::vector<u8>&) {}, 40, true, 30},
        {"read as another cluster", [](std::vector<u8>&) {}, 41, false},
        {"a top-level folder", [](std::vector<u8>& c) { PutEntry(c, 1, "..         ", 0x10, 0); },
         40, true, 0},
        {"\"..\" names the folder itself",
         [](std::vector<u8>& c) { PutEntry(c, 1, "..         ", 0x10, 40); }, 40, true, 0},
        {"\"..\" past the volume",
         [](std::vector<u8>& c) { PutEntry(c, 1, "..         ", 0x10, kLimit + 1); }, 40, false},
        {"\".\" without the folder bit",
         [](std::vector<u8>& c) { PutEntry(c, 0, ".          ", 0x20, 40); }, 40, false},
        {"\".\" with a reserved attribute bit",
         [](std::vector<u8>& c) { PutEntry(c, 0, ".          ", 0x50, 40); }, 40, false},
        {"no \"..\"", [](std::vector<u8>& c) { PutEntry(c, 1, "X          ", 0x10, 30); }, 40,
         false},
        {"an entry that is none", [](std::vector<u8>& c) { c[2 * 32 + 1] = '*'; }, 40, false},
        {"a slot after the end mark in use", [](std::vector<u8>& c) { c[4 * 32] = 'X'; }, 40,
         false},
        {"cluster past the volume", [](std::vector<u8>&) {}, kLimit + 1, false},
    };
    for (const Case& c : cases)
    {
        std::vector<u8> bytes = FolderCluster();
        c.change(bytes);
        FatFolderHead head;
        EXPECT_EQ(ReadFolderHead(bytes, c.readAs, kLimit, &head), c.folder) << c.what;
        if (c.folder)
        {
            EXPECT_EQ(head.cluster, c.readAs) << c.what;
            EXPECT_EQ(head.parent, c.parent) << c.what;
        }
    }
}

// A block of the pass: the folder cluster among others, one of them unreadable, the last past
// the volume's end.
TEST(FatDeepFolders, VisitsWholeReadableClustersOfTheVolume)
{
    std::vector<u8> block(4 * kClusterBytes, 0);
    const std::vector<u8> folder = FolderCluster();
    std::memcpy(block.data() + kClusterBytes, folder.data(), kClusterBytes); // cluster 40
    std::vector<u8> other = folder;
    PutEntry(other, 0, ".          ", 0x10, 41);
    std::memcpy(block.data() + 2 * kClusterBytes, other.data(), kClusterBytes); // cluster 41
    PutEntry(other, 0, ".          ", 0x10, 42);
    std::memcpy(block.data() + 3 * kClusterBytes, other.data(), kClusterBytes); // cluster 42

    FatFolderHeads all(kClusterBytes, kLimit);
    all.Visit(block, 39, nullptr);
    ASSERT_EQ(all.Heads().size(), 3u);
    EXPECT_EQ(all.Heads()[0].cluster, 40u);

    const std::vector<bool> unreadable = {false, false, true, false};
    FatFolderHeads some(kClusterBytes, 41);
    some.Visit(block, 39, &unreadable);
    ASSERT_EQ(some.Heads().size(), 1u);
    EXPECT_EQ(some.Heads()[0].cluster, 40u);
}
} // namespace
