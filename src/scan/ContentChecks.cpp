#include "scan/ContentChecks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "catalog/Catalog.h"
#include "catalog/VolumeEngine.h"
#include "catalog/VolumeEntry.h"
#include "disk/DirectRW.h"
#include "scan/ClusterVolume.h"
#include "scan/VolumeClusters.h"

namespace
{
constexpr u8 kFolderAttr = 0x10; // a folder's attribute bit

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

// A find's stream as its validator reads it: the extents read through the engine's reader a
// window at a time, holes and the bytes past the written ones as zeros, resident bytes as they
// are. A byte no extent covers, or one the medium did not give, ends what can be read.
class StreamSource final : public IContentSource
{
public:
    StreamSource(const DataStream& stream, CDirectRW* reader, u64 size)
        : m_stream(stream), m_reader(reader), m_size(size)
    {
    }
    [[nodiscard]] u64 Size() const override { return m_size; }
    [[nodiscard]] std::size_t Read(u64 offset, std::span<u8> out) override
    {
        std::size_t done = 0;
        while (done < out.size() && offset + done < m_size)
        {
            const u64 at = offset + done;
            if ((at < m_windowAt || at >= m_windowAt + m_windowBytes) && !Fill(at))
                break;
            const u64 n =
                std::min<u64>({out.size() - done, m_windowAt + m_windowBytes - at, m_size - at});
            std::memcpy(out.data() + done, m_window.data() + (at - m_windowAt), n);
            done += n;
        }
        return done;
    }

private:
    static constexpr u64 kWindowBytes = 256u << 10;

    // Reads the window that holds byte at; false when not even that byte could be read.
    bool Fill(u64 at)
    {
        if (m_window.empty())
            m_window.resize(kWindowBytes);
        m_windowAt = at - at % kWindowBytes;
        const u64 want = std::min<u64>(kWindowBytes, m_size - m_windowAt);
        m_windowBytes = ReadStream(m_windowAt, want);
        return m_windowBytes > at - m_windowAt;
    }
    // Reads want bytes of the stream from pos into the window; returns those read, from the start.
    u64 ReadStream(u64 pos, u64 want)
    {
        if (m_stream.resident)
        {
            const auto& bytes = m_stream.residentBytes;
            const u64 n = pos < bytes.size() ? std::min<u64>(want, bytes.size() - pos) : 0;
            if (n != 0)
                std::memcpy(m_window.data(), bytes.data() + pos, n);
            return n;
        }
        u64 done = 0;
        while (done < want)
        {
            const u64 got = ReadPiece(pos + done, want - done, m_window.data() + done);
            if (got == 0)
                break;
            done += got;
        }
        return done;
    }
    // Reads what the extent holding byte pos gives of want bytes into out; 0 when none does.
    u64 ReadPiece(u64 pos, u64 want, u8* out)
    {
        const u64 cb = m_stream.clusterBytes;
        if (cb == 0)
            return 0;
        const u64 vcn = pos / cb;
        // Reads go forward: the search starts at the extent the last read ended in.
        const std::vector<StreamExtent>& extents = m_stream.extents;
        for (std::size_t k = 0; k < extents.size(); ++k)
        {
            const std::size_t i = (m_extent + k) % extents.size();
            const StreamExtent& e = extents[i];
            if (vcn < e.vcn || vcn - e.vcn >= e.length)
                continue;
            m_extent = i;
            const u64 inExtent = (e.length - (vcn - e.vcn)) * cb - pos % cb;
            u64 n = std::min(want, inExtent);
            // Bytes past the written ones read as zeros, as do holes.
            if (e.hole || pos >= m_stream.initializedSize)
            {
                std::memset(out, 0, n);
                return n;
            }
            n = std::min(n, m_stream.initializedSize - pos);
            const u64 byte = m_stream.ByteOf(e.lcn + (vcn - e.vcn)) + pos % cb;
            u32 got = 0;
            if (m_reader == nullptr || byte > static_cast<u64>(std::numeric_limits<s64>::max()) ||
                m_reader->ReadBytes(out, static_cast<u32>(n), &got, static_cast<s64>(byte)) != 0)
                return 0;
            return got;
        }
        return 0;
    }

    const DataStream& m_stream;
    CDirectRW* m_reader;
    u64 m_size;
    std::vector<u8> m_window;
    u64 m_windowAt = 0;
    u64 m_windowBytes = 0;
    std::size_t m_extent = 0; // the extent the last read was in
};

// Bytes in memory standing for a file of size bytes: those past them cannot be read.
class SizedSource final : public IContentSource
{
public:
    SizedSource(std::span<const u8> bytes, u64 size) : m_bytes(bytes), m_size(size) {}
    [[nodiscard]] u64 Size() const override { return m_size; }
    [[nodiscard]] std::size_t Read(u64 offset, std::span<u8> out) override
    {
        return m_bytes.Read(offset, out);
    }

private:
    MemorySource m_bytes;
    u64 m_size;
};

// The bytes of a compressed stream, decoded by the engine's reader, in memory: false when they
// are too many or the stream cannot be opened. What cannot be read is left out (short).
bool ReadDecoded(const IVolumeEngine& engine, CDirectRW* reader, const DataStream& stream, u64 size,
                 std::vector<u8>* bytes)
{
    if (size > kCheckedCompressedBytes || stream.clusterBytes == 0)
        return false;
    std::unique_ptr<IStreamReader> in = engine.OpenStream(reader, stream, stream.clusterBytes);
    if (!in)
        return false;
    const u64 room = std::max<u64>(stream.clusterBytes * 16, stream.clusterBytes);
    std::vector<u8> buffer(room);
    bytes->clear();
    while (!in->AtEnd() && bytes->size() < size && Running())
    {
        const StreamPiece piece = in->Next(buffer.data(), room);
        if (piece.bytes == 0)
            break;
        const u64 take =
            std::min<u64>(piece.hole ? piece.bytes : piece.ready, size - bytes->size());
        if (piece.hole || piece.data == nullptr)
            bytes->resize(bytes->size() + take, 0);
        else
            bytes->insert(bytes->end(), piece.data, piece.data + take);
        if (!piece.hole && piece.ready < piece.bytes)
            break;
    }
    if (in->AtEnd() && bytes->size() < size)
        bytes->resize(std::min<u64>(size, bytes->size() + in->TailZeros()), 0);
    return true;
}

// Validates what source holds as the type its name and first bytes give; the content is kNone
// for a type no validator knows.
FindContent Judge(const FoundItem& item, IContentSource& source, const ContentCheckers& with,
                  CarveType* type)
{
    std::array<u8, kHeaderBytes> head{};
    const std::size_t got = source.Read(0, head);
    *type = TypeToCheck(item.name.view(), std::span<const u8>(head.data(), got), with);
    if (*type == CarveType::kNone)
        return FindContent::kNone;
    const ContentCheck check = with.validate(*type, source);
    // An MP3's frames give no length: one that ends before the file does holds other data
    // after its last frame.
    if (check.verdict == FindContent::kValid && CarveFamily(check.type) == CarveType::kMp3 &&
        check.end != 0 && check.end < source.Size())
        return FindContent::kDamaged;
    return check.verdict;
}

// The content of item's bytes as the engine describes them into *stream.
FindContent CheckFind(VolumeEntry& entry, const FoundItem& item, const ContentCheckers& with,
                      DataStream* stream, CarveType* type)
{
    const IVolumeEngine& engine = *entry.engine;
    *type = CarveType::kNone;
    if (engine.DescribeStream(entry, item, stream) == kStreamUnreadable || stream->encrypted)
        return FindContent::kNone;
    CDirectRW* reader = stream->resident ? nullptr : engine.DataReader(entry);
    if (stream->compressionUnit != 0 && !stream->resident)
    {
        std::vector<u8> bytes;
        if (!ReadDecoded(engine, reader, *stream, item.size, &bytes))
            return FindContent::kNone;
        // The decoded bytes stand for the whole file: what is missing reads as not there.
        SizedSource source(bytes, item.size);
        return Judge(item, source, with, type);
    }
    StreamSource source(*stream, reader, item.size);
    return Judge(item, source, with, type);
}

// True when item is one the content check judges.
bool Checked(const FoundItem& item)
{
    return item.deleted != 0 && (item.attr & kFolderAttr) == 0 && item.carved == 0 &&
           item.size != 0 && !(item.deep != 0 && item.condition == FindCondition::kOverwritten);
}

// Lays item out again from its first cluster (see CheckContents); true when a layout that
// validates replaced the one it had.
bool RetryLayout(VolumeEntry& entry, ClusterVolumeState& state, VolumeClusters& clusters,
                 FoundItem& item, CarveType type, DataStream& stream, const ContentCheckers& with)
{
    const std::vector<StreamExtent> own = stream.extents;
    for (const StreamExtent& e : own)
        if (!e.hole)
            clusters.Unclaim(e.lcn, e.length);
    VolumeCarveSpace space(clusters, entry.engine->DataReader(entry));
    const CarveLayout layout = with.layOut(type, item.first, space, GapLimits{}, item.size);
    const u64 cb = clusters.geometry.clusterBytes;
    u64 have = 0;
    bool fits = !layout.runs.empty() && layout.runs.front().first == item.first;
    for (const CarveRun& run : layout.runs)
    {
        fits = fits && run.length != 0 && run.first <= std::numeric_limits<u32>::max() &&
               run.length <= std::numeric_limits<u32>::max() - run.first;
        // Only free clusters: the layout kept is no live file's and no other find's.
        for (u64 c = run.first; fits && c < run.first + run.length; ++c)
            fits = clusters.Free(c);
        have += run.length;
    }
    const u32 runsAt = item.runsAt;
    const u32 runCount = item.runCount;
    const std::size_t before = state.assignedRuns.size();
    if (fits && layout.check.verdict == FindContent::kValid && cb != 0 &&
        have >= item.size / cb + (item.size % cb != 0) &&
        before + layout.runs.size() <= std::numeric_limits<u32>::max())
    {
        for (const CarveRun& run : layout.runs)
            state.assignedRuns.push_back(
                ClusterRun{static_cast<u32>(run.first), static_cast<u32>(run.length)});
        item.runsAt = static_cast<u32>(before);
        item.runCount = static_cast<u32>(layout.runs.size());
        // The layout is taken only when the engine reads it back as a valid file.
        CarveType again = CarveType::kNone;
        if (CheckFind(entry, item, with, &stream, &again) == FindContent::kValid)
        {
            space.Take(layout.runs);
            item.SetContent(FindContent::kValid);
            item.condition = FindCondition::kInferred;
            item.overwrittenPct = 0;
            item.overwritten = 0;
            return true;
        }
        item.runsAt = runsAt;
        item.runCount = runCount;
        state.assignedRuns.resize(before);
    }
    for (const StreamExtent& e : own)
        if (!e.hole)
            clusters.Claim(e.lcn, e.length);
    return false;
}
} // namespace

CarveType TypeToCheck(std::string_view name, std::span<const u8> head, const ContentCheckers& with)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size())
        return CarveType::kNone;
    const CarveType byName = CarveTypeOfExtension(name.substr(dot + 1));
    if (byName == CarveType::kNone || byName == CarveType::kText)
        return CarveType::kNone;
    const CarveType byHead = head.empty() ? CarveType::kNone : with.matchHeader(head);
    if (byHead != CarveType::kNone && byHead != CarveType::kText &&
        CarveFamily(byHead) != CarveFamily(byName))
        return byHead;
    return byName;
}

void CheckContents(VolumeEntry& entry, VolumeClusters& clusters, const ContentCheckers& with,
                   const ContentProgress& progress)
{
    if (entry.engine == nullptr)
        return;
    ClusterVolumeState* state = ClusterVolumeOf(entry);
    const bool relayable =
        state != nullptr && clusters.known && clusters.geometry.clusterBytes != 0;
    // The name alone rules out most finds before their data is described.
    const auto judged = [&with](const FoundItem& item)
    { return Checked(item) && TypeToCheck(item.name.view(), {}, with) != CarveType::kNone; };
    const auto total =
        static_cast<std::size_t>(std::count_if(entry.items.begin(), entry.items.end(), judged));
    std::size_t done = 0;
    u64 shown = 0;
    if (progress && total != 0)
        progress(0, total);
    DataStream stream;
    for (FoundItem& item : entry.items)
    {
        if (!Running())
            return;
        if (!judged(item))
            continue;
        CarveType type = CarveType::kNone;
        item.SetContent(CheckFind(entry, item, with, &stream, &type));
        if (relayable && item.inferred != 0 && item.Content() == FindContent::kDamaged)
            (void)RetryLayout(entry, *state, clusters, item, type, stream, with);
        const u64 permille = u64{++done} * 1000 / total;
        if (progress && permille != shown)
        {
            shown = permille;
            progress(done, total);
        }
    }
}
