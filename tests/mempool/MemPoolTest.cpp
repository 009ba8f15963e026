// CMemPool on private pools: what each request reserves, how the pool grows, how releases
// merge, that blocks come back zeroed, and that two threads can share the pool.
#include "mempool/MemPool.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace
{
using Block = CMemPool::Block;

bool Same(const Block& a, const Block& b)
{
    return a.start == b.start && a.length == b.length;
}

// Reserved length of the used record that starts at p, or -1.
s32 Reserved(const CMemPool& pool, const void* p)
{
    for (const Block& b : pool.UsedBlocks())
        if (b.start == p)
            return b.length;
    return -1;
}

// Both lists sorted, lengths multiples of 4, no overlap between any two blocks.
void ExpectConsistent(const CMemPool& pool)
{
    std::vector<Block> freeList = pool.FreeBlocks();
    std::vector<Block> used = pool.UsedBlocks();
    for (std::size_t i = 1; i < freeList.size(); ++i)
        EXPECT_LE(freeList[i - 1].start + freeList[i - 1].length, freeList[i].start);
    for (std::size_t i = 1; i < used.size(); ++i)
        EXPECT_LE(used[i - 1].start + used[i - 1].length, used[i].start);
    std::vector<Block> all = freeList;
    all.insert(all.end(), used.begin(), used.end());
    std::sort(all.begin(), all.end(),
              [](const Block& a, const Block& b) { return a.start < b.start; });
    for (std::size_t i = 0; i < all.size(); ++i)
    {
        EXPECT_GT(all[i].length, 0);
        EXPECT_EQ(all[i].length % 4, 0);
        if (i > 0)
        {
            EXPECT_LE(all[i - 1].start + all[i - 1].length, all[i].start);
        }
    }
}

struct ReserveCase
{
    int request;
    s32 reserved;
};

void PrintTo(const ReserveCase& c, std::ostream* os)
{
    *os << "Alloc(" << c.request << ")";
}

class MemPoolReserveTest : public ::testing::TestWithParam<ReserveCase>
{
};

TEST_P(MemPoolReserveTest, RequestIsRoundedToFourBytes)
{
    CMemPool pool(16384, 4096);
    void* p = pool.Alloc(GetParam().request);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Reserved(pool, p), GetParam().reserved);
    ASSERT_EQ(pool.FreeBlocks().size(), 1u);
    EXPECT_EQ(pool.FreeBlocks()[0].length, 16384 - GetParam().reserved);
    ExpectConsistent(pool);
}

INSTANTIATE_TEST_SUITE_P(Sizes, MemPoolReserveTest,
                         ::testing::Values(ReserveCase{1, 4}, ReserveCase{3, 4}, ReserveCase{4, 4},
                                           ReserveCase{5, 8}, ReserveCase{1022, 1024},
                                           ReserveCase{1024, 1024}, ReserveCase{0, 4},
                                           ReserveCase{-7, 4}));

struct GrowCase
{
    const char* name;
    int request;
    s32 reserved;
    s32 freeTail; // 0: no free block left behind
};

void PrintTo(const GrowCase& c, std::ostream* os)
{
    *os << c.name;
}

class MemPoolGrowTest : public ::testing::TestWithParam<GrowCase>
{
};

TEST_P(MemPoolGrowTest, EmptyPoolGrowsByWholeGranules)
{
    const GrowCase& c = GetParam();
    CMemPool pool(0, 4096);
    ASSERT_EQ(pool.ChunkCount(), 0u);
    u8* p = static_cast<u8*>(pool.Alloc(c.request));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(pool.ChunkCount(), 1u);
    EXPECT_EQ(Reserved(pool, p), c.reserved);
    std::vector<Block> freeList = pool.FreeBlocks();
    if (c.freeTail == 0)
    {
        EXPECT_TRUE(freeList.empty());
    }
    else
    {
        ASSERT_EQ(freeList.size(), 1u);
        EXPECT_TRUE(Same(freeList[0], Block{p + c.reserved, c.freeTail}));
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, MemPoolGrowTest,
                         ::testing::Values(GrowCase{"FourByteTailIsReservedToo", 16380, 16384, 0},
                                           GrowCase{"EightByteTailStaysFree", 16376, 16376, 8},
                                           GrowCase{"ExactGranule", 4096, 4096, 0},
                                           GrowCase{"SmallRequestLeavesChunkRest", 100, 100, 3996}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(MemPoolTest, CarvingThatLeavesFourBytesKeepsThemFree)
{
    CMemPool pool(16384, 4096);
    u8* p = static_cast<u8*>(pool.Alloc(16380));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Reserved(pool, p), 16380);
    ASSERT_EQ(pool.FreeBlocks().size(), 1u);
    EXPECT_TRUE(Same(pool.FreeBlocks()[0], Block{p + 16380, 4}));
    // Taking the whole rest removes the free record.
    void* q = pool.Alloc(4);
    EXPECT_EQ(q, p + 16380);
    EXPECT_TRUE(pool.FreeBlocks().empty());
}

TEST(MemPoolTest, RequestLargerThanAnyFreeBlockGetsANewChunk)
{
    CMemPool pool(1024, 4096);
    u8* first = static_cast<u8*>(pool.FreeBlocks()[0].start);
    u8* p = static_cast<u8*>(pool.Alloc(2000));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(pool.ChunkCount(), 2u);
    EXPECT_EQ(Reserved(pool, p), 2000);
    std::vector<Block> freeList = pool.FreeBlocks();
    ASSERT_EQ(freeList.size(), 2u);
    // Both the untouched first chunk and the new chunk's end are free, in address order.
    bool firstLow = first < p;
    const Block& old = freeList[firstLow ? 0 : 1];
    const Block& tail = freeList[firstLow ? 1 : 0];
    EXPECT_TRUE(Same(old, Block{first, 1024}));
    EXPECT_TRUE(Same(tail, Block{p + 2000, 4096 - 2000}));
}

TEST(MemPoolTest, ReleasesInOrderFirstThirdSecondMergeIntoOneBlock)
{
    CMemPool pool(4096, 4096);
    u8* a = static_cast<u8*>(pool.Alloc(100));
    u8* b = static_cast<u8*>(pool.Alloc(200));
    u8* c = static_cast<u8*>(pool.Alloc(300));
    void* fence = pool.Alloc(16); // keeps the third block from touching the chunk's free rest
    ASSERT_EQ(b, a + 100);
    ASSERT_EQ(c, b + 200);

    pool.Free(&a);
    pool.Free(&c);
    EXPECT_EQ(pool.FreeBlocks().size(), 3u);
    u8* start = static_cast<u8*>(pool.FreeBlocks()[0].start);
    pool.Free(&b);
    std::vector<Block> freeList = pool.FreeBlocks();
    ASSERT_EQ(freeList.size(), 2u);
    EXPECT_TRUE(Same(freeList[0], Block{start, 600}));
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(c, nullptr);
    ExpectConsistent(pool);

    // Releasing the fence joins everything back into the one chunk.
    pool.Free(&fence);
    ASSERT_EQ(pool.FreeBlocks().size(), 1u);
    EXPECT_TRUE(Same(pool.FreeBlocks()[0], Block{start, 4096}));
}

TEST(MemPoolTest, FreeIgnoresNullInsideAndRepeatedAddresses)
{
    CMemPool pool(4096, 4096);
    void* none = nullptr;
    pool.Free(&none);
    EXPECT_EQ(none, nullptr);
    pool.Free(static_cast<void**>(nullptr));

    u8* p = static_cast<u8*>(pool.Alloc(64));
    void* inside = p + 4;
    pool.Free(&inside);
    EXPECT_EQ(inside, p + 4);
    EXPECT_EQ(pool.UsedBlocks().size(), 1u);

    void* copy = p;
    pool.Free(&p);
    EXPECT_EQ(p, nullptr);
    EXPECT_TRUE(pool.UsedBlocks().empty());
    pool.Free(&copy);
    EXPECT_NE(copy, nullptr);
    ASSERT_EQ(pool.FreeBlocks().size(), 1u);
    EXPECT_EQ(pool.FreeBlocks()[0].length, 4096);

    int outside = 0;
    void* foreign = &outside;
    pool.Free(&foreign);
    EXPECT_EQ(foreign, &outside);
}

TEST(MemPoolTest, ReusedBlocksComeBackZeroed)
{
    CMemPool pool(4096, 4096);
    u8* p = static_cast<u8*>(pool.Alloc(61));
    std::memset(p, 0xAB, 64); // the rounding bytes belong to the block too
    u8* old = p;
    pool.Free(&p);
    u8* q = static_cast<u8*>(pool.Alloc(61));
    ASSERT_EQ(q, old);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(q[i], 0) << i;
}

TEST(MemPoolTest, RefusedRequestLeavesThePoolUnchanged)
{
    CMemPool pool(4096, 4096);
    EXPECT_EQ(pool.Alloc(INT_MAX), nullptr);
    EXPECT_EQ(pool.Alloc(INT_MAX - 3), nullptr);
    EXPECT_EQ(pool.ChunkCount(), 1u);
    EXPECT_TRUE(pool.UsedBlocks().empty());
    ASSERT_EQ(pool.FreeBlocks().size(), 1u);
    EXPECT_EQ(pool.FreeBlocks()[0].length, 4096);
}

TEST(MemPoolTest, OddGranularityStillGivesAlignedBlocks)
{
    CMemPool pool(0, 1001);
    void* p = pool.Alloc(10);
    ASSERT_NE(p, nullptr);
    ExpectConsistent(pool);
}

TEST(MemPoolTest, TypedFreeClearsTheTypedPointer)
{
    CMemPool pool(4096, 4096);
    auto* words = static_cast<u32*>(pool.Alloc(16));
    pool.Free(&words);
    EXPECT_EQ(words, nullptr);
    EXPECT_TRUE(pool.UsedBlocks().empty());
}

TEST(MemPoolTest, TwoThreadsShareThePool)
{
    CMemPool pool(16384, 4096);
    auto work = [&pool](unsigned seed, bool* ok)
    {
        std::mt19937 rng(seed);
        std::vector<u8*> held;
        for (int i = 0; i < 20000; ++i)
        {
            if (held.size() < 40 && (held.empty() || rng() % 3 != 0))
            {
                int size = static_cast<int>(rng() % 3000) + 1;
                auto* p = static_cast<u8*>(pool.Alloc(size));
                if (!p)
                {
                    *ok = false;
                    return;
                }
                for (int k = 0; k < size; ++k)
                    if (p[k] != 0)
                        *ok = false;
                std::memset(p, static_cast<int>(seed), static_cast<std::size_t>(size));
                held.push_back(p);
            }
            else
            {
                std::size_t at = rng() % held.size();
                pool.Free(&held[at]);
                if (held[at] != nullptr)
                    *ok = false;
                held.erase(held.begin() + static_cast<std::ptrdiff_t>(at));
            }
        }
        for (u8*& p : held)
            pool.Free(&p);
    };
    bool ok1 = true;
    bool ok2 = true;
    std::thread t1(work, 1u, &ok1);
    std::thread t2(work, 2u, &ok2);
    t1.join();
    t2.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
    EXPECT_TRUE(pool.UsedBlocks().empty());
    ExpectConsistent(pool);
    // With everything released each chunk is one free block again, also where the heap
    // placed two chunks back to back.
    EXPECT_EQ(pool.FreeBlocks().size(), pool.ChunkCount());
}

TEST(MemPoolTest, PoolBlockGivesItsBlockBack)
{
    std::size_t before = g_MemPool.UsedBlocks().size();
    {
        PoolBlock block(100);
        ASSERT_TRUE(block);
        EXPECT_EQ(g_MemPool.UsedBlocks().size(), before + 1);
        EXPECT_EQ(block.Bytes()[99], 0);
    }
    EXPECT_EQ(g_MemPool.UsedBlocks().size(), before);
}
} // namespace

// Thousands of blocks released in random order: every block still held stays known (listed
// with its length, releasable once) while the others go, and a release inside a block is
// ignored.
TEST(MemPoolTest, ManyBlocksReleasedInRandomOrderStayKnownUntilFreed)
{
    CMemPool pool(0, 4096);
    std::vector<std::pair<void*, s32>> blocks(20000);
    for (std::size_t i = 0; i < blocks.size(); ++i)
    {
        blocks[i].second = static_cast<s32>(4 + (i % 7) * 4);
        blocks[i].first = pool.Alloc(blocks[i].second);
    }
    ASSERT_EQ(pool.UsedBlocks().size(), blocks.size());
    std::mt19937 random(7);
    std::shuffle(blocks.begin(), blocks.end(), random);
    const std::size_t kept = blocks.size() / 3;
    for (std::size_t i = kept; i < blocks.size(); ++i)
    {
        void* inside = static_cast<u8*>(blocks[i].first) + 1; // blocks start on 4-byte steps
        pool.Free(&inside);
        pool.Free(&blocks[i].first);
        ASSERT_EQ(blocks[i].first, nullptr);
    }
    blocks.resize(kept);
    std::sort(blocks.begin(), blocks.end());
    const std::vector<Block> used = pool.UsedBlocks();
    ASSERT_EQ(used.size(), kept);
    for (std::size_t i = 0; i < kept; ++i)
    {
        EXPECT_EQ(used[i].start, blocks[i].first);
        // A chunk's last block may take the few bytes after it that no block could use.
        EXPECT_GE(used[i].length, blocks[i].second);
        EXPECT_LT(used[i].length, blocks[i].second + 8);
    }
    for (auto& [block, size] : blocks)
    {
        pool.Free(&block);
        EXPECT_EQ(block, nullptr);
    }
    EXPECT_TRUE(pool.UsedBlocks().empty());
    ASSERT_EQ(pool.FreeBlocks().size(), pool.ChunkCount());
}
