// The NTFS engine: opening a volume entry, the search, and where a find's data lies.
#include "scan/NtfsEngine.h"

#include <cstring>
#include <new>

#include "catalog/Catalog.h"
#include "disk/DriveReader.h"
#include "mempool/MemPool.h"
#include "ntfs/Ntfs.h"
#include "ntfs/RunList.h"
#include "platform/Status.h"
#include "scan/NtfsScan.h"

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
    entry.ntfs.reset(new (std::nothrow) CNtfs(NewDriveReader(entry.name)));
    return entry.ntfs && entry.ntfs->Open(entry.name, 1) == kOk;
}

u32 CNtfsEngine::Search(CCatalog& catalog, VolumeEntry& entry) const
{
    return ScanNtfsVolume(catalog, entry);
}

u64 CNtfsEngine::ClusterBytes(const VolumeEntry& entry) const
{
    const CNtfs* ntfs = entry.ntfs.get();
    return ntfs ? static_cast<u64>(ntfs->GetSectorsPerCluster()) * ntfs->GetBytesPerSector() : 0;
}

CDirectRW* CNtfsEngine::DataReader(VolumeEntry& entry) const
{
    return entry.ntfs ? entry.ntfs->Reader() : nullptr;
}

u32 CNtfsEngine::DescribeStream(VolumeEntry& entry, const FoundItem& item, DataStream* stream) const
{
    *stream = DataStream{};
    stream->size = item.size;
    CNtfs* ntfs = entry.ntfs.get();
    const auto* block = static_cast<const u8*>(item.data);
    u16 valueOffset = 0;
    if (NtfsDataIsResident(block, &valueOffset))
    {
        // The value inside the MFT record, read with the record's fixups and bounded to it.
        stream->resident = true;
        CDirectRW* reader = ntfs ? ntfs->Reader() : nullptr;
        std::vector<u8> record(CNtfs::kRecordSize);
        u32 done = 0;
        if (!reader ||
            reader->ReadSectors(record.data(), CNtfs::kRecordSize / CNtfs::kReaderSectorSize, &done,
                                item.first) != kOk ||
            done < CNtfs::kRecordSize)
            return kStreamUnreadable;
        u32 start = 0;
        u32 length = 0;
        const u32 status = ExtractResidentValue(record.data(), CNtfs::kRecordSize, valueOffset,
                                                item.size, &start, &length);
        stream->residentBytes.assign(record.begin() + start, record.begin() + start + length);
        return status == kOk ? kOk : kStreamClipped;
    }
    const u64 spc = ntfs ? ntfs->GetSectorsPerCluster() : 0;
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
    // Holes count whole; clusters only as far as the volume reaches (a run past its end ends
    // what can be read, since everything after it would be misplaced).
    const u64 volumeClusters = ntfs->Boot().totalSectors / spc;
    u64 vcn = 0;
    for (const NtfsExtent& run : runs)
    {
        StreamExtent extent{vcn, run.lcn, run.length, run.hole};
        bool past = false;
        if (!run.hole && (run.lcn > volumeClusters || run.length > volumeClusters - run.lcn))
        {
            extent.length = run.lcn < volumeClusters ? volumeClusters - run.lcn : 0;
            past = true;
        }
        if (extent.length > 0)
            stream->extents.push_back(extent);
        vcn += extent.length;
        if (past)
            break;
    }
    return stream->ReadableBytes() < item.size ? kStreamClipped : kOk;
}

u32 CNtfsEngine::ClusterInUse(VolumeEntry& /*entry*/, u64 /*cluster*/, bool* /*inUse*/) const
{
    // The volume's $Bitmap is not read yet.
    return kErrUnsupported;
}

void CNtfsEngine::ReleaseItems(VolumeEntry& entry) const
{
    for (std::size_t j = entry.items.size(); j-- > 0;)
        g_MemPool.Free(&entry.items[j].data);
}
