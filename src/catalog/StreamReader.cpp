// The readers every engine can hand out: bytes held in the metadata, and extents of clusters
// stored as they are, holes among them.
#include "catalog/StreamReader.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "catalog/VolumeEngine.h"
#include "disk/DirectRW.h"
#include "platform/Status.h"

namespace
{
// What a value held in metadata costs the reader: one MFT record.
constexpr u64 kResidentReadBytes = 1024;

// a / b rounded up, without the overflow of (a + b - 1) / b.
u64 CeilDiv(u64 a, u64 b)
{
    return a / b + (a % b != 0 ? 1 : 0);
}

// The bytes held in the metadata, in one piece that counts no progress step.
class ResidentReader final : public IStreamReader
{
public:
    explicit ResidentReader(const DataStream& stream) : m_stream(stream) {}

    StreamPiece Next(u8* /*buffer*/, u64 /*room*/) override
    {
        if (AtEnd())
            return StreamPiece{};
        m_done = true;
        const u64 size = m_stream.residentBytes.size();
        return StreamPiece{m_stream.residentBytes.data(), size, size, 0, kResidentReadBytes, false};
    }
    [[nodiscard]] bool AtEnd() const override { return m_done || m_stream.residentBytes.empty(); }

private:
    const DataStream& m_stream;
    bool m_done = false;
};

// The extents in order: a hole is one piece of one step, the clusters of an extent are read in
// batches of whole chunks, a chunk a step. Extents of no clusters are passed over.
class ExtentReader final : public IStreamReader
{
public:
    ExtentReader(CDirectRW* reader, const DataStream& stream, u64 chunkBytes)
        : m_reader(reader), m_stream(stream), m_chunkBytes(chunkBytes)
    {
        // Bytes past the initialized size were never written: they read as zeros, whatever
        // their clusters hold now.
        const u64 readable = stream.ReadableBytes();
        m_unwritten = readable > stream.initializedSize ? readable - stream.initializedSize : 0;
        m_remaining = readable - m_unwritten;
    }

    StreamPiece Next(u8* buffer, u64 room) override;
    [[nodiscard]] bool AtEnd() const override { return m_remaining == 0; }
    [[nodiscard]] u64 TailZeros() const override { return m_unwritten; }

private:
    u64 ReadBatch(u8* buffer, u64 at, u64 count, u64 chunks);

    CDirectRW* m_reader;
    const DataStream& m_stream;
    u64 m_chunkBytes;
    std::size_t m_index = 0; // the extent being read
    u64 m_offset = 0;        // bytes of it handed out
    u64 m_remaining = 0;     // bytes of the stream still to hand out
    u64 m_unwritten = 0;
};

StreamPiece ExtentReader::Next(u8* buffer, u64 room)
{
    const u64 cluster = m_stream.clusterBytes;
    while (m_remaining > 0 && m_index < m_stream.extents.size())
    {
        const StreamExtent& extent = m_stream.extents[m_index];
        // A hole may claim more clusters than any volume holds: saturate rather than wrap.
        const u64 bytes = cluster != 0 && extent.length > UINT64_MAX / cluster
                              ? UINT64_MAX
                              : extent.length * cluster;
        if (m_offset >= bytes)
        {
            ++m_index;
            m_offset = 0;
            continue;
        }
        if (extent.hole)
        {
            // Clusters never written hold zeros: a hole in the copy, not whatever lies at the
            // volume's start.
            ++m_index;
            const u64 take = std::min(bytes, m_remaining);
            m_remaining -= take;
            return StreamPiece{nullptr, take, take, take, 0, true};
        }
        // Whole chunks of the extent, the last one cut to what the extent has left: a chunk is
        // read whole even where the stream ends inside it.
        const u64 left = bytes - m_offset;
        const u64 chunks =
            std::min<u64>({std::max<u64>(room / m_chunkBytes, 1), CeilDiv(left, m_chunkBytes),
                           CeilDiv(m_remaining, m_chunkBytes)});
        const u64 count = std::min(chunks * m_chunkBytes, left);
        // A cluster number that lies before the data area or past any byte a reader can address
        // (a damaged run list) reads as a failure, never as whatever the arithmetic wraps to.
        const u64 lcn = extent.lcn;
        const bool placed =
            lcn >= m_stream.firstLcn && m_stream.dataStart <= static_cast<u64>(LLONG_MAX) &&
            (cluster == 0 || lcn - m_stream.firstLcn <=
                                 (static_cast<u64>(LLONG_MAX) - m_stream.dataStart) / cluster) &&
            m_stream.ByteOf(lcn) <= static_cast<u64>(LLONG_MAX) - m_offset;
        const u64 done =
            placed ? ReadBatch(buffer, m_stream.ByteOf(lcn) + m_offset, count, chunks) : 0;
        m_offset += count;
        const u64 take = std::min(count, m_remaining);
        m_remaining -= take;
        return StreamPiece{buffer, take, std::min(done, take), m_chunkBytes, count, false};
    }
    return StreamPiece{};
}

// Reads count bytes at byte offset at in one call; a failed batch is read again chunk by chunk,
// so that the chunks in front of a bad sector are still had. Returns the bytes read.
u64 ExtentReader::ReadBatch(u8* buffer, u64 at, u64 count, u64 chunks)
{
    if (at > static_cast<u64>(LLONG_MAX))
        return 0;
    u32 done = 0;
    const u32 status =
        m_reader->ReadBytes(buffer, static_cast<u32>(count), &done, static_cast<s64>(at));
    if (status == kOk)
        return std::min<u64>(done, count);
    if (chunks <= 1)
        return 0;
    done = 0;
    for (u64 offset = 0; offset < count; offset += m_chunkBytes)
    {
        const u64 n = std::min(m_chunkBytes, count - offset);
        u32 part = 0;
        if (m_reader->ReadBytes(buffer + offset, static_cast<u32>(n), &part,
                                static_cast<s64>(at + offset)) != kOk)
            break;
        done += part;
        if (part < n)
            break;
    }
    return std::min<u64>(done, count);
}
} // namespace

std::unique_ptr<IStreamReader> OpenExtentStream(CDirectRW* reader, const DataStream& stream,
                                                u64 chunkBytes)
{
    if (stream.resident)
        return std::make_unique<ResidentReader>(stream);
    if ((reader == nullptr || chunkBytes == 0) && stream.ReadableBytes() > 0)
        return nullptr;
    return std::make_unique<ExtentReader>(reader, stream, chunkBytes);
}
