// One run of the recovery thread over the selected items of one volume: the destination
// folders (RecoverThread.cpp) and the copy of each file's data (RecoveryCopy.cpp).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "catalog/Catalog.h"
#include "catalog/VolumeEngine.h"
#include "disk/ReadPacer.h"
#include "mempool/MemPool.h"
#include "recovery/CopyWriter.h"
#include "recovery/DestinationFolders.h"

class IMessageBox;

// One recovery run as its start prepared it: the volume and the entries to write, the
// destination and what was in it, the options, and where to report. The run works on nothing
// else of the catalogue.
struct RecoveryJob
{
    VolumeEntry* volume = nullptr;      // the volume read; its items stay put while the run goes
    std::string folder;                 // catalogue folder the entries lie in
    std::vector<SelEntry> entries;      // the names selected in folder, in order
    std::string destDir;                // the destination, prepared
    std::string askedDest;              // the destination asked for, before any fall-back
    std::vector<std::string> destNames; // upper-cased names in destDir when it was prepared
    RecoveryOptions options;
    IEventSink* sink = nullptr;        // not owned; may be null
    IMessageBox* messageBox = nullptr; // not owned; may be null
    u32* entryIsDir = nullptr;         // told whether the entry being written is a folder

    void Post(u32 message, u32 code, const std::string& text, u32 extra) const
    {
        if (sink != nullptr)
            sink->Post(message, code, text, extra);
    }
};

class RecoveryRun
{
public:
    explicit RecoveryRun(RecoveryJob& job) : m_job(job), m_pacer(job.options.maxReadRate) {}

    void Run();

private:
    // How the copy of one file's data ended.
    enum class Copied
    {
        Whole,  // every byte it was asked for
        Failed, // cut short; a warning naming the file was posted
        Stopped // the run flag was cleared before the end
    };

    // The last free-space answer for a destination folder.
    struct Space
    {
        std::string folder;
        std::chrono::steady_clock::time_point asked{};
        u64 blockSize = 0;
        u64 freeBlocks = 0;
        u64 used = 0; // blocks counted for the files recovered since the answer
        bool known = false;

        bool Fits(u64 size) const
        {
            return used < freeBlocks && freeBlocks - used > size / blockSize + 1;
        }
    };

    // Run, entries, folders and messages (RecoverThread.cpp).
    void Fatal(const char* text);
    void Fatal(const std::string& text);
    void Warn(const std::string& text, u32 kind);
    void DoEntry(const SelEntry& entry);
    void IndexItems();
    std::vector<std::size_t> ItemsBelow(const std::string& folder);
    void RecoverFile(const FoundItem& item, const std::vector<std::string>& levels);
    void WriteFile(const FoundItem& item, const std::vector<std::string>& levels);
    void WarnWhole(const FoundItem& item, const DataStream& stream, const std::string& path);
    // The digest of the file open as fd, read back from its start; "" when it cannot be read
    // or (stoppable) the run is stopped meanwhile.
    std::string DigestOf(int fd, bool stoppable);
    DestinationFolder* EnterFolder(const std::vector<std::string>& levels, bool* diverted);
    bool EnoughSpace(const std::string& folder, u64 size);
    bool CheckNotSource(const DestinationFolder& folder);

    // The copy (RecoveryCopy.cpp).
    // How the hand-over of one piece of a stream ended.
    enum class Handed
    {
        All,   // every byte of it is in the file
        Cut,   // the run flag was cleared between its steps
        Failed // the file ends here; a warning naming it was posted
    };
    bool TakeBuffer();
    u8* Data() const;
    bool Paced(u64 bytes);
    void Step();
    // The copy of one stream into out, whatever holds it: one loop over the engine's reader.
    Copied CopyStream(const FoundItem& item, const DataStream& stream, u32 described,
                      CopyWriter& out);
    static bool Unreadable(const DataStream& stream, u32 described);
    Handed Hand(const FoundItem& item, const StreamPiece& piece, CopyWriter& out);
    Copied Ended(const FoundItem& item, const DataStream& stream, u32 described,
                 const IStreamReader& reader, const CopyWriter& out);
    void ReadFailed(const FoundItem& item, const CopyWriter& out);

    RecoveryJob& m_job;
    VolumeEntry* m_volume = nullptr;
    std::string m_destDir;
    bool m_destDiverted = false;    // the whole run writes into the default folder
    CDestinationFolders m_folders;  // below m_destDir
    CDestinationFolders m_fallback; // below the default folder, opened on first need
    std::unordered_set<std::string> m_failedFolders; // levels below m_destDir that failed
    std::unordered_map<std::string, std::vector<std::size_t>> m_byFolder; // items by path
    CReadPacer m_pacer;
    Space m_space;
    CDirectRW* m_reader = nullptr; // the engine's data reader for the current entry
    std::unique_ptr<PoolBlock> m_buffer;
    u64 m_chunkBytes = 0;  // four clusters
    u32 m_batchChunks = 1; // chunks the transfer buffer holds
    u32 m_counter = 0;     // chunk counter of the current file
    bool m_continue = true;
    bool m_intact = true; // no warning of the current file said it is short, damaged or astray
    // What became of the current file, for the observer (when one is set).
    RecoveredFile m_record;
};
