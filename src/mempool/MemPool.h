// The program's block allocator: zero-filled blocks carved from large heap chunks.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "platform/Types.h"

class CMemPool
{
public:
    CMemPool(int initialSize, unsigned granularity);
    virtual ~CMemPool();
    CMemPool(const CMemPool&) = delete;
    CMemPool& operator=(const CMemPool&) = delete;

    // A zero-filled block of at least size bytes, aligned to 4, or nullptr when the heap
    // refuses a chunk. Safe to call from several threads.
    [[nodiscard]] void* Alloc(int size);
    // Releases the block whose start *block holds and clears *block; ignores null and
    // addresses this pool did not hand out.
    void Free(void** block);

    template <typename T> void Free(T** block)
    {
        void* p = const_cast<void*>(static_cast<const void*>(*block));
        Free(&p);
        if (!p)
            *block = nullptr;
    }

    // One free or handed-out block: its start and the length reserved for it.
    struct Block
    {
        u8* start;
        s32 length;
    };
    // Copies of the address-sorted free and used lists and the number of heap chunks, for
    // tests that check the pool's bookkeeping.
    [[nodiscard]] std::vector<Block> FreeBlocks() const;
    [[nodiscard]] std::vector<Block> UsedBlocks() const;
    [[nodiscard]] std::size_t ChunkCount() const;

private:
    // On a cache line of its own (see g_bRunning): a search takes it for every find.
    alignas(64) mutable std::mutex m_mutex;
    // True when b starts where a ends inside one chunk. Two chunks the heap happened to
    // place back to back stay apart, so that no block ever spans two heap allocations.
    [[nodiscard]] bool Joinable(const Block& a, const Block& b) const;

    std::vector<u8*> m_chunks; // in the order taken, to give back in reverse

    // A chunk by address, with a bit per 4-byte step that is set where a handed-out block
    // starts. A block's length is not stored: it ends where the next block of its chunk starts,
    // handed out or free, or at the chunk's end, since the blocks of a chunk tile it. A search
    // holds a block per find, millions on a large disk: a bit per 4 bytes costs a 32nd of the
    // pool, where a tree node per block cost 64 bytes.
    struct ChunkMap
    {
        u8* start = nullptr;
        s32 bytes = 0;
        std::vector<u64> used;
    };
    std::vector<ChunkMap> m_chunkMaps; // sorted by address
    static bool AddChunkMap(std::vector<ChunkMap>& maps, u8* chunk, s32 bytes);
    // The chunk that holds p, or null.
    [[nodiscard]] const ChunkMap* ChunkOf(const u8* p) const;
    [[nodiscard]] ChunkMap* ChunkOf(const u8* p)
    {
        return const_cast<ChunkMap*>(std::as_const(*this).ChunkOf(p));
    }
    // True when a handed-out block starts at p.
    [[nodiscard]] static bool IsUsedStart(const ChunkMap& chunk, const u8* p);
    static void MarkUsed(ChunkMap& chunk, const u8* p, bool used);
    // The length of the handed-out block at p: up to the next block start of its chunk.
    [[nodiscard]] s32 UsedLength(const ChunkMap& chunk, const u8* p) const;

    // Puts a block back on the free list and merges it with touching neighbours; false when
    // the list could not grow (the block then stays out of both lists).
    bool ReleaseLocked(const Block& block);

    std::vector<Block> m_free;
    u32 m_granularity;
};

extern CMemPool g_MemPool;

// Gives a pool block back when it goes out of scope.
class PoolBlock
{
public:
    PoolBlock() = default;
    explicit PoolBlock(int size) : m_p(g_MemPool.Alloc(size)) {}
    ~PoolBlock() { g_MemPool.Free(&m_p); }
    PoolBlock(const PoolBlock&) = delete;
    PoolBlock& operator=(const PoolBlock&) = delete;

    [[nodiscard]] void* Get() const { return m_p; }
    [[nodiscard]] u8* Bytes() const { return static_cast<u8*>(m_p); }
    [[nodiscard]] explicit operator bool() const { return m_p != nullptr; }
    // Hands ownership to the caller.
    [[nodiscard]] void* Release()
    {
        void* p = m_p;
        m_p = nullptr;
        return p;
    }

private:
    void* m_p = nullptr;
};
