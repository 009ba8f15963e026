// The run list (mapping pairs) of a non-resident attribute, decoded in 64 bits: each run carries
// its first virtual cluster, and runs without clusters on the volume are marked as holes.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/Types.h"

struct NtfsExtent
{
    u64 vcn = 0;       // first cluster of the run within the attribute
    u64 lcn = 0;       // first cluster of the run on the volume; 0 for a hole
    u64 length = 0;    // clusters
    bool hole = false; // no clusters on the volume: the run reads as zeros (sparse)
};

// The highest VCN when the caller does not know it.
inline constexpr u64 kNtfsVcnUnknown = ~0ull;

// Decodes the mapping pairs in bytes[0, size) into *out (emptied first), the runs numbered from
// VCN 0. Each pair is a header byte (length size in the low nibble, offset size in the high
// nibble), the run length (unsigned) and the offset from the previous run's first cluster
// (signed); a pair without offset is a hole. Returns kNtfsOk when a 0 header ends the list, or
// kNtfsCorrupt when the list runs past size, or a pair is impossible: a length or offset field
// of more than 8 bytes, a length of 0, a first cluster below 0, or clusters past the highest
// VCN or 2^63. On kNtfsCorrupt *out keeps the runs decoded before the fault.
[[nodiscard]] u32 DecodeRunList(const u8* bytes, std::size_t size, std::vector<NtfsExtent>* out);

// The same for the runs of an attribute that starts at firstVcn and ends at lastVcn
// (kNtfsVcnUnknown when not known).
[[nodiscard]] u32 DecodeRunList(const u8* bytes, std::size_t size, u64 firstVcn, u64 lastVcn,
                                std::vector<NtfsExtent>* out);
