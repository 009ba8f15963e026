// The copy of one file's data: FAT data as one contiguous stretch from the first cluster, NTFS
// data from its run list or from the value inside its MFT record, in chunks of four clusters
// read and written a batch at a time.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "disk/DirectRW.h"
#include "fat/FatBootSector.h"
#include "ntfs/Ntfs.h"
#include "platform/Format.h"
#include "platform/Status.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryRun.h"

namespace
{
// Largest transfer buffer: the pool hands out blocks below 2 GiB.
constexpr u64 kMaxBuffer = 0x7FFFFFFF;
// Bytes read and written per system call while copying (a whole number of chunks).
constexpr u64 kBatchBytes = 1u << 20;
// The transfer buffer starts on a page boundary: the kernel copies to and from a misaligned
// buffer at half the speed or less. The pool block holds this much slack in front.
constexpr u64 kPage = 4096;

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

// The runs of a non-resident NTFS data block with their sparse marks, as the decoder yields
// them.
void DecodeDataRuns(const FoundItem& item, std::vector<NtfsRun>* runs, std::vector<bool>* sparse)
{
    const u8* runBytes = nullptr;
    int limit = 0;
    runs->clear();
    if (NtfsDataRunList(static_cast<const u8*>(item.data), &runBytes, &limit))
        (void)CNtfs::DecodeRuns(runBytes, limit, *runs);
    *sparse = SparseRuns(runBytes, limit);
    if (sparse->size() != runs->size())
        sparse->assign(runs->size(), false);
}
} // namespace

bool RecoveryRun::IsNtfs() const
{
    return m_volume->fsType == kFsNtfs;
}

u8* RecoveryRun::Data() const
{
    const auto at = reinterpret_cast<std::uintptr_t>(m_buffer->Bytes());
    return m_buffer->Bytes() + ((kPage - at % kPage) % kPage);
}

bool RecoveryRun::Paced(u64 bytes)
{
    return m_pacer.Pace(bytes, [] { return Running(); });
}

void RecoveryRun::Step()
{
    ++m_counter;
    m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverStep, std::string(), m_counter);
}

bool RecoveryRun::TakeBuffer()
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

u64 RecoveryRun::ReadableSize(const FoundItem& item)
{
    if (item.size == 0)
        return 0;
    if (!IsNtfs())
    {
        // The contiguous read from the first cluster ends with the volume's last cluster.
        const FatBootSector* boot = m_volume->fatBoot.get();
        const u64 last = m_volume->clusterCount;
        if (!boot || item.first < 2 || item.first > last)
            return item.size;
        const u64 clusterBytes =
            static_cast<u64>(boot->GetBpb()->sectorsPerCluster) * boot->GetBytesPerSector();
        const u64 clusters = last - item.first + 1;
        if (clusterBytes == 0 || clusters > UINT64_MAX / clusterBytes)
            return item.size;
        return std::min(item.size, clusters * clusterBytes);
    }
    u16 valueOffset = 0;
    if (NtfsDataIsResident(static_cast<const u8*>(item.data), &valueOffset))
        return std::min<u64>(item.size, CNtfs::kRecordSize);
    CNtfs* ntfs = m_volume->ntfs.get();
    const u64 spc = ntfs ? ntfs->GetSectorsPerCluster() : 0;
    if (spc == 0)
        return item.size;
    // What the runs hold: holes count whole, clusters only as far as the volume reaches (a run
    // past its end ends what can be read, since everything after it would be misplaced).
    const u64 clusterBytes = spc * m_bytesPerSector;
    const u64 volumeClusters = ntfs->Boot().totalSectors / spc;
    std::vector<NtfsRun> runs;
    std::vector<bool> sparse;
    DecodeDataRuns(item, &runs, &sparse);
    u64 clusters = 0;
    for (std::size_t r = 0; r < runs.size(); ++r)
    {
        const u64 start = runs[r].startCluster;
        const u64 count = runs[r].clusterCount;
        if (!sparse[r] && (start > volumeClusters || count > volumeClusters - start))
        {
            clusters += start < volumeClusters ? volumeClusters - start : 0;
            break;
        }
        clusters += count;
    }
    return std::min(item.size, clusters * clusterBytes);
}

RecoveryRun::Copied RecoveryRun::CopyData(const FoundItem& item, u64 size, int fd,
                                          const std::string& path)
{
    if (!IsNtfs())
        return CopyFat(item, size, fd, path);
    u16 valueOffset = 0;
    if (NtfsDataIsResident(static_cast<const u8*>(item.data), &valueOffset))
        return CopyResident(item, valueOffset, fd, path);
    return CopyRuns(item, size, fd, path);
}

bool RecoveryRun::Write(int fd, const u8* data, u64 count, const std::string& path)
{
    const int error = WriteAll(fd, data, count);
    if (error == 0)
    {
        m_written += count;
        return true;
    }
    Warn(Format("Failed to write %s: %s", path.c_str(), ErrorText(error).c_str()),
         kWarnIncomplete);
    return false;
}

void RecoveryRun::ReadFailed(const FoundItem& item, const std::string& path)
{
    Warn(Format("Could not read %s\\%s from the volume; %s is incomplete.", item.path.c_str(),
                item.name.c_str(), path.c_str()),
         kWarnIncomplete);
}

RecoveryRun::Copied RecoveryRun::CopyFat(const FoundItem& item, u64 size, int fd,
                                         const std::string& path)
{
    m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverRange, std::string(), 10);
    m_counter = 0;
    CDirectRW* reader = m_volume->reader.get();
    const FatBootSector* boot = m_volume->fatBoot.get();
    s64 sector = item.first > static_cast<u64>(LLONG_MAX) ? -1 : static_cast<s64>(item.first);
    if (size > 0 && (!reader || !boot || !boot->ClusterToSector(&sector)))
    {
        ReadFailed(item, path);
        return Copied::Failed;
    }
    const u64 chunkBytes = static_cast<u64>(m_chunk) * m_bytesPerSector;
    u64 remaining = size;
    while (Running() && remaining > 0)
    {
        // The volume's own sector size addresses the data, whatever the reader's is.
        const u64 chunks = std::min<u64>(m_batchChunks, (remaining + chunkBytes - 1) / chunkBytes);
        const u64 at = static_cast<u64>(sector);
        u32 done = 0;
        const bool reachable = at <= static_cast<u64>(LLONG_MAX) / m_bytesPerSector;
        u32 status = reachable ? reader->ReadBytes(Data(), static_cast<u32>(chunks * chunkBytes),
                                                   &done, static_cast<s64>(at * m_bytesPerSector))
                               : kErrSeek;
        if (status != kOk && reachable && chunks > 1)
        {
            // A failed batch is read again chunk by chunk, so that the chunks in front of a bad
            // sector are still saved.
            done = 0;
            for (u64 c = 0; c < chunks; ++c)
            {
                u32 part = 0;
                const u64 offset = (at + c * m_chunk) * m_bytesPerSector;
                if (reader->ReadBytes(Data() + c * chunkBytes, static_cast<u32>(chunkBytes), &part,
                                      static_cast<s64>(offset)) != kOk)
                    break;
                done += part;
                if (part < chunkBytes)
                    break;
            }
            status = kOk;
        }
        sector += static_cast<s64>(chunks * m_chunk);
        bool failed = false;
        if (!Hand(chunks, chunkBytes, status == kOk ? done : 0, remaining, item, fd, path, &failed))
            return Copied::Failed;
        (void)Paced(chunks * chunkBytes);
    }
    return remaining == 0 ? Copied::Whole : Copied::Stopped;
}

// Hands out the chunks of one batch read in order: each is counted and reported, then the bytes
// that belong to the file are written together. A chunk that the read did not reach ends the
// file with a warning (false); a stop between chunks ends the batch early.
bool RecoveryRun::Hand(u64 chunks, u64 chunkBytes, u64 done, u64& remaining, const FoundItem& item,
                       int fd, const std::string& path, bool* failed)
{
    u64 ready = 0;
    *failed = false;
    for (u64 c = 0; c < chunks && remaining > ready; ++c)
    {
        if (c > 0 && !Running())
            break;
        Step();
        const u64 start = c * chunkBytes;
        if (done <= start)
        {
            *failed = true;
            break;
        }
        ready += std::min<u64>({done - start, chunkBytes, remaining - ready});
    }
    if (ready > 0 && !Write(fd, Data(), ready, path))
        return false;
    remaining -= ready;
    if (*failed)
    {
        ReadFailed(item, path);
        return false;
    }
    return true;
}

RecoveryRun::Copied RecoveryRun::CopyRuns(const FoundItem& item, u64 size, int fd,
                                          const std::string& path)
{
    m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverRange, std::string(), 10);
    m_counter = 0;
    CNtfs* ntfs = m_volume->ntfs.get();
    CDirectRW* reader = ntfs ? ntfs->Reader() : nullptr;
    std::vector<NtfsRun> runs;
    std::vector<bool> sparse;
    DecodeDataRuns(item, &runs, &sparse);
    const u64 spc = ntfs ? ntfs->GetSectorsPerCluster() : 0;
    u64 remaining = size;
    bool hole = false;
    for (std::size_t r = 0; r < runs.size(); ++r)
    {
        const NtfsRun& run = runs[r];
        if (!Running() || remaining == 0)
            break;
        if (sparse[r])
        {
            // Clusters never written hold zeros: leave a hole in the file rather than reading
            // whatever lies at the volume's start.
            Step();
            const u64 take = std::min<u64>(
                static_cast<u64>(run.clusterCount) * spc * m_bytesPerSector, remaining);
            if (::lseek(fd, static_cast<off_t>(take), SEEK_CUR) < 0)
            {
                Warn(Format("Failed to write %s: %s", path.c_str(), ErrorText(errno).c_str()),
                     kWarnIncomplete);
                return Copied::Failed;
            }
            m_written += take;
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
            u32 status =
                reader && count > 0 ? reader->ReadSectors(Data(), count, &done, sector) : kErrTransfer;
            if (status != kOk && reader && chunks > 1)
            {
                // As for FAT: read a failed batch again chunk by chunk.
                done = 0;
                for (u32 first = 0; first < count; first += m_chunk)
                {
                    const u32 n = std::min(m_chunk, count - first);
                    u32 part = 0;
                    if (reader->ReadSectors(Data() + static_cast<u64>(first) * m_bytesPerSector, n,
                                            &part, sector + first) != kOk)
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
            const u64 got =
                std::min<u64>(status == kOk ? done : 0, static_cast<u64>(count) * m_bytesPerSector);
            bool failed = false;
            if (!Hand(chunks, chunkBytes, got, remaining, item, fd, path, &failed))
                return Copied::Failed;
            hole = false;
            (void)Paced(static_cast<u64>(count) * m_bytesPerSector);
        }
    }
    // A hole at the end gives the file its length only once the length is set.
    if (hole && ::ftruncate(fd, static_cast<off_t>(size - remaining)) != 0)
    {
        Warn(Format("Failed to write %s: %s", path.c_str(), ErrorText(errno).c_str()),
             kWarnIncomplete);
        return Copied::Failed;
    }
    if (remaining == 0)
        return Copied::Whole;
    if (!Running())
        return Copied::Stopped;
    // A run list that ends before the data does leaves the file short.
    ReadFailed(item, path);
    return Copied::Failed;
}

RecoveryRun::Copied RecoveryRun::CopyResident(const FoundItem& item, u16 valueOffset, int fd,
                                              const std::string& path)
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
        return Copied::Failed;
    }
    (void)Paced(kRecord);
    u32 start = 0;
    u32 length = 0;
    const u32 status = ExtractResidentValue(record, kRecord, valueOffset, item.size, &start, &length);
    if (!Write(fd, record + start, length, path))
        return Copied::Failed;
    if (status != kOk)
    {
        Warn(Format("The data of %s\\%s reaches past its MFT record; %s holds the part inside it.",
                    item.path.c_str(), item.name.c_str(), path.c_str()),
             kWarnIncomplete);
        return Copied::Failed;
    }
    return Copied::Whole;
}
