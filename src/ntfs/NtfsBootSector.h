// The NTFS boot sector: its parameter block as stored, and the volume geometry decoded from the
// signed encodings of the cluster, file record and index block sizes.
#pragma once

#include <cstddef>

#include "platform/Types.h"

// The boot sector's parameter block, each field as read (see ntfs/BootSectorLayout.h).
struct NtfsBootParams
{
    u16 bytesPerSector = 0;   // 0x0B
    u8 sectorsPerCluster = 0; // 0x0D, encoded (see NtfsSectorsPerCluster)
    u16 reservedSectors = 0;  // 0x0E
    u8 b10 = 0, b11 = 0, b12 = 0;
    u16 w13 = 0;
    u8 media = 0; // 0x15
    u16 w16 = 0;
    u16 sectorsPerTrack = 0; // 0x18
    u16 heads = 0;           // 0x1A
    u32 hiddenSectors = 0;   // 0x1C
    u32 d20 = 0, d24 = 0;
    u64 totalSectors = 0;      // 0x28
    u64 mftCluster = 0;        // 0x30
    u64 mftMirrCluster = 0;    // 0x38
    u32 clustersPerRecord = 0; // 0x40, the four bytes; the size is encoded in the first
    u32 clustersPerIndex = 0;  // 0x44, likewise
    u64 serial = 0;            // 0x48
    u32 checksum = 0;          // 0x50
};

// Sizes in bytes, decoded.
struct NtfsGeometry
{
    u32 bytesPerSector = 0;
    u32 sectorsPerCluster = 0;
    u64 clusterBytes = 0;
    u64 recordBytes = 0;     // one file record segment
    u64 indexBlockBytes = 0; // one index block; 0 when its encoding is not valid
};

// Copies the parameter block out of the first size bytes of a boot sector; fields that lie past
// size read as 0.
void DecodeNtfsBootSector(const u8* bytes, std::size_t size, NtfsBootParams* out);

// Sectors per cluster from the encoded byte: 1 to 0x80 as they stand (a power of two), 0xF4 to
// 0xFF as 2^(256 - value) (clusters of up to 4096 sectors). 0 for any other value.
[[nodiscard]] u32 NtfsSectorsPerCluster(u8 encoded);

// Bytes of a file record segment or index block from the signed byte that encodes it: a
// positive value counts clusters, a negative value -n gives 2^n bytes. 0 when the result is not
// a power of two of at least 256 bytes and at most 2^31.
[[nodiscard]] u64 NtfsStructureBytes(u8 encoded, u64 clusterBytes);

// The geometry of a parameter block. Returns kNtfsOk, or kNtfsCorrupt when the sector size is
// not a non-zero multiple of 512, or the cluster or file record size cannot be decoded.
[[nodiscard]] u32 DecodeNtfsGeometry(const NtfsBootParams& params, NtfsGeometry* out);
