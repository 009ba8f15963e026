// The FAT deleted-entry scan: walks the root directory and every catalogued folder of a FAT12,
// FAT16 or FAT32 volume and hands deleted files and folders (and the live folders that hold
// them) to the catalogue.
#pragma once

#include "catalog/Catalog.h"
#include "fat/FatDir.h"
#include "platform/Types.h"

// Scans one FAT volume entry: the root directory, then breadth-first every folder that the
// catalogue accepted. Returns 0 (done, also when stopped through g_bRunning), 8 (no memory)
// or 256 (boot sector not valid, or entry geometry unusable).
[[nodiscard]] u32 ScanFatVolume(CCatalog& catalog, VolumeEntry& volume);

// Scans one folder item: a live folder through its cluster chain, a deleted folder from its
// first cluster alone. Returns 0 (done) or 8 (no memory).
[[nodiscard]] u32 ScanFatDirectory(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume);

// True when the first valid bytes of block look like a directory: a first entry in use, no
// attribute with bits 0xC0, no first cluster above limit up to the end-of-directory entry.
[[nodiscard]] bool CheckDirBlock(const u8* block, u32 valid, u32 limit);

// Finds the next entry worth reporting from entryNumber on: a deleted file with the archive
// bit, or a folder other than "." and "..". On a find, entryNumber points past it and deleted
// tells whether the entry is marked deleted. When the block is exhausted it returns false
// and sets entryNumber to carriedEntries if the block's last entry is marked deleted or is a
// long-name part (the next block, which starts with this block's last sector carried in
// front, is then scanned from its first entry after that sector), else to 0.
bool NextDirEntry(const FatDirBuffer& buffer, FatEntryInfo& info, u32& entryNumber, u32& deleted,
                  u32 carriedEntries);

// Decodes real entry n of the block (entries that are neither long-name parts nor all zero,
// counted from 0). Returns 0 when found, 5 when there is no such entry.
[[nodiscard]] u32 GetEntryByIndex(const FatDirBuffer& buffer, FatEntryInfo& info, u32 n);
