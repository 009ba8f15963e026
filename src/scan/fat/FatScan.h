// The FAT deleted-entry scan: walks the root directory and every catalogued folder of a FAT12,
// FAT16 or FAT32 volume and hands deleted files and folders (and the live folders that hold
// them) to the catalogue.
#pragma once

#include "catalog/Catalog.h"
#include "fat/FatDir.h"
#include "fat/FatDirBlock.h"
#include "platform/Types.h"

// Scans one FAT volume entry: the root directory, then breadth-first every folder that the
// catalogue accepted. Returns 0 (done, also when stopped through g_bRunning), 8 (no memory)
// or 256 (boot sector not valid, or entry geometry unusable).
[[nodiscard]] u32 ScanFatVolume(CCatalog& catalog, VolumeEntry& volume);

// Scans one folder item: a live folder through its cluster chain, a deleted folder from its
// first cluster alone. Returns 0 (done) or 8 (no memory).
[[nodiscard]] u32 ScanFatDirectory(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume);
