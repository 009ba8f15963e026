// Lost volumes of a whole disk: FAT, exFAT and NTFS boot sectors (or their backups) found at
// the usual partition alignments in the space no partition of the disk's table accounts for.
// Works on raw bytes fetched through a callback, like the partition-table reader, so the same
// code reads image files, block devices and fuzzer inputs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/PartitionTable.h"
#include "platform/Types.h"
#include "platform/VolumeProbe.h"

// A byte range of the disk: a partition, or a volume found.
struct DiskRange
{
    u64 offset = 0;
    u64 length = 0;
};

struct LostVolume
{
    u64 offset = 0;          // byte offset of the volume on the disk
    u64 length = 0;          // byte length, clipped to the end of the disk
    std::string fileSystem;  // "FAT", "FAT32" (found through its backup), "exFAT" or "NTFS"
    u64 bootSector = 0;      // 512-byte sector of the disk the boot sector was read from
    bool fromBackup = false; // the main boot sector is damaged; a backup gave offset and size
};

struct LostVolumeSearch
{
    std::vector<LostVolume> volumes; // in the order of their offsets
    u64 sectorsRead = 0;             // 512-byte sectors read
    bool cut = false;                // a cap ended the search before the last place was looked at
    u64 stoppedAt = 0;               // when cut: the 512-byte sector the search stopped at
};

// Upper bounds of one search: the 512-byte sectors read, and the volumes listed.
inline constexpr u64 kMaxLostVolumeSectors = u64{1} << 20;
inline constexpr u32 kMaxLostVolumes = 32;

// Searches a disk of diskSize bytes (0: unknown, nothing is searched) for volumes that lie
// outside the ranges given (the partitions its table lists). Boot sectors are looked for at
// every multiple of 63 sectors (tracks; cylinders of 16 or 255 heads are multiples of it) and of
// 2048 sectors (1 MiB), each with the backups that stand in for a damaged one: FAT32's copy in
// sector 6, exFAT's backup boot region from sector 12 on, and NTFS's copy in the volume's last
// sector (looked for in the sector before each place and in the last sector of each free
// stretch). A boot sector counts when it names its file system and gives a size that fits the
// disk; a volume that overlaps a range given or a volume found before is left out. Places count
// 512-byte sectors, and backups are looked for where volumes of 512-byte sectors keep them; a
// FAT32 or exFAT boot sector that copies the one 6 or 12 sectors before it is a backup, not a
// volume.
[[nodiscard]] LostVolumeSearch FindLostVolumes(const DiskReadFn& read, u64 diskSize,
                                               const std::vector<DiskRange>& taken,
                                               u64 maxSectors = kMaxLostVolumeSectors,
                                               u32 maxVolumes = kMaxLostVolumes);

// The stretches of a disk of diskSize bytes that none of the ranges covers, in order.
[[nodiscard]] std::vector<DiskRange> FreeStretches(u64 diskSize, std::vector<DiskRange> taken);

// Probes the volume at [offset, offset + length) of a disk for a file system, as ProbeVolume does.
using VolumeProbeFn = std::function<u32(u64 offset, u64 length, VolumeInfo* info)>;

// The note of a lost volume whose main boot sector is damaged and that a backup boot sector (in
// the volume's sector the number gives) describes.
inline constexpr const char* kLostBackupNote =
    "boot sector damaged; found through the backup boot sector in sector ";

// Checks a volume the search found as the drive list's probe checks every volume: true when the
// probe names the file system the boot sector named (*info is the probe's), or, for a volume
// found through a backup that the probe cannot read, always (*info names the file system the
// backup gives, with kLostBackupNote).
[[nodiscard]] bool ConfirmLostVolume(const VolumeProbeFn& probe, const LostVolume& volume,
                                     VolumeInfo* info);

struct SourceLayout;

// Appends to layout->volumes the lost volumes of a source of layout->size bytes that the probe
// confirms, searched for outside the partitions of its table (nullptr: it has none), and notes
// in *layout whether a cap cut the search.
void ListLostVolumes(const DiskReadFn& read, const VolumeProbeFn& probe,
                     const PartitionTable* table, SourceLayout* layout);

// How the drive list describes a lost volume at byte offset: "lost volume at sector N", N
// counting 512-byte sectors.
[[nodiscard]] std::string LostVolumeText(u64 offset);
