// The MFT's extents: record numbers to sectors in 64 bits, the records the volume and the device
// really hold, and batched reads of consecutive records.
#include "ntfs/MftReader.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "ntfs/NtfsResult.h"
#include "platform/Status.h"

namespace
{
constexpr u64 kBatchBytes = 1u << 20; // read-ahead batch: 1024 records of 1024 bytes
constexpr u64 kBatchAlignment = 4096;
constexpr u64 kMaxSector = static_cast<u64>(std::numeric_limits<s64>::max()); // also bytes

// a * b, or u64 max when it does not fit.
u64 SaturatingProduct(u64 a, u64 b)
{
    return b != 0 && a > std::numeric_limits<u64>::max() / b ? std::numeric_limits<u64>::max()
                                                             : a * b;
}
} // namespace

void CMftReader::Reset()
{
    m_extents.clear();
    m_unitsPerCluster = 0;
    m_recordCount = 0;
    m_batchFirst = -1;
    m_batchCount = 0;
}

void CMftReader::SetExtents(std::vector<NtfsExtent> extents, u32 unitsPerCluster, u32 recordBytes)
{
    m_extents = std::move(extents);
    m_unitsPerCluster = unitsPerCluster;
    m_recordBytes = recordBytes;
    m_unitsPerRecord = recordBytes / kUnitBytes;
    m_batchRecords = std::max<u64>(2, kBatchBytes / recordBytes);
    m_batch.reset();
    m_batchFirst = -1;
    m_batchCount = 0;
}

int CMftReader::RecordToSector(s64& value) const
{
    u64 byte = 0;
    const int found = RecordToByte(value, &byte);
    value = static_cast<s64>(byte / kUnitBytes);
    return found;
}

int CMftReader::RecordToByte(s64 record, u64* byte) const
{
    *byte = 0;
    if (record < 0 || m_unitsPerCluster == 0 ||
        static_cast<u64>(record) > kMaxSector / m_recordBytes)
        return 0;
    // Records and clusters are both powers of two of bytes: byte offsets within the MFT stay
    // exact whichever is larger.
    const u64 clusterBytes = u64{m_unitsPerCluster} * kUnitBytes;
    u64 offset = static_cast<u64>(record) * m_recordBytes;
    for (const NtfsExtent& extent : m_extents)
    {
        const u64 bytes = SaturatingProduct(extent.length, clusterBytes);
        if (offset < bytes)
        {
            // The start in 64 bits: clusters beyond 2^32 / spc lie above 2 TiB.
            const u64 start = SaturatingProduct(extent.lcn, clusterBytes);
            if (extent.hole || start > kMaxSector - offset)
                return 0;
            *byte = start + offset;
            return 1;
        }
        offset -= bytes;
    }
    *byte = offset;
    return 0;
}

u64 CMftReader::ReadableClusters(CDirectRW& reader, u64 volumeUnits, u64 budget,
                                 u64* pastDevice) const
{
    u64 clusters = 0;
    if (pastDevice != nullptr)
        *pastDevice = 0;
    for (const NtfsExtent& extent : m_extents)
    {
        u64 count = 0;
        const u64 start = SaturatingProduct(extent.lcn, m_unitsPerCluster);
        if (!extent.hole && start < volumeUnits)
            count = std::min(extent.length, (volumeUnits - start) / m_unitsPerCluster);
        count = std::min(count, budget);
        budget -= count;
        const u64 wanted = count;
        count = ClustersOnDevice(reader, start, count);
        clusters += count;
        if (pastDevice != nullptr)
            *pastDevice = wanted - count;
        if (count != extent.length)
            break;
    }
    return clusters;
}

u64 CMftReader::ClustersOnDevice(CDirectRW& reader, u64 startUnit, u64 clusters) const
{
    // The device delivers nothing past its end: find the clusters whose last sector arrives.
    auto readable = [&](u64 c)
    {
        u8 probe[kUnitBytes];
        u32 done = 0;
        return reader.ReadSectors(probe, 1, &done, startUnit + c * m_unitsPerCluster - 1) == kOk &&
               done == kUnitBytes;
    };
    if (clusters == 0 || readable(clusters))
        return clusters;
    u64 lo = 0;
    u64 hi = clusters; // readable(lo) holds (0 trivially), readable(hi) does not
    while (hi - lo > 1)
    {
        const u64 mid = lo + (hi - lo) / 2;
        if (readable(mid))
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

void CMftReader::SetReadAhead(bool on)
{
    m_readAhead = on;
    if (!on)
    {
        m_batch.reset();
        m_batchFirst = -1;
        m_batchCount = 0;
    }
}

bool CMftReader::ReadBatch(CDirectRW& reader, s64 record, u64 byte)
{
    // Records that follow in the same extent lie in consecutive bytes: read them together.
    if (byte % kUnitBytes != 0)
        return false;
    const s64 most = static_cast<s64>(m_batchRecords);
    s64 count = 1;
    while (count < most && record + count < static_cast<s64>(m_recordCount))
    {
        u64 next = 0;
        if (!RecordToByte(record + count, &next) ||
            next != byte + static_cast<u64>(count) * m_recordBytes)
            break;
        ++count;
    }
    if (count < 2)
        return false;
    // Records smaller than a reader sector end the batch on a whole sector.
    const u64 bytes = static_cast<u64>(count) * m_recordBytes;
    const u64 units = (bytes + kUnitBytes - 1) / kUnitBytes;
    if (!m_batch)
        m_batch.reset(static_cast<u8*>(
            std::aligned_alloc(kBatchAlignment, m_batchRecords * m_recordBytes + kBatchAlignment)));
    if (!m_batch)
        return false;
    u32 done = 0;
    if (reader.ReadSectors(m_batch.get(), static_cast<u32>(units), &done, byte / kUnitBytes) != kOk)
    {
        m_batchFirst = -1;
        m_batchCount = 0;
        return false;
    }
    // What a short read did not fill reads as zeros. Zeroing only that tail after the read,
    // instead of the whole batch before it, saves a pass over a megabyte per batch.
    const u64 filled = std::min<u64>(done, units * kUnitBytes);
    std::memset(m_batch.get() + filled, 0, units * kUnitBytes - filled);
    // Records the read did not reach (the source ends inside the batch) are left out of it:
    // read alone, each fails as a record the device did not deliver.
    const s64 whole = static_cast<s64>(filled / m_recordBytes);
    if (whole == 0)
    {
        m_batchFirst = -1;
        m_batchCount = 0;
        return false;
    }
    m_batchFirst = record;
    m_batchCount = std::min(count, whole);
    return true;
}

u32 CMftReader::Read(CDirectRW& reader, s64 record, CMftRecord* out, u32* status)
{
    *status = kOk;
    if (m_batchFirst >= 0 && record >= m_batchFirst && record < m_batchFirst + m_batchCount)
    {
        out->Assign(m_batch.get() + static_cast<u64>(record - m_batchFirst) * m_recordBytes,
                    m_recordBytes);
        return kNtfsOk;
    }
    u64 byte = 0;
    if (!RecordToByte(record, &byte))
        return kNtfsNotFound;
    // Only a read that continues the batch, or lies less than a batch ahead of it, starts a new
    // one, from where the last one ended: the scattered reads of parent folders between them
    // leave the batch alone, and a reader that skips records (the finds of a search, read
    // again in order) still reads the MFT in batches.
    const s64 end = m_batchFirst + m_batchCount;
    if (m_readAhead && !m_batchHeld &&
        (m_batchFirst < 0 || (record >= end && record - end < static_cast<s64>(m_batchRecords))))
    {
        // From the batch's end when the records between can be read with it, else from record.
        const s64 from = m_batchFirst < 0 ? record : end;
        u64 fromByte = byte;
        const bool read = ((from != record && RecordToByte(from, &fromByte) &&
                            ReadBatch(reader, from, fromByte)) ||
                           ReadBatch(reader, record, byte));
        if (read && record >= m_batchFirst && record < m_batchFirst + m_batchCount)
        {
            out->Assign(m_batch.get() + static_cast<u64>(record - m_batchFirst) * m_recordBytes,
                        m_recordBytes);
            return kNtfsOk;
        }
    }
    u32 done = 0;
    const u64 skip = byte % kUnitBytes;
    if (skip == 0 && m_recordBytes % kUnitBytes == 0)
    {
        u8* bytes = out->Fill(m_recordBytes);
        std::memset(bytes, 0, m_recordBytes);
        const u32 rc = reader.ReadSectors(bytes, m_unitsPerRecord, &done, byte / kUnitBytes);
        if (rc != kOk || done == 0)
        {
            *status = rc != kOk ? rc : kErrTransfer;
            return kNtfsIoError;
        }
        return kNtfsOk;
    }
    // A record smaller than a reader sector shares it with its neighbours.
    u8 unit[kUnitBytes] = {};
    const u32 rc = reader.ReadSectors(unit, 1, &done, byte / kUnitBytes);
    if (rc != kOk || done == 0)
    {
        *status = rc != kOk ? rc : kErrTransfer;
        return kNtfsIoError;
    }
    out->Assign(unit + skip, std::min<u64>(m_recordBytes, kUnitBytes - skip));
    return kNtfsOk;
}
