// The exFAT boot region: the main boot sector's geometry, checked against the boot region's
// checksum, with the backup region standing in when the main one is damaged.
#pragma once

#include "platform/ByteOrder.h"
#include "platform/Types.h"

// Geometry of a volume as its boot sector gives it, validated.
struct ExfatBoot
{
    u64 volumeLength = 0;      // sectors
    u32 fatOffset = 0;         // sector of the first FAT
    u32 fatLength = 0;         // sectors of one FAT
    u32 clusterHeapOffset = 0; // sector of cluster 2
    u32 clusterCount = 0;      // clusters 2 .. clusterCount + 1
    u32 rootCluster = 0;       // first cluster of the root directory
    u32 serialNumber = 0;
    u16 revision = 0;
    u16 volumeFlags = 0;
    u32 bytesPerSectorShift = 9;
    u32 sectorsPerClusterShift = 0;
    u32 numberOfFats = 1;

    [[nodiscard]] u32 BytesPerSector() const { return 1u << bytesPerSectorShift; }
    [[nodiscard]] u64 ClusterBytes() const
    {
        return 1ull << (bytesPerSectorShift + sectorsPerClusterShift);
    }
    // The highest cluster number of the heap.
    [[nodiscard]] u32 HighestCluster() const { return clusterCount + 1; }
    // Byte offset of the heap (cluster 2) from the volume's start.
    [[nodiscard]] u64 HeapBytes() const
    {
        return static_cast<u64>(clusterHeapOffset) << bytesPerSectorShift;
    }
    // Byte offset of cluster from the volume's start; false outside 2 .. HighestCluster().
    [[nodiscard]] bool ClusterOffset(u64 cluster, u64* offset) const
    {
        if (cluster < 2 || cluster > HighestCluster())
            return false;
        *offset = HeapBytes() + ((cluster - 2) << (bytesPerSectorShift + sectorsPerClusterShift));
        return true;
    }
};

enum class ExfatBootResult : u32
{
    kValid = 0,
    kShort = 1,       // fewer bytes than the boot region holds
    kNotExfat = 2,    // no exFAT boot sector (name, signature or must-be-zero field)
    kBadGeometry = 3, // a field outside its range, or fields that contradict each other
    kBadChecksum = 4, // the boot region checksum does not match sector 11
};

// Decodes and validates one boot sector (the first 512 bytes of sector). kValid, kShort, kNotExfat
// or kBadGeometry; *out is set only on kValid.
[[nodiscard]] ExfatBootResult DecodeExfatBootSector(ByteView sector, ExfatBoot* out);

// The boot region checksum over sectors 0 .. 10 of region, leaving out VolumeFlags and
// PercentInUse. region must hold 11 sectors of bytesPerSector bytes.
[[nodiscard]] u32 ExfatBootChecksum(ByteView region, u32 bytesPerSector);

// One boot region (12 sectors from region's start): the boot sector decoded and the checksum
// sector matched. kValid, kShort, kNotExfat, kBadGeometry or kBadChecksum.
[[nodiscard]] ExfatBootResult CheckExfatBootRegion(ByteView region, ExfatBoot* out);

// The volume's geometry from the first 24 sectors of the volume (volumeStart; 24 sectors of
// 4096 bytes cover every sector size): the main boot region, or the backup region at sector 12
// when the main one is damaged (*fromBackup tells). Returns the main region's result when
// neither region is usable.
[[nodiscard]] ExfatBootResult ParseExfatBootRegion(ByteView volumeStart, ExfatBoot* out,
                                                   bool* fromBackup);
