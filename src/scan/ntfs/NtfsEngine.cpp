// The NTFS engine: opening a volume entry, the search, and where a find's data lies.
#include "scan/ntfs/NtfsEngine.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "catalog/AllocationMap.h"
#include "catalog/Catalog.h"
#include "disk/DriveReader.h"
#include "mempool/MemPool.h"
#include "ntfs/Ntfs.h"
#include "ntfs/NtfsFile.h"
#include "ntfs/NtfsResult.h"
#include "ntfs/RunList.h"
#include "ntfs/StrayRecord.h"
#include "platform/EventSink.h"
#include "platform/Status.h"
#include "scan/ntfs/NtfsCompressedStream.h"
#include "scan/ntfs/NtfsScan.h"
#include "scan/ntfs/NtfsVolumeState.h"

const CNtfsEngine& NtfsEngine()
{
    static const CNtfsEngine kEngine;
    return kEngine;
}

bool CNtfsEngine::Open(VolumeEntry& entry) const
{
    // The device stays open for the search and the recovery.
    entry.engine = this;
    entry.fsType = kFsNtfs;
    const NtfsVolumeState* state = SetNtfsState(
        entry, std::unique_ptr<CNtfs>(new (std::nothrow) CNtfs(NewDriveReader(entry.name))));
    return state != nullptr && state->ntfs && state->ntfs->Open(entry.name, 1) == kOk;
}

u32 CNtfsEngine::Search(CCatalog& catalog, VolumeEntry& entry) const
{
    const CNtfs* ntfs = NtfsOf(entry);
    if (ntfs && ntfs->BackupBootSector() != 0)
        catalog.Post(WM_SCAN_NOTIFY, kScanWarning,
                     entry.name +
                         " sector 0 could not be read; the volume is read through its "
                         "backup boot sector in sector " +
                         std::to_string(ntfs->BackupBootSector()),
                     0);
    if (ntfs && ntfs->ClaimedSectors() != 0)
        catalog.Post(
            WM_SCAN_NOTIFY, kScanWarning,
            entry.name + " the boot sector claims " + std::to_string(ntfs->ClaimedSectors()) +
                " sectors, but the source holds " + std::to_string(ntfs->Boot().totalSectors) +
                "; the volume is searched as far as the source reaches",
            0);
    return ScanNtfsVolume(catalog, entry);
}

u64 CNtfsEngine::ClusterBytes(const VolumeEntry& entry) const
{
    const NtfsVolumeState* state = NtfsStateOf(entry);
    const CNtfs* ntfs = state != nullptr ? state->ntfs.get() : nullptr;
    return ntfs ? static_cast<u64>(ntfs->GetSectorsPerCluster()) * ntfs->GetBytesPerSector() : 0;
}

CDirectRW* CNtfsEngine::DataReader(VolumeEntry& entry) const
{
    CNtfs* ntfs = NtfsOf(entry);
    return ntfs ? ntfs->Reader() : nullptr;
}

bool CNtfsEngine::Geometry(VolumeEntry& entry, ClusterGeometry* geometry) const
{
    const CNtfs* ntfs = NtfsOf(entry);
    const u64 clusterBytes = ClusterBytes(entry);
    if (ntfs == nullptr || clusterBytes == 0 || ntfs->VolumeClusters() == 0)
        return false;
    *geometry = ClusterGeometry{clusterBytes, 0, ntfs->VolumeClusters(), 0};
    return true;
}

namespace
{
// Extents of runs as far as the volume reaches: holes count whole; a run past the volume's end
// ends what can be read, since everything after it would be misplaced.
void AddExtents(const std::vector<NtfsExtent>& runs, u64 volumeClusters, DataStream* stream)
{
    for (const NtfsExtent& run : runs)
    {
        StreamExtent extent{run.vcn, run.lcn, run.length, run.hole};
        bool past = false;
        if (!run.hole && (run.lcn > volumeClusters || run.length > volumeClusters - run.lcn))
        {
            extent.length = run.lcn < volumeClusters ? volumeClusters - run.lcn : 0;
            past = true;
        }
        if (extent.length > 0)
            stream->extents.push_back(extent);
        if (past)
            break;
    }
}
} // namespace

namespace
{
// Reads the recordBytes of the record at sector into *record. False when they do not all arrive.
bool ReadRecordBytes(CDirectRW* reader, u64 sector, u32 recordBytes, std::vector<u8>* record)
{
    const u32 units = std::max<u32>(1, recordBytes / CNtfs::kReaderSectorSize);
    record->assign(std::size_t{units} * CNtfs::kReaderSectorSize, 0);
    u32 done = 0;
    return reader != nullptr && reader->ReadSectors(record->data(), units, &done, sector) == kOk &&
           done >= recordBytes;
}
} // namespace

bool CNtfsEngine::KnownWithoutClusters(const VolumeEntry& /*entry*/, const FoundItem& item) const
{
    // The data block of a file's unnamed data says resident: its bytes are in the base record,
    // so judging it need not read that record again (one read and parse per small file).
    u16 valueOffset = 0;
    const u8* block = RecordDataOf(item);
    return item.stream == 0 && block != nullptr && NtfsDataIsResident(block, &valueOffset);
}

u32 CNtfsEngine::DescribeStream(VolumeEntry& entry, const FoundItem& item, DataStream* stream) const
{
    *stream = DataStream{};
    stream->size = item.size;
    NtfsVolumeState* state = NtfsStateOf(entry);
    CNtfs* ntfs = state != nullptr ? state->ntfs.get() : nullptr;
    if (ntfs && item.record != 0)
    {
        // The record is read again: its extension records, named streams and compression are
        // described there.
        NtfsStreamLayout layout;
        static const std::string kUnnamed;
        const std::string& name = item.stream != 0 && item.stream <= state->streamNames.size()
                                      ? state->streamNames[item.stream - 1]
                                      : kUnnamed;
        const u32 rc = ntfs->DescribeData(item.record, name, &layout);
        if (rc == kNtfsOk)
            return FromLayout(*ntfs, item, layout, stream);
        if (rc != kNtfsIoError || RecordDataOf(item) == nullptr)
            return item.size == 0 ? kOk : kStreamUnreadable;
    }
    return FromDataBlock(entry, item, stream);
}

std::unique_ptr<IStreamReader> CNtfsEngine::OpenStream(CDirectRW* reader, const DataStream& stream,
                                                       u64 chunkBytes) const
{
    // A compressed stream comes out decoded, unit by unit; any other as it is stored.
    if (!stream.resident && stream.compressionUnit != 0)
        return OpenCompressedStream(reader, stream);
    return OpenExtentStream(reader, stream, chunkBytes);
}

u32 CNtfsEngine::FromLayout(const CNtfs& ntfs, const FoundItem& item,
                            const NtfsStreamLayout& layout, DataStream* stream)
{
    stream->encrypted = layout.encrypted;
    if (layout.resident)
    {
        stream->resident = true;
        stream->residentBytes.assign(
            layout.value.begin(), layout.value.begin() + static_cast<std::ptrdiff_t>(std::min<u64>(
                                                             layout.value.size(), item.size)));
        return stream->residentBytes.size() < item.size ? kStreamClipped : kOk;
    }
    stream->clusterBytes = ntfs.ClusterBytes();
    if (stream->clusterBytes == 0)
        return item.size == 0 ? kOk : kStreamUnreadable;
    stream->initializedSize = layout.initializedSize;
    stream->compressionUnit = layout.compressionUnit;
    stream->compressionDamaged = layout.compressionDamaged;
    AddExtents(layout.extents, ntfs.VolumeClusters(), stream);
    // A compressed stream is read unit by unit: its clusters tell nothing of its length.
    if (stream->compressionUnit != 0)
        return layout.complete ? kOk : kStreamClipped;
    return stream->ReadableBytes() < item.size || !layout.complete ? kStreamClipped : kOk;
}

u32 CNtfsEngine::FromDataBlock(VolumeEntry& entry, const FoundItem& item, DataStream* stream) const
{
    CNtfs* ntfs = NtfsOf(entry);
    const u8* block = RecordDataOf(item);
    u16 valueOffset = 0;
    if (NtfsDataIsResident(block, &valueOffset))
    {
        // The value inside the MFT record, read with the record's fixups and bounded to it.
        stream->resident = true;
        CDirectRW* reader = ntfs ? ntfs->Reader() : nullptr;
        u32 recordBytes = ntfs ? ntfs->GetRecordSize() : CNtfs::kRecordSize;
        std::vector<u8> record;
        if (!ReadRecordBytes(reader, item.first, recordBytes, &record))
            return kStreamUnreadable;
        // A record the deep search found may have the other size its own header gives.
        if (const u32 claimed = item.deep != 0 ? StrayRecordBytes(record.data(), record.size()) : 0;
            claimed > recordBytes)
        {
            recordBytes = claimed;
            if (!ReadRecordBytes(reader, item.first, recordBytes, &record))
                return kStreamUnreadable;
        }
        u32 start = 0;
        u32 length = 0;
        const u32 status = ExtractResidentValue(record.data(), recordBytes, valueOffset, item.size,
                                                &start, &length);
        stream->residentBytes.assign(record.begin() + start, record.begin() + start + length);
        return status == kOk ? kOk : kStreamClipped;
    }
    stream->clusterBytes = ClusterBytes(entry);
    stream->firstLcn = 0;
    stream->dataStart = 0;
    if (stream->clusterBytes == 0)
        return item.size == 0 ? kOk : kStreamUnreadable;
    // The runs as far as the decoder takes them: a corrupt pair ends the list.
    const u8* runBytes = nullptr;
    int limit = 0;
    std::vector<NtfsExtent> runs;
    if (!NtfsDataRunList(block, &runBytes, &limit))
        return item.size == 0 ? kOk : kStreamUnreadable;
    (void)DecodeRunList(runBytes, static_cast<std::size_t>(limit), &runs);
    AddExtents(runs, ntfs->VolumeClusters(), stream);
    return stream->ReadableBytes() < item.size ? kStreamClipped : kOk;
}

namespace
{
// The $Bitmap metafile: its unnamed $DATA holds a bit per cluster, cluster n in bit n % 8 of
// byte n / 8.
constexpr u64 kBitmapRecord = 6;
// Bytes of $Bitmap read at once.
constexpr u64 kBitmapWindow = u64{256} * 1024;

// Where the $Bitmap lies, checked to cover every cluster of the volume. False when it cannot
// be read or is resident, damaged or too short.
bool DescribeBitmap(CNtfs& ntfs, NtfsStreamLayout* layout)
{
    const u64 clusters = ntfs.VolumeClusters();
    if (clusters == 0 || ntfs.ClusterBytes() == 0 ||
        ntfs.DescribeData(kBitmapRecord, std::string(), layout) != kNtfsOk || layout->resident ||
        !layout->complete || layout->compressionUnit != 0 || layout->encrypted)
        return false;
    return layout->size >= clusters / 8 + (clusters % 8 != 0 ? 1 : 0);
}

// Copies the $Bitmap bytes [offset, offset + count) into out through the runs of layout.
// False when a byte lies in a hole or past the runs, or a read fails.
bool ReadBitmapBytes(CNtfs& ntfs, const NtfsStreamLayout& layout, u64 offset, u64 count, u8* out)
{
    CDirectRW* reader = ntfs.Reader();
    const u64 clusterBytes = ntfs.ClusterBytes();
    const u64 volumeBytes = ntfs.VolumeClusters() * clusterBytes;
    if (reader == nullptr)
        return false;
    u64 done = 0;
    for (const NtfsExtent& run : layout.extents)
    {
        if (done == count)
            break;
        // The run's bytes within the stream; runs lie in VCN order, so a gap is a missing piece.
        if (run.vcn > ~0ull / clusterBytes || run.length > ~0ull / clusterBytes - run.vcn)
            return false;
        const u64 runStart = run.vcn * clusterBytes;
        const u64 runEnd = runStart + run.length * clusterBytes;
        const u64 want = offset + done;
        if (runEnd <= want)
            continue;
        if (runStart > want || run.hole || run.lcn > volumeBytes / clusterBytes)
            return false;
        u64 at = want - runStart;
        const u64 take = std::min(count - done, runEnd - want);
        for (u64 piece = 0; piece < take;)
        {
            // The run flag is polled between windows: a stop leaves the bytes unread.
            if (piece > 0 && g_bRunning.load(std::memory_order_relaxed) == 0)
                return false;
            const u64 chunk = std::min(kBitmapWindow, take - piece);
            const u64 where = run.lcn * clusterBytes + at + piece;
            u32 got = 0;
            if (where > volumeBytes || chunk > volumeBytes - where ||
                reader->ReadBytes(out + done + piece, static_cast<u32>(chunk), &got,
                                  static_cast<s64>(where)) != kOk ||
                got != chunk)
                return false;
            piece += chunk;
        }
        done += take;
    }
    return done == count;
}
} // namespace

u32 CNtfsEngine::LoadAllocation(VolumeEntry& entry, AllocationMap* map) const
{
    CNtfs* ntfs = NtfsOf(entry);
    NtfsStreamLayout layout;
    if (!ntfs || !DescribeBitmap(*ntfs, &layout))
        return kErrUnsupported;
    if (!map->Reset(ntfs->VolumeClusters()))
        return kErrNoMemory;
    // The map has the $Bitmap's own layout: its bytes are copied as they are. Bits past the
    // last cluster are never asked.
    if (!ReadBitmapBytes(*ntfs, layout, 0, map->ByteCount(), map->Bytes()))
    {
        (void)map->Reset(0);
        return kErrUnsupported;
    }
    // The finds are described next, in MFT order: their records are read again in batches
    // until EndSearch, as the search read them.
    ntfs->SetReadAhead(true);
    return kOk;
}

void CNtfsEngine::EndSearch(VolumeEntry& entry) const
{
    // The device stays open for the recovery, which reads records one at a time.
    if (CNtfs* ntfs = NtfsOf(entry))
        ntfs->SetReadAhead(false);
}

u32 CNtfsEngine::ReadTimes(VolumeEntry& entry, const FoundItem& item, FindTimes* times) const
{
    // The search keeps two times per find; the record holds all four, exact to the second.
    *times = NotedTimes(item);
    CNtfs* ntfs = NtfsOf(entry);
    NtfsStandardInformation si;
    if (!ntfs || item.record == 0 || ntfs->ReadStandardInformation(item.record, &si) != kNtfsOk)
        return kStreamUnreadable;
    times->created = FileTimeToUnix(si.created);
    times->modified = FileTimeToUnix(si.modified);
    times->changed = FileTimeToUnix(si.mftChanged);
    times->accessed = FileTimeToUnix(si.accessed);
    return kOk;
}

u32 CNtfsEngine::ClusterInUse(VolumeEntry& entry, u64 cluster, bool* inUse) const
{
    CNtfs* ntfs = NtfsOf(entry);
    NtfsStreamLayout layout;
    u8 byte = 0;
    if (!ntfs || cluster >= ntfs->VolumeClusters() || !DescribeBitmap(*ntfs, &layout) ||
        !ReadBitmapBytes(*ntfs, layout, cluster / 8, 1, &byte))
        return kErrUnsupported;
    *inUse = ((byte >> (cluster % 8)) & 1u) != 0;
    return kOk;
}

void CNtfsEngine::ReleaseItems(VolumeEntry& entry) const
{
    for (std::size_t j = entry.items.size(); j-- > 0;)
    {
        void* block = entry.items[j].TakePayload(FindPayload::kRecordData);
        if (block != nullptr)
            g_MemPool.Free(&block);
    }
}
