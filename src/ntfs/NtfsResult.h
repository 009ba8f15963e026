// Results of the NTFS parsers. They keep apart what the caller does next: bytes that break the
// format are skipped, a device that fails to deliver them stops the work. CNtfs turns them into
// the engine's status codes (platform/Status.h).
#pragma once

#include "platform/Types.h"

inline constexpr u32 kNtfsOk = 0;
inline constexpr u32 kNtfsCorrupt = 1;  // the bytes break the format: skip what they describe
inline constexpr u32 kNtfsNotFound = 2; // well formed, but what was asked for is not there
inline constexpr u32 kNtfsIoError = 3;  // the device did not deliver the bytes: stop
