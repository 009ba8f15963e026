// The catalogue: the scan job list of volume entries, every found item and the run flag, and the
// facade through which the front ends reach the search control (src/scan/SearchControl.h), the
// result view (catalog/ResultView.h) and the recovery (src/recovery/Recovery.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "catalog/RecoveryRequest.h"
#include "catalog/ResultView.h"
#include "catalog/VolumeEntry.h"
#include "platform/EventSink.h"
#include "platform/LargeBlock.h"
#include "platform/Types.h"
#include "records/FoundItem.h"
#include "records/RecoveredFile.h"

class IMessageBox;
class IVolumeEngine;

// Selected rows handed from the wizard's result view to StartRecovery, in row order.
extern std::vector<SelEntry> g_Selection;

// Process-wide run flag: 1 while worker threads may go on. Workers poll it without a lock.
extern std::atomic<u32> g_bRunning;

// The catalogue owns the job list, the worker threads and the front end's sink. Its operations
// forward to the role that does them: the search control (src/scan/SearchControl.cpp), the
// result view (m_view) and the recovery (src/recovery/Recovery.cpp, which takes an explicit
// request). The view's and the recovery's state keep their names here as references.
class CCatalog
{
public:
    CCatalog();
    ~CCatalog();
    CCatalog(const CCatalog&) = delete;
    CCatalog& operator=(const CCatalog&) = delete;

    // Adds item (taken, not copied) to volume.items by its engine's rule (IVolumeEngine::
    // AddFind); a volume without an engine takes every find. On FAT and exFAT a find is dropped
    // when its first cluster lies outside [2, clusterCount] (first 0 is kept for a file of size
    // 0) or it is a folder whose first cluster is catalogued already (then the catalogued folder
    // may take the new name when the new entry is newer; a live folder that meets a deleted one
    // of its cluster is appended, and a deleted one that meets a live one dropped).
    void AddItem(FoundItem item, VolumeEntry& volume);

    // +1 when a is later than b, -1 when earlier, 0 when equal; year first.
    [[nodiscard]] static int CompareTime(const FoundTime& a, const FoundTime& b);

    // Frees everything the scan job list owns (engine states, NTFS data blocks) and empties it.
    void ResetVolumes();

    // Search control (CSearchControl). Stops the workers, empties the job list and builds it
    // afresh from selection (a letter and a colon per drive, in selection order, no separator),
    // then starts the search thread, which searches the last volume first and posts
    // WM_SCAN_NOTIFY kScanFinished once when every volume is done; the receiver then lists
    // m_curPath (entry 0) on its own thread. Returns 0 (started), 5 (no drive yielded a volume;
    // no thread started) or 64 (the thread could not be created; the list is emptied).
    [[nodiscard]] u32 StartSearch(const std::string& selection);
    // The search thread's procedure; catalogue is the CCatalog. Returns 0.
    static u32 SearchThreadProc(void* catalogue);
    // Clears g_bRunning and joins both workers, which end at their next poll of the flag.
    // With showResults and a non-empty job list, m_curPath and m_curVolume then name entry 0:
    // the caller, which owns the view, lists it. Called on a worker's own thread it only
    // clears the flag. The sink must never block its caller, or a worker caught posting could
    // not reach its next poll.
    void StopWorkers(bool showResults);
    // File system of a drive of the drive table: 0 for a FAT name ("FAT", "FAT12", ...), 4 for
    // "NTFS", 5 for "exFAT", 8 for a drive of no file system that is carved sector by sector,
    // 7 for anything else, an empty text, or a drive not in the table.
    [[nodiscard]] static u32 DetectFileSystem(const std::string& drive);

    // Recovery. The wizard's start: the request of g_Selection in the folder m_curPath, with the
    // options set here, to destination (m_lastDest when empty). Returns as the explicit start.
    [[nodiscard]] u32 StartRecovery(const std::string& destination);
    // Prepares the destination of request (m_lastDest when it names none) and starts the
    // recovery thread over its entries. View state and g_Selection are neither read nor
    // changed. Returns 0 (started), 5 (no volume of the job list is named), 512 (the
    // destination cannot be prepared, or lies on the volume being read) or 64 (no thread).
    [[nodiscard]] u32 StartRecovery(const RecoveryRequest& request);
    // Creates the missing levels of folder (a native path), falling back to the default
    // folder, and lists its names upper-cased into m_destNames. Returns 0 or 512.
    [[nodiscard]] u32 PrepareFolder(std::string& folder);
    // The recovery thread's procedure; job is the run the start prepared (a RecoveryJob,
    // src/recovery/RecoveryRun.h), which it takes over. Returns 0.
    static u32 RecoverThreadProc(void* job);

    // Result view (m_view); dialog thread only.
    // Puts in the two built-in file types ("Directory" and "File"/"Unknown File") and forgets
    // every other one.
    void InitFileTypes();
    // Replaces *rows with the content of m_curPath on volume: the volume list when m_curPath
    // is empty, else ".." (below a root), the folders (last found first), then the files
    // (first found first). Sets m_fileCount to the number of file rows.
    void ShowFolder(const VolumeEntry& volume, std::vector<ResultRow>* rows);
    // Appends to *rows a "Directory" row for each next level of m_curPath that items lie below
    // but that no folder row of *rows names.
    void AddLevelRows(const VolumeEntry& volume, std::vector<ResultRow>* rows);
    // Opens the row named text (a volume text, a folder name of the shown folder, or "..")
    // and refills *rows. False when nothing changed (rows and view state are left as they are).
    bool Navigate(const std::string& text, std::vector<ResultRow>* rows);
    // Replaces extension (without its dot) by its description and sets *image to its type
    // index, learning the type through m_fileTypes the first time it is seen.
    void GetFileType(std::string& extension, s32* image);
    // The time as the locale's short date, two blanks and the locale's time.
    std::string FormatTime(const FoundTime& time);

    // Posts one notification to the front end; dropped when no sink is set.
    void Post(u32 message, u32 code, const std::string& text, u32 extra) const;

    CResultView m_view;       // the result view's state
    RecoveryState m_recovery; // the recovery's state between runs

    u32& m_entryIsDir = m_recovery.m_entryIsDir;
    u32& m_recoverVolume = m_recovery.m_recoverVolume;
    std::string& m_destDir = m_recovery.m_destDir;
    std::string& m_askedDest = m_recovery.m_askedDest;
    u64 m_maxReadRate = 0;         // bytes a second the recovery reads at most; 0: no limit
    bool m_contiguousRead = false; // recovery: FAT and exFAT finds read as one stretch each
    bool m_deepSearch = false;     // search: each volume's deep search follows its normal one
    char (&m_timeBuf)[160] = m_view.m_timeBuf;
    s32& m_curVolume = m_view.m_curVolume;
    std::string& m_lastDest = m_recovery.m_lastDest;
    std::vector<VolumeEntry> m_volumes; // the scan job list, owner of all items
    std::string& m_curPath = m_view.m_curPath;
    std::thread m_searchThread;  // search worker
    std::thread m_recoverThread; // recovery worker
    std::vector<std::string>& m_typeExts = m_view.m_typeExts;
    std::vector<std::string>& m_typeNames = m_view.m_typeNames;
    std::vector<std::string>& m_destNames = m_recovery.m_destNames;
    u32& m_fileCount = m_view.m_fileCount;
    IEventSink* m_sink = nullptr; // receiver of WM_SCAN_NOTIFY and WM_RECOVER_NOTIFY; not owned
    IMessageBox* m_messageBox = nullptr; // shows the recovery's message boxes; not owned
    IRecoveryObserver* m_recoveryObserver = nullptr; // told about each file the recovery
                                                     // attempted; not owned, may be null
    std::vector<std::string>& m_typeIcons = m_view.m_typeIcons;
    IFileTypes*& m_fileTypes = m_view.m_fileTypes;
};
