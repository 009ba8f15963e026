// What the exFAT engine keeps of one volume: its geometry, the FAT and bitmap windows, and what
// each find's stream extension says beyond the plain item fields.
#pragma once

#include <deque>

#include "exfat/ExfatBoot.h"
#include "exfat/ExfatTable.h"
#include "platform/Types.h"

// The stream extension of one find; the find's payload points at it.
struct ExfatStreamInfo
{
    u64 dataLength = 0;      // bytes, also for folders (whose items show size 0)
    u64 validDataLength = 0; // bytes written; the rest of the data reads as zeros
    bool noFatChain = false; // the clusters lie in one stretch
};

struct ExfatVolume
{
    ExfatBoot boot;
    bool fromBackup = false; // the main boot region was damaged; the backup one is used
    ExfatTable table;
    // Stream records of the finds; a deque, so that the items' pointers stay valid as it grows.
    std::deque<ExfatStreamInfo> streams;
};
