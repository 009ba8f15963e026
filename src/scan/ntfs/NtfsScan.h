// The NTFS deleted-file scan: every MFT record from 16 on that holds a deleted file, a deleted
// folder or a folder in use becomes a found item under a folder path rebuilt from parent
// references.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "catalog/Catalog.h"
#include "ntfs/Ntfs.h"
#include "platform/Types.h"

// Folders known so far during one scan: for each record number the paths it has been given,
// earliest first. A resolved folder matches a parent reference by sequence number; a made-up
// folder for a lost parent matches exactly the reference that named it.
struct NtfsFolderMap
{
    struct Entry
    {
        ItemText path;    // shared with the finds of the folder
        u16 sequence = 0; // the folder record's own sequence number, or the lost reference's
        bool inUse = false;
        bool lost = false;
    };
    std::string root; // the volume's name, path of record 5
    std::unordered_map<s64, std::vector<Entry>> byRecord;
    u32 counter = 0; // made-up folders so far

    // The earliest path registered for record that a reference with sequence number sequence
    // may name, or null.
    [[nodiscard]] const ItemText* Find(s64 record, u16 sequence) const;
    void AddFolder(s64 record, u16 sequence, bool inUse, const ItemText& path);
    void AddLost(s64 record, u16 sequence, const ItemText& path);
};

// True when a parent reference with sequence number referenced may name a folder record whose
// sequence number is actual: equal, or one more for a record that is no longer in use (freeing
// a record increments its sequence number). A reference without a sequence number (0) names
// any record.
[[nodiscard]] bool NtfsParentMatches(u16 referenced, u16 actual, bool inUse);

// Scans one NTFS volume entry (its NTFS state open, with the device kept open) and appends
// every find to volume.items, posting one WM_SCAN_NOTIFY per item. An MFT run list that claims
// more than the MFT holds is reported first, as a WM_SCAN_NOTIFY warning (code 3) naming the
// volume. Stops early when g_bRunning is cleared. Returns 0.
// The records are read and decoded on a second thread (through a second reader of the volume
// opened by its drive text) unless oneThread is set or that reader cannot be opened; the finds
// are the same either way.
u32 ScanNtfsVolume(CCatalog& catalog, VolumeEntry& volume, bool oneThread = false);

// Sets path to the full path of the folder that the parent reference (record, sequence) names,
// reading and registering the folders up to one already known, up to the root (record 5), or up
// to a lost parent, which becomes "<volume>\Folder_<n>_". A chain that loops ends as a lost
// parent.
void ResolveFolder(CCatalog& catalog, ItemText& path, CNtfs& ntfs, s64 record, u16 sequence,
                   NtfsFolderMap& folders);
