// The recovery thread: copies the selected items of one volume into the destination, FAT data
// as one contiguous stretch from the first cluster, NTFS data from its run list or from the
// value inside the MFT record, in chunks of four clusters.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "catalog/Catalog.h"
#include "disk/DirectRW.h"
#include "fat/FatBootSector.h"
#include "mempool/MemPool.h"
#include "ntfs/Ntfs.h"
#include "platform/DriveTable.h"
#include "platform/Format.h"
#include "platform/Status.h"
#include "recovery/ReadPacer.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryHost.h"

namespace
{
// Largest transfer buffer: the pool hands out blocks below 2 GiB.
constexpr u64 kMaxBuffer = 0x7FFFFFFF;
// Bytes read and written per system call while copying (a whole number of chunks).
constexpr u64 kBatchBytes = 1u << 20;
// The transfer buffer starts on a page boundary: the kernel copies to and from a misaligned
// buffer at half the speed or less. The pool block holds this much slack in front.
constexpr u64 kPage = 4096;
// How long a free-space answer is trusted (less what was written since).
constexpr auto kSpaceAge = std::chrono::milliseconds(200);

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

// Writes all of [data, data + count) or returns the errno that stopped it.
int WriteAll(int fd, const u8* data, u64 count)
{
    while (count > 0)
    {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        data += n;
        count -= static_cast<u64>(n);
    }
    return 0;
}

std::string ErrorText(int error)
{
    char text[256] = {};
    return strerror_r(error, text, sizeof text);
}

// One recovery run over the volume entry at m_recoverVolume. The catalogue is not modified
// while the thread runs (the wizard starts no other worker and no reset until it ends), so the
// run reads the entry's items in place rather than copying them.
class RecoveryRun
{
public:
    explicit RecoveryRun(CCatalog& catalog) : m_catalog(catalog), m_pacer(catalog.m_maxReadRate) {}

    void Run()
    {
        if (m_catalog.m_recoverVolume < m_catalog.m_volumes.size())
        {
            m_volume = &m_catalog.m_volumes[m_catalog.m_recoverVolume];
            m_destDir = m_catalog.m_destDir;
            m_prepared[m_destDir] = Prepared{m_destDir, ToSet(m_catalog.m_destNames)};
            for (const SelEntry& entry : g_Selection)
            {
                if (!m_continue || !Running())
                    break;
                DoEntry(entry);
            }
        }
        m_buffer.reset();
        if (m_continue)
            m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverFinished, kFinishedText,
                           kRecoverFinishedExtra);
    }

private:
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

    struct Prepared
    {
        std::string folder; // where the files go (PrepareFolder may have chosen the default)
        std::unordered_set<std::string> names; // upper-cased names present when prepared
    };

    static std::unordered_set<std::string> ToSet(const std::vector<std::string>& names)
    {
        return std::unordered_set<std::string>(names.begin(), names.end());
    }

    void Fatal(const char* text)
    {
        m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverFatal, text, 0);
        m_continue = false;
    }

    void Warn(const std::string& text)
    {
        m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverWarning, text, 0);
    }

    bool IsNtfs() const { return m_volume->fsType == kFsNtfs; }

    // The page-aligned start of the transfer buffer.
    u8* Data() const
    {
        const auto at = reinterpret_cast<std::uintptr_t>(m_buffer->Bytes());
        return m_buffer->Bytes() + ((kPage - at % kPage) % kPage);
    }

    // Waits as long as the read rate limit asks after reading bytes; false after a stop.
    bool Paced(u64 bytes)
    {
        return m_pacer.Pace(bytes, [] { return Running(); });
    }

    void DoEntry(const SelEntry& entry)
    {
        m_catalog.m_entryIsDir = entry.isDir;
        const std::string source = entry.isDir ? g_SelFolder + "\\" + entry.name : g_SelFolder;
        const std::string target = entry.isDir ? m_destDir + "/" + SafeName(entry.name) : m_destDir;
        if (!TakeBuffer())
            return;
        const std::vector<FoundItem>& items = m_volume->items;
        if (!entry.isDir)
        {
            IndexItems();
            const auto folder = m_byFolder.find(source);
            if (folder == m_byFolder.end())
                return;
            for (const std::size_t index : folder->second)
            {
                if (!Running())
                    return;
                if (items[index].name == entry.name)
                {
                    RecoverFile(items[index], target);
                    return;
                }
            }
            return;
        }
        for (const std::size_t index : ItemsBelow(source))
        {
            if (!m_continue || !Running())
                return;
            const FoundItem& item = items[index];
            // Only files are written: a folder is made when a file in it is.
            if (item.attr & 0x10)
                continue;
            RecoverFile(item, MapFolder(item.path, source, target));
        }
    }

    void IndexItems()
    {
        const std::vector<FoundItem>& items = m_volume->items;
        if (m_byFolder.empty())
            for (std::size_t i = 0; i < items.size(); ++i)
                m_byFolder[items[i].path].push_back(i);
    }

    // Indices of the items in folder and below it, in catalogue order. The items are grouped by
    // their folder once per run: comparing every item's path for each selected folder cost
    // more than the copy when a volume's root holds hundreds of folders.
    std::vector<std::size_t> ItemsBelow(const std::string& folder)
    {
        IndexItems();
        std::vector<std::size_t> below;
        for (const auto& [path, indices] : m_byFolder)
        {
            if (path.starts_with(folder) &&
                (path.size() == folder.size() || path[folder.size()] == '\\'))
                below.insert(below.end(), indices.begin(), indices.end());
        }
        std::sort(below.begin(), below.end());
        return below;
    }

    // Sizes the chunk and takes the transfer buffer for the entry's volume.
    bool TakeBuffer()
    {
        u64 chunk = 0;
        u64 bytes = 0;
        if (IsNtfs())
        {
            CNtfs* ntfs = m_volume->ntfs.get();
            const u32 spc = ntfs ? ntfs->GetSectorsPerCluster() : 0;
            m_bytesPerSector = ntfs ? ntfs->GetBytesPerSector() : CNtfs::kReaderSectorSize;
            chunk = static_cast<u64>(spc) * 4;
            bytes = m_bytesPerSector * chunk;
            m_recordSectors = CNtfs::GetRecordSize() / m_bytesPerSector;
            // The resident value is read as one whole record into the same buffer.
            bytes = std::max<u64>(bytes, CNtfs::GetRecordSize());
        }
        else
        {
            if (m_volume->reader)
                (void)m_volume->reader->Open(m_volume->name, 512);
            const FatBootSector* boot = m_volume->fatBoot.get();
            const u32 spc = boot ? boot->GetBpb()->sectorsPerCluster : 0;
            const u32 bps = boot ? boot->GetBytesPerSector() : 0;
            m_bytesPerSector = bps == 0xFFFFFFFFu ? 0 : bps;
            chunk = static_cast<u64>(spc) * 4;
            bytes = m_bytesPerSector * chunk;
        }
        m_buffer.reset();
        // Chunks are still counted and reported one by one, but read and written a batch at a
        // time: four clusters per system call cost more than the copy itself.
        u64 batch = bytes > 0 ? std::max<u64>(1, kBatchBytes / bytes) : 1;
        for (; batch >= 1 && !m_buffer; batch /= 2)
        {
            const u64 want = bytes * batch;
            if (bytes == 0 || want + kPage > kMaxBuffer)
                continue;
            m_buffer = std::make_unique<PoolBlock>(static_cast<int>(want + kPage));
            if (!*m_buffer)
                m_buffer.reset();
            else
                m_batchChunks = static_cast<u32>(batch);
        }
        if (!m_buffer)
        {
            Fatal(kNoMemoryText);
            return false;
        }
        m_chunk = static_cast<u32>(chunk);
        m_bufferSize = bytes * m_batchChunks;
        return true;
    }

    void RecoverFile(const FoundItem& item, const std::string& folder)
    {
        m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverFile,
                       Format("Recovering %s\\%s", item.path.c_str(), item.name.c_str()),
                       item.attr);

        if (!EnoughSpace(folder, item.size))
        {
            Fatal(kNoSpaceText);
            return;
        }

        auto it = m_prepared.find(folder);
        if (it == m_prepared.end())
        {
            std::string made = folder;
            if (m_catalog.PrepareFolder(made) != kOk)
            {
                Fatal(kNoSavePathText);
                return;
            }
            if (!CheckNotSource(made))
                return;
            it = m_prepared.emplace(folder, Prepared{made, ToSet(m_catalog.m_destNames)}).first;
        }
        const Prepared& target = it->second;

        // A name present when the folder was prepared gets "New " in front; a name taken
        // since then, or "New " + name taken too, gets the next free "New (n) " name.
        const std::string name = SafeName(item.name);
        const bool clash = target.names.contains(UpperName(name));
        std::string path;
        int error = 0;
        const int fd = CreateFreshFile(target.folder, name, clash, &path, &error);
        if (fd < 0)
        {
            Warn(ErrorText(error));
            return;
        }
        bool ok = CopyData(item, fd, path);
        if (::close(fd) != 0 && ok)
            Warn(Format("Failed to write %s: %s", path.c_str(), ErrorText(errno).c_str()));
    }

    // Free space of the destination, in 64 bits: a file of 4 GiB or more must not pass. Asking
    // the file system before each of 100,000 small files costs as much as copying them, so an
    // answer is kept for a short while and lowered by what the run has written since; it is
    // asked again for another folder, when older than kSpaceAge, and always before refusing.
    bool EnoughSpace(const std::string& folder, u64 size)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!m_space.known || folder != m_space.folder || now - m_space.asked > kSpaceAge ||
            !m_space.Fits(size))
        {
            IRecoveryHost& host = RecoveryHost();
            m_space = Space{};
            m_space.folder = folder;
            m_space.asked = now;
            m_space.known = host.FreeSpace(NearestExisting(host, folder), &m_space.blockSize,
                                           &m_space.freeBlocks) &&
                            m_space.blockSize != 0;
        }
        // Without an answer the copy goes ahead; a failed write still ends the file with a
        // warning.
        if (!m_space.known)
            return true;
        if (!m_space.Fits(size))
            return false;
        m_space.used += size / m_space.blockSize + 1;
        return true;
    }

    // A folder made during the run may be a mount point of the source volume.
    bool CheckNotSource(const std::string& folder)
    {
        const std::optional<DriveSource> source = g_DriveTable.Find(m_volume->name);
        if (!source || !DestinationIsSource(RecoveryHost(), folder, *source))
            return true;
        const std::string& shown = source->display.empty() ? source->path : source->display;
        const std::string text =
            Format("Refusing to recover onto %s: it is the volume being read (%s).", folder.c_str(),
                   shown.c_str());
        m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverFatal, text, 0);
        m_continue = false;
        return false;
    }

    bool Write(int fd, const u8* data, u64 count, const std::string& path)
    {
        const int error = WriteAll(fd, data, count);
        if (error == 0)
            return true;
        Warn(Format("Failed to write %s: %s", path.c_str(), ErrorText(error).c_str()));
        return false;
    }

    void ReadFailed(const FoundItem& item, const std::string& path)
    {
        Warn(Format("Could not read %s\\%s from the volume; %s is incomplete.", item.path.c_str(),
                    item.name.c_str(), path.c_str()));
    }

    void Step()
    {
        ++m_counter;
        m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverStep, std::string(), m_counter);
    }

    // Copies the item's data into fd. False when a warning about the file was posted.
    bool CopyData(const FoundItem& item, int fd, const std::string& path)
    {
        if (!IsNtfs())
            return CopyFat(item, fd, path);
        u16 valueOffset = 0;
        if (NtfsDataIsResident(static_cast<const u8*>(item.data), &valueOffset))
            return CopyResident(item, valueOffset, fd, path);
        return CopyRuns(item, fd, path);
    }

    bool CopyFat(const FoundItem& item, int fd, const std::string& path)
    {
        m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverRange, std::string(), 10);
        m_counter = 0;
        CDirectRW* reader = m_volume->reader.get();
        const FatBootSector* boot = m_volume->fatBoot.get();
        s64 sector = item.first > static_cast<u64>(LLONG_MAX) ? -1 : static_cast<s64>(item.first);
        if (item.size > 0 && (!reader || !boot || !boot->ClusterToSector(&sector)))
        {
            ReadFailed(item, path);
            return false;
        }
        const u64 chunkBytes = static_cast<u64>(m_chunk) * m_bytesPerSector;
        u64 remaining = item.size;
        while (Running() && remaining > 0)
        {
            // The volume's own sector size addresses the data, whatever the reader's is.
            const u64 chunks =
                std::min<u64>(m_batchChunks, (remaining + chunkBytes - 1) / chunkBytes);
            const u64 at = static_cast<u64>(sector);
            u32 done = 0;
            const bool reachable = at <= static_cast<u64>(LLONG_MAX) / m_bytesPerSector;
            u32 status = reachable
                             ? reader->ReadBytes(Data(), static_cast<u32>(chunks * chunkBytes),
                                                 &done, static_cast<s64>(at * m_bytesPerSector))
                             : kErrSeek;
            if (status != kOk && reachable && chunks > 1)
            {
                // A failed batch is read again chunk by chunk, so that the chunks in front of
                // a bad sector are still saved.
                done = 0;
                for (u64 c = 0; c < chunks; ++c)
                {
                    u32 part = 0;
                    const u64 offset = (at + c * m_chunk) * m_bytesPerSector;
                    if (reader->ReadBytes(Data() + c * chunkBytes, static_cast<u32>(chunkBytes),
                                          &part, static_cast<s64>(offset)) != kOk)
                        break;
                    done += part;
                    if (part < chunkBytes)
                        break;
                }
                status = kOk;
            }
            sector += static_cast<s64>(chunks * m_chunk);
            if (!Hand(chunks, chunkBytes, status == kOk ? done : 0, remaining, item, fd, path))
                return false;
            (void)Paced(chunks * chunkBytes);
        }
        return true;
    }

    // Hands out the chunks of one batch read in order: each is counted and reported, then the
    // bytes that belong to the file are written together. A chunk that the read did not reach
    // ends the file with a warning, as does a stop between chunks (without the warning).
    bool Hand(u64 chunks, u64 chunkBytes, u64 done, u64& remaining, const FoundItem& item, int fd,
              const std::string& path)
    {
        u64 ready = 0;
        bool failed = false;
        for (u64 c = 0; c < chunks && remaining > ready; ++c)
        {
            if (c > 0 && !Running())
                break;
            Step();
            const u64 start = c * chunkBytes;
            if (done <= start)
            {
                failed = true;
                break;
            }
            ready += std::min<u64>({done - start, chunkBytes, remaining - ready});
        }
        if (ready > 0 && !Write(fd, Data(), ready, path))
            return false;
        remaining -= ready;
        if (failed)
        {
            ReadFailed(item, path);
            return false;
        }
        return true;
    }

    bool CopyRuns(const FoundItem& item, int fd, const std::string& path)
    {
        m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverRange, std::string(), 10);
        m_counter = 0;
        CNtfs* ntfs = m_volume->ntfs.get();
        CDirectRW* reader = ntfs ? ntfs->Reader() : nullptr;
        const u8* runBytes = nullptr;
        int limit = 0;
        std::vector<NtfsRun> runs;
        if (NtfsDataRunList(static_cast<const u8*>(item.data), &runBytes, &limit))
            (void)CNtfs::DecodeRuns(runBytes, limit, runs);
        std::vector<bool> sparse = SparseRuns(runBytes, limit);
        if (sparse.size() != runs.size())
            sparse.assign(runs.size(), false);
        const u64 spc = ntfs ? ntfs->GetSectorsPerCluster() : 0;
        u64 remaining = item.size;
        bool hole = false;
        for (std::size_t r = 0; r < runs.size(); ++r)
        {
            const NtfsRun& run = runs[r];
            if (!Running() || remaining == 0)
                break;
            if (sparse[r])
            {
                // Clusters never written hold zeros: leave a hole in the file rather than
                // reading whatever lies at the volume's start.
                Step();
                const u64 take = std::min<u64>(
                    static_cast<u64>(run.clusterCount) * spc * m_bytesPerSector, remaining);
                if (::lseek(fd, static_cast<off_t>(take), SEEK_CUR) < 0)
                {
                    Warn(Format("Failed to write %s: %s", path.c_str(), ErrorText(errno).c_str()));
                    return false;
                }
                remaining -= take;
                hole = take > 0;
                continue;
            }
            u64 sector = run.startCluster * spc;
            u64 left = run.clusterCount * spc;
            const u64 chunkBytes = static_cast<u64>(m_chunk) * m_bytesPerSector;
            while (Running() && left > 0 && remaining > 0)
            {
                // Whole chunks of the run, the last one cut to what the run has left.
                const u64 chunks = std::min<u64>({m_batchChunks, (left + m_chunk - 1) / m_chunk,
                                                  (remaining + chunkBytes - 1) / chunkBytes});
                const u32 count = static_cast<u32>(std::min<u64>(chunks * m_chunk, left));
                u32 done = 0;
                u32 status = reader && count > 0 ? reader->ReadSectors(Data(), count, &done, sector)
                                                 : kErrTransfer;
                if (status != kOk && reader && chunks > 1)
                {
                    // As for FAT: read a failed batch again chunk by chunk.
                    done = 0;
                    for (u32 first = 0; first < count; first += m_chunk)
                    {
                        const u32 n = std::min(m_chunk, count - first);
                        u32 part = 0;
                        if (reader->ReadSectors(Data() + static_cast<u64>(first) * m_bytesPerSector,
                                                n, &part, sector + first) != kOk)
                            break;
                        done += part;
                        if (part < static_cast<u64>(n) * m_bytesPerSector)
                            break;
                    }
                    status = kOk;
                }
                sector += count;
                left -= count;
                // The run's last chunk holds only what the run has left.
                const u64 got = std::min<u64>(status == kOk ? done : 0,
                                              static_cast<u64>(count) * m_bytesPerSector);
                if (!Hand(chunks, chunkBytes, got, remaining, item, fd, path))
                    return false;
                hole = false;
                (void)Paced(static_cast<u64>(count) * m_bytesPerSector);
            }
        }
        // A hole at the end gives the file its length only once the length is set.
        if (hole && ::ftruncate(fd, static_cast<off_t>(item.size - remaining)) != 0)
        {
            Warn(Format("Failed to write %s: %s", path.c_str(), ErrorText(errno).c_str()));
            return false;
        }
        // A run list that ends before the data does leaves the file short.
        if (Running() && remaining > 0)
        {
            ReadFailed(item, path);
            return false;
        }
        return true;
    }

    bool CopyResident(const FoundItem& item, u16 valueOffset, int fd, const std::string& path)
    {
        constexpr u32 kRecord = CNtfs::kRecordSize;
        u8* record = Data();
        std::memset(record, 0, kRecord); // only the record is read and used
        CDirectRW* reader = m_volume->ntfs ? m_volume->ntfs->Reader() : nullptr;
        u32 done = 0;
        if (!reader || reader->ReadSectors(record, m_recordSectors, &done, item.first) != kOk ||
            done < kRecord)
        {
            ReadFailed(item, path);
            return false;
        }
        (void)Paced(kRecord);
        u32 start = 0;
        u32 length = 0;
        const u32 status =
            ExtractResidentValue(record, kRecord, valueOffset, item.size, &start, &length);
        if (!Write(fd, record + start, length, path))
            return false;
        if (status != kOk)
        {
            Warn(Format("The data of %s\\%s reaches past its MFT record; %s holds the part "
                        "inside it.",
                        item.path.c_str(), item.name.c_str(), path.c_str()));
            return false;
        }
        return true;
    }

    CCatalog& m_catalog;
    VolumeEntry* m_volume = nullptr;
    std::string m_destDir;
    std::map<std::string, Prepared> m_prepared;                           // by the folder asked for
    std::unordered_map<std::string, std::vector<std::size_t>> m_byFolder; // items by path
    CReadPacer m_pacer;
    Space m_space;
    std::unique_ptr<PoolBlock> m_buffer;
    u64 m_bufferSize = 0;
    u32 m_chunk = 0;          // sectors per chunk: four clusters
    u32 m_batchChunks = 1;    // chunks the transfer buffer holds
    u32 m_bytesPerSector = 0; // of the volume (FAT) or of the CNtfs reader (NTFS)
    u32 m_recordSectors = 0;
    u32 m_counter = 0; // chunk counter of the current file
    bool m_continue = true;
};
} // namespace

u32 CCatalog::RecoverThreadProc(void* catalogue)
{
    // No start-up pause: the front end takes the events from a queue in order.
    RecoveryRun run(*static_cast<CCatalog*>(catalogue));
    run.Run();
    return 0;
}
