// The NTFS deep search: MFT records found outside the current MFT (the MFT of an earlier format,
// stray copies) and the names index records still hold, turned into finds under the folder tree
// their parent references rebuild.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "ntfs/IndexRecord.h"
#include "ntfs/StrayRecord.h"
#include "platform/Types.h"

class CCatalog;
class CNtfs;
struct VolumeEntry;

// What the one pass over the volume recognised: no bytes of it, only the records and names.
struct NtfsDeepHarvest
{
    struct Found
    {
        StrayRecord record;
        u64 offset = 0; // byte offset of the record on the volume's reader
    };
    std::unordered_map<u64, Found> records; // by record number: the newest copy of each
    std::vector<IndexNameEntry> names;      // from every index record met, in volume order

    // Keeps record (found at offset) unless a copy of its number with a higher LSN is kept
    // already; of equal LSNs the first one met stays.
    void AddRecord(StrayRecord&& record, u64 offset);
};

// Reads the records and index records of the volume entry (its NTFS state open) in one pass
// over the whole volume into *harvest, skipping the records that lie inside the current MFT.
// False when the pass was stopped or could not run.
bool HarvestNtfsVolume(CCatalog& catalog, VolumeEntry& entry, NtfsDeepHarvest* harvest);

// Adds to entry.items, marked deep and deleted, a find for each record of harvest the normal
// search has not catalogued (number 16 on; a record of the current MFT with the same sequence
// number is that record), folders included, under the paths their parent references give: up to
// the root (record 5), a folder of the current MFT the search listed, or a made-up
// "<volume>\Folder_<n>_" for a parent that is not found (a loop of parents ends there too).
// Then a find for each name of harvest.names whose record is gone or holds another file now:
// without data, condition overwritten, size and times from the entry; or, when the record of
// the current MFT it names lost its $FILE_NAME but keeps data (its sequence number the
// reference's or one higher), with that record's data. Posts WM_SCAN_NOTIFY for each find.
void AddNtfsDeepFinds(CCatalog& catalog, VolumeEntry& entry, const NtfsDeepHarvest& harvest);
