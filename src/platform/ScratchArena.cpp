// The blocks of scratch arenas, and the spares kept from dropped ones.
#include "platform/ScratchArena.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>

#include "platform/LargeBlock.h"

namespace
{
struct Spare
{
    u8* bytes;
    std::size_t size;
};

// Blocks of dropped arenas, mapped and touched; the first touch of their pages is paid.
struct Spares
{
    std::mutex lock;
    std::vector<Spare> blocks;
    std::size_t bytes = 0;
};

Spares& TheSpares()
{
    static Spares spares;
    return spares;
}

// The smallest spare block of at least size bytes, taken from the spares; {nullptr, 0} when
// there is none.
Spare TakeSpare(std::size_t size)
{
    Spares& spares = TheSpares();
    const std::lock_guard<std::mutex> hold(spares.lock);
    auto best = spares.blocks.end();
    for (auto it = spares.blocks.begin(); it != spares.blocks.end(); ++it)
        if (it->size >= size && (best == spares.blocks.end() || it->size < best->size))
            best = it;
    if (best == spares.blocks.end())
        return {nullptr, 0};
    const Spare spare = *best;
    spares.blocks.erase(best);
    spares.bytes -= spare.size;
    return spare;
}

// Keeps a dropped arena's block for the next arena, or unmaps it when the spares are full.
void GiveSpare(u8* bytes, std::size_t size)
{
    Spares& spares = TheSpares();
    {
        const std::lock_guard<std::mutex> hold(spares.lock);
        if (spares.bytes + size <= kSpareBytes)
        {
            try
            {
                spares.blocks.push_back(Spare{bytes, size});
                spares.bytes += size;
                return;
            }
            catch (const std::bad_alloc&)
            {
            }
        }
    }
    UnmapHugePages(bytes, size);
}
} // namespace

ScratchArena::~ScratchArena()
{
    for (const Block& block : m_blocks)
        GiveSpare(block.bytes, block.size);
}

void* ScratchArena::do_allocate(std::size_t bytes, std::size_t alignment)
{
    // Alignments are powers of two, up to the huge page that starts each block.
    if (alignment > kHugePageBytes || bytes > kMaxList)
        throw std::bad_alloc();
    std::size_t skip =
        m_next == nullptr
            ? 0
            : (alignment - reinterpret_cast<std::uintptr_t>(m_next) % alignment) % alignment;
    if (m_next == nullptr || skip > m_left || bytes > m_left - skip)
    {
        NewBlock(bytes);
        skip = 0;
    }
    u8* const p = m_next + skip;
    m_next = p + bytes;
    m_left -= skip + bytes;
    return p;
}

void ScratchArena::NewBlock(std::size_t bytes)
{
    const std::size_t wanted =
        std::max(m_blockSize, (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes);
    // Room in the list first, so that a block once taken is always kept.
    m_blocks.reserve(m_blocks.size() + 1);
    Spare block = TakeSpare(wanted);
    if (block.bytes == nullptr)
        block = Spare{MapHugePages(wanted), wanted};
    if (block.bytes == nullptr)
        throw std::bad_alloc();
    m_blocks.push_back(Block{block.bytes, block.size});
    m_next = block.bytes;
    m_left = block.size;
    m_blockSize = std::min(m_blockSize * 2, kLargestBlock);
}

void ReleaseScratchSpares()
{
    Spares& spares = TheSpares();
    std::vector<Spare> blocks;
    {
        const std::lock_guard<std::mutex> hold(spares.lock);
        blocks.swap(spares.blocks);
        spares.bytes = 0;
    }
    for (const Spare& spare : blocks)
        UnmapHugePages(spare.bytes, spare.size);
}

std::size_t ScratchSpareBytes()
{
    Spares& spares = TheSpares();
    const std::lock_guard<std::mutex> hold(spares.lock);
    return spares.bytes;
}
