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
#include "mempool/MemPool.h"
#include "recovery/DestinationFolders.h"
#include "recovery/ReadPacer.h"

class RecoveryRun
{
public:
    explicit RecoveryRun(CCatalog& catalog) : m_catalog(catalog), m_pacer(catalog.m_maxReadRate) {}

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
    // The digest of the file open as fd, read back from its start; "" when it cannot be read
    // or (stoppable) the run is stopped meanwhile.
    std::string DigestOf(int fd, bool stoppable);
    DestinationFolder* EnterFolder(const std::vector<std::string>& levels, bool* diverted);
    bool EnoughSpace(const std::string& folder, u64 size);
    bool CheckNotSource(const DestinationFolder& folder);

    // The copy (RecoveryCopy.cpp).
    bool TakeBuffer();
    u8* Data() const;
    bool Paced(u64 bytes);
    void Step();
    Copied CopyStream(const FoundItem& item, const DataStream& stream, u32 described, int fd,
                      const std::string& path);
    Copied CopyResident(const FoundItem& item, const DataStream& stream, u32 described, int fd,
                        const std::string& path);
    bool Hand(u64 chunks, u64 done, u64& remaining, const FoundItem& item, int fd,
              const std::string& path, bool* failed);
    // Reads count bytes at byte offset at into the buffer, chunks of them; a batch of several
    // chunks that fails is read again chunk by chunk, so that the chunks in front of a bad sector
    // are still saved. The read's status, and in done the bytes read.
    u32 ReadBatch(u64 at, u64 count, u64 chunks, u32* done);
    // Leaves bytes of the file as a hole; false, with a warning, when the file cannot seek.
    bool SkipHole(int fd, u64 bytes, const std::string& path);
    // Gives the file its length; false, with a warning, when it cannot.
    bool SetLength(int fd, u64 size, const std::string& path);
    // A stream stored in LZNT1 compression units (RecoveryCompressed.cpp).
    Copied CopyCompressed(const FoundItem& item, const DataStream& stream, u32 described, int fd,
                          const std::string& path);
    // Reads count bytes at byte offset at of the reader into out; false when any is missing.
    bool ReadExactly(u8* out, u64 count, u64 at);
    bool Write(int fd, const u8* data, u64 count, const std::string& path);
    void ReadFailed(const FoundItem& item, const std::string& path);

    CCatalog& m_catalog;
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
    u64 m_written = 0;     // bytes of the current file written (or left as a hole)
    u64 m_chunkBytes = 0;  // four clusters
    u32 m_batchChunks = 1; // chunks the transfer buffer holds
    u32 m_counter = 0;     // chunk counter of the current file
    bool m_continue = true;
    bool m_intact = true; // no warning of the current file said it is short, damaged or astray
    // What became of the current file, for the observer (when one is set).
    RecoveredFile m_record;
};
