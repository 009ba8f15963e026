// Offsets of the NTFS boot sector: the BIOS parameter block and its NTFS extension.
#pragma once

#include "platform/Types.h"

namespace ntfs
{
inline constexpr u32 kBootBytesPerSector = 0x0B;    // u16 bytes per sector
inline constexpr u32 kBootSectorsPerCluster = 0x0D; // u8 sectors per cluster (encoded)
inline constexpr u32 kBootReservedSectors = 0x0E;   // u16 reserved sectors
inline constexpr u32 kBootUnused10 = 0x10;          // u8 (number of FATs, always 0)
inline constexpr u32 kBootUnused11 = 0x11;          // u8
inline constexpr u32 kBootUnused12 = 0x12;          // u8
inline constexpr u32 kBootUnused13 = 0x13;          // u16 (total sectors 16, always 0)
inline constexpr u32 kBootMedia = 0x15;             // u8 media descriptor
inline constexpr u32 kBootUnused16 = 0x16;          // u16 (sectors per FAT, always 0)
inline constexpr u32 kBootSectorsPerTrack = 0x18;   // u16 sectors per track
inline constexpr u32 kBootHeads = 0x1A;             // u16 number of heads
inline constexpr u32 kBootHiddenSectors = 0x1C;     // u32 hidden sectors
inline constexpr u32 kBootUnused20 = 0x20;          // u32 (total sectors 32, always 0)
inline constexpr u32 kBootUnused24 = 0x24;          // u32 (drive number and signature)
inline constexpr u32 kBootTotalSectors = 0x28;      // u64 total sectors
inline constexpr u32 kBootMftCluster = 0x30;        // u64 logical cluster number of $MFT
inline constexpr u32 kBootMftMirrCluster = 0x38;    // u64 logical cluster number of $MFTMirr
inline constexpr u32 kBootClustersPerRecord = 0x40; // s8 clusters per file record segment
inline constexpr u32 kBootClustersPerIndex = 0x44;  // s8 clusters per index block
inline constexpr u32 kBootSerial = 0x48;            // u64 volume serial number
inline constexpr u32 kBootChecksum = 0x50;          // u32 checksum
inline constexpr u32 kBootSectorBytes = 0x200;      // the fields above lie in the first 512
} // namespace ntfs
