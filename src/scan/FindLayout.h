// What the FAT and exFAT scans hand to the cluster assignment: the live files their folder
// walks met, and the step that assigns the clusters of a volume's deleted finds into the
// catalogue.
#pragma once

#include <functional>
#include <memory_resource>
#include <vector>

#include "catalog/Catalog.h"
#include "catalog/VolumeEngine.h"
#include "platform/ScratchArena.h"
#include "platform/Types.h"
#include "scan/ClusterAssignment.h"

// A live file or folder met by a folder walk.
struct LiveEntry
{
    u64 created = 0;         // creation time (TimeKey); 0 when missing
    u64 bytes = 0;           // exFAT: data length; FAT: unused (the chain tells)
    u32 first = 0;           // first cluster
    bool contiguous = false; // exFAT NoFatChain: bytes from first on, one run
};

// The live files of one volume's walk. They, and the working lists of the cluster assignment
// that follows the walk, take their memory from the walk's arena.
struct LiveEntries
{
    ScratchArena scratch;
    std::pmr::vector<LiveEntry> entries{scratch.Resource()};
};

// How many clusters a deleted item needs and whether they are known to be one run.
using FindClusters = std::function<void(const FoundItem& item, u64* clusters, bool* contiguous)>;

// Assigns the clusters of volume's deleted finds: owner gives each cluster's owner
// (kOwnerFree, kOwnerSystem, kOwnerUnknown, or k for live[k - 1]), indexed by cluster number.
// Writes the runs into volume.assignedRuns and runsAt, runCount, overwritten and inferred into
// the items.
void AssignFindClusters(VolumeEntry& volume, OwnerTable&& owner, LiveEntries& live,
                        const FindClusters& findClusters);

// True when volume holds a deleted item that needs clusters: only then is the assignment worth
// its memory.
[[nodiscard]] bool HasDeletedFinds(const VolumeEntry& volume);

// The extents of item's assigned clusters, at most wanted clusters of them, into *extents and
// their count into *clusters (fewer than wanted for a clipped item). False when the item was
// given none, its runs were made for another size, or the volume is read contiguously
// (recover --contiguous): the caller then reads one stretch from the first cluster.
[[nodiscard]] bool AssignedExtents(const VolumeEntry& volume, const FoundItem& item, u64 wanted,
                                   std::vector<StreamExtent>* extents, u64* clusters);
