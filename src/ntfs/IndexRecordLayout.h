// Offsets of an index record ("INDX" block of an index allocation), its index node header and
// the index entries it holds.
#pragma once

#include "platform/Types.h"

namespace ntfs
{
// Index record header (multi-sector header, then the block's place in its allocation).
inline constexpr u32 kIxSignature = 0x00;   // 4 bytes "INDX"
inline constexpr u32 kIxUsaOffset = 0x04;   // u16 update sequence array offset
inline constexpr u32 kIxUsaCount = 0x06;    // u16 update sequence array count, USN included
inline constexpr u32 kIxLsn = 0x08;         // u64 $LogFile sequence number
inline constexpr u32 kIxVcn = 0x10;         // u64 this block's VCN in the index allocation
inline constexpr u32 kIxNode = 0x18;        // the index node header; its offsets count from here
inline constexpr u32 kIxHeaderBytes = 0x28; // fixed header; the update sequence array follows

// Index node header, relative to kIxNode.
inline constexpr u32 kInEntriesOffset = 0x00; // u32 offset of the first index entry
inline constexpr u32 kInIndexLength = 0x04;   // u32 bytes in use (entries included)
inline constexpr u32 kInAllocated = 0x08;     // u32 bytes allocated to the node
inline constexpr u32 kInFlags = 0x0C;         // u8 0x01: the node has children

// Index entry of a $FILE_NAME index ($I30).
inline constexpr u32 kIeFileReference = 0x00; // u64 the named file's reference
inline constexpr u32 kIeLength = 0x08;        // u16 length of the entry (8-byte multiple)
inline constexpr u32 kIeKeyLength = 0x0A;     // u16 length of the key ($FILE_NAME value)
inline constexpr u32 kIeFlags = 0x0C;         // u32 flags below
inline constexpr u32 kIeKey = 0x10;           // the key; a sub-node's VCN ends the entry
inline constexpr u32 kIeHeaderBytes = 0x10;

inline constexpr u32 kIeFlagSubNode = 0x01;   // INDEX_ENTRY_NODE: a u64 sub-node VCN at the end
inline constexpr u32 kIeFlagLastEntry = 0x02; // INDEX_ENTRY_END: no key, ends the node

inline constexpr u32 kIndxSignature = 0x58444E49; // "INDX" read as a little-endian u32
} // namespace ntfs
