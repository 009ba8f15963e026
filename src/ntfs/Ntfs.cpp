// The NTFS volume parser, its volume side: opening a volume, the boot sector check, the MFT's
// extent and the reads of its records (the record operations are in NtfsAttributes.cpp).
#include "ntfs/Ntfs.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "disk/File_RW.h"
#include "mempool/MemPool.h"
#include "ntfs/AttributeIterator.h"
#include "ntfs/AttributeLayout.h"
#include "ntfs/AttributeValues.h"
#include "ntfs/MftRecordLayout.h"
#include "ntfs/NtfsResult.h"
#include "platform/Prefetch.h"
#include "platform/Status.h"

using namespace ntfs;

namespace
{
constexpr u32 kMaxSectorBytes = 4096;
constexpr u64 kMetafileRecords = 16; // MFT records 0-15 hold the metafiles
constexpr s64 kHeaderLookAhead = 16; // records whose header is fetched ahead of the one read

constexpr bool IsPowerOfTwo(u64 v)
{
    return v != 0 && (v & (v - 1)) == 0;
}
} // namespace

CNtfs::CNtfs() : CNtfs(std::make_unique<CFile_RW>())
{
}

CNtfs::CNtfs(std::unique_ptr<CDirectRW> reader) : m_reader(std::move(reader))
{
}

CNtfs::~CNtfs()
{
    if (m_reader)
        Close();
    m_reader.reset();
}

u32 CNtfs::Open(const std::string& drive, int keepOpen)
{
    m_valid = 0;
    m_boot = BootParams{};
    m_sector.assign(kRecordSize, 0);
    m_recordBytes = kRecordSize;
    m_keepOpen = keepOpen;
    m_drive = drive;
    m_recordCount = 0;
    m_mftRecordsClaimed = 0;
    m_mftRecordsHeld = 0;
    m_mftRecordsPastSource = 0;
    m_mft.Reset();
    m_unitsPerCluster = 0;

    if (!m_reader)
        m_reader = std::make_unique<CFile_RW>();
    if (!m_reader)
        return kErrNotOpen;
    u32 rc = m_reader->Open(drive, kReaderSectorSize);
    if (rc != kOk)
        return rc;
    // A failed read leaves the buffer zero, which the boot check refuses; when sector 0 does
    // not arrive at all, the backup boot sector in the volume's last sector stands in for it.
    m_backupBootSector = 0;
    m_claimedSectors = 0;
    if (ReadSectors(m_sector.data(), 1, 0) != kOk)
        ReadBackupBootSector();

    rc = ParseBootSector();
    if (rc != kOk && m_backupBootSector == 0)
    {
        // Sector 0 arrived but holds no usable boot sector: the backup stands in as well.
        ReadBackupBootSector();
        if (m_backupBootSector != 0)
            rc = ParseBootSector();
    }
    if (rc == kOk)
    {
        // A boot sector that claims more sectors than the source holds: the volume is searched
        // as far as the source reaches (its $Bitmap, run lists and records within it).
        FitVolumeToSource();
        rc = LoadMftRuns();
    }
    if (!m_keepOpen)
        Close();
    return rc;
}

bool CNtfs::SectorOnSource(u64 sector) const
{
    // The reader delivers nothing past the source's end; a sector that fails to read lies
    // before it all the same.
    u8 probe[kReaderSectorSize];
    u32 done = 0;
    const u32 rc = m_reader->ReadSectors(probe, 1, &done, sector);
    return rc == kOk ? done != 0 : rc != kErrSeek;
}

u64 CNtfs::SourceSectors() const
{
    u64 hi = 1; // a sector found past the end
    while (SectorOnSource(hi))
    {
        if (hi > (u64{1} << 62))
            return ~u64{0};
        hi *= 2;
    }
    u64 lo = hi / 2; // on the source (sector 0 counts as on it)
    while (hi - lo > 1)
    {
        const u64 mid = lo + (hi - lo) / 2;
        if (SectorOnSource(mid))
            lo = mid;
        else
            hi = mid;
    }
    return lo + 1;
}

void CNtfs::ReadBackupBootSector()
{
    std::fill(m_sector.begin(), m_sector.end(), u8{0});
    const u64 sectors = SourceSectors();
    if (sectors < 2 || sectors == ~u64{0} || ReadSectors(m_sector.data(), 1, sectors - 1) != kOk)
    {
        std::fill(m_sector.begin(), m_sector.end(), u8{0});
        return;
    }
    m_backupBootSector = sectors - 1;
}

void CNtfs::FitVolumeToSource()
{
    m_claimedSectors = 0;
    // The reader counts 512-byte sectors whatever the volume's own sector size.
    const u64 ratio = m_boot.bytesPerSector / kReaderSectorSize;
    if (ratio == 0 || m_boot.totalSectors == 0)
        return;
    const u64 claimedUnits = m_boot.totalSectors > std::numeric_limits<u64>::max() / ratio
                                 ? std::numeric_limits<u64>::max()
                                 : m_boot.totalSectors * ratio;
    if (SectorOnSource(claimedUnits - 1))
        return;
    const u64 units = SourceSectors();
    if (units == ~u64{0} || units / ratio >= m_boot.totalSectors)
        return;
    m_claimedSectors = m_boot.totalSectors;
    m_boot.totalSectors = units / ratio;
}

void CNtfs::Close()
{
    if (m_reader)
        (void)m_reader->Open(std::string(), kReaderSectorSize);
}

u32 CNtfs::ReadSectors(void* buffer, u32 count, u64 sector)
{
    u32 done = 0;
    return m_reader->ReadSectors(buffer, count, &done, sector);
}

u32 CNtfs::ParseBootSector()
{
    DecodeNtfsBootSector(m_sector.data(), kReaderSectorSize, &m_boot);
    const BootParams& p = m_boot;
    NtfsGeometry geometry;
    if (DecodeNtfsGeometry(p, &geometry) != kNtfsOk)
        return kErrBadNtfs;
    // Sectors of 512 to 4096 bytes, clusters of up to 2 MiB, records of 256 bytes to 64 KiB:
    // every geometry Windows and mkntfs write.
    const u64 clusterBytes = geometry.clusterBytes;
    const u64 recordBytes = geometry.recordBytes;
    if (!IsPowerOfTwo(p.bytesPerSector) || p.bytesPerSector > kMaxSectorBytes ||
        clusterBytes > kMaxClusterBytes || recordBytes < kMinRecordBytes ||
        recordBytes > kMaxRecordBytes)
        return kErrBadNtfs;
    // The volume holds more than 32 records' worth of sectors, a record counted as the clusters
    // its size byte names (one cluster for a size given in bytes).
    const s8 encoded = static_cast<s8>(p.clustersPerRecord & 0xFF);
    const u64 factor = encoded > 0 ? static_cast<u64>(encoded) : 1;
    if (p.totalSectors <= clusterBytes * factor / p.bytesPerSector * 32)
        return kErrBadNtfs;
    // The reader counts 512-byte sectors whatever the volume's own sector size.
    m_unitsPerCluster = static_cast<u32>(clusterBytes / kReaderSectorSize);
    m_recordBytes = static_cast<u32>(recordBytes);
    if (m_sector.size() < m_recordBytes)
        m_sector.resize(m_recordBytes);
    m_valid = 1;
    return kOk;
}

u32 CNtfs::LoadMftRuns()
{
    m_mftRecordsClaimed = 0;
    m_mftRecordsHeld = 0;
    m_mftRecordsPastSource = 0;
    m_recordCount = 0;
    m_mft.Reset();
    if (!m_reader || m_unitsPerCluster == 0)
        return kErrNotOpen;
    std::fill(m_sector.begin(), m_sector.end(), u8{0});
    if (m_boot.mftCluster > std::numeric_limits<u64>::max() / m_unitsPerCluster)
        return kErrBadNtfs;
    // Record 0 starts the MFT's first cluster; a record smaller than a reader sector is read
    // with the rest of that sector.
    const u32 units = std::max<u32>(1, m_recordBytes / kReaderSectorSize);
    u32 rc = ReadSectors(m_sector.data(), units, m_boot.mftCluster * m_unitsPerCluster);
    if (rc != kOk)
        return rc;

    CMftRecord record0;
    record0.Assign(m_sector.data(), m_recordBytes);
    MftRecordHeader header;
    if (record0.DecodeHeader(&header) != kNtfsOk)
        return kErrBadNtfs;
    // Record 0 is read with its fixups applied: a run list that crosses the end of the first
    // stride would otherwise carry the update sequence number in place of its own bytes.
    (void)record0.ApplyFixups();
    CAttributeIterator walk(record0.View());
    NtfsAttribute attr;
    if (walk.Find(kTypeData, &attr) != kNtfsOk)
        return kErrTransfer;
    NtfsData data;
    (void)DecodeData(attr, &data);
    if (data.resident)
        return kErrBadNtfs;
    // The extents in 64 bits: an MFT fragment at cluster 2^32 or beyond keeps its place, and
    // every later one with it.
    std::vector<NtfsExtent> extents;
    if (DecodeRunList(data.runList.Data(), data.runList.Size(), &extents) != kNtfsOk)
        rc = kErrBadNtfs;
    m_mft.SetExtents(extents, m_unitsPerCluster, m_recordBytes);
    if (rc == kOk && ExtendMftExtents(record0, &extents))
        m_mft.SetExtents(extents, m_unitsPerCluster, m_recordBytes);
    u64 claimed = 0; // the decoder holds each piece below 2^63 clusters
    for (const NtfsExtent& extent : extents)
        claimed = extent.length > ~0ull - claimed ? ~0ull : claimed + extent.length;

    // The count stops where the extent leaves the volume or the device, and where the $DATA
    // sizes end, so that a damaged run list cannot send a scan through billions of records
    // that are not there.
    // Measured against the volume the boot sector claims: records that lie in it but past the
    // source's end are counted as such (MftRecordsPastSource).
    const u64 ratio = m_boot.bytesPerSector / kReaderSectorSize;
    const u64 total = m_claimedSectors != 0 ? m_claimedSectors : m_boot.totalSectors;
    const u64 volumeUnits = total > std::numeric_limits<u64>::max() / ratio
                                ? std::numeric_limits<u64>::max()
                                : total * ratio + ratio; // + the backup boot sector
    const u64 sizeClusters = MftSizeClusters(data.allocatedSize, data.size);
    u64 pastSource = 0;
    const u64 clusters = m_mft.ReadableClusters(*m_reader, volumeUnits, sizeClusters, &pastSource);
    // Records and clusters are powers of two: a cluster holds whole records, or a record whole
    // clusters.
    auto records = [this](u64 c)
    {
        const u64 clusterBytes = ClusterBytes();
        if (clusterBytes < m_recordBytes)
            return c / (m_recordBytes / clusterBytes);
        const u64 perCluster = clusterBytes / m_recordBytes;
        return c > std::numeric_limits<u64>::max() / perCluster ? std::numeric_limits<u64>::max()
                                                                : c * perCluster;
    };
    m_recordCount = records(clusters);
    m_mftRecordsPastSource = records(clusters + pastSource) - m_recordCount;
    if (claimed > sizeClusters)
    {
        // What the run list claims, held below 2^63 records for the message.
        m_mftRecordsClaimed = records(std::min<u64>(claimed, (1ull << 63) / m_unitsPerCluster));
        m_mftRecordsHeld = records(sizeClusters);
    }
    m_mft.SetRecordCount(m_recordCount);
    return rc;
}

bool CNtfs::ExtendMftExtents(const CMftRecord& record, std::vector<NtfsExtent>* extents)
{
    // A fragmented MFT keeps the runs that do not fit record 0 in extension records that its
    // $ATTRIBUTE_LIST names; those lie in the part of the MFT that the first runs map.
    NtfsFileAttributes file;
    GatherScratch scratch;
    (void)GatherFile(m_reader.get(), m_mft, record, 0, &file, &scratch);
    if (!file.hasAttributeList)
        return false;
    std::vector<const NtfsAttribute*> pieces;
    for (const NtfsAttribute& data : file.datas)
    {
        if (data.nonResident && data.name.Size() == 0 && data.lowestVcn > 0)
            pieces.push_back(&data);
    }
    std::sort(pieces.begin(), pieces.end(),
              [](const NtfsAttribute* a, const NtfsAttribute* b)
              { return a->lowestVcn < b->lowestVcn; });
    u64 next = extents->empty() ? 0 : extents->back().vcn + extents->back().length;
    bool grown = false;
    for (const NtfsAttribute* piece : pieces)
    {
        // Pieces follow one another; a gap or a damaged piece ends the MFT there.
        if (piece->lowestVcn != next)
            break;
        std::vector<NtfsExtent> runs;
        const u32 rc = DecodeRunList(piece->value.Data(), piece->value.Size(), piece->lowestVcn,
                                     piece->highestVcn, &runs);
        for (const NtfsExtent& run : runs)
        {
            extents->push_back(run);
            next = run.vcn + run.length;
            grown = true;
        }
        if (rc != kNtfsOk)
            break;
    }
    return grown;
}

u64 CNtfs::MftSizeClusters(u64 allocatedSize, u64 dataSize) const
{
    // The allocated size is what the run list describes, the data size what the MFT uses of
    // it. The larger one bounds the count, so that one damaged size field loses no record.
    const u64 bytes = std::max(allocatedSize, dataSize);
    // Sizes that cannot hold even the metafile records are not the MFT's.
    if (bytes < kMetafileRecords * m_recordBytes)
        return std::numeric_limits<u64>::max();
    const u64 clusterBytes = u64{m_unitsPerCluster} * kReaderSectorSize;
    return bytes / clusterBytes + (bytes % clusterBytes != 0 ? 1 : 0);
}

int CNtfs::RecordToSector(s64& value) const
{
    return m_mft.RecordToSector(value);
}

std::vector<NtfsRun> CNtfs::MftRuns() const
{
    std::vector<NtfsRun> runs;
    for (const NtfsExtent& extent : m_mft.Extents())
    {
        if (!FitsNtfsRun(extent))
            break;
        runs.push_back(NtfsRun{static_cast<u32>(extent.lcn), static_cast<u32>(extent.length)});
    }
    return runs;
}

u32 CNtfs::GetSectorsPerCluster() const
{
    return m_valid ? m_unitsPerCluster : 0;
}

u32 CNtfs::GetBytesPerSector() const
{
    // Recovery addresses the volume in the reader's 512-byte sectors.
    return kReaderSectorSize;
}

void CNtfs::SetReadAhead(bool on)
{
    m_mft.SetReadAhead(on);
}

bool CNtfs::BatchedFileInUse(const RecordReads& reads, s64 record) const
{
    const u8* batched = reads.m_batched && m_valid ? reads.m_mft->Batched(record) : nullptr;
    if (batched == nullptr)
        return false;
    // The header of a record a few ahead is fetched meanwhile, as ReadRecord does.
    if (const u8* ahead = reads.m_mft->Batched(record + kHeaderLookAhead))
        PrefetchLine(ahead);
    const ByteView bytes{batched, m_recordBytes};
    return bytes.Has(0, kRecHeaderBytes) && bytes.U32(kRecSignature) == kFileSignature &&
           (bytes.U16(kRecFlags) & (kRecFlagInUse | kRecFlagDirectory)) == kRecFlagInUse;
}

CNtfs::RecordReads& CNtfs::OwnReads()
{
    m_reads.m_reader = m_reader.get();
    m_reads.m_mft = &m_mft;
    m_reads.m_batched = m_keepOpen != 0;
    return m_reads;
}

bool CNtfs::LastReadFailed() const
{
    return m_reads.m_lastReadFailed;
}

std::unique_ptr<CNtfs::RecordReads> CNtfs::NewRecordReads(std::unique_ptr<CDirectRW> reader) const
{
    if (!m_valid || !reader)
        return nullptr;
    std::unique_ptr<RecordReads> reads(new (std::nothrow) RecordReads);
    if (!reads)
        return nullptr;
    reads->m_ownReader = std::move(reader);
    reads->m_reader = reads->m_ownReader.get();
    reads->m_ownMft.SetExtents(m_mft.Extents(), m_unitsPerCluster, m_recordBytes);
    reads->m_ownMft.SetRecordCount(m_recordCount);
    reads->m_ownMft.SetReadAhead(true);
    return reads;
}

u32 CNtfs::ReadRecord(NtfsRecordInfo& info, s64 record)
{
    m_reads.m_lastReadFailed = false;
    if (!m_valid || !m_reader)
        return kErrNotOpen;
    if (record < 0 || static_cast<u64>(record) >= m_recordCount)
        return kErrTransfer;
    RecordReads& reads = OwnReads();
    if (m_keepOpen)
        return ReadRecord(reads, info, record);
    u32 rc = m_reader->Open(m_drive, kReaderSectorSize);
    if (rc == kOk)
    {
        rc = ReadRecord(reads, info, record);
        Close();
    }
    return rc;
}

u32 CNtfs::ReadRecord(RecordReads& reads, NtfsRecordInfo& info, s64 record) const
{
    reads.m_lastReadFailed = false;
    if (!m_valid || reads.m_reader == nullptr)
        return kErrNotOpen;
    if (record < 0 || static_cast<u64>(record) >= m_recordCount)
        return kErrTransfer;
    CMftReader& mft = *reads.m_mft;
    // Most records of a disk hold files in use, which are no finds: the header, read inside the
    // read-ahead batch, tells them before the record is parsed.
    if (u8* batched = reads.m_batched ? mft.Batched(record) : nullptr)
    {
        // The header of a record a few ahead is fetched meanwhile: a batch the kernel has just
        // copied in has mostly left the nearer caches, and records 1 KiB apart are a stride the
        // processor does not follow across pages by itself.
        if (const u8* ahead = mft.Batched(record + kHeaderLookAhead))
            PrefetchLine(ahead);
        MftRecordHeader header;
        u32 rc = ParseRecordHeader(ByteView{batched, m_recordBytes}, info, &header);
        if (rc == kOk)
        {
            // The record is worked on where the batch holds it, without a copy (its fixups are
            // applied there; a second application finds nothing to change). No read starts a
            // new batch meanwhile, and the header just read is not read again.
            struct InPlace
            {
                CMftReader& mft;
                ~InPlace() { mft.HoldBatch(false); }
            } inPlace{mft};
            CMftRecord inBatch;
            inBatch.Attach(batched, m_recordBytes);
            mft.HoldBatch(true);
            rc = ParseRecordImpl(reads, inBatch, static_cast<u64>(record), info, &header);
        }
        info.record = static_cast<u64>(record);
        return rc;
    }
    u32 status = kOk;
    CMftRecord read;
    u32 rc = mft.Read(*reads.m_reader, record, &read, &status);
    if (rc == kNtfsOk)
    {
        rc = ParseRecordImpl(reads, read, static_cast<u64>(record), info);
        info.record = static_cast<u64>(record);
    }
    else
    {
        // A record outside the extent is not there; a failed read passes its code on.
        reads.m_lastReadFailed = rc == kNtfsIoError;
        rc = rc == kNtfsIoError ? status : kErrTransfer;
    }
    return rc;
}

u32 CNtfs::ParseRecord(NtfsRecordInfo& info, const u8* record, u32 size)
{
    CMftRecord copy;
    copy.Assign(record, record != nullptr ? size : 0);
    MftRecordHeader header;
    (void)copy.DecodeHeader(&header);
    return ParseRecordImpl(OwnReads(), copy, header.recordNumber, info);
}
