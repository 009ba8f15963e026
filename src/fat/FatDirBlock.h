// One block of FAT directory entries as the search walks it: the check that a cluster holds
// directory entries at all, the next entry worth reporting, and an entry by its index.
#pragma once

#include <string>

#include "fat/FatDir.h"
#include "platform/Types.h"

// The name with trailing blanks and line breaks removed.
[[nodiscard]] std::string TrimRight(const char* text);

// True for the "." and ".." entries of a folder.
[[nodiscard]] bool IsDotName(const std::string& trimmed);

// True when the first valid bytes of block look like a directory: a first entry in use, no
// attribute with bits 0xC0, no first cluster above limit up to the end-of-directory entry.
[[nodiscard]] bool CheckDirBlock(const u8* block, u32 valid, u32 limit);

// True when a whole cluster read on past a deleted folder's first cluster holds directory
// entries and nothing else: its first slot is not the end-of-directory mark (first byte 0),
// every slot in front of that mark is a plausible entry (a short entry, live or deleted, with a
// valid name, attribute, write time and date and a first cluster up to limit, or a long-name
// part, live or deleted, with its fixed fields right), and every slot after it begins with 0.
[[nodiscard]] bool CheckDirContinuation(const u8* block, u32 size, u32 limit);

// True when a slot of the first size bytes of block is the end-of-directory mark: the folder
// ends in this block.
[[nodiscard]] bool HasDirEnd(const u8* block, u32 size);

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
