#include "scan/NtfsRecordFeed.h"

#include <new>
#include <system_error>

#include "catalog/Catalog.h"
#include "disk/DriveReader.h"
#include "mempool/MemPool.h"
#include "platform/Status.h"

namespace
{
constexpr std::size_t kBatchRecords = 1024; // about 1 MiB of MFT per batch
// Decoded batches waiting at most. Either thread stalls for stretches of its own (the filing
// one on the first touch of the list's fresh pages, the decoding one on the kernel's copy of
// the MFT): room for 16 MiB of MFT ahead lets the other go on meanwhile. With 4 MiB the
// decoding thread waited up to a fifth of a 2-million-record search in some runs.
constexpr std::size_t kBatchesAhead = 16;
} // namespace

CNtfsRecordFeed::~CNtfsRecordFeed()
{
    Stop();
}

bool CNtfsRecordFeed::Start(const std::string& drive, s64 first, s64 end)
{
    m_ntfs.reset(new (std::nothrow) CNtfs(NewDriveReader(drive)));
    if (!m_ntfs || m_ntfs->Open(drive, 1) != kOk)
    {
        m_ntfs.reset();
        return false;
    }
    // Decoding is the longer half of the two: the caller converts the times.
    m_ntfs->LeaveTimesToCaller(true);
    try
    {
        m_thread = std::thread(&CNtfsRecordFeed::Run, this, first, end);
    }
    catch (const std::system_error&)
    {
        m_ntfs.reset();
        return false;
    }
    return true;
}

void CNtfsRecordFeed::Run(s64 first, s64 end)
{
    m_ntfs->SetReadAhead(true);
    NtfsRecordInfo info;
    std::vector<Decoded> batch;
    bool more = true;
    for (s64 r = first; more && r < end;)
    {
        batch.reserve(kBatchRecords);
        for (; r < end && batch.size() < kBatchRecords; ++r)
        {
            if (g_bRunning.load(std::memory_order_relaxed) == 0)
            {
                more = false;
                break;
            }
            if (m_ntfs->ReadRecord(info, r) != kOk)
                continue;
            batch.push_back(Decoded{r, std::move(info)});
            info = NtfsRecordInfo{}; // its data block went with the batch
        }
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stop || m_ready.size() < kBatchesAhead; });
        if (m_stop)
            break;
        m_ready.push_back(std::move(batch));
        batch.clear();
        if (!m_spare.empty())
        {
            batch = std::move(m_spare.back());
            m_spare.pop_back();
        }
        m_changed.notify_all();
    }
    for (Decoded& d : batch)
        g_MemPool.Free(&d.info.data);
    m_ntfs->SetReadAhead(false);
    std::lock_guard lock(m_mutex);
    m_finished = true;
    m_changed.notify_all();
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
    m_changed.wait(lock, [this] { return !m_ready.empty() || m_finished; });
    if (m_ready.empty())
        return false;
    *batch = std::move(m_ready.front());
    m_ready.pop_front();
    m_changed.notify_all();
    return true;
}

void CNtfsRecordFeed::Stop()
{
    if (m_thread.joinable())
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
            m_changed.notify_all();
        }
        m_thread.join();
    }
    for (std::vector<Decoded>& batch : m_ready)
        for (Decoded& d : batch)
            g_MemPool.Free(&d.info.data);
    m_ready.clear();
    m_ntfs.reset();
}
