// The exFAT deleted-entry scan: walks the root directory and every catalogued folder of an
// exFAT volume and hands deleted files and folders (and the live folders that hold them) to the
// catalogue.
#pragma once

#include "catalog/Catalog.h"
#include "platform/Types.h"

struct LiveEntries;

// Scans one exFAT volume entry: the root directory, then breadth-first every folder that the
// catalogue accepted, and assigns the clusters of the deleted finds (when the catalogue asks
// for the deep search, that waits for its finds: the live files met are kept in the volume's
// state for it). Returns 0 (done, also when stopped through g_bRunning) or 256 (the entry
// holds no opened exFAT volume).
[[nodiscard]] u32 ScanExfatVolume(CCatalog& catalog, VolumeEntry& volume);

// Scans one folder item: a live folder through its cluster chain (or its one stretch of
// clusters), a deleted folder cluster by cluster from its first cluster on while the clusters
// are free and hold entries, up to its end. Returns 0.
[[nodiscard]] u32 ScanExfatDirectory(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume);

// The clusters of a folder: one stretch when contiguous, else its chain in the FAT; at most
// the clusters that bytes need (the root directory, which keeps no length, passes 0 and gets
// its whole chain), never more than a folder may hold nor past the heap.
[[nodiscard]] std::vector<u32> ExfatFolderClusters(VolumeEntry& volume, u32 first, u64 bytes,
                                                   bool contiguous);

// Gives the deleted finds of the volume their most likely clusters (see ClusterAssignment.h),
// around live, the live files its walk met. Without a readable bitmap the finds keep none and
// are read as one stretch each. The bitmap read here goes on to the condition pass.
void AssignExfatFinds(VolumeEntry& volume, LiveEntries& live);
