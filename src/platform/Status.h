// Status codes shared by the engines: 0 is success, every other value a failure.
#pragma once

#include "platform/Types.h"

inline constexpr u32 kOk = 0;
inline constexpr u32 kErrNotOpen = 1;               // ReadBytes on a reader with no device
inline constexpr u32 kErrOpenFailed = 3;            // the device could not be opened
inline constexpr u32 kErrSeek = 4;                  // positioning on the device failed
inline constexpr u32 kErrTransfer = 5;              // a read or write failed; nothing found
inline constexpr u32 kErrRecordInUse = 6;           // MFT record in use
inline constexpr u32 kErrClose = 7;                 // device not closed; no usable file system
inline constexpr u32 kErrNoMemory = 8;              // out of memory
inline constexpr u32 kErrBadNtfs = 36;              // bad NTFS format
inline constexpr u32 kErrNoThread = 64;             // thread not created
inline constexpr u32 kErrBadFatBoot = 256;          // FAT boot sector not valid
inline constexpr u32 kErrDestination = 512;         // destination folder not prepared
inline constexpr u32 kErrUnsupported = 0xFFFFFFFFu; // not open, or not supported
