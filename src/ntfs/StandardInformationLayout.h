// Offsets of the $STANDARD_INFORMATION value.
#pragma once

#include "platform/Types.h"

namespace ntfs
{
inline constexpr u32 kSiCreated = 0x00;        // u64 creation time (FILETIME)
inline constexpr u32 kSiModified = 0x08;       // u64 last modification time
inline constexpr u32 kSiMftChanged = 0x10;     // u64 last MFT record change time
inline constexpr u32 kSiAccessed = 0x18;       // u64 last access time
inline constexpr u32 kSiFileAttributes = 0x20; // u32 file attributes
inline constexpr u32 kSiMaxVersions = 0x24;    // u32 maximum versions
inline constexpr u32 kSiVersion = 0x28;        // u32 version number
inline constexpr u32 kSiClassId = 0x2C;        // u32 class id
inline constexpr u32 kSiOwnerId = 0x30;        // u32 owner id (NTFS 3.0 and later)
inline constexpr u32 kSiSecurityId = 0x34;     // u32 security id
inline constexpr u32 kSiQuota = 0x38;          // u64 quota charged
inline constexpr u32 kSiUsn = 0x40;            // u64 update sequence number ($UsnJrnl)
} // namespace ntfs
