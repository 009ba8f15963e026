// On-disk layout of the FAT boot sector (BIOS parameter block and its two extensions) and of
// FAT entries: byte offsets counted from the start of sector 0, and the entry values.
#pragma once

#include "platform/Types.h"

namespace FatLayout
{
// BIOS parameter block, common to FAT12, FAT16 and FAT32.
inline constexpr u32 kBpbOffset = 0x0B;  // start of the BPB in sector 0
inline constexpr u32 kBytsPerSec = 0x0B; // u16 BPB_BytsPerSec
inline constexpr u32 kSecPerClus = 0x0D; // u8  BPB_SecPerClus
inline constexpr u32 kRsvdSecCnt = 0x0E; // u16 BPB_RsvdSecCnt
inline constexpr u32 kNumFATs = 0x10;    // u8  BPB_NumFATs
inline constexpr u32 kRootEntCnt = 0x11; // u16 BPB_RootEntCnt
inline constexpr u32 kTotSec16 = 0x13;   // u16 BPB_TotSec16
inline constexpr u32 kMedia = 0x15;      // u8  BPB_Media
inline constexpr u32 kFATSz16 = 0x16;    // u16 BPB_FATSz16
inline constexpr u32 kSecPerTrk = 0x18;  // u16 BPB_SecPerTrk
inline constexpr u32 kNumHeads = 0x1A;   // u16 BPB_NumHeads
inline constexpr u32 kHiddSec = 0x1C;    // u32 BPB_HiddSec
inline constexpr u32 kTotSec32 = 0x20;   // u32 BPB_TotSec32

// FAT32 extension.
inline constexpr u32 kFATSz32 = 0x24;      // u32 BPB_FATSz32
inline constexpr u32 kExtFlags = 0x28;     // u16 BPB_ExtFlags
inline constexpr u32 kFSVer = 0x2A;        // u16 BPB_FSVer
inline constexpr u32 kRootClus = 0x2C;     // u32 BPB_RootClus
inline constexpr u32 kFSInfo = 0x30;       // u16 BPB_FSInfo
inline constexpr u32 kBkBootSec = 0x32;    // u16 BPB_BkBootSec
inline constexpr u32 kReserved32 = 0x34;   // 12 bytes BPB_Reserved
inline constexpr u32 kDrvNum32 = 0x40;     // u8  BS_DrvNum
inline constexpr u32 kReserved1_32 = 0x41; // u8  BS_Reserved1
inline constexpr u32 kBootSig32 = 0x42;    // u8  BS_BootSig
inline constexpr u32 kVolID32 = 0x43;      // u32 BS_VolID
inline constexpr u32 kVolLab32 = 0x47;     // 11 bytes BS_VolLab
inline constexpr u32 kFilSysType32 = 0x52; // 8 bytes BS_FilSysType

// FAT12/FAT16 extension.
inline constexpr u32 kDrvNum16 = 0x24;     // u8  BS_DrvNum
inline constexpr u32 kReserved1_16 = 0x25; // u8  BS_Reserved1
inline constexpr u32 kBootSig16 = 0x26;    // u8  BS_BootSig
inline constexpr u32 kVolID16 = 0x27;      // u32 BS_VolID
inline constexpr u32 kVolLab16 = 0x2B;     // 11 bytes BS_VolLab
inline constexpr u32 kFilSysType16 = 0x36; // 8 bytes BS_FilSysType

inline constexpr u32 kReservedSize = 12;
inline constexpr u32 kVolLabSize = 11;
inline constexpr u32 kFilSysTypeSize = 8;

// Bytes read from the BPB pointer on: up to the end of the FAT32 BS_FilSysType field.
inline constexpr u32 kBpbSpan = kFilSysType32 + kFilSysTypeSize - kBpbOffset;

// Sector sizes a FAT volume can have; the FAT window holds at least one sector.
inline constexpr u32 kMinSectorSize = 512;
inline constexpr u32 kMaxSectorSize = 4096;

// Cluster counts that decide the FAT type.
inline constexpr u64 kFat12MaxClusters = 4084;  // below 4085: FAT12
inline constexpr u64 kFat16MaxClusters = 65524; // below 65525: FAT16

// Size of one fixed-root directory entry.
inline constexpr u32 kDirEntrySize = 32;

// FAT entries: the number of the first data cluster, and per entry width the mask, the
// end-of-chain value and the bad-cluster value.
inline constexpr u32 kFirstCluster = 2;
inline constexpr u32 kFat12Mask = 0xFFF;
inline constexpr u32 kFat12End = 0xFFF;
inline constexpr u32 kFat12Bad = 0xFF7;
inline constexpr u32 kFat16Mask = 0xFFFF;
inline constexpr u32 kFat16End = 0xFFFF;
inline constexpr u32 kFat16Bad = 0xFFF7;
inline constexpr u32 kFat32Mask = 0x0FFFFFFF; // the top 4 bits of a FAT32 entry are reserved
inline constexpr u32 kFat32End = 0x0FFFFFFF;
inline constexpr u32 kFat32Bad = 0x0FFFFFF7;
} // namespace FatLayout
