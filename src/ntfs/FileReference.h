// File references (MFT_SEGMENT_REFERENCE): an MFT record number in the low 48 bits and the
// sequence number the record had when the reference was written in the top 16.
#pragma once

#include "platform/Types.h"

inline constexpr u64 kNtfsRecordMask = 0x0000FFFFFFFFFFFFull;

[[nodiscard]] constexpr u64 NtfsRefRecord(u64 reference)
{
    return reference & kNtfsRecordMask;
}

[[nodiscard]] constexpr u16 NtfsRefSequence(u64 reference)
{
    return static_cast<u16>(reference >> 48);
}

// True when a reference carrying sequence number referenced still names a record whose
// sequence number is now actual: the two are equal, or the record is no longer in use and was
// freed once since (freeing increments the sequence number, going from 0xFFFF to 1, never 0).
[[nodiscard]] constexpr bool NtfsSequenceMatches(u16 referenced, u16 actual, bool inUse)
{
    if (actual == referenced)
        return true;
    const u16 afterFree = referenced == 0xFFFF ? 1 : static_cast<u16>(referenced + 1);
    return !inUse && actual == afterFree;
}
