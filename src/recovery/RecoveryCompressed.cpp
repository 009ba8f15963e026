// The copy of a stream stored in compression units (NTFS LZNT1): each unit of 16 clusters is
// stored whole (all its clusters on the volume), compressed (fewer clusters, then a hole), or
// not at all (a hole: zeros).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "catalog/VolumeEngine.h"
#include "disk/DirectRW.h"
#include "ntfs/Lznt1.h"
#include "ntfs/NtfsResult.h"
#include "platform/Format.h"
#include "platform/Status.h"
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

// The clusters of a unit stored on the volume: those in front of its hole. ordered turns false
// when stored clusters follow the hole, as no writer leaves them.
u64 StoredClusters(const std::vector<UnitRun>& runs, bool* ordered)
{
    u64 stored = 0;
    bool holeSeen = false;
    for (const UnitRun& r : runs)
    {
        if (r.hole)
            holeSeen = true;
        else if (holeSeen)
            *ordered = false;
        else
            stored += r.length;
    }
    return stored;
}

// Decompresses the first filled bytes of stored into the unit, zeros after what they give;
// false when the data is not sound LZNT1.
bool DecompressUnit(const std::vector<u8>& stored, u64 filled, std::vector<u8>* unit)
{
    std::size_t produced = 0;
    const u32 rc = DecompressLznt1(stored.data(), filled, unit->data(), unit->size(), &produced);
    std::fill(unit->begin() + static_cast<std::ptrdiff_t>(std::min<u64>(produced, unit->size())),
              unit->end(), u8{0});
    return rc == kNtfsOk;
}

// Zeros the bytes of the unit from from up to (not including) to.
void ZeroFrom(std::vector<u8>* unit, u64 from, u64 to)
{
    std::fill(unit->begin() + static_cast<std::ptrdiff_t>(from),
              unit->begin() + static_cast<std::ptrdiff_t>(to), u8{0});
}
} // namespace

bool RecoveryRun::ReadExactly(u8* out, u64 count, u64 at)
{
    u32 done = 0;
    return m_reader != nullptr && count <= UINT32_MAX && at <= static_cast<u64>(LLONG_MAX) &&
           m_reader->ReadBytes(out, static_cast<u32>(count), &done, static_cast<s64>(at)) == kOk &&
           done == count;
}

RecoveryRun::Copied RecoveryRun::CopyCompressed(const FoundItem& item, const DataStream& stream,
                                                u32 described, int fd, const std::string& path)
{
    m_catalog.Post(WM_RECOVER_NOTIFY, kRecoverRange, std::string(), 10);
    m_counter = 0;
    const u64 unitClusters = stream.compressionUnit;
    const u64 unitBytes =
        stream.clusterBytes != 0 && unitClusters <= kMaxUnitBytes / stream.clusterBytes
            ? unitClusters * stream.clusterBytes
            : 0;
    if (described == kStreamUnreadable || m_reader == nullptr || unitBytes == 0)
    {
        ReadFailed(item, path);
        return Copied::Failed;
    }
    std::vector<u8> stored(unitBytes);
    std::vector<u8> unit(unitBytes);
    std::vector<UnitRun> runs;
    const u64 size = stream.size;
    const u64 valid = std::min(size, stream.initializedSize);
    bool damaged = false;
    bool tailHole = false;
    u64 at = 0; // bytes of the file done
    for (u64 first = 0; at < size; first += unitClusters)
    {
        if (!Running())
            return Copied::Stopped;
        Step();
        if (!UnitRuns(stream, first, unitClusters, &runs))
        {
            // The extents end before the data: the rest cannot be placed.
            ReadFailed(item, path);
            return Copied::Failed;
        }
        bool ordered = true;
        const u64 storedClusters = StoredClusters(runs, &ordered);
        // Stored clusters: read them in order.
        u64 filled = 0;
        for (const UnitRun& r : runs)
        {
            if (r.hole || filled >= storedClusters * stream.clusterBytes)
                break;
            const u64 bytes = r.length * stream.clusterBytes;
            if (!ReadExactly(stored.data() + filled, bytes, stream.ByteOf(r.lcn)))
            {
                ReadFailed(item, path);
                return Copied::Failed;
            }
            filled += bytes;
        }
        (void)Paced(filled);
        if (storedClusters == unitClusters)
            unit.swap(stored); // stored whole
        else if (storedClusters != 0)
            damaged = !DecompressUnit(stored, filled, &unit) || !ordered || damaged;
        // Bytes past the initialized size were never written.
        const u64 take = std::min(unitBytes, size - at);
        if (at + take > valid)
            ZeroFrom(&unit, valid > at ? valid - at : 0, take);
        if (storedClusters == 0)
        {
            // A unit never written stays a hole in the copy too.
            if (!SkipHole(fd, take, path))
                return Copied::Failed;
            tailHole = true;
        }
        else if (!Write(fd, unit.data(), take, path))
            return Copied::Failed;
        else
            tailHole = false;
        at += take;
        if (storedClusters == unitClusters)
            unit.swap(stored);
    }
    if (tailHole && !SetLength(fd, size, path))
        return Copied::Failed;
    if (stream.compressionDamaged)
    {
        Warn(Format("The compression unit of %s\\%s is damaged; %s holds its data decompressed "
                    "in units of %llu clusters, which may not be its content.",
                    item.path.c_str(), item.name.c_str(), path.c_str(),
                    static_cast<unsigned long long>(unitClusters)),
             kWarnIncomplete);
        return Copied::Failed;
    }
    if (damaged)
    {
        Warn(Format("The compressed data of %s\\%s is damaged; %s holds what could be "
                    "decompressed, with zeros for the rest.",
                    item.path.c_str(), item.name.c_str(), path.c_str()),
             kWarnIncomplete);
        return Copied::Failed;
    }
    return Copied::Whole;
}
