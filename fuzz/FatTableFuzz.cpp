// Fuzzes the FAT window over a small in-memory volume: boot sector, Attach, every entry and
// cluster state (bounded), and chain following as the directory walk does it; and the FAT kept
// in memory against the window, entry by entry.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "disk/Mem_RW.h"
#include "fat/FatBootSector.h"
#include "fat/FatTable.h"

namespace
{
constexpr u32 kMaxClusters = 4096; // bound on the clusters visited per pass

bool Allocated(ClusterState s)
{
    return s == ClusterState::kLinked || s == ClusterState::kChainHead ||
           s == ClusterState::kChainEnd;
}

void FollowChain(FatTable& table, u32 first)
{
    u32 cluster = first;
    ClusterState state = table.GetClusterState(cluster);
    for (u32 steps = 0; Allocated(state) && steps < kMaxClusters; ++steps)
    {
        if (state == ClusterState::kChainEnd)
            break;
        cluster = table.GetEntry(cluster);
        state = table.GetClusterState(cluster);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CMem_RW reader(data, size);
    u8 sector[512] = {};
    u32 done = 0;
    if (reader.ReadSectors(sector, 1, &done, 0) != 0)
        return 0;
    FatBootSector boot;
    if (!boot.Parse(sector + 11))
        return 0;
    FatTable table;
    if (!table.Attach(&reader, boot))
        return 0;

    const u32 limit = table.ClusterLimit();
    const u32 last = limit < kMaxClusters ? limit : kMaxClusters;
    const u32 mask = table.FatBits() == 12 ? 0xFFF : table.FatBits() == 16 ? 0xFFFF : 0x0FFFFFFF;
    for (u32 c = 0; c <= last + 1; ++c)
    {
        const u32 entry = table.GetEntry(c);
        if (entry > mask)
            std::abort();
        const ClusterState state = table.GetClusterState(c);
        if (static_cast<u32>(state) > 5 ||
            ((c < 2 || c >= limit) && state != ClusterState::kInvalid))
            std::abort();
    }
    // The end of the FAT, backwards, so that the window moves the other way as well.
    for (u32 c = limit; c >= 2 && static_cast<u64>(c) + 64 > limit; --c)
        (void)table.GetClusterState(c);
    (void)table.GetEntry(limit);
    (void)table.GetEntry(0xFFFFFFFFu);

    u64 rootSector = 0;
    u32 rootValue = 0;
    (void)boot.GetRootDir(&rootSector, &rootValue);
    FollowChain(table, 2);
    FollowChain(table, rootValue);
    FollowChain(table, last);

    // The FAT in memory answers exactly as the window does (the limit keeps a hostile FAT
    // length from taking the memory), both read in the volume's own sectors, as the engine
    // reopens its reader.
    CMem_RW sized(data, size, boot.GetBytesPerSector());
    FatTable windowed;
    FatTable kept;
    if (!windowed.Attach(&sized, boot) || !kept.Attach(&sized, boot) ||
        !kept.KeepInMemory(u64{64} << 20))
        return 0;
    for (u32 c = 0; c <= last + 1; ++c)
        if (kept.GetEntry(c) != windowed.GetEntry(c) ||
            kept.GetClusterState(c) != windowed.GetClusterState(c))
            std::abort();
    if (kept.GetEntry(limit) != windowed.GetEntry(limit))
        std::abort();
    u32 block[97];
    for (u32 from = 0; from <= last + 1; from += 97)
    {
        kept.GetEntries(from, 97, block);
        for (u32 i = 0; i < 97 && from + i <= last + 1; ++i)
            if (block[i] != windowed.GetEntry(from + i))
                std::abort();
    }
    FollowChain(kept, rootValue);
    return 0;
}
