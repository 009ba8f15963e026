// Offsets of an MFT record (FILE record segment) header and its update sequence.
#pragma once

#include "platform/Types.h"

namespace ntfs
{
inline constexpr u32 kRecSignature = 0x00;    // 4 bytes "FILE" (multi-sector header magic)
inline constexpr u32 kRecUsaOffset = 0x04;    // u16 update sequence array offset
inline constexpr u32 kRecUsaCount = 0x06;     // u16 update sequence array count, USN included
inline constexpr u32 kRecLsn = 0x08;          // u64 $LogFile sequence number
inline constexpr u32 kRecSequence = 0x10;     // u16 sequence number
inline constexpr u32 kRecLinkCount = 0x12;    // u16 hard link count
inline constexpr u32 kRecAttrOffset = 0x14;   // u16 offset of the first attribute
inline constexpr u32 kRecFlags = 0x16;        // u16 flags
inline constexpr u32 kRecBytesInUse = 0x18;   // u32 bytes in use (real size of the record)
inline constexpr u32 kRecBytesAlloc = 0x1C;   // u32 bytes allocated (record size)
inline constexpr u32 kRecBaseRecord = 0x20;   // u64 base file record segment reference
inline constexpr u32 kRecNextAttrId = 0x28;   // u16 next attribute instance
inline constexpr u32 kRecReserved2A = 0x2A;   // u16 reserved (alignment)
inline constexpr u32 kRecRecordNumber = 0x2C; // u32 number of this record
inline constexpr u32 kRecHeaderBytes = 0x30;  // fixed header; the update sequence array follows

inline constexpr u32 kFileSignature = 0x454C4946; // "FILE" read as a little-endian u32
inline constexpr u16 kRecFlagInUse = 0x01;        // FILE_RECORD_SEGMENT_IN_USE
inline constexpr u16 kRecFlagDirectory = 0x02;    // FILE_NAME_INDEX_PRESENT

// Update sequence (multi-sector transfer protection): each stride of the record ends in the
// update sequence number on disk; the array keeps the two bytes that belong there.
inline constexpr u32 kUpdateStride = 0x200;
} // namespace ntfs
