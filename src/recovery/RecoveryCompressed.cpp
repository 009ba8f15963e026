// The copy of a stream stored in compression units: each unit of 16 clusters is stored whole
// (all its clusters on the volume), compressed (fewer clusters, then a hole; the engine decodes
// it), or not at all (a hole: zeros).
#include <algorithm>
#include <climits>
#include <vector>

#include "catalog/VolumeEngine.h"
#include "disk/DirectRW.h"
#include "platform/Format.h"
#include "platform/Status.h"
#include "recovery/CopyWriter.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryRun.h"

namespace
{
// Units of more than this are not LZNT1 as any writer makes it (16 clusters of 4 KiB).
constexpr u64 kMaxUnitBytes = 16u << 20;

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

// The clusters of one unit as the extents give them, in order: each run's first cluster (or a
// hole) and length. False when the extents end before the unit does.
struct UnitRun
{
    u64 lcn;
    u64 length;
    bool hole;
};

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
} // namespace

bool RecoveryRun::ReadExactly(u8* out, u64 count, u64 at)
{
    u32 done = 0;
    return m_reader != nullptr && count <= UINT32_MAX && at <= static_cast<u64>(LLONG_MAX) &&
           m_reader->ReadBytes(out, static_cast<u32>(count), &done, static_cast<s64>(at)) == kOk &&
           done == count;
}

// Reads the stored clusters of the unit that starts at cluster first into stored and gives its
// bytes in *data: the stored clusters themselves when the unit is stored whole, else unit holding
// them decompressed (zeros past what decodes). *storedClusters is 0 for a unit never written.
// False when the unit cannot be placed or read.
bool RecoveryRun::LoadUnit(const DataStream& stream, u64 first, std::vector<u8>& stored,
                           std::vector<u8>& unit, u8** data, u64* storedClusters, bool* damaged)
{
    const u64 unitClusters = stream.compressionUnit;
    std::vector<UnitRun> runs;
    if (!UnitRuns(stream, first, unitClusters, &runs))
        return false; // the extents end before the data: the rest cannot be placed
    u64 clusters = 0;
    bool holeSeen = false;
    bool ordered = true; // stored clusters first, then the hole
    for (const UnitRun& r : runs)
    {
        if (r.hole)
            holeSeen = true;
        else if (holeSeen)
            ordered = false;
        else
            clusters += r.length;
    }
    // Stored clusters: read them in order.
    u64 filled = 0;
    for (const UnitRun& r : runs)
    {
        if (r.hole || filled >= clusters * stream.clusterBytes)
            break;
        const u64 bytes = r.length * stream.clusterBytes;
        if (!ReadExactly(stored.data() + filled, bytes, stream.ByteOf(r.lcn)))
            return false;
        filled += bytes;
    }
    (void)Paced(filled);
    *storedClusters = clusters;
    *data = clusters == unitClusters ? stored.data() : unit.data();
    if (clusters != 0 && clusters != unitClusters)
    {
        // The engine decodes: the copy knows units, not their coding.
        u64 produced = 0;
        const bool decoded = m_volume->engine->DecodeUnit(stored.data(), filled, unit.data(),
                                                          unit.size(), &produced);
        std::fill(unit.begin() + static_cast<std::ptrdiff_t>(std::min<u64>(produced, unit.size())),
                  unit.end(), u8{0});
        *damaged = *damaged || !decoded || !ordered;
    }
    return true;
}

RecoveryRun::Copied RecoveryRun::CopyCompressed(const FoundItem& item, const DataStream& stream,
                                                u32 described, CopyWriter& out)
{
    m_job.Post(WM_RECOVER_NOTIFY, kRecoverRange, std::string(), 10);
    m_counter = 0;
    const u64 unitClusters = stream.compressionUnit;
    const u64 unitBytes =
        stream.clusterBytes != 0 && unitClusters <= kMaxUnitBytes / stream.clusterBytes
            ? unitClusters * stream.clusterBytes
            : 0;
    if (described == kStreamUnreadable || m_reader == nullptr || unitBytes == 0)
    {
        ReadFailed(item, out);
        return Copied::Failed;
    }
    std::vector<u8> stored(unitBytes);
    std::vector<u8> unit(unitBytes);
    const u64 size = stream.size;
    const u64 valid = std::min(size, stream.initializedSize);
    bool damaged = false;
    for (u64 first = 0, at = 0; at < size; first += unitClusters)
    {
        if (!Running())
            return Copied::Stopped;
        Step();
        u8* data = nullptr;
        u64 storedClusters = 0;
        if (!LoadUnit(stream, first, stored, unit, &data, &storedClusters, &damaged))
        {
            ReadFailed(item, out);
            return Copied::Failed;
        }
        // Bytes past the initialized size were never written.
        const u64 take = std::min(unitBytes, size - at);
        if (at + take > valid)
            std::fill(data + static_cast<std::ptrdiff_t>(valid > at ? valid - at : 0),
                      data + static_cast<std::ptrdiff_t>(take), u8{0});
        // A unit never written stays a hole in the copy too.
        if (!(storedClusters == 0 ? out.Hole(take) : out.Write(data, take)))
            return Copied::Failed;
        at += take;
    }
    if (!out.Finish(0))
        return Copied::Failed;
    if (stream.compressionDamaged)
    {
        Warn(Format("The compression unit of %s\\%s is damaged; %s holds its data decompressed "
                    "in units of %llu clusters, which may not be its content.",
                    item.path.c_str(), item.name.c_str(), out.Path().c_str(),
                    static_cast<unsigned long long>(unitClusters)),
             kWarnIncomplete);
        return Copied::Failed;
    }
    if (damaged)
    {
        Warn(Format("The compressed data of %s\\%s is damaged; %s holds what could be "
                    "decompressed, with zeros for the rest.",
                    item.path.c_str(), item.name.c_str(), out.Path().c_str()),
             kWarnIncomplete);
        return Copied::Failed;
    }
    return Copied::Whole;
}
