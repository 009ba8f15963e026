// The copy of one file's data, for every file system alike: the engine says where the data lies
// (bytes held in its metadata, or extents of clusters, holes among them), and the copy reads
// the extents in chunks of four clusters, a batch of chunks per system call.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "catalog/VolumeEngine.h"
#include "disk/DirectRW.h"
#include "platform/Format.h"
#include "platform/Status.h"
#include "recovery/CopyWriter.h"
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
// What a value held in metadata costs the reader: one MFT record.
constexpr u64 kResidentReadBytes = 1024;

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

} // namespace

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
    m_job.Post(WM_RECOVER_NOTIFY, kRecoverStep, std::string(), m_counter);
}

bool RecoveryRun::TakeBuffer()
{
    // A chunk is four clusters.
    const IVolumeEngine* engine = m_volume->engine;
    m_reader = engine ? engine->DataReader(*m_volume) : nullptr;
    const u64 bytes = engine ? engine->ClusterBytes(*m_volume) * 4 : 0;
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
    m_chunkBytes = bytes;
    return true;
}

void RecoveryRun::ReadFailed(const FoundItem& item, const CopyWriter& out)
{
    Warn(Format("Could not read %s\\%s from the volume; %s is incomplete.", item.path.c_str(),
                item.name.c_str(), out.Path().c_str()),
         kWarnIncomplete);
}

RecoveryRun::Copied RecoveryRun::CopyResident(const FoundItem& item, const DataStream& stream,
                                              u32 described, CopyWriter& out)
{
    // Held in the metadata: copied in one piece, without progress messages.
    if (described == kStreamUnreadable)
    {
        ReadFailed(item, out);
        return Copied::Failed;
    }
    (void)Paced(kResidentReadBytes);
    if (!out.Write(stream.residentBytes.data(), stream.residentBytes.size()))
        return Copied::Failed;
    if (described == kStreamClipped)
    {
        Warn(Format("The data of %s\\%s reaches past its MFT record; %s holds the part inside it.",
                    item.path.c_str(), item.name.c_str(), out.Path().c_str()),
             kWarnIncomplete);
        return Copied::Failed;
    }
    return Copied::Whole;
}

RecoveryRun::Copied RecoveryRun::CopyStream(const FoundItem& item, const DataStream& stream,
                                            u32 described, CopyWriter& out)
{
    if (stream.resident)
        return CopyResident(item, stream, described, out);
    if (stream.compressionUnit != 0)
        return CopyCompressed(item, stream, described, out);
    m_job.Post(WM_RECOVER_NOTIFY, kRecoverRange, std::string(), 10);
    m_counter = 0;
    const u64 readable = stream.ReadableBytes();
    if (readable > 0 && (described == kStreamUnreadable || m_reader == nullptr))
    {
        ReadFailed(item, out);
        return Copied::Failed;
    }
    // Bytes past the initialized size were never written: they read as zeros, whatever their
    // clusters hold now.
    const u64 unwritten = readable > stream.initializedSize ? readable - stream.initializedSize : 0;
    u64 remaining = readable - unwritten;
    for (const StreamExtent& extent : stream.extents)
    {
        if (!Running() || remaining == 0)
            break;
        // A hole may claim more clusters than any volume holds: saturate rather than wrap.
        const u64 bytes =
            stream.clusterBytes != 0 && extent.length > UINT64_MAX / stream.clusterBytes
                ? UINT64_MAX
                : extent.length * stream.clusterBytes;
        if (extent.hole)
        {
            // Clusters never written hold zeros: leave a hole in the file rather than reading
            // whatever lies at the volume's start.
            Step();
            const u64 take = std::min(bytes, remaining);
            if (!out.Hole(take))
                return Copied::Failed;
            remaining -= take;
        }
        else if (!CopyExtent(item, stream.ByteOf(extent.lcn), bytes, remaining, out))
            return Copied::Failed;
    }
    // A hole at the end gives the file its length only once the length is set; so do the
    // bytes never written.
    if (!out.Finish(remaining == 0 ? unwritten : 0))
        return Copied::Failed;
    if (remaining == 0)
        return Copied::Whole;
    if (!Running())
        return Copied::Stopped;
    // Extents that end before the data does leave the file short.
    ReadFailed(item, out);
    return Copied::Failed;
}

// Reads count bytes at byte offset at in one call; a failed batch is read again chunk by chunk,
// so that the chunks in front of a bad sector are still saved. Returns the bytes read.
u64 RecoveryRun::ReadBatch(u64 at, u64 count, u64 chunks)
{
    if (at > static_cast<u64>(LLONG_MAX))
        return 0;
    u32 done = 0;
    const u32 status =
        m_reader->ReadBytes(Data(), static_cast<u32>(count), &done, static_cast<s64>(at));
    if (status == kOk)
        return std::min<u64>(done, count);
    if (chunks <= 1)
        return 0;
    done = 0;
    for (u64 offset = 0; offset < count; offset += m_chunkBytes)
    {
        const u64 n = std::min(m_chunkBytes, count - offset);
        u32 part = 0;
        if (m_reader->ReadBytes(Data() + offset, static_cast<u32>(n), &part,
                                static_cast<s64>(at + offset)) != kOk)
            break;
        done += part;
        if (part < n)
            break;
    }
    return std::min<u64>(done, count);
}

// Copies the extent of bytes bytes at byte offset at, at most remaining of them, in batches of
// whole chunks. False when the copy of the file ends there (warned).
bool RecoveryRun::CopyExtent(const FoundItem& item, u64 at, u64 bytes, u64& remaining,
                             CopyWriter& out)
{
    u64 left = bytes;
    // Under a rate limit a batch is no larger than a share of a second's reads.
    const u64 batch = m_pacer.Portion(m_chunkBytes, m_chunkBytes * m_batchChunks) / m_chunkBytes;
    while (Running() && left > 0 && remaining > 0)
    {
        // Whole chunks of the extent, the last one cut to what the extent has left.
        const u64 chunks =
            std::min<u64>({std::max<u64>(batch, 1), (left + m_chunkBytes - 1) / m_chunkBytes,
                           (remaining + m_chunkBytes - 1) / m_chunkBytes});
        const u64 count = std::min(chunks * m_chunkBytes, left);
        const u64 done = ReadBatch(at, count, chunks);
        at += count;
        left -= count;
        if (!Hand(chunks, done, remaining, item, out))
            return false;
        (void)Paced(count);
    }
    return true;
}

// Hands out the chunks of one batch read in order: each is counted and reported, then the bytes
// that belong to the file are written together. A chunk that the read did not reach ends the
// file with a warning (false); a stop between chunks ends the batch early.
bool RecoveryRun::Hand(u64 chunks, u64 done, u64& remaining, const FoundItem& item, CopyWriter& out)
{
    u64 ready = 0;
    bool failed = false;
    for (u64 c = 0; c < chunks && remaining > ready; ++c)
    {
        if (c > 0 && !Running())
            break;
        Step();
        const u64 start = c * m_chunkBytes;
        if (done <= start)
        {
            failed = true;
            break;
        }
        ready += std::min<u64>({done - start, m_chunkBytes, remaining - ready});
    }
    if (ready > 0 && !out.Write(Data(), ready))
        return false;
    remaining -= ready;
    if (failed)
    {
        ReadFailed(item, out);
        return false;
    }
    return true;
}
