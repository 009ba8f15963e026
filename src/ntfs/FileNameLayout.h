// Offsets of the $FILE_NAME value.
#pragma once

#include "platform/Types.h"

namespace ntfs
{
inline constexpr u32 kFnParent = 0x00;     // u64 parent directory reference
inline constexpr u32 kFnCreated = 0x08;    // u64 creation time (FILETIME)
inline constexpr u32 kFnModified = 0x10;   // u64 last modification time
inline constexpr u32 kFnMftChanged = 0x18; // u64 last MFT record change time
inline constexpr u32 kFnAccessed = 0x20;   // u64 last access time
inline constexpr u32 kFnAllocSize = 0x28;  // u64 allocated length
inline constexpr u32 kFnRealSize = 0x30;   // u64 file size
inline constexpr u32 kFnFlags = 0x38;      // u32 file attributes
inline constexpr u32 kFnReparse = 0x3C;    // u32 reparse point tag or extended attribute size
inline constexpr u32 kFnNameLength = 0x40; // u8 name length in UTF-16 units
inline constexpr u32 kFnNameSpace = 0x41;  // u8 name space (flags)
inline constexpr u32 kFnName = 0x42;       // the name, UTF-16LE

inline constexpr u8 kNameSpacePosix = 0;
inline constexpr u8 kNameSpaceWin32 = 1;
inline constexpr u8 kNameSpaceDos = 2;
inline constexpr u8 kNameSpaceWin32AndDos = 3;
} // namespace ntfs
