// Where the MFT's records lie on the volume, from the extents of record 0's $DATA, and the reads
// of records through them: one at a time, or in read-ahead batches during a sequential scan.
#pragma once

#include <cstdlib>
#include <memory>
#include <vector>

#include "disk/DirectRW.h"
#include "ntfs/MftRecord.h"
#include "ntfs/RunList.h"
#include "platform/Types.h"

class CMftReader
{
public:
    static constexpr u32 kUnitBytes = 512; // the reader's sector, whatever the volume's

    // Forgets the extents, the record count and the batch.
    void Reset();
    // The MFT's extents, in clusters of unitsPerCluster reader sectors, holding records of
    // recordBytes (a power of two; records smaller than a reader sector share it).
    void SetExtents(std::vector<NtfsExtent> extents, u32 unitsPerCluster, u32 recordBytes);
    void SetRecordCount(u64 count) { m_recordCount = count; }
    [[nodiscard]] const std::vector<NtfsExtent>& Extents() const { return m_extents; }

    // value in: record number; out: the record's first reader sector. 1 found, 0 not in the
    // extents (past their end, or in a hole).
    [[nodiscard]] int RecordToSector(s64& value) const;
    // *byte: the byte offset on the reader where record starts. 1 found, 0 not in the extents.
    [[nodiscard]] int RecordToByte(s64 record, u64* byte) const;
    [[nodiscard]] u32 RecordBytes() const { return m_recordBytes; }

    // Clusters of the extents, from the first on, that lie inside the volume's volumeUnits
    // reader sectors and on the device, and no more than budget; the count stops at the first
    // extent that is cut, and at a hole. *pastDevice (when given) is set to the clusters that
    // lie inside the volume and the budget but past the device's end (a source cut short).
    [[nodiscard]] u64 ReadableClusters(CDirectRW& reader, u64 volumeUnits, u64 budget,
                                       u64* pastDevice = nullptr) const;

    // Sequential scans: when on, Read reads the MFT ahead in large batches and serves the
    // following records from memory. Reads of other records do not disturb the batch.
    void SetReadAhead(bool on);
    // The next read starts a new batch wherever it lies, for a scan that jumps ahead; the
    // batch's buffer is kept.
    void RestartReadAhead()
    {
        m_batchFirst = -1;
        m_batchCount = 0;
    }

    // Reads record into *out. Returns kNtfsOk, kNtfsNotFound (not in the extents), or
    // kNtfsIoError with *status set to the reader's code.
    [[nodiscard]] u32 Read(CDirectRW& reader, s64 record, CMftRecord* out, u32* status);
    // The record's bytes as read, fixups not applied, when the read-ahead batch holds them; null
    // otherwise. Valid until the next Read.
    [[nodiscard]] u8* Batched(s64 record) const
    {
        return m_batchFirst >= 0 && record >= m_batchFirst && record < m_batchFirst + m_batchCount
                   ? m_batch.get() + static_cast<u64>(record - m_batchFirst) * m_recordBytes
                   : nullptr;
    }
    // While held, no read starts a new batch (reads outside the batch are read one by one), so
    // that a record worked on inside the batch (CMftRecord::Attach) stays as it is.
    void HoldBatch(bool hold) { m_batchHeld = hold; }

private:
    // How many of clusters clusters from reader sector startUnit on the device holds.
    [[nodiscard]] u64 ClustersOnDevice(CDirectRW& reader, u64 startUnit, u64 clusters) const;
    // Reads the batch that starts with record at byte; true when it was read.
    bool ReadBatch(CDirectRW& reader, s64 record, u64 byte);

    std::vector<NtfsExtent> m_extents;
    u32 m_unitsPerCluster = 0;
    u32 m_unitsPerRecord = 2;
    u32 m_recordBytes = 1024;
    u64 m_batchRecords = 1024;
    u64 m_recordCount = 0;

    // Read-ahead batch of consecutive records, page-aligned: the kernel copies into a buffer
    // that is not at half the speed or less. Allocated on the first batch.
    struct AlignedFree
    {
        void operator()(u8* p) const { std::free(p); }
    };
    bool m_readAhead = false;
    bool m_batchHeld = false; // see HoldBatch
    std::unique_ptr<u8[], AlignedFree> m_batch;
    s64 m_batchFirst = -1;
    s64 m_batchCount = 0;
};
