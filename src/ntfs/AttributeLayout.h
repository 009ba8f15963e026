// Offsets of an attribute record inside an MFT record: the common header, then the resident
// or the non-resident form; of an entry in the value of $ATTRIBUTE_LIST. Also the attribute type
// codes the engine reads.
#pragma once

#include "platform/Types.h"

namespace ntfs
{
inline constexpr u32 kAttrType = 0x00;        // u32 attribute type code
inline constexpr u32 kAttrLength = 0x04;      // u32 record length
inline constexpr u32 kAttrNonResident = 0x08; // u8 form code (0 resident, 1 non-resident)
inline constexpr u32 kAttrNameLength = 0x09;  // u8 name length in UTF-16 units
inline constexpr u32 kAttrNameOffset = 0x0A;  // u16 name offset
inline constexpr u32 kAttrFlags = 0x0C;       // u16 flags (compressed, encrypted, sparse)
inline constexpr u32 kAttrId = 0x0E;          // u16 attribute instance

// Resident form.
inline constexpr u32 kAttrValueLength = 0x10;    // u32 value length
inline constexpr u32 kAttrValueOffset = 0x14;    // u16 value offset
inline constexpr u32 kAttrIndexed = 0x16;        // u8 resident flags (indexed)
inline constexpr u32 kAttrPadding = 0x17;        // u8 reserved
inline constexpr u32 kAttrResidentHeader = 0x18; // size of the resident header

// Non-resident form.
inline constexpr u32 kAttrLowestVcn = 0x10;         // u64 lowest VCN
inline constexpr u32 kAttrHighestVcn = 0x18;        // u64 highest VCN
inline constexpr u32 kAttrRunsOffset = 0x20;        // u16 mapping pairs offset
inline constexpr u32 kAttrCompressionUnit = 0x22;   // u16 compression unit (log2 of clusters)
inline constexpr u32 kAttrReserved24 = 0x24;        // u32 reserved
inline constexpr u32 kAttrAllocatedSize = 0x28;     // u64 allocated length
inline constexpr u32 kAttrDataSize = 0x30;          // u64 file size
inline constexpr u32 kAttrInitializedSize = 0x38;   // u64 valid data length
inline constexpr u32 kAttrNonResidentHeader = 0x40; // size of the non-resident header

inline constexpr u32 kAttrAlignment = 8;    // attribute records start on 8-byte boundaries
inline constexpr u32 kAttrEnd = 0xFFFFFFFF; // type code of the end marker

// Attribute list entry (ATTRIBUTE_LIST_ENTRY), one per attribute record of a file.
inline constexpr u32 kListType = 0x00;       // u32 attribute type code
inline constexpr u32 kListLength = 0x04;     // u16 record length
inline constexpr u32 kListNameLength = 0x06; // u8 name length in UTF-16 units
inline constexpr u32 kListNameOffset = 0x07; // u8 name offset
inline constexpr u32 kListLowestVcn = 0x08;  // u64 lowest VCN of the attribute record
inline constexpr u32 kListSegment = 0x10;    // u64 segment reference of the record holding it
inline constexpr u32 kListId = 0x18;         // u16 attribute instance
inline constexpr u32 kListHeader = 0x1A;     // fixed part; the name usually follows

inline constexpr u32 kTypeStandardInformation = 0x10; // $STANDARD_INFORMATION
inline constexpr u32 kTypeAttributeList = 0x20;       // $ATTRIBUTE_LIST
inline constexpr u32 kTypeFileName = 0x30;            // $FILE_NAME
inline constexpr u32 kTypeData = 0x80;                // $DATA
} // namespace ntfs
