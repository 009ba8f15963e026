// The plain records the scanners fill: a found file or folder and its times.
#pragma once

#include <string>

#include "platform/Types.h"
#include "records/ItemText.h"

// A point in time as decoded from the volume (local time, no zone). Packed into 8 bytes: a
// search holds two per find, for millions of finds. Years run from 1601 to 30828 (the last
// FILETIME), well inside s16.
struct FoundTime
{
    s16 year = 0;
    u8 month = 0;
    u8 day = 0;
    u8 hour = 0;
    u8 minute = 0;
    u8 second = 0;

    friend bool operator==(const FoundTime&, const FoundTime&) = default;
};

// A stretch of clusters: first and the clusters after it.
struct ClusterRun
{
    u32 first = 0;
    u32 length = 0;

    friend bool operator==(const ClusterRun&, const ClusterRun&) = default;
};

// What a find's clusters say about the data a recovery would read. Folders are not judged.
enum class FindCondition : u8
{
    kNotJudged = 0, // a folder, or a find the search did not judge
    kUnknown,       // nothing to judge by: the volume's allocation state could not be read
    kGood,          // every cluster it needs is free and claimed by no other find
    kInferred,      // its clusters were worked out around other data
    kPartial,       // some of its clusters hold other data now (overwrittenPct of them)
    kOverwritten,   // its first cluster, or all of them, belong to live files
};

// The condition's text in the listings: "good", "inferred", "partial", "overwritten",
// "unknown"; empty when not judged.
[[nodiscard]] inline const char* ConditionText(FindCondition condition)
{
    switch (condition)
    {
    case FindCondition::kUnknown:
        return "unknown";
    case FindCondition::kGood:
        return "good";
    case FindCondition::kInferred:
        return "inferred";
    case FindCondition::kPartial:
        return "partial";
    case FindCondition::kOverwritten:
        return "overwritten";
    default:
        return "";
    }
}

// What the bytes of a deleted find of a known type say when its format's validator reads them
// (the content check): valid when the structure holds to its end, damaged when it breaks.
enum class FindContent : u8
{
    kNone = 0, // no validator for its type, or not checked
    kValid,
    kDamaged,
};

// The content's text in the listings: "valid", "damaged"; empty when not checked.
[[nodiscard]] inline const char* ContentText(FindContent content)
{
    switch (content)
    {
    case FindContent::kValid:
        return "valid";
    case FindContent::kDamaged:
        return "damaged";
    default:
        return "";
    }
}

// What a find's payload is. The engine that made the find alone sets and reads it; an engine
// asking for its own kind of another engine's find gets nothing.
enum class FindPayload : u8
{
    kNone = 0,
    // NTFS: a memory-pool block with the base record's $DATA attribute, kept for items made
    // without a record number; owned by the find and freed by the engine's ReleaseItems.
    kRecordData = 1,
    // exFAT: the find's stream extension, held by its volume's state (copies share it).
    kStreamRecord = 2,
};

// One found file or folder. Its fields are ordered widest first so that it packs without
// holes: a search keeps one per find, millions on a large disk.
struct FoundItem
{
    ItemText path; // folder that holds the item: "C:" or "C:\docs"
    ItemName name; // the item's own name, unique within path
    u64 size = 0;  // file size in bytes; 0 for folders
    u64 first = 0; // FAT: first cluster; NTFS: sector of the item's MFT record

private:
    void* m_payload = nullptr; // what the engine keeps of the find: see FindPayload

public:
    u64 record = 0;     // NTFS: the item's base MFT record, read again to copy its data
    FoundTime created;  // creation time
    FoundTime accessed; // the time shown in the "Access" column
    u32 deleted = 0;    // 1 when the item (or a folder above it) is deleted
    // NTFS: the named data stream the item stands for, as 1 + its index in the stream names of
    // the volume's NTFS state; 0 for the file's unnamed data.
    u32 stream = 0;
    // FAT, exFAT: the clusters the layout search gave a deleted find, as runs of the assigned
    // runs in the volume's cluster state. runCount 0: none were given (the allocation could not be
    // read, or another find has the same first cluster), and the data is read as one stretch.
    u32 runsAt = 0;
    u32 runCount = 0;
    u32 overwritten = 0; // clusters of those runs that live files now hold
    u8 attr = 0;         // FAT attribute layout; 0x10 marks a folder
    // FAT, exFAT, of the clusters the layout search gave: 1 when they are not one run, or when
    // the layout could not be told (the data is then read as one stretch).
    u8 inferred : 1 = 0;
    // 1 when another find's claim to a cluster both claim outweighs this one's: a later find
    // was written over part of it, or its layout could not be told, or its size is clipped.
    u8 yields : 1 = 0;
    // 1 when its size is more than the volume can hold: its runs are all it has.
    u8 clipped : 1 = 0;
    // 1 when the deep search found it: no metadata the volume still links names it.
    u8 deep : 1 = 0;

private:
    u8 m_payloadKind : 2 = 0; // the FindPayload of m_payload
    u8 m_content : 2 = 0;     // the FindContent of its bytes

public:
    FindCondition condition = FindCondition::kNotJudged; // set once its volume is searched
    u8 overwrittenPct : 7 = 0; // share of its clusters that hold other data now, 0 .. 100
    // 1 when carving found it: by its contents alone, under the volume's Carved folder.
    u8 carved : 1 = 0;

    [[nodiscard]] FindContent Content() const { return static_cast<FindContent>(m_content); }
    void SetContent(FindContent content) { m_content = static_cast<u8>(content) & 3u; }

    // The payload when it is of kind, else null.
    [[nodiscard]] void* Payload(FindPayload kind) const
    {
        return kind != FindPayload::kNone && m_payloadKind == static_cast<u8>(kind) ? m_payload
                                                                                    : nullptr;
    }
    // Sets the payload (none when payload is null). Whoever owned the one before keeps it.
    void SetPayload(FindPayload kind, void* payload)
    {
        m_payload = kind != FindPayload::kNone ? payload : nullptr;
        m_payloadKind = m_payload != nullptr ? static_cast<u8>(kind) : 0;
    }
    // The payload when it is of kind, handed over (the find then has none), else null.
    [[nodiscard]] void* TakePayload(FindPayload kind)
    {
        void* payload = Payload(kind);
        if (payload != nullptr)
            SetPayload(FindPayload::kNone, nullptr);
        return payload;
    }
};
// A search keeps one per find: the payload's kind lies in the flag byte, not beside it.
static_assert(sizeof(void*) != 8 || sizeof(FoundItem) <= 112, "FoundItem grew");

// How a find was found, in the listings: "carved" by its contents, "deep" by metadata the
// volume no longer links, "search" by the volume's own.
[[nodiscard]] inline const char* FoundByText(const FoundItem& item)
{
    if (item.carved != 0)
        return "carved";
    return item.deep != 0 ? "deep" : "search";
}
