// The search control: each drive's file system detected, a drive selection turned into the scan
// job list, the search thread's work over it, and the stop of both worker threads. It works on
// the catalogue it is made for, which owns the job list and the threads.
#pragma once

#include <string>

#include "platform/Types.h"

class CCatalog;

class CSearchControl
{
public:
    explicit CSearchControl(CCatalog& catalog) : m_catalog(catalog) {}

    // Stops the workers, empties the job list and builds it afresh from selection (a letter and
    // a colon per drive, in selection order, no separator), then starts the search thread.
    // Returns 0 (started), 5 (no drive yielded a volume; no thread started) or 64 (the thread
    // could not be created; the list is emptied).
    [[nodiscard]] u32 Start(const std::string& selection);
    // The search thread's work: searches the volumes, the last selected first, and once every
    // volume is done names entry 0 as the folder to show and posts WM_SCAN_NOTIFY
    // kScanFinished. A stop ends it at the next poll of the run flag, without the notice.
    void Search();
    // Clears the run flag and joins both workers. With showResults and a non-empty job list the
    // view then names entry 0. Called on a worker's own thread it only clears the flag.
    void Stop(bool showResults);
    // File system of a drive of the drive table: 0 for a FAT name ("FAT", "FAT12", ...), 4 for
    // "NTFS", 5 for "exFAT", 8 for a drive of no file system that is carved sector by sector
    // (kRawFileSystem), 7 for anything else, an empty text, or a drive not in the table.
    [[nodiscard]] static u32 DetectFileSystem(const std::string& drive);

private:
    CCatalog& m_catalog;
};
