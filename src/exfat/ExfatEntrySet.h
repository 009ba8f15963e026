// exFAT directory entry sets: a File entry with its Stream Extension and File Name entries,
// live or deleted, decoded with their checksum; the times they keep; the allocation bitmap's
// entry of the root directory.
#pragma once

#include <string>

#include "platform/ByteOrder.h"
#include "platform/Types.h"
#include "records/FoundItem.h"

// One timestamp as exFAT keeps it.
struct ExfatTime
{
    u32 timestamp = 0; // DOS date (high 16 bits) and time (low 16 bits), two-second steps
    u8 tenMs = 0;      // 10 ms increments on top of the time, 0 .. 199
    u8 utcOffset = 0;  // bit 7: valid; bits 0-6: signed offset from UTC in 15-minute steps
};

// A decoded entry set.
struct ExfatEntrySet
{
    bool deleted = false;   // the in-use bits are clear
    u32 entries = 0;        // 32-byte entries the set takes in its folder
    u32 secondaryCount = 0; // as the File entry gives it
    u16 attributes = 0;     // FAT attribute bits; 0x10 marks a folder
    ExfatTime created;
    ExfatTime modified;
    ExfatTime accessed;
    std::string name;     // UTF-8, whole (a deleted set keeps its first character)
    u8 flags = 0;         // GeneralSecondaryFlags of the Stream Extension
    u32 firstCluster = 0; // 0 when no cluster is allocated
    u64 dataLength = 0;   // bytes
    u64 validDataLength = 0;
    bool checksumOk = false; // SetChecksum matches (with the in-use bits set again)

    [[nodiscard]] bool NoFatChain() const;
};

enum class ExfatSetResult : u32
{
    kDecoded = 0,
    kNotFile = 1,      // the first entry is no File entry (live or deleted)
    kShort = 2,        // the set runs past the bytes given
    kInconsistent = 3, // the Stream Extension or File Name entries do not fit the set
};

// Decodes the entry set that starts at entries' first byte; entries holds the rest of the
// folder, so a set never reaches past it. A set whose checksum fails is still decoded when its
// Stream Extension and File Name entries are consistent (checksumOk tells). Deleted sets need
// every entry deleted, live ones every entry in use.
[[nodiscard]] ExfatSetResult DecodeExfatEntrySet(ByteView entries, ExfatEntrySet* out);

// SetChecksum over count entries from set's start, leaving out the checksum field; with
// restoreInUse the in-use bit of every type byte is counted as set (a deleted set's checksum
// was made while it was in use).
[[nodiscard]] u16 ExfatSetChecksum(ByteView set, u32 count, bool restoreInUse);

// Whether a cluster read on past a deleted folder's first cluster holds directory entries and
// nothing else: its first slot is not the end-of-directory mark, every slot before that mark
// has the type of an exFAT directory entry (in use or not), and every slot after it is of type
// 0. *ends tells whether the mark is in the cluster.
[[nodiscard]] bool HoldsExfatEntries(ByteView cluster, bool* ends);

// The Allocation Bitmap entry of the first FAT in a root directory's bytes: false when there is
// none before the end of the directory.
[[nodiscard]] bool FindExfatBitmap(ByteView directory, u32* firstCluster, u64* length);

// The time in local time: an offset that is marked valid says the time was kept in that zone,
// so it is taken to UTC and on to the zone of this machine; without it the time is local already.
[[nodiscard]] FoundTime ExfatTimeToFoundTime(const ExfatTime& time);
