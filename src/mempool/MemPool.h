// The program's block allocator: zero-filled blocks carved from large heap chunks.
#pragma once

#include <map>
#include <mutex>
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
    mutable std::mutex m_mutex;
    // True when b starts where a ends inside one chunk. Two chunks the heap happened to
    // place back to back stay apart, so that no block ever spans two heap allocations.
    [[nodiscard]] bool Joinable(const Block& a, const Block& b) const;

    std::vector<u8*> m_chunks;
    std::vector<u8*> m_chunkStarts; // the same chunks sorted by address
    // Puts a block back on the free list and merges it with touching neighbours; false when
    // the list could not grow (the block then stays out of both lists).
    bool ReleaseLocked(const Block& block);

    std::vector<Block> m_free;
    // Handed-out blocks by start address. A tree rather than a sorted array: a scan holds
    // hundreds of thousands of blocks, and shifting an array on every call dominated its time.
    std::map<u8*, s32> m_used;
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
