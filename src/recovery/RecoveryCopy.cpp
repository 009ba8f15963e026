// The copy of one file's data, for every file system alike: the engine says where the data lies
// and hands out its bytes in order (held in its metadata, read from extents of clusters in
// chunks of four clusters, a batch of chunks per system call, holes among them, or decoded),
// and one loop counts, paces and writes them.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "catalog/VolumeEngine.h"
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

RecoveryRun::Copied RecoveryRun::CopyStream(const FoundItem& item, const DataStream& stream,
                                            u32 described, CopyWriter& out)
{
    // Bytes held in the metadata are copied in one piece, without progress messages.
    if (!stream.resident)
    {
        m_job.Post(WM_RECOVER_NOTIFY, kRecoverRange, std::string(), 10);
        m_counter = 0;
    }
    const IVolumeEngine* engine = m_volume->engine;
    std::unique_ptr<IStreamReader> reader;
    if (engine != nullptr && !Unreadable(stream, described))
        reader = engine->OpenStream(m_reader, stream, m_chunkBytes);
    if (!reader)
    {
        ReadFailed(item, out);
        return Copied::Failed;
    }
    bool whole = false;
    for (;;)
    {
        whole = reader->AtEnd();
        if (whole || !Running())
            break;
        // Under a rate limit a batch is no larger than a share of a second's reads.
        const StreamPiece piece =
            reader->Next(Data(), m_pacer.Portion(m_chunkBytes, m_chunkBytes * m_batchChunks));
        if (piece.bytes == 0)
            break; // the stream ends before its data does
        const Handed handed = Hand(item, piece, out);
        if (handed == Handed::Failed)
            return Copied::Failed;
        (void)Paced(piece.volumeBytes);
        if (handed == Handed::Cut)
            break;
    }
    // A hole at the end gives the file its length only once the length is set; so do the
    // bytes never written.
    if (!out.Finish(whole ? reader->TailZeros() : 0))
        return Copied::Failed;
    if (whole)
        return Ended(item, stream, described, *reader, out);
    if (!Running())
        return Copied::Stopped;
    // Extents that end before the data does leave the file short.
    ReadFailed(item, out);
    return Copied::Failed;
}

// True when the metadata that says where the data lies could not be read, and there is data to
// be had: bytes held in a record that could not be read, a compressed stream, or clusters.
bool RecoveryRun::Unreadable(const DataStream& stream, u32 described)
{
    return described == kStreamUnreadable &&
           (stream.resident || stream.compressionUnit != 0 || stream.ReadableBytes() > 0);
}

// Hands one piece to the file: each progress step it counts is posted, then its bytes are
// written (or left as a hole) together. A step that the read did not reach ends the file with a
// warning; a stop between steps ends the piece early.
RecoveryRun::Handed RecoveryRun::Hand(const FoundItem& item, const StreamPiece& piece,
                                      CopyWriter& out)
{
    const u64 step = piece.stepBytes;
    const u64 steps = step == 0 ? 0 : piece.bytes / step + (piece.bytes % step != 0 ? 1 : 0);
    u64 ready = steps == 0 ? piece.ready : 0;
    bool failed = steps == 0 && piece.ready < piece.bytes;
    bool cut = false;
    for (u64 c = 0; c < steps; ++c)
    {
        if (c > 0 && !Running())
        {
            cut = true;
            break;
        }
        Step();
        const u64 start = c * step;
        if (piece.ready <= start)
        {
            failed = true;
            break;
        }
        ready = std::min({piece.ready, piece.bytes, start + std::min(step, piece.bytes - start)});
    }
    if (ready > 0 && !(piece.hole ? out.Hole(ready) : out.Write(piece.data, ready)))
        return Handed::Failed;
    if (failed)
    {
        ReadFailed(item, out);
        return Handed::Failed;
    }
    return cut ? Handed::Cut : Handed::All;
}

// The end of a stream handed out whole: what it may still lack.
RecoveryRun::Copied RecoveryRun::Ended(const FoundItem& item, const DataStream& stream,
                                       u32 described, const IStreamReader& reader,
                                       const CopyWriter& out)
{
    if (stream.resident && described == kStreamClipped)
    {
        Warn(Format("The data of %s\\%s reaches past its MFT record; %s holds the part inside it.",
                    item.path.c_str(), item.name.c_str(), out.Path().c_str()),
             kWarnIncomplete);
        return Copied::Failed;
    }
    if (stream.compressionUnit != 0 && stream.compressionDamaged)
    {
        Warn(Format("The compression unit of %s\\%s is damaged; %s holds its data decompressed "
                    "in units of %llu clusters, which may not be its content.",
                    item.path.c_str(), item.name.c_str(), out.Path().c_str(),
                    static_cast<unsigned long long>(stream.compressionUnit)),
             kWarnIncomplete);
        return Copied::Failed;
    }
    if (reader.Damaged())
    {
        Warn(Format("The compressed data of %s\\%s is damaged; %s holds what could be "
                    "decompressed, with zeros for the rest.",
                    item.path.c_str(), item.name.c_str(), out.Path().c_str()),
             kWarnIncomplete);
        return Copied::Failed;
    }
    return Copied::Whole;
}
