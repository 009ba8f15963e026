// The allocation of a FAT volume and the owners of the clusters its deleted finds reach, for
// their cluster assignment: bad, the FAT32 root folder, a live file or folder, or unknown.
#pragma once

#include <thread>

#include "catalog/AllocationMap.h"
#include "catalog/Catalog.h"
#include "scan/ClusterReach.h"
#include "scan/fat/FatVolumeState.h"

struct LiveEntries;

// The FAT's allocation map (a bit per cluster), worked out on a thread of its own while the
// folder walk runs: a million entries take a tenth of a small search, and the walk leaves the
// second core idle. It runs only on a FAT wholly in memory (FatTable::LoadAllSegments), which
// both threads then only read.
class FatOwnerPass
{
public:
    FatOwnerPass() = default;
    ~FatOwnerPass();
    FatOwnerPass(const FatOwnerPass&) = delete;
    FatOwnerPass& operator=(const FatOwnerPass&) = delete;

    // Starts the pass over the FAT of a volume's state, whose table must stay in memory until
    // TakeAllocation.
    void Start(const FatVolumeState& state);

    // Waits for the pass. True with the FAT's allocation map in *map when the pass worked it
    // out; false otherwise.
    bool TakeAllocation(AllocationMap* map);

private:
    std::thread m_thread;
    bool m_mapped = false;
    AllocationMap m_map;
};

// The clusters in use by the FAT's entries: an entry that is not zero (linked, an end of chain
// or bad) and one that cannot be read. Returns kOk; kErrUnsupported when the table holds no
// cluster or the search stopped, kErrNoMemory when memory is short.
[[nodiscard]] u32 LoadFatAllocation(FatTable& table, AllocationMap* map);

// The owners of the clusters in use that the deleted finds reach: bad (never a file's), the
// FAT32 root folder (never a file's), or the live file or folder whose cluster chain holds it;
// those of no chain met stay unknown. False when the FAT cannot be read to its end.
[[nodiscard]] bool MarkFatOwners(const FatVolumeState& state, const LiveEntries& live,
                                 u32 rootCluster, ClusterReach& reach);
