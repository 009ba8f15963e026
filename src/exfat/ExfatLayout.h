// exFAT on-disk layout: offsets of the main boot sector's fields and of the directory entries
// of a file's entry set, with the values they take.
#pragma once

#include <cstddef>

#include "platform/Types.h"

namespace ExfatLayout
{
// Main (and backup) boot sector.
constexpr std::size_t kJumpBoot = 0x00;               // JumpBoot: EB 76 90
constexpr std::size_t kFileSystemName = 0x03;         // FileSystemName: "EXFAT   "
constexpr std::size_t kMustBeZero = 0x0B;             // MustBeZero: 53 bytes where FAT has its BPB
constexpr std::size_t kMustBeZeroLength = 53;         //
constexpr std::size_t kVolumeLength = 0x48;           // VolumeLength: sectors, 64 bits
constexpr std::size_t kFatOffset = 0x50;              // FatOffset: sectors from the volume start
constexpr std::size_t kFatLength = 0x54;              // FatLength: sectors of one FAT
constexpr std::size_t kClusterHeapOffset = 0x58;      // ClusterHeapOffset: sector of cluster 2
constexpr std::size_t kClusterCount = 0x5C;           // ClusterCount: clusters in the heap
constexpr std::size_t kRootCluster = 0x60;            // FirstClusterOfRootDirectory
constexpr std::size_t kSerialNumber = 0x64;           // VolumeSerialNumber
constexpr std::size_t kRevision = 0x68;               // FileSystemRevision: minor, major
constexpr std::size_t kVolumeFlags = 0x6A;            // VolumeFlags: left out of the checksum
constexpr std::size_t kBytesPerSectorShift = 0x6C;    // BytesPerSectorShift: 9 .. 12
constexpr std::size_t kSectorsPerClusterShift = 0x6D; // SectorsPerClusterShift
constexpr std::size_t kNumberOfFats = 0x6E;           // NumberOfFats: 1 or 2
constexpr std::size_t kPercentInUse = 0x70;           // PercentInUse: left out of the checksum
constexpr std::size_t kBootSignature = 0x1FE;         // BootSignature: AA55

constexpr u32 kMinSectorShift = 9;
constexpr u32 kMaxSectorShift = 12;
constexpr u32 kMaxClusterShift = 25;   // 32 MiB clusters
constexpr u32 kBootRegionSectors = 12; // main boot sector, 8 extended, OEM, reserved, checksum
constexpr u32 kChecksumSector = 11;
constexpr u32 kBackupRegionSector = 12;
constexpr u32 kMinFatOffset = 24; // FatOffset lies behind both boot regions
constexpr u32 kMaxClusterCount = 0xFFFFFFF5u;
constexpr u32 kFirstCluster = 2;

// FAT entries (32 bits each).
constexpr u32 kFatEntryBytes = 4;
constexpr u32 kFatBad = 0xFFFFFFF7u;
constexpr u32 kFatEnd = 0xFFFFFFFFu;

// Directory entries: 32 bytes, the type byte first. Bit 7 is the in-use bit.
constexpr std::size_t kEntrySize = 32;
constexpr std::size_t kEntryType = 0x00;
constexpr u8 kInUse = 0x80;
constexpr u8 kTypeEndOfDirectory = 0x00;
constexpr u8 kTypeBitmap = 0x81;
constexpr u8 kTypeUpcase = 0x82;
constexpr u8 kTypeLabel = 0x83;
constexpr u8 kTypeFile = 0x85;      // File directory entry; 0x05 once deleted
constexpr u8 kTypeStream = 0xC0;    // Stream Extension; 0x40 once deleted
constexpr u8 kTypeFileName = 0xC1;  // File Name; 0x41 once deleted
constexpr u8 kSecondaryFlag = 0x40; // TypeCategory bit: secondary entry

// File directory entry.
constexpr std::size_t kSecondaryCount = 0x01;    // SecondaryCount: 2 .. 18
constexpr std::size_t kSetChecksum = 0x02;       // SetChecksum over the whole set
constexpr std::size_t kFileAttributes = 0x04;    // FileAttributes: the FAT attribute bits
constexpr std::size_t kCreateTimestamp = 0x08;   // CreateTimestamp: DOS date and time
constexpr std::size_t kModifiedTimestamp = 0x0C; // LastModifiedTimestamp
constexpr std::size_t kAccessedTimestamp = 0x10; // LastAccessedTimestamp
constexpr std::size_t kCreate10ms = 0x14;        // Create10msIncrement: 0 .. 199
constexpr std::size_t kModified10ms = 0x15;      // LastModified10msIncrement
constexpr std::size_t kCreateUtcOffset = 0x16;   // CreateUtcOffset
constexpr std::size_t kModifiedUtcOffset = 0x17; // LastModifiedUtcOffset
constexpr std::size_t kAccessedUtcOffset = 0x18; // LastAccessedUtcOffset
constexpr u32 kMinSecondaryCount = 2;
constexpr u32 kMaxSecondaryCount = 18;
constexpr u8 kUtcOffsetValid = 0x80; // the low 7 bits are a signed count of 15 minutes

// Stream Extension directory entry.
constexpr std::size_t kGeneralFlags = 0x01;      // GeneralSecondaryFlags
constexpr std::size_t kNameLength = 0x03;        // NameLength: UTF-16 units
constexpr std::size_t kValidDataLength = 0x08;   // ValidDataLength: bytes written
constexpr std::size_t kFirstClusterField = 0x14; // FirstCluster
constexpr std::size_t kDataLength = 0x18;        // DataLength: bytes
constexpr u8 kFlagAllocationPossible = 0x01;
constexpr u8 kFlagNoFatChain = 0x02; // the clusters are contiguous; the FAT is not used

// File Name directory entry.
constexpr std::size_t kFileName = 0x02; // FileName: 15 UTF-16 units
constexpr u32 kNameUnitsPerEntry = 15;

// Allocation Bitmap directory entry.
constexpr std::size_t kBitmapFlags = 0x01;        // BitmapFlags: bit 0 selects the second FAT
constexpr std::size_t kBitmapFirstCluster = 0x14; // FirstCluster
constexpr std::size_t kBitmapDataLength = 0x18;   // DataLength

// FileAttributes: the FAT bits.
constexpr u16 kAttrFolder = 0x10;

// A directory holds at most 256 MiB.
constexpr u64 kMaxDirectoryBytes = 256ull << 20;
} // namespace ExfatLayout
