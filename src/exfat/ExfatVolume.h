// What the exFAT engine keeps of one volume: its geometry, the FAT and bitmap windows, and what
// each find's stream extension says beyond the plain item fields.
#pragma once

#include <deque>

#include "exfat/ExfatBoot.h"
#include "exfat/ExfatEntrySet.h"
#include "exfat/ExfatTable.h"
#include "platform/Types.h"

// The stream extension of one find; the find's payload points at it.
struct ExfatStreamInfo
{
    u64 dataLength = 0;      // bytes, also for folders (whose items show size 0)
    u64 validDataLength = 0; // bytes written; the rest of the data reads as zeros
    bool noFatChain = false; // the clusters lie in one stretch
    // The file entry's last-modified time, for a timeline (the item itself holds the creation
    // and access times), field by field so that it fits the record's padding.
    u8 modifiedTenMs = 0;
    u8 modifiedUtcOffset = 0;
    u32 modifiedTimestamp = 0;

    [[nodiscard]] ExfatTime Modified() const
    {
        return ExfatTime{modifiedTimestamp, modifiedTenMs, modifiedUtcOffset};
    }
};
// One per find, millions on a large card: the time must not make it larger.
static_assert(sizeof(ExfatStreamInfo) == 24);

struct ExfatVolume
{
    ExfatBoot boot;
    bool fromBackup = false; // the main boot region was damaged; the backup one is used
    ExfatTable table;
    // Stream records of the finds; a deque, so that the items' pointers stay valid as it grows.
    std::deque<ExfatStreamInfo> streams;
};
