// Partition tables of whole disks: the MBR with its chain of extended boot records, and the
// GUID partition table behind a protective MBR. Works on raw bytes fetched through a callback,
// so the same code reads image files, block devices and fuzzer inputs.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "platform/Types.h"

// Reads length bytes at byte offset of the disk into buffer; true only when all of them arrived.
using DiskReadFn = std::function<bool(u64 offset, void* buffer, u32 length)>;

enum class PartitionScheme : u32
{
    None = 0,
    Mbr = 1,
    Gpt = 2,
};

struct PartitionEntry
{
    u32 number = 0; // MBR: slots 1-4, logical partitions from 5 on; GPT: entry index + 1
    u64 offset = 0; // byte offset of the partition on the disk
    u64 length = 0; // byte length, clipped to the end of the disk
    u8 mbrType = 0; // MBR system indicator; 0 for GPT entries
    std::array<u8, 16> gptType{}; // GPT partition type GUID as stored; all zero for MBR
};

struct PartitionTable
{
    PartitionScheme scheme = PartitionScheme::None;
    u32 sectorSize = 512; // logical sector size the table was read with
    bool damaged = false; // some part of the table was unusable; entries hold what was read
    std::vector<PartitionEntry> entries; // data partitions, extended containers left out
};

// Upper bounds on what a table may make us read or list: kMaxLogicalPartitions bounds both the
// extended boot records read and the logical partitions listed.
inline constexpr u32 kMaxLogicalPartitions = 128;
inline constexpr u32 kMaxGptEntryBytes = 1024 * 1024;

// Reads the partition table of a disk of diskSize bytes (0 when unknown) whose logical sector
// size is sectorSize (512 or larger power of two up to 4096). A GPT is also looked for with
// 4096-byte sectors when sectorSize is 512. Entries come in table order (GPT) or in slot order
// followed by the logical partitions in chain order (MBR).
// Returns 0 (a table was found, *table filled; it may list no partition), 5 (the first sector
// could not be read), 7 (no partition table) or 0xFFFFFFFF (unsupported sector size).
[[nodiscard]] u32 ReadPartitionTable(const DiskReadFn& read, u64 diskSize, u32 sectorSize,
                                     PartitionTable* table);

// CRC-32 (IEEE 802.3, reflected) as the GPT header and entry array carry it.
[[nodiscard]] u32 Crc32(const void* data, std::size_t size);
