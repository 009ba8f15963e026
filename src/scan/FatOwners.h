// The owner of every cluster of a FAT volume, for the cluster assignment of its deleted finds:
// free, bad, the FAT32 root folder, a live file or folder, or unknown.
#pragma once

#include <thread>

#include "catalog/AllocationMap.h"
#include "catalog/Catalog.h"
#include "scan/ClusterAssignment.h"

struct LiveEntries;

// The FAT's own part of the owner table (free, bad or in use by a file not yet known, for every
// cluster), worked out on a thread of its own while the folder walk runs. A million entries
// take a tenth of a small search, and the walk leaves the second core idle. It runs only on a
// FAT wholly in memory (FatTable::LoadAllSegments), which both threads then only read.
class FatOwnerPass
{
public:
    FatOwnerPass() = default;
    ~FatOwnerPass();
    FatOwnerPass(const FatOwnerPass&) = delete;
    FatOwnerPass& operator=(const FatOwnerPass&) = delete;

    // Starts the pass over the FAT of volume, whose table must stay in memory until Take.
    // Without a thread the table is classified when BuildFatOwners asks for it.
    void Start(const VolumeEntry& volume);
    // Waits for the pass. True with its table in *owner when it classified the whole FAT; false
    // when it was not started, or found the FAT unreadable for the most part, or was stopped.
    bool Take(OwnerTable* owner);

    // Waits for the pass. True with the FAT's allocation map in *map when the pass worked it
    // out (after its owner table); false otherwise.
    bool TakeAllocation(AllocationMap* map);

private:
    std::thread m_thread;
    bool m_classified = false;
    bool m_mapped = false;
    OwnerTable m_owner;
    AllocationMap m_map;
};

// The clusters in use by the FAT's entries: an entry that is not zero (linked, an end of chain
// or bad) and one that cannot be read. Returns kOk; kErrUnsupported when the table holds no
// cluster or the search stopped, kErrNoMemory when memory is short.
[[nodiscard]] u32 LoadFatAllocation(FatTable& table, AllocationMap* map);

// The owner of every cluster of the volume: free, bad (never a file's), the FAT32 root folder
// (never a file's), or the live file or folder whose cluster chain holds it; an allocated
// cluster of no chain met is of unknown owner. The FAT's part comes from pass when it ran.
// False when the FAT cannot be read throughout.
[[nodiscard]] bool BuildFatOwners(VolumeEntry& volume, const LiveEntries& live, u32 rootCluster,
                                  FatOwnerPass& pass, OwnerTable* owner);
