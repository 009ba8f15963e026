// An MFT record found anywhere on a volume, away from any MFT that still names it (the MFT of an
// earlier format, a stray copy): what a deep search keeps of it once its bytes are gone.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/Types.h"

struct StrayRecord
{
    u64 number = 0;      // the record's own number, from its header (offset 0x2C)
    u16 sequence = 0;    // its sequence number
    u64 lsn = 0;         // $LogFile sequence number: the newest of several copies is kept
    u32 recordBytes = 0; // bytes of the record as its header allocates them
    bool inUse = false;  // its in-use flag
    bool folder = false; // it holds a folder index
    std::string name;    // UTF-8: the Win32 or POSIX name over the DOS one
    u64 parentReference = 0;
    s64 created = 0; // FILETIMEs of $STANDARD_INFORMATION (of the $FILE_NAME when it has none)
    s64 accessed = 0;
    u64 size = 0;            // bytes of the unnamed $DATA; 0 for a folder
    bool resident = false;   // the data lies in the record, at valueOffset
    u32 valueOffset = 0;     // resident: the value's offset within the record
    std::vector<u8> runList; // non-resident: the mapping pairs as stored
};

// Reads the MFT record at the start of bytes (size bytes, at least its own size): checks the
// "FILE" signature and a header that carries the record's number, applies the update sequence
// in place (see ApplyUpdateSequence) and takes the fields of *out from a bounded walk over its
// attributes. Returns kNtfsOk, or kNtfsCorrupt for anything that is not a base record of a named
// file or folder with its data described in the record: a broken header, a torn update sequence,
// an extension record, no $FILE_NAME, a file without an unnamed $DATA that starts its stream.
[[nodiscard]] u32 ParseStrayRecord(u8* bytes, std::size_t size, StrayRecord* out);

// The record size the header at bytes claims when it is one a volume may use besides its own
// (1024 or 4096 bytes); 0 otherwise. size bytes are readable at bytes.
[[nodiscard]] u32 StrayRecordBytes(const u8* bytes, std::size_t size);
