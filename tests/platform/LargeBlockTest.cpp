// LargeBlock, HugePageAllocator and ScratchArena: sizes, alignment, zero-filled first use, release,
// reuse.
#include "platform/LargeBlock.h"
#include "platform/ScratchArena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory_resource>
#include <vector>

TEST(LargeBlockTest, SizesAreUsableAlignedAndZero)
{
    for (const u64 bytes : {u64{1}, u64{4096}, (u64{2} << 20) + 1, u64{5} << 20})
    {
        LargeBlock block;
        ASSERT_TRUE(block.Allocate(bytes)) << bytes;
        ASSERT_TRUE(block);
        EXPECT_EQ(block.Size(), bytes);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.Bytes()) % (u64{2} << 20), 0u);
        u8* p = block.Bytes();
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[bytes - 1], 0);
        p[bytes - 1] = 2;
        p[0] = 1;
        EXPECT_EQ(p[bytes - 1], bytes == 1 ? 1 : 2);
    }
}

TEST(LargeBlockTest, ZeroOrHugeSizeIsRefusedAndReleaseEmpties)
{
    LargeBlock block;
    EXPECT_FALSE(block.Allocate(0));
    EXPECT_FALSE(block.Allocate(~u64{0}));
    EXPECT_FALSE(block);
    ASSERT_TRUE(block.Allocate(100));
    // A second allocation releases the first; Release leaves the block empty.
    ASSERT_TRUE(block.Allocate(200));
    EXPECT_EQ(block.Size(), 200u);
    block.Release();
    EXPECT_FALSE(block);
    EXPECT_EQ(block.Bytes(), nullptr);
    EXPECT_EQ(block.Size(), 0u);
    block.Release();
}

TEST(LargeBlockTest, HugePageVectorKeepsItsValuesAcrossTheMappedSize)
{
    // Grown element by element from the heap past the size from which blocks are mapped, then
    // assigned and shrunk back: every value survives each move.
    std::vector<u32, HugePageAllocator<u32>> table;
    const u32 count = 3 * (1u << 20) / 4;
    for (u32 i = 0; i < count; ++i)
        table.push_back(i * 7);
    ASSERT_EQ(table.size(), count);
    for (u32 i = 0; i < count; i += 4099)
        ASSERT_EQ(table[i], i * 7);
    EXPECT_EQ(table.back(), (count - 1) * 7);
    table.assign(600000, 5);
    EXPECT_EQ(table[599999], 5u);
    table.resize(10);
    table.shrink_to_fit();
    EXPECT_EQ(table.size(), 10u);
    EXPECT_EQ(table[9], 5u);
}

TEST(LargeBlockTest, ScratchArenaServesListsBeyondItsFirstBlock)
{
    // Lists that grow past the first block, and one larger than a block on its own, keep their
    // values; small lists in between stay apart from them.
    ScratchArena arena;
    std::pmr::vector<u64> grown(arena.Resource());
    std::pmr::vector<u8> small(arena.Resource());
    for (u64 i = 0; i < (u64{3} << 20) / sizeof(u64); ++i)
    {
        grown.push_back(i * 3);
        if (i % 65536 == 0)
            small.push_back(static_cast<u8>(i >> 16));
    }
    std::pmr::vector<u32> large(std::size_t{5} << 20, 7, arena.Resource());
    for (u64 i = 0; i < grown.size(); i += 4093)
        ASSERT_EQ(grown[i], i * 3);
    for (std::size_t k = 0; k < small.size(); ++k)
        ASSERT_EQ(small[k], k);
    EXPECT_EQ(large.front(), 7u);
    EXPECT_EQ(large.back(), 7u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large.data()) % alignof(u32), 0u);
}

TEST(LargeBlockTest, ADroppedArenasBlocksServeTheNextArenaUntilReleased)
{
    ReleaseScratchSpares();
    ASSERT_EQ(ScratchSpareBytes(), 0u);
    void* first = nullptr;
    {
        ScratchArena arena;
        first = arena.Resource()->allocate(100, 8);
        void* byte = arena.Resource()->allocate(1, 1);
        void* aligned = arena.Resource()->allocate(64, 64);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % 64, 0u);
        EXPECT_GE(static_cast<u8*>(aligned), static_cast<u8*>(byte) + 1);
    }
    EXPECT_EQ(ScratchSpareBytes(), std::size_t{2} << 20);
    {
        // The spare is too small for a list of 5 MiB, which takes a block of its own.
        ScratchArena arena;
        EXPECT_EQ(arena.Resource()->allocate(100, 8), first);
        EXPECT_EQ(ScratchSpareBytes(), 0u);
        EXPECT_NE(arena.Resource()->allocate(std::size_t{5} << 20, 8), nullptr);
    }
    EXPECT_EQ(ScratchSpareBytes(), (std::size_t{2} << 20) + (std::size_t{6} << 20));
    {
        // Blocks beyond the spares' limit go back at once.
        ScratchArena arena;
        (void)arena.Resource()->allocate(kSpareBytes, 8);
    }
    EXPECT_LE(ScratchSpareBytes(), kSpareBytes);
    ReleaseScratchSpares();
    EXPECT_EQ(ScratchSpareBytes(), 0u);
}
