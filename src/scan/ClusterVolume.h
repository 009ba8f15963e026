// What the FAT and exFAT engines keep alike of a volume (its geometry, the folders catalogued
// by their first cluster, the allocation the search works out and the clusters it assigns to
// the finds), and the rule by which both add a find to the catalogue.
#pragma once

#include <memory>
#include <vector>

#include "catalog/AllocationMap.h"
#include "catalog/VolumeEntry.h"
#include "platform/Types.h"
#include "records/FoundItem.h"

class ClusterVolumeState : public VolumeState
{
public:
    u32 sectorsPerCluster = 0;
    u32 bytesPerSector = 0;
    u32 clusterCount = 0;      // highest cluster number of the volume
    std::vector<u32> dirIndex; // first clusters of catalogued or excluded folders
    // The clusters in use, worked out by the search (beside the FAT folder walk, or for the
    // cluster assignment), until the condition pass takes them; null otherwise.
    std::unique_ptr<AllocationMap> allocation;
    // The clusters assigned to the deleted finds (FoundItem::runsAt, runCount).
    std::vector<ClusterRun> assignedRuns;
};

// The cluster state of a FAT or exFAT entry; null for any other.
[[nodiscard]] ClusterVolumeState* ClusterVolumeOf(VolumeEntry& entry);
[[nodiscard]] const ClusterVolumeState* ClusterVolumeOf(const VolumeEntry& entry);

// Appends item to entry.items unless its first cluster lies outside [2, clusterCount] (first 0
// is kept for a file of size 0) or it is a folder whose first cluster is already in dirIndex
// (then the catalogued folder may take the new name when the new entry is newer; a live folder
// that meets a deleted one of its cluster is appended, and a deleted one that meets a live one
// dropped). state is entry's cluster state; without one, entry takes every find.
void AddClusterFind(VolumeEntry& entry, ClusterVolumeState* state, FoundItem item);
