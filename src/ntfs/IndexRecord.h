// Index records ("INDX" blocks of a folder's $I30 index allocation) as found anywhere on a
// volume: their header and fixups, and every file-name entry they still hold, those in the
// slack past the entries in use included (a deleted name stays there until the block is
// rewritten). Works on a copy of the block; every read is bounded by the block.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/Types.h"

// One $FILE_NAME key of an index entry.
struct IndexNameEntry
{
    u64 fileReference = 0;   // the file's record number (low 48 bits) and sequence (high 16)
    u64 parentReference = 0; // the folder's record number and sequence, from the key
    std::string name;        // UTF-8
    u8 nameSpace = 0;        // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    u32 fileAttributes = 0;  // the key's attribute flags (0x10000000: a folder)
    u64 created = 0;         // FILETIMEs as the key holds them
    u64 modified = 0;
    u64 mftChanged = 0;
    u64 accessed = 0;
    u64 allocatedSize = 0;
    u64 realSize = 0;
    bool inSlack = false; // found past the entries in use: the name was removed from the folder
};

// What the header of an index record says.
struct IndexRecordInfo
{
    u64 vcn = 0;        // the block's number in its index allocation
    u32 blockBytes = 0; // the record's size as its header gives it (allocated entry space + its
                        // offset + 0x18)
                        // (that is, the index node header's allocated size, counted from the
                        // node header at 0x18, plus 0x18: 4096 for a 4 KiB record)
};

// Reads the index record at the start of bytes (size bytes, at least the record's own size):
// checks the "INDX" signature, applies the update sequence in place (see ApplyUpdateSequence),
// and appends to *entries every $FILE_NAME entry that decodes within the record: first those in
// use, in order, then those found in the slack between the entries' end and the allocated
// size, at each 8-byte step where a plausible entry starts (a name of 1..255 units that decodes,
// lengths that fit, a parent reference with a record number). Duplicates of an entry in use
// are left out. Returns kNtfsOk (*info filled; *entries may be unchanged), or kNtfsCorrupt
// (not an index record, or its header or fixups are broken: nothing appended).
//
// In detail: the record's size is a whole number of 512-byte strides, each named in the update
// sequence array, and no more than size; the array lies between the fixed header and the first
// entry; the bytes in use lie between the first entry and the record's end. On kNtfsCorrupt the
// bytes are left as they were. An entry in use too short for its header or running past the
// bytes in use ends the walk of the entries in use; one whose key holds no name (a key longer
// than the entry, a name length of 0 or past the key) is passed over. An entry in the slack must
// have no flags but the sub-node one, an entry length that is exactly its header and key rounded
// up to 8 bytes (plus 8 for a sub-node VCN), a name space of 0 to 3, a parent record number not
// 0, and a name without U+0000, '/' or an unpaired surrogate. A slack entry that repeats one in
// use or one found earlier in the slack (same file and parent references, name space and name)
// is left out. The header of a stale entry may have been overwritten in part (its file
// reference, for one), while its key is whole.
[[nodiscard]] u32 ReadIndexRecord(u8* bytes, std::size_t size, IndexRecordInfo* info,
                                  std::vector<IndexNameEntry>* entries);
