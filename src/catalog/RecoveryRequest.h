// What a recovery is asked to do (a volume, the names selected in one of its folders, a
// destination and options), and the recovery's state that the catalogue keeps between runs.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"
#include "platform/UserFolders.h"

class IRecoveryObserver;

// One selected row handed from the result view to the recovery.
struct SelEntry
{
    std::string name; // first-column text of the row, at most 255 characters
    u32 isDir = 0;    // 1 when the row is a folder
    // The folder that holds it when that is not the request's folder but one below it (a row
    // of a filtered listing): its full path ("C:\\docs\\2024"); empty otherwise. The copy is
    // then written below the folders between the two.
    std::string folder = {};
};

// How a recovery reads and reports.
struct RecoveryOptions
{
    u64 maxReadRate = 0;                   // bytes a second read at most; 0: no limit
    bool contiguousRead = false;           // FAT and exFAT finds read as one stretch each
    IRecoveryObserver* observer = nullptr; // told about each file attempted; not owned, may be null
};

// One recovery run: the entries named in folder of the volume, written below destination.
struct RecoveryRequest
{
    std::string volume;            // drive text of the volume read ("C:"), matched ignoring case
    std::string folder;            // catalogue folder the entries lie in: "C:" or "C:\docs"
    std::vector<SelEntry> entries; // the names selected in folder, in order
    std::string destination;       // native folder; empty: the one remembered from the last run
    RecoveryOptions options;
};

// The recovery's state in the catalogue: what the last start prepared, and the destination
// remembered between runs.
struct RecoveryState
{
    u32 m_entryIsDir = 0;    // the selection entry being recovered is a folder
    u32 m_recoverVolume = 0; // index in the job list of the volume the recovery reads
    std::string m_destDir;   // destination folder of the current recovery run
    std::string m_askedDest; // the destination asked for, before any fall-back
    std::string m_lastDest = WorkingFolderDestination(); // destination remembered between runs
    std::vector<std::string> m_destNames; // upper-cased names in the last prepared folder
};
