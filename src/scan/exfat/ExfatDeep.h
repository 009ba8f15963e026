// The exFAT deep search: entry sets found anywhere in the heap, the old folder tree rebuilt
// from them, and their finds added to the catalogue.
#pragma once

#include "catalog/Catalog.h"
#include "platform/Types.h"

// Reads the heap of volume (an opened exFAT entry, searched already) once, adds the entry sets
// the normal search did not meet as deep, deleted finds under the folders they name (or lost
// folders, "<volume>\Folder_<n>_"), then assigns the clusters of all the deleted finds. A find
// with a FAT chain that needs more than one cluster lost its chain: it is marked inferred.
// Returns 0, or 256 when volume holds no opened exFAT volume.
[[nodiscard]] u32 DeepSearchExfatVolume(CCatalog& catalog, VolumeEntry& volume);
