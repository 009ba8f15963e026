// File-system name and volume label of a volume inside an image file or block device, read by
// libblkid: the stand-in for the volume information query of a drive root.
#pragma once

#include <cstddef>
#include <string>

#include "platform/PartitionTable.h"
#include "platform/Types.h"

struct VolumeInfo
{
    std::string type;       // libblkid TYPE as reported ("vfat", "ntfs", "ext4", ...), or ""
    std::string fileSystem; // "FAT12", "FAT16", "FAT32", "NTFS", or "" for anything else
    std::string label;      // volume label in UTF-8, "" when the volume has none
    std::string note;       // what users should know about the probe, "" when nothing
};

// The note of a volume that libblkid found ambiguous and that its boot sector names.
inline constexpr const char* kAmbiguousNote =
    "other file-system signatures found too; searched as sector 0 says";

// The note of a volume whose sector 0 could not be read and that a backup boot sector (in the
// sector the number gives) describes.
inline constexpr const char* kBackupBootNote =
    "sector 0 could not be read; read through the backup boot sector in sector ";
// The note of an exFAT volume whose main boot region is damaged and whose backup region is
// read instead.
inline constexpr const char* kExfatBackupNote =
    "main boot region damaged; read through the backup boot region (sector 12)";

// The file system a boot sector names by its own fields: "NTFS" and "exFAT" for their OEM
// names, "FAT" for a plausible FAT BIOS parameter block, "" otherwise. Both need the 0x55AA end
// marker.
[[nodiscard]] std::string BootSectorFileSystem(const u8* sector, std::size_t size);

// True when region (size bytes) holds a whole exFAT boot region of 2^shift-byte sectors (shift 0:
// the boot sector's own) whose checksum sector agrees with it.
[[nodiscard]] bool ExfatRegionSound(const u8* region, std::size_t size, u32 shift);

// Probes the byte range [offset, offset + length) of the open descriptor fd for a file system;
// length 0 means up to the end. When libblkid finds signatures of several file systems and
// names none, a boot sector that names FAT, exFAT or NTFS decides, with info->note set. Returns 0
// (probe done: info->type is empty when nothing was recognised), 5 (the range could not be probed:
// empty, outside the device, unreadable) or 8 (no memory for the probe).
[[nodiscard]] u32 ProbeVolume(int fd, u64 offset, u64 length, VolumeInfo* info);

// Probes the volume of length bytes (not 0) at offset of a disk that only read can reach (an
// image whose bytes are decoded on the way, such as an Expert Witness image). libblkid runs
// over a sparse in-memory copy of what it looks at for FAT and NTFS: the volume's first
// kProbeHeadBytes, its last kProbeTailBytes and, for NTFS, the first MFT records (where the
// label is); everything else reads as zeros. Returns as ProbeVolume; 5 also when the first
// sector cannot be read.
[[nodiscard]] u32 ProbeVolumeThrough(const DiskReadFn& read, u64 offset, u64 length,
                                     VolumeInfo* info);

inline constexpr u64 kProbeHeadBytes = u64{8} * 1024 * 1024;
inline constexpr u64 kProbeTailBytes = u64{1024} * 1024;

// The drive-list name of a libblkid TYPE and VERSION: the version ("FAT12", "FAT16", "FAT32")
// for vfat and msdos, plain "FAT" when that version is missing or unknown, "NTFS" for ntfs,
// "exFAT" for exfat and "" for anything else.
[[nodiscard]] std::string FileSystemName(const std::string& type, const std::string& version);
