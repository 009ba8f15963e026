// The program's block allocator: first fit over an address-sorted free list, blocks rounded
// to 4 bytes, chunks grown in granularity steps, neighbours merged on release.
#include "mempool/MemPool.h"

#include <algorithm>
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
    if (!ReserveOneMore(m_chunks) || !ReserveOneMore(m_chunkStarts) || !ReserveOneMore(m_free))
    {
        std::free(chunk);
        return;
    }
    m_chunks.push_back(chunk);
    m_chunkStarts.push_back(chunk);
    m_free.push_back(Block{chunk, size});
}

CMemPool::~CMemPool()
{
    m_free.clear();
    m_used.clear();
    for (auto it = m_chunks.rbegin(); it != m_chunks.rend(); ++it)
        std::free(*it);
    m_chunks.clear();
    m_chunkStarts.clear();
}

bool CMemPool::Joinable(const Block& a, const Block& b) const
{
    return a.start + a.length == b.start &&
           !std::binary_search(m_chunkStarts.begin(), m_chunkStarts.end(), b.start);
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
    if (!ReserveOneMore(m_free) || !ReserveOneMore(m_chunks) || !ReserveOneMore(m_chunkStarts))
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
        m_chunks.push_back(chunk);
        m_chunkStarts.insert(std::lower_bound(m_chunkStarts.begin(), m_chunkStarts.end(), chunk),
                             chunk);
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

    try
    {
        m_used.emplace(result, reserved);
    }
    catch (const std::bad_alloc&)
    {
        ReleaseLocked(Block{result, reserved});
        return nullptr;
    }
    std::memset(result, 0, static_cast<std::size_t>(reserved));
    return result;
}

void CMemPool::Free(void** block)
{
    if (!block || !*block)
        return;
    std::lock_guard lock(m_mutex);
    auto used = m_used.find(static_cast<u8*>(*block));
    if (used == m_used.end())
        return;
    if (!ReleaseLocked(Block{used->first, used->second}))
        return;
    m_used.erase(used);
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
    blocks.reserve(m_used.size());
    for (const auto& [start, length] : m_used)
        blocks.push_back(Block{start, length});
    return blocks;
}

std::size_t CMemPool::ChunkCount() const
{
    std::lock_guard lock(m_mutex);
    return m_chunks.size();
}
