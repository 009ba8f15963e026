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
#include "scan/ClusterVolume.h"

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

// Marks the owners of the clusters in use the finds reach (ClusterReach::Set): kOwnerSystem,
// or k for live[k - 1]. False when the volume's tables cannot be read.
using MarkOwners = std::function<bool(ClusterReach& reach)>;

// Assigns the clusters of volume's deleted finds over the volume's allocation (a bit per
// cluster), with the owners markOwners records over the clusters the finds reach. Writes the
// runs into the volume's cluster state (assignedRuns) and runsAt, runCount, overwritten and the
// layout flags into the items. Without memory for the reach, or when markOwners fails, or on a
// volume without a cluster state, the finds keep none.
void AssignFindClusters(VolumeEntry& volume, const AllocationMap& allocation, LiveEntries& live,
                        const FindClusters& findClusters, const MarkOwners& markOwners);

// Seconds since 1 January 1601 of a decoded time; kNoTime for a time that is not set.
[[nodiscard]] u64 TimeKey(const FoundTime& time);

// True when volume (a FAT or exFAT one) holds a deleted item that needs clusters: only then is
// the assignment worth its memory.
[[nodiscard]] bool HasDeletedFinds(const VolumeEntry& volume);

// The extents of item's assigned clusters (in state, volume's cluster state), at most wanted
// clusters of them, into *extents and their count into *clusters (fewer than wanted for a
// clipped item). False when the item was given none, its runs were made for another size, or
// the volume is read contiguously (recover --contiguous): the caller then reads one stretch
// from the first cluster.
[[nodiscard]] bool AssignedExtents(const VolumeEntry& volume, const ClusterVolumeState& state,
                                   const FoundItem& item, u64 wanted,
                                   std::vector<StreamExtent>* extents, u64* clusters);
