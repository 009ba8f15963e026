// The FAT boot sector: a copy of the BIOS parameter block and the volume geometry derived
// from it (FAT type, where the FATs, the root directory and the data area lie).
#pragma once

#include "platform/Types.h"

// FAT type codes, as kept in the volume entry.
enum FatType : u32
{
    kFatType12 = 1,
    kFatType16 = 2,
    kFatType32 = 3,
    kFatTypeNone = 7, // not determined
};

// FAT32 extension of the BPB (sector-0 offsets 36 to 89).
struct FatBpbExt32
{
    u32 fatSectors32;
    u16 extFlags;
    u16 fsVersion;
    u32 rootCluster;
    u16 fsInfoSector;
    u16 backupBootSector;
    u8 reserved[12];
    u8 driveNumber;
    u8 reserved1;
    u8 bootSignature;
    u32 volumeId;
    char volumeLabel[11];
    char fsTypeText[8];
};

// FAT12/FAT16 extension of the BPB (sector-0 offsets 36 to 61).
struct FatBpbExt16
{
    u8 driveNumber;
    u8 reserved1;
    u8 bootSignature;
    u32 volumeId;
    char volumeLabel[11];
    char fsTypeText[8];
};

// Copy of the BIOS parameter block: the common fields in on-disk order, then the extension
// that matches the FAT type (FAT32 until the type is known to be FAT12 or FAT16).
struct FatBpb
{
    u16 bytesPerSector;
    u8 sectorsPerCluster;
    u16 reservedSectors;
    u8 fatCount;
    u16 rootEntryCount;
    u16 totalSectors16;
    u8 media;
    u16 fatSectors16;
    u16 sectorsPerTrack;
    u16 headCount;
    u32 hiddenSectors;
    u32 totalSectors32;
    union
    {
        FatBpbExt32 fat32;
        FatBpbExt16 fat16;
    } ext;
};

class FatBootSector
{
public:
    FatBootSector();

    // Decodes the BPB that starts at byte 11 of sector 0 (bpb points there; the 79 bytes up
    // to sector-0 offset 90 must be readable) and computes the geometry. Returns false for a
    // null pointer or a BPB that gives no usable geometry.
    [[nodiscard]] bool Parse(const u8* bpb);
    // Checks the BPB copy and derives the geometry from it; sets the valid flag.
    [[nodiscard]] bool ComputeGeometry();

    [[nodiscard]] const FatBpb* GetBpb() const { return &m_bpb; }
    // Bytes per sector, or 0xFFFFFFFF when the geometry is not valid.
    [[nodiscard]] u32 GetBytesPerSector() const;
    // Total sectors of the volume, or all bits set when the geometry is not valid.
    [[nodiscard]] u64 GetTotalSectors() const;
    // Cluster number in, its first sector out. False (value untouched) for a cluster below 2,
    // an invalid geometry, or a cluster whose sector number does not fit 63 bits.
    [[nodiscard]] bool ClusterToSector(s64* value) const;
    // First sector of the root directory, and the fixed root's entry count (FAT12/16) or the
    // root cluster (FAT32). False when not valid.
    [[nodiscard]] bool GetRootDir(u64* firstSector, u32* countOrCluster) const;
    // First sector of FAT copy 1, sectors per FAT, number of FATs. False when not valid.
    [[nodiscard]] bool GetFatLocation(u64* firstSector, u32* sectorsPerFat, u32* fatCount) const;
    // Writes the FAT type (even when not valid) and returns the valid flag (1 or 0).
    [[nodiscard]] u32 GetFatType(u32* fatType) const;
    // Entries one FAT can hold; with limitToVolume, lowered to the highest cluster whose first
    // sector lies inside the volume (a value below 2 when none does).
    [[nodiscard]] u64 GetClusterLimit(bool limitToVolume) const;

private:
    FatBpb m_bpb;
    u32 m_fatType = kFatTypeNone;
    u64 m_firstFatSector = ~0ull;
    u64 m_fatSectors = ~0ull;
    u64 m_rootDirSector = ~0ull;
    u64 m_firstDataSector = ~0ull;
    u64 m_clusterBaseSector = ~0ull;
    u32 m_valid = 0;
};
