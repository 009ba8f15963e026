// The bootinfo command: what the FAT boot sector of each source says (FAT type, geometry and
// cluster limit), as text or JSON.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/SourceArgs.h"
#include "disk/DirectRW.h"
#include "platform/Types.h"

struct BootInfo
{
    SourceArg source;
    u32 partition = 0;      // partition number of a volume inside a partitioned source, else 0
    std::string fileSystem; // a partition that holds another file system: "NTFS", "exFAT", ...
    u32 status = 0;         // 0, or the status of the step that failed
    std::string error;      // why the source could not be decoded, when status is not 0
    u32 fatType = 7;        // 1 FAT12, 2 FAT16, 3 FAT32
    u32 bytesPerSector = 0;
    u32 sectorsPerCluster = 0;
    u32 reservedSectors = 0;
    u32 fatCount = 0;
    u32 fatSectors = 0; // sectors per FAT copy
    u64 firstFatSector = 0;
    u64 rootDirSector = 0;
    u32 rootEntryCount = 0;  // FAT12/16: entries of the fixed root directory
    u32 rootCluster = 0;     // FAT32: first cluster of the root directory
    u64 firstDataSector = 0; // sector of cluster 2
    u64 totalSectors = 0;
    u64 clusterLimit = 0; // highest cluster number in reach of the FAT and the volume
};

// Opens the source's drive text through the drive table (the source must be registered) with
// a device reader and decodes it with DecodeBootInfo.
// Returns 0; 3 (the source cannot be opened); the statuses of DecodeBootInfo.
// info->error says why in words.
[[nodiscard]] u32 ReadBootInfo(const SourceArg& source, BootInfo* info);

// Reads sector 0 (512 bytes) through an open reader and decodes its BIOS parameter block
// into *info. Returns 0; 5 (sector 0 is short) or the reader's status when it cannot be read;
// 256 (not a FAT boot sector). info->error says why in words.
[[nodiscard]] u32 DecodeBootInfo(CDirectRW& reader, const SourceArg& source, BootInfo* info);

// "FAT12", "FAT16", "FAT32" or "unknown".
const char* FatTypeName(u32 fatType);

// "PATH", or "PATH (partition N)" for a partition of a partitioned source.
std::string BootInfoSourceText(const BootInfo& info);

// One block of "name: value" lines for a decoded source, or the file system of a partition
// that holds no FAT volume.
std::string FormatBootInfoText(const BootInfo& info);
// A JSON array with one object per source; failed sources carry an "error" member.
std::string FormatBootInfoJson(const std::vector<BootInfo>& infos);

// The bootinfo command with its arguments (the command word excluded). A source whose sector 0
// is no FAT boot sector but a partition table is shown partition by partition, each under its
// own drive letter as the drives command gives them. Exit status: 0 when every source is a FAT
// volume or holds one in an intact partition table, 1 when any is not or cannot be read, 2 for
// a usage error.
int RunBootInfo(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

extern const char* const kBootInfoHelp;
