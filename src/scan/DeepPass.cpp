#include "scan/DeepPass.h"

#include <algorithm>
#include <future>
#include <memory>
#include <system_error>
#include <vector>

#include "catalog/Catalog.h"
#include "disk/DirectRW.h"
#include "disk/ReadPacer.h"
#include "platform/EventSink.h"
#include "platform/Format.h"
#include "platform/LargeBlock.h"
#include "scan/ReadFailures.h"

namespace
{
// One block's read: its bytes and the units that did not arrive.
struct BlockRead
{
    u64 offset = 0;
    std::size_t own = 0;
    std::size_t size = 0; // own and the lookahead read with it
    // Mapped once for the whole pass, never zeroed by hand: a fresh buffer of megabytes costs
    // its page faults and a memset, as much as reading a good part of the volume from the
    // page cache (on huge pages where the system has them: a fault per 2 MiB).
    LargeBlock bytes;
    std::vector<bool> unreadable; // per unit; empty when every unit arrived
    bool stopped = false;         // the stop came while the block was read again unit by unit
};

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

// Reads block->size bytes at block->offset; a failed read is done again unit by unit, and what
// still fails is left zero and flagged. A stop ends the reading again at once (on a failing
// disk each unit may take seconds): the block is then marked stopped.
void ReadBlock(CDirectRW* reader, u32 unit, BlockRead* block)
{
    u32 done = 0;
    if (reader->ReadBytes(block->bytes.Bytes(), static_cast<u32>(block->size), &done,
                          static_cast<s64>(block->offset)) == 0 &&
        done == block->size)
        return;
    const std::size_t units = (block->size + unit - 1) / unit;
    block->unreadable.assign(units, false);
    for (std::size_t i = 0; i < units; ++i)
    {
        if (!Running())
        {
            block->stopped = true;
            return;
        }
        const std::size_t at = i * unit;
        const u32 length = static_cast<u32>(std::min<std::size_t>(unit, block->size - at));
        u8* bytes = block->bytes.Bytes() + at;
        if (reader->ReadBytes(bytes, length, &done, static_cast<s64>(block->offset + at)) == 0 &&
            done == length)
            continue;
        std::fill(bytes, bytes + length, u8{0});
        block->unreadable[i] = true;
    }
}

// Names each stretch of units of block that did not arrive, once.
void ReportUnreadable(const CCatalog& catalog, const VolumeEntry& entry, u32 unit,
                      const BlockRead& block)
{
    const std::size_t ownUnits = (block.own + unit - 1) / unit;
    for (std::size_t i = 0; i < ownUnits && i < block.unreadable.size();)
    {
        if (!block.unreadable[i])
        {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < ownUnits && j < block.unreadable.size() && block.unreadable[j])
            ++j;
        const u64 from = block.offset + i * u64{unit};
        const u64 to = std::min<u64>(block.offset + j * u64{unit}, block.offset + block.own);
        ReportUnreadableFolder(catalog, entry.name, from, to - from);
        i = j;
    }
}

// The next block's read, started on a thread of its own when one can be had.
class BlockReader
{
public:
    BlockReader(CDirectRW* reader, const DeepRange& range)
        : m_reader(reader), m_range(range),
          m_own(std::max<u64>(range.unit, kDeepBlockBytes - kDeepBlockBytes % range.unit))
    {
    }

    // Starts reading the block at offset into block (sized here); false when no memory.
    bool Start(u64 offset, BlockRead* block)
    {
        block->offset = offset;
        block->own = static_cast<std::size_t>(std::min<u64>(m_own, m_range.end - offset));
        block->size = static_cast<std::size_t>(
            std::min<u64>(u64{block->own} + m_range.lookahead, m_range.end - offset));
        block->unreadable.clear();
        block->stopped = false;
        if (!block->bytes && !block->bytes.Allocate(std::min<u64>(m_own + m_range.lookahead,
                                                                  m_range.end - m_range.start)))
            return false;
        try
        {
            m_pending = std::async(std::launch::async,
                                   [this, block] { ReadBlock(m_reader, m_range.unit, block); });
        }
        catch (const std::system_error&)
        {
            ReadBlock(m_reader, m_range.unit, block); // no thread: read it here
        }
        return true;
    }
    void Wait()
    {
        if (m_pending.valid())
            m_pending.get();
    }

private:
    CDirectRW* m_reader;
    DeepRange m_range;
    u64 m_own; // bytes of a block: whole units
    std::future<void> m_pending;
};

void PostProgress(const CCatalog& catalog, u64 read, u64 total, std::size_t finds)
{
    const u32 permille = total != 0 ? static_cast<u32>(read * 1000 / total) : 1000;
    catalog.Post(WM_SCAN_NOTIFY, kScanDeepProgress,
                 Format("Deep search: %u%% read, %zu found", permille / 10, finds), permille);
}
} // namespace

bool RunDeepPass(const CCatalog& catalog, const VolumeEntry& entry, CDirectRW* reader,
                 const DeepRange& range, const DeepVisitor& visit, const DeepCount& found)
{
    if (reader == nullptr || range.unit == 0 || range.end <= range.start)
        return true;
    const std::size_t findsBefore = entry.items.size();
    const u64 total = range.end - range.start;
    CReadPacer pacer(catalog.m_maxReadRate);
    BlockReader blocks(reader, range);
    BlockRead buffers[2];
    if (!blocks.Start(range.start, &buffers[0]))
        return false;
    u32 shownPermille = ~0u;
    for (u32 current = 0;; current ^= 1)
    {
        blocks.Wait();
        BlockRead& block = buffers[current];
        if (block.stopped)
            return false;
        const u64 next = block.offset + block.own;
        if (next < range.end && Running() && !blocks.Start(next, &buffers[current ^ 1]))
            return false;
        if (!block.unreadable.empty())
            ReportUnreadable(catalog, entry, range.unit, block);
        visit(DeepBlock{block.offset, std::span<const u8>(block.bytes.Bytes(), block.size),
                        block.own, block.unreadable.empty() ? nullptr : &block.unreadable});
        if (entry.deepTap)
            entry.deepTap(block.offset, std::span<const u8>(block.bytes.Bytes(), block.own));
        const u32 permille = static_cast<u32>((next - range.start) * 1000 / total);
        if (permille / 10 != shownPermille / 10 || next >= range.end)
        {
            shownPermille = permille;
            PostProgress(catalog, next - range.start, total,
                         found ? found() : entry.items.size() - findsBefore);
        }
        if (next >= range.end)
            return true;
        if (!Running() || !pacer.Pace(block.own, Running))
        {
            blocks.Wait();
            return false;
        }
    }
}
