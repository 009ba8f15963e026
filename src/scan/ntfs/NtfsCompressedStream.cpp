#include "scan/ntfs/NtfsCompressedStream.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "catalog/VolumeEngine.h"
#include "disk/DirectRW.h"
#include "ntfs/Lznt1.h"
#include "ntfs/NtfsResult.h"
#include "platform/Status.h"

namespace
{
// Units of more than this are not LZNT1 as any writer makes it (16 clusters of 4 KiB).
constexpr u64 kMaxUnitBytes = 16u << 20;

// The clusters of one unit as the extents give them, in order: each run's first cluster (or a
// hole) and length.
struct UnitRun
{
    u64 lcn;
    u64 length;
    bool hole;
};

// The runs of the unit of clusters clusters from firstVcn on. False when the extents end before
// the unit does.
bool UnitRuns(const DataStream& stream, u64 firstVcn, u64 clusters, std::vector<UnitRun>* out)
{
    out->clear();
    u64 vcn = firstVcn;
    const u64 end = firstVcn + clusters;
    for (const StreamExtent& e : stream.extents)
    {
        if (vcn >= end)
            break;
        if (e.vcn + e.length <= vcn || e.vcn > vcn)
            continue;
        const u64 skip = vcn - e.vcn;
        const u64 take = std::min(e.length - skip, end - vcn);
        out->push_back(UnitRun{e.hole ? 0 : e.lcn + skip, take, e.hole});
        vcn += take;
    }
    return vcn == end;
}

// One unit a piece, a step each; a unit never written is a hole.
class UnitReader final : public IStreamReader
{
public:
    UnitReader(CDirectRW* reader, const DataStream& stream, u64 unitBytes)
        : m_reader(reader), m_stream(stream), m_stored(unitBytes), m_unit(unitBytes)
    {
    }

    StreamPiece Next(u8* buffer, u64 room) override;
    [[nodiscard]] bool AtEnd() const override { return m_at >= m_stream.size; }
    [[nodiscard]] bool Damaged() const override { return m_damaged; }

private:
    bool ReadExactly(u8* out, u64 count, u64 at);
    bool LoadUnit(u8** data, u64* storedClusters, u64* filled);

    CDirectRW* m_reader;
    const DataStream& m_stream;
    std::vector<u8> m_stored; // the unit's stored clusters
    std::vector<u8> m_unit;   // the unit decoded
    std::vector<UnitRun> m_runs;
    u64 m_first = 0; // first cluster of the next unit
    u64 m_at = 0;    // bytes of the stream handed out
    bool m_failed = false;
    bool m_damaged = false;
};

bool UnitReader::ReadExactly(u8* out, u64 count, u64 at)
{
    u32 done = 0;
    return count <= UINT32_MAX && at <= static_cast<u64>(LLONG_MAX) &&
           m_reader->ReadBytes(out, static_cast<u32>(count), &done, static_cast<s64>(at)) == kOk &&
           done == count;
}

// Reads the stored clusters of the unit that starts at cluster m_first and gives its bytes in
// *data: the stored clusters themselves when the unit is stored whole, else the unit decoded
// (zeros past what decodes). *storedClusters is 0 for a unit never written; *filled counts the
// bytes read. False when the unit cannot be placed or read.
bool UnitReader::LoadUnit(u8** data, u64* storedClusters, u64* filled)
{
    const u64 unitClusters = m_stream.compressionUnit;
    if (!UnitRuns(m_stream, m_first, unitClusters, &m_runs))
        return false; // the extents end before the data: the rest cannot be placed
    u64 clusters = 0;
    bool holeSeen = false;
    bool ordered = true; // stored clusters first, then the hole
    for (const UnitRun& r : m_runs)
    {
        if (r.hole)
            holeSeen = true;
        else if (holeSeen)
            ordered = false;
        else
            clusters += r.length;
    }
    // Stored clusters: read them in order.
    *filled = 0;
    for (const UnitRun& r : m_runs)
    {
        if (r.hole || *filled >= clusters * m_stream.clusterBytes)
            break;
        const u64 bytes = r.length * m_stream.clusterBytes;
        if (!ReadExactly(m_stored.data() + *filled, bytes, m_stream.ByteOf(r.lcn)))
            return false;
        *filled += bytes;
    }
    *storedClusters = clusters;
    *data = clusters == unitClusters ? m_stored.data() : m_unit.data();
    if (clusters != 0 && clusters != unitClusters)
    {
        // LZNT1, the one compression NTFS writes.
        std::size_t produced = 0;
        const bool decoded = DecompressLznt1(m_stored.data(), static_cast<std::size_t>(*filled),
                                             m_unit.data(), m_unit.size(), &produced) == kNtfsOk;
        std::fill(m_unit.begin() + static_cast<std::ptrdiff_t>(std::min(produced, m_unit.size())),
                  m_unit.end(), u8{0});
        m_damaged = m_damaged || !decoded || !ordered;
    }
    return true;
}

StreamPiece UnitReader::Next(u8* /*buffer*/, u64 /*room*/)
{
    if (AtEnd() || m_failed)
        return StreamPiece{};
    const u64 size = m_stream.size;
    const u64 take = std::min<u64>(m_unit.size(), size - m_at);
    u8* data = nullptr;
    u64 storedClusters = 0;
    u64 filled = 0;
    if (!LoadUnit(&data, &storedClusters, &filled))
    {
        // Nothing of the unit is had: the copy ends there.
        m_failed = true;
        return StreamPiece{nullptr, take, 0, take, filled, false};
    }
    // Bytes past the initialized size were never written.
    const u64 valid = std::min(size, m_stream.initializedSize);
    if (m_at + take > valid)
        std::fill(data + static_cast<std::ptrdiff_t>(valid > m_at ? valid - m_at : 0),
                  data + static_cast<std::ptrdiff_t>(take), u8{0});
    m_at += take;
    m_first += m_stream.compressionUnit;
    // A unit never written stays a hole in the copy too.
    if (storedClusters == 0)
        return StreamPiece{nullptr, take, take, take, filled, true};
    return StreamPiece{data, take, take, take, filled, false};
}
} // namespace

std::unique_ptr<IStreamReader> OpenCompressedStream(CDirectRW* reader, const DataStream& stream)
{
    const u64 unitClusters = stream.compressionUnit;
    const u64 unitBytes =
        stream.clusterBytes != 0 && unitClusters <= kMaxUnitBytes / stream.clusterBytes
            ? unitClusters * stream.clusterBytes
            : 0;
    if (reader == nullptr || unitBytes == 0)
        return nullptr;
    return std::make_unique<UnitReader>(reader, stream, unitBytes);
}
