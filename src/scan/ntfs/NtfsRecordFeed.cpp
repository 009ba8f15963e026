#include "scan/ntfs/NtfsRecordFeed.h"

#include <algorithm>
#include <new>
#include <system_error>

#include "catalog/Catalog.h"
#include "disk/DriveReader.h"
#include "mempool/MemPool.h"
#include "platform/Status.h"

namespace
{
// Decoded batches claimed at most ahead of the caller. Either thread stalls for stretches of
// its own (the filing one on the first touch of the list's fresh pages, a decoding one on the
// kernel's copy of the MFT): room for 16 MiB of MFT ahead lets the other go on meanwhile. With
// 4 MiB the decoding thread waited up to a fifth of a 2-million-record search in some runs.
constexpr std::size_t kBatchesAhead = 16;

// Reads of ntfs's records through a reader of its own of the volume on drive, reading ahead and
// leaving out the modification time (a find shows the other two). Null when it cannot.
std::unique_ptr<CNtfs::RecordReads> OpenDecoder(const CNtfs& ntfs, const std::string& drive)
{
    std::unique_ptr<CDirectRW> reader = NewDriveReader(drive);
    if (!reader || reader->Open(drive, CNtfs::kReaderSectorSize) != kOk)
        return nullptr;
    std::unique_ptr<CNtfs::RecordReads> reads = ntfs.NewRecordReads(std::move(reader));
    if (reads)
        reads->SkipModifiedTime(true);
    return reads;
}

void FreeData(std::vector<CNtfsRecordFeed::Decoded>& records)
{
    for (CNtfsRecordFeed::Decoded& d : records)
        g_MemPool.Free(&d.info.data);
}
} // namespace

CNtfsRecordFeed::~CNtfsRecordFeed()
{
    Stop();
}

bool CNtfsRecordFeed::Start(const CNtfs& ntfs, const std::string& drive, s64 first, s64 end,
                            std::size_t batchRecords)
{
    m_ntfs = &ntfs;
    m_thread.reads = OpenDecoder(ntfs, drive);
    m_caller.reads = OpenDecoder(ntfs, drive);
    if (!m_thread.reads || !m_caller.reads || end <= first || batchRecords == 0)
    {
        m_thread.reads.reset();
        m_caller.reads.reset();
        return false;
    }
    m_first = first;
    m_end = end;
    m_batchRecords = batchRecords;
    const auto records = static_cast<std::size_t>(end - first);
    m_batches = (records + batchRecords - 1) / batchRecords;
    try
    {
        m_worker = std::thread(&CNtfsRecordFeed::Run, this);
    }
    catch (const std::system_error&)
    {
        m_thread.reads.reset();
        m_caller.reads.reset();
        return false;
    }
    return true;
}

bool CNtfsRecordFeed::Claim(std::size_t* index, std::vector<Decoded>* records)
{
    if (m_stop || g_bRunning.load(std::memory_order_relaxed) == 0 || m_claimed == m_batches ||
        m_claimed - m_taken >= kBatchesAhead)
        return false;
    *index = m_claimed++;
    m_slots.emplace_back();
    records->clear();
    if (!m_spare.empty())
    {
        *records = std::move(m_spare.back());
        m_spare.pop_back();
    }
    return true;
}

void CNtfsRecordFeed::Decode(Decoder& decoder, std::size_t index,
                             std::vector<Decoded>* records) const
{
    const s64 from = m_first + static_cast<s64>(index * m_batchRecords);
    const s64 to = std::min<s64>(m_end, from + static_cast<s64>(m_batchRecords));
    // A parser whose last batch ended elsewhere reads ahead from here, not from there.
    CNtfs::RecordReads& reads = *decoder.reads;
    if (decoder.next != from)
        reads.RestartReadAhead();
    records->reserve(m_batchRecords);
    NtfsRecordInfo info;
    s64 r = from;
    for (; r < to; ++r)
    {
        if (g_bRunning.load(std::memory_order_relaxed) == 0)
            break;
        // Files in use, most records of a disk, are no finds: their header tells so.
        if (m_ntfs->BatchedFileInUse(reads, r))
            continue;
        if (m_ntfs->ReadRecord(reads, info, r) != kOk)
        {
            if (reads.LastReadFailed())
                records->push_back(Decoded{.record = r, .info = {}, .unreadable = true});
            continue;
        }
        records->push_back(Decoded{r, std::move(info)});
        info = NtfsRecordInfo{}; // its data block went with the batch
    }
    decoder.next = r;
}

void CNtfsRecordFeed::Store(std::size_t index, std::vector<Decoded>&& records)
{
    Slot& slot = m_slots[index - m_taken];
    slot.records = std::move(records);
    slot.ready = true;
    m_changed.notify_all();
}

void CNtfsRecordFeed::Run()
{
    std::unique_lock lock(m_mutex);
    while (true)
    {
        std::vector<Decoded> records;
        std::size_t index = 0;
        bool claimed = false;
        m_changed.wait(lock,
                       [&]
                       {
                           claimed = Claim(&index, &records);
                           return claimed || m_stop ||
                                  g_bRunning.load(std::memory_order_relaxed) == 0 ||
                                  m_claimed == m_batches;
                       });
        if (!claimed)
            break; // stopped, or every batch is claimed
        lock.unlock();
        Decode(m_thread, index, &records);
        lock.lock();
        Store(index, std::move(records));
    }
}

bool CNtfsRecordFeed::Next(std::vector<Decoded>* batch)
{
    std::unique_lock lock(m_mutex);
    if (batch->capacity() != 0)
    {
        batch->clear();
        m_spare.push_back(std::move(*batch));
        batch->clear();
    }
    while (true)
    {
        if (!m_slots.empty() && m_slots.front().ready)
        {
            *batch = std::move(m_slots.front().records);
            m_slots.pop_front();
            ++m_taken;
            m_changed.notify_all();
            return true;
        }
        // The next batch is still being decoded, or not yet claimed: rather than wait, decode
        // the first one no one has claimed.
        std::size_t index = 0;
        std::vector<Decoded> records;
        if (Claim(&index, &records))
        {
            lock.unlock();
            Decode(m_caller, index, &records);
            lock.lock();
            Store(index, std::move(records));
            continue;
        }
        if (m_slots.empty())
            return false; // every batch handed over, or the search stopped
        m_changed.wait(lock);
    }
}

void CNtfsRecordFeed::Stop()
{
    if (m_worker.joinable())
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
            m_changed.notify_all();
        }
        m_worker.join();
    }
    for (Slot& slot : m_slots)
        FreeData(slot.records);
    m_slots.clear();
    m_thread.reads.reset();
    m_caller.reads.reset();
}
