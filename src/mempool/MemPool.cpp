// The program's block allocator: first fit over an address-sorted free list, blocks rounded
// to 4 bytes, chunks grown in granularity steps, neighbours merged on release.
#include "mempool/MemPool.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

CMemPool g_MemPool(16384, 4096);

namespace
{
// Chunks are obtained with malloc so that a refusal is a null result, not an exception.
u8* TakeChunk(std::size_t bytes)
{
    return static_cast<u8*>(std::malloc(bytes));
}

// Makes room for one more element without throwing; false when the heap refuses.
template <typename T> bool ReserveOneMore(std::vector<T>& list)
{
    if (list.size() < list.capacity())
        return true;
    try
    {
        list.reserve(list.size() + list.size() / 2 + 16);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    return true;
}
} // namespace

// Adds chunk to the address-sorted maps with a clear bit per 4 bytes; false when the heap
// refuses the bits (the maps are then unchanged).
bool CMemPool::AddChunkMap(std::vector<ChunkMap>& maps, u8* chunk, s32 bytes)
{
    ChunkMap map;
    map.start = chunk;
    map.bytes = bytes;
    try
    {
        map.used.assign((static_cast<std::size_t>(bytes) / 4 + 63) / 64, 0);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    auto at = std::upper_bound(maps.begin(), maps.end(), chunk,
                               [](const u8* q, const ChunkMap& c) { return q < c.start; });
    maps.insert(at, std::move(map));
    return true;
}

CMemPool::CMemPool(int initialSize, unsigned granularity) : m_granularity(granularity)
{
    // Chunks are whole multiples of the granularity and blocks multiples of 4, so the
    // granularity itself is kept a nonzero multiple of 4 for every tail to stay aligned.
    if (m_granularity == 0)
        m_granularity = 4096;
    m_granularity = m_granularity > 0xFFFFFFFCu ? 0xFFFFFFFCu : (m_granularity + 3u) & ~3u;
    if (initialSize <= 0)
        return;
    s32 size = static_cast<s32>(static_cast<u32>(initialSize) & ~3u);
    if (size <= 0)
        return;
    u8* chunk = TakeChunk(static_cast<std::size_t>(size));
    if (!chunk)
        return;
    std::memset(chunk, 0, static_cast<std::size_t>(size));
    if (!ReserveOneMore(m_chunks) || !ReserveOneMore(m_chunkMaps) || !ReserveOneMore(m_free) ||
        !AddChunkMap(m_chunkMaps, chunk, size))
    {
        std::free(chunk);
        return;
    }
    m_chunks.push_back(chunk);
    m_free.push_back(Block{chunk, size});
}

CMemPool::~CMemPool()
{
    m_free.clear();
    m_chunkMaps.clear();
    for (auto it = m_chunks.rbegin(); it != m_chunks.rend(); ++it)
        std::free(*it);
    m_chunks.clear();
}

bool CMemPool::Joinable(const Block& a, const Block& b) const
{
    return a.start + a.length == b.start && ChunkOf(a.start) == ChunkOf(b.start);
}

const CMemPool::ChunkMap* CMemPool::ChunkOf(const u8* p) const
{
    auto after = std::upper_bound(m_chunkMaps.begin(), m_chunkMaps.end(), p,
                                  [](const u8* q, const ChunkMap& c) { return q < c.start; });
    if (after == m_chunkMaps.begin())
        return nullptr;
    const ChunkMap& chunk = *(after - 1);
    return p < chunk.start + chunk.bytes ? &chunk : nullptr;
}

bool CMemPool::IsUsedStart(const ChunkMap& chunk, const u8* p)
{
    const auto offset = static_cast<std::size_t>(p - chunk.start);
    if (offset % 4 != 0)
        return false;
    const std::size_t step = offset / 4;
    return (chunk.used[step / 64] >> (step % 64) & 1) != 0;
}

void CMemPool::MarkUsed(ChunkMap& chunk, const u8* p, bool used)
{
    const std::size_t step = static_cast<std::size_t>(p - chunk.start) / 4;
    const u64 bit = u64{1} << (step % 64);
    chunk.used[step / 64] = used ? chunk.used[step / 64] | bit : chunk.used[step / 64] & ~bit;
}

s32 CMemPool::UsedLength(const ChunkMap& chunk, const u8* p) const
{
    const std::size_t steps = static_cast<std::size_t>(chunk.bytes) / 4;
    std::size_t next = static_cast<std::size_t>(p - chunk.start) / 4 + 1;
    // The next handed-out block's start: the first set bit after p's.
    while (next < steps)
    {
        const u64 word = chunk.used[next / 64] >> (next % 64);
        if (word != 0)
        {
            next += static_cast<std::size_t>(std::countr_zero(word));
            break;
        }
        next = (next / 64 + 1) * 64;
    }
    // Chunks are whole multiples of 4 bytes, so the last step ends the chunk.
    const u8* end = chunk.start + std::min(next, steps) * 4;
    // The next free block's start, when it comes first.
    auto free = std::upper_bound(m_free.begin(), m_free.end(), p,
                                 [](const u8* q, const Block& b) { return q < b.start; });
    if (free != m_free.end() && free->start < end)
        end = free->start;
    return static_cast<s32>(end - p);
}

void* CMemPool::Alloc(int size)
{
    if (size <= 0)
        size = 1;
    // Round up to 4 in 64 bits so that requests near INT_MAX fail cleanly.
    s64 rounded64 = (static_cast<s64>(size) + 3) & ~static_cast<s64>(3);
    if (rounded64 > 0x7FFFFFFF)
        return nullptr;
    s32 rounded = static_cast<s32>(rounded64);

    std::lock_guard lock(m_mutex);
    // Room for one more record in every list first, so that the bookkeeping below cannot
    // fail half-way and a refused list growth is an ordinary null result.
    if (!ReserveOneMore(m_free) || !ReserveOneMore(m_chunks) || !ReserveOneMore(m_chunkMaps))
        return nullptr;
    u8* result = nullptr;
    s32 reserved = rounded;

    auto fit = std::find_if(m_free.begin(), m_free.end(),
                            [&](const Block& b) { return b.length >= rounded; });
    if (fit != m_free.end())
    {
        result = fit->start;
        fit->start += rounded;
        fit->length -= rounded;
        if (fit->length < 4)
        {
            reserved += fit->length;
            m_free.erase(fit);
        }
    }
    else
    {
        s64 g = m_granularity;
        s64 n64 = (rounded64 + g - 1) / g * g;
        if (n64 > 0x7FFFFFFF)
            return nullptr;
        s32 n = static_cast<s32>(n64);
        u8* chunk = TakeChunk(static_cast<std::size_t>(n));
        if (!chunk)
            return nullptr;
        if (!AddChunkMap(m_chunkMaps, chunk, n))
        {
            std::free(chunk);
            return nullptr;
        }
        m_chunks.push_back(chunk);
        result = chunk;
        if (n - rounded > 4)
        {
            Block tail{chunk + rounded, n - rounded};
            auto at = std::lower_bound(m_free.begin(), m_free.end(), tail.start,
                                       [](const Block& b, const u8* p) { return b.start < p; });
            m_free.insert(at, tail);
        }
        else
        {
            reserved = n;
        }
    }

    MarkUsed(*ChunkOf(result), result, true);
    std::memset(result, 0, static_cast<std::size_t>(reserved));
    return result;
}

void CMemPool::Free(void** block)
{
    if (!block || !*block)
        return;
    std::lock_guard lock(m_mutex);
    auto* start = static_cast<u8*>(*block);
    ChunkMap* chunk = ChunkOf(start);
    if (chunk == nullptr || !IsUsedStart(*chunk, start))
        return;
    if (!ReleaseLocked(Block{start, UsedLength(*chunk, start)}))
        return;
    MarkUsed(*chunk, start, false);
    *block = nullptr;
}

bool CMemPool::ReleaseLocked(const Block& freed)
{
    if (!ReserveOneMore(m_free))
        return false;
    auto at = std::lower_bound(m_free.begin(), m_free.end(), freed.start,
                               [](const Block& b, const u8* q) { return b.start < q; });
    at = m_free.insert(at, freed);
    std::size_t idx = static_cast<std::size_t>(at - m_free.begin());
    // Merge with the right neighbour, then let the left neighbour absorb the result.
    if (idx + 1 < m_free.size() && Joinable(m_free[idx], m_free[idx + 1]))
    {
        m_free[idx].length += m_free[idx + 1].length;
        m_free.erase(m_free.begin() + static_cast<std::ptrdiff_t>(idx) + 1);
    }
    if (idx > 0 && Joinable(m_free[idx - 1], m_free[idx]))
    {
        m_free[idx - 1].length += m_free[idx].length;
        m_free.erase(m_free.begin() + static_cast<std::ptrdiff_t>(idx));
    }
    return true;
}

std::vector<CMemPool::Block> CMemPool::FreeBlocks() const
{
    std::lock_guard lock(m_mutex);
    return m_free;
}

std::vector<CMemPool::Block> CMemPool::UsedBlocks() const
{
    std::lock_guard lock(m_mutex);
    std::vector<Block> blocks;
    for (const ChunkMap& chunk : m_chunkMaps)
        for (std::size_t w = 0; w < chunk.used.size(); ++w)
            for (u64 word = chunk.used[w]; word != 0; word &= word - 1)
            {
                u8* start =
                    chunk.start + (w * 64 + static_cast<std::size_t>(std::countr_zero(word))) * 4;
                blocks.push_back(Block{start, UsedLength(chunk, start)});
            }
    return blocks;
}

std::size_t CMemPool::ChunkCount() const
{
    std::lock_guard lock(m_mutex);
    return m_chunks.size();
}
