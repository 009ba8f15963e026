// The plain records the scanners fill: a found file or folder and its times.
#pragma once

#include <string>

#include "platform/Types.h"

// A point in time as decoded from the volume (local time, no zone).
struct FoundTime
{
    s32 year = 0;
    s32 month = 0;
    s32 day = 0;
    s32 hour = 0;
    s32 minute = 0;
    s32 second = 0;

    friend bool operator==(const FoundTime&, const FoundTime&) = default;
};

// A stretch of clusters: first and the clusters after it.
struct ClusterRun
{
    u32 first = 0;
    u32 length = 0;

    friend bool operator==(const ClusterRun&, const ClusterRun&) = default;
};

// One found file or folder.
struct FoundItem
{
    std::string path;     // folder that holds the item: "C:" or "C:\docs"
    std::string name;     // the item's own name, unique within path
    u8 attr = 0;          // FAT attribute layout; 0x10 marks a folder
    u32 deleted = 0;      // 1 when the item (or a folder above it) is deleted
    FoundTime created;    // creation time
    FoundTime accessed;   // the time shown in the "Access" column
    u64 size = 0;         // file size in bytes; 0 for folders
    u64 first = 0;        // FAT: first cluster; NTFS: sector of the item's MFT record
    void* data = nullptr; // NTFS: pool block with the base record's run list; FAT: null
    u64 record = 0;       // NTFS: the item's base MFT record, read again to copy its data
    std::string stream;   // NTFS: the named data stream the item stands for; empty for the file
    // FAT, exFAT: the clusters the layout search gave a deleted find, as runs of the volume's
    // VolumeEntry::assignedRuns. runCount 0: none were given (the allocation could not be read,
    // or another find has the same first cluster), and the data is read as one stretch.
    u32 runsAt = 0;
    u32 runCount = 0;
    u32 overwritten = 0; // clusters of those runs that live files now hold
    u8 inferred = 0;     // 1 when those clusters are not one run
};
