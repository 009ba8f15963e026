// The FAT deleted-entry scan: walks the root directory and every catalogued folder of a FAT12,
// FAT16 or FAT32 volume and hands deleted files and folders (and the live folders that hold
// them) to the catalogue.
#pragma once

#include <functional>

#include "catalog/Catalog.h"
#include "fat/FatDir.h"
#include "fat/FatDirBlock.h"
#include "fat/FatFolderWalk.h"
#include "platform/Types.h"

// Scans one FAT volume entry: the root directory, then breadth-first every folder that the
// catalogue accepted. Returns 0 (done, also when stopped through g_bRunning), 8 (no memory)
// or 256 (boot sector not valid, or entry geometry unusable).
[[nodiscard]] u32 ScanFatVolume(CCatalog& catalog, VolumeEntry& volume);

// Scans one folder item: a live folder through its cluster chain, a deleted folder from its
// first cluster alone. Returns 0 (done) or 8 (no memory).
[[nodiscard]] u32 ScanFatDirectory(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume);

// Whether a folder entry of a folder the deep search found is passed over, by its first cluster.
using FatFolderFilter = std::function<bool(u32 firstCluster)>;

// Walks dir, a folder the deep search found (its first cluster found by its "." and ".."
// entries), as a deleted folder through walker: every entry but "." and ".." is catalogued as
// a deep find, deleted and inferred; folder entries that skipFolder names are passed over.
// *overwritten is set when dir's first cluster is in use. Returns 0 (done) or 8 (no memory).
[[nodiscard]] u32 ScanFatDeepFolder(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume,
                                    FatFolderWalk& walker, const FatFolderFilter& skipFolder,
                                    bool* overwritten);

// Lays out the clusters of every deleted find of volume again, as the search did once its walk
// was done: the deep search calls it once it has added its finds, so that they are weighed with
// the others. Uses the live files the search kept for it (FatVolumeState::live), and lets them
// go; without them the finds keep what they were given.
void ReassignFatFinds(VolumeEntry& volume);
