// The owner table of a FAT volume: the FAT's own part, on a thread of its own while the walk
// runs, and the live chains after it.
#include "scan/fat/FatOwners.h"

#include <algorithm>
#include <array>
#include <new>
#include <system_error>

#include "fat/FatLayout.h"
#include "fat/FatTable.h"
#include "platform/Status.h"
#include "scan/FindLayout.h"

namespace
{
// FAT entries taken at a time by the pass over the whole FAT.
constexpr u32 kEntryBlock = 4096;

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

// Whether a FAT is unreadable for the most part: more than a block of its entries, and more
// than half of the first clusters entries up to. It then gives no allocation to work from.
bool MostlyUnreadable(u64 unreadable, u64 clusters)
{
    return unreadable > kEntryBlock && unreadable > clusters / 2;
}
} // namespace

u32 LoadFatAllocation(FatTable& table, AllocationMap* map)
{
    if (table.ClusterLimit() < 2)
        return kErrUnsupported;
    const u32 limit = table.ClusterLimit();
    if (!map->Reset(u64{limit} + 1))
        return kErrNoMemory;
    map->Set(0);
    map->Set(1);
    // The entries come a block at a time (one call, a plain copy from a FAT the search keeps
    // in memory); the run flag is polled per block. A FAT that cannot be read for the most part
    // (a failing device) gives no map, and stops being asked: each unreadable entry would be
    // read again through the window.
    std::array<u32, kEntryBlock> entries;
    u8* bits = map->Bytes();
    u64 unreadable = 0;
    for (u64 from = 2; from <= limit; from += kEntryBlock)
    {
        if (!Running())
            return kErrUnsupported;
        const u32 count = static_cast<u32>(std::min<u64>(kEntryBlock, limit - from + 1));
        table.GetEntries(static_cast<u32>(from), count, entries.data());
        for (u32 i = 0; i < count; ++i)
        {
            const u64 cluster = from + i;
            unreadable += entries[i] == FatTable::kUnreadable ? 1 : 0;
            if (entries[i] != 0)
                bits[cluster / 8] = static_cast<u8>(bits[cluster / 8] | (1u << (cluster % 8)));
        }
        if (MostlyUnreadable(unreadable, from + count))
        {
            (void)map->Reset(0);
            return kErrUnsupported;
        }
    }
    return kOk;
}

FatOwnerPass::~FatOwnerPass()
{
    if (m_thread.joinable())
        m_thread.join();
}

void FatOwnerPass::Start(const FatVolumeState& state)
{
    FatTable* table = state.table.get();
    if (table == nullptr || state.clusterCount < 2 || m_thread.joinable())
        return;
    try
    {
        m_thread =
            std::thread([this, table] { m_mapped = LoadFatAllocation(*table, &m_map) == kOk; });
    }
    catch (const std::system_error&)
    {
        // No thread: the map is worked out when it is asked for.
    }
}

bool FatOwnerPass::TakeAllocation(AllocationMap* map)
{
    if (m_thread.joinable())
        m_thread.join();
    if (!m_mapped)
        return false;
    *map = std::move(m_map);
    m_mapped = false;
    return true;
}

bool MarkFatOwners(const FatVolumeState& state, const LiveEntries& live, u32 rootCluster,
                   ClusterReach& reach)
{
    if (!state.table)
        return false;
    FatTable& table = *state.table;
    const u32 last = state.clusterCount;
    const AllocationMap* map = reach.Allocation();
    // Only a FAT that can be read to its end tells the owners.
    const u32 lastEntry = std::min(last, table.ClusterLimit() - 1);
    if (map == nullptr || last < 2 || table.ClusterLimit() < 3 ||
        table.GetEntry(lastEntry) == FatTable::kUnreadable)
        return false;
    const u32 bad = table.FatBits() == 12   ? FatLayout::kFat12Bad
                    : table.FatBits() == 16 ? FatLayout::kFat16Bad
                                            : FatLayout::kFat32Bad;
    for (const ClusterReach::Window& window : reach.Windows())
        for (u64 c = window.first; c <= window.last && c <= last; ++c)
            if (map->InUse(c) && table.GetEntry(static_cast<u32>(c)) == bad)
                (void)reach.Set(c, kOwnerSystem);
    // A chain stops where it meets a cluster another chain holds. Outside the reach nothing
    // tells a loop: all chains together take no more steps than clusters are in use.
    u64 steps = map->CountInUse(2, last - 1) + live.entries.size() + 1;
    auto walkChain = [&](u32 first, u32 id)
    {
        for (u32 c = first; c >= 2 && c <= last && steps > 0; c = table.GetEntry(c), --steps)
            if (!map->InUse(c) || reach.Set(c, id) == ClusterReach::Mark::kHeld)
                break;
    };
    if (rootCluster != 0)
        walkChain(rootCluster, kOwnerSystem);
    for (std::size_t k = 0; k < live.entries.size() && k + 1 < kOwnerSystem && Running(); ++k)
        walkChain(live.entries[k].first, static_cast<u32>(k + 1));
    return Running();
}
