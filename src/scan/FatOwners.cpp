// The owner table of a FAT volume: the FAT's own part, on a thread of its own while the walk
// runs, and the live chains after it.
#include "scan/FatOwners.h"

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

// The FAT's own part of the owner table of clusters 0 .. last: free, bad, or in use by a file
// not known yet. False when the FAT cannot be read for the most part, or the search stopped.
bool ClassifyFatClusters(FatTable& table, u32 last, OwnerTable* owner)
{
    // Filled entry by entry below, so that its memory is written once.
    try
    {
        owner->clear();
        owner->reserve(static_cast<std::size_t>(last) + 1);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    owner->push_back(kOwnerFree); // clusters 0 and 1 are no clusters
    owner->push_back(kOwnerFree);
    const u32 bad = table.FatBits() == 12   ? FatLayout::kFat12Bad
                    : table.FatBits() == 16 ? FatLayout::kFat16Bad
                                            : FatLayout::kFat32Bad;
    u32 unreadable = 0;
    // The entries come a block at a time (one call, a plain copy from a FAT in memory); the
    // run flag is polled per block. A block inside the table whose entries all read is
    // classified in one tight pass (a million entries on a 4 GiB card); the others entry by
    // entry, counting those that could not be read.
    std::array<u32, kEntryBlock> entries;
    std::array<u32, kEntryBlock> owners;
    for (u64 from = 2; from <= last; from += kEntryBlock)
    {
        if (!Running())
            return false;
        const u32 count = static_cast<u32>(std::min<u64>(kEntryBlock, last - from + 1));
        table.GetEntries(static_cast<u32>(from), count, entries.data());
        bool plain = from + count <= table.ClusterLimit();
        for (u32 i = 0; i < count; ++i)
        {
            const u32 entry = entries[i];
            plain &= entry != FatTable::kUnreadable;
            owners[i] = entry == 0 ? kOwnerFree : entry == bad ? kOwnerSystem : kOwnerUnknown;
        }
        if (!plain)
            for (u32 i = 0; i < count; ++i)
            {
                const u32 c = static_cast<u32>(from + i);
                // An entry that cannot be read counts as in use by an unknown file; a FAT that
                // cannot be read for the most part gives no allocation to work from.
                const bool inTable = c < table.ClusterLimit();
                const u32 entry = inTable ? entries[i] : FatTable::kUnreadable;
                if (inTable && entry == FatTable::kUnreadable && MostlyUnreadable(++unreadable, c))
                    return false;
                owners[i] = entry == 0 ? kOwnerFree : entry == bad ? kOwnerSystem : kOwnerUnknown;
            }
        owner->insert(owner->end(), owners.begin(), owners.begin() + count);
    }
    return true;
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

void FatOwnerPass::Start(const VolumeEntry& volume)
{
    FatTable* table = volume.fatTable.get();
    const u32 last = volume.clusterCount;
    if (table == nullptr || last < 2 || m_thread.joinable())
        return;
    try
    {
        // The allocation map for the condition pass follows on the same thread: it reads the
        // same FAT, and the walk leaves the time.
        m_thread = std::thread(
            [this, table, last]
            {
                m_classified = ClassifyFatClusters(*table, last, &m_owner);
                m_mapped = m_classified && LoadFatAllocation(*table, &m_map) == kOk;
            });
    }
    catch (const std::system_error&)
    {
        // No thread: the table is classified when it is asked for.
    }
}

bool FatOwnerPass::Take(OwnerTable* owner)
{
    if (!m_thread.joinable())
        return false;
    m_thread.join();
    if (!m_classified)
        return false;
    *owner = std::move(m_owner);
    m_classified = false;
    return true;
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

bool BuildFatOwners(VolumeEntry& volume, const LiveEntries& live, u32 rootCluster,
                    FatOwnerPass& pass, OwnerTable* owner)
{
    FatTable& table = *volume.fatTable;
    const u32 last = volume.clusterCount;
    // The table costs four bytes a cluster: only a FAT that can be read to its end (and so
    // takes about as many bytes itself) is worth it. A pass started ahead waits here either way.
    const u32 lastEntry = std::min(last, table.ClusterLimit() - 1);
    const bool taken = pass.Take(owner);
    if (last < 2 || table.ClusterLimit() < 3 || table.GetEntry(lastEntry) == FatTable::kUnreadable)
        return false;
    if (!taken && !ClassifyFatClusters(table, last, owner))
        return false;
    // Each chain marks only allocated clusters no other chain holds, so the walks together
    // visit each cluster at most once. End-of-chain and bad values lie above every cluster.
    auto walkChain = [&](u32 first, u32 id)
    {
        for (u32 c = first; c >= 2 && c <= last && (*owner)[c] == kOwnerUnknown;
             c = table.GetEntry(c))
            (*owner)[c] = id;
    };
    if (rootCluster != 0)
        walkChain(rootCluster, kOwnerSystem);
    for (std::size_t k = 0; k < live.entries.size() && k + 1 < kOwnerSystem; ++k)
        walkChain(live.entries[k].first, static_cast<u32>(k + 1));
    return true;
}
