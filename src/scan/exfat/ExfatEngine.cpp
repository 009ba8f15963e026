// The exFAT engine: opening a volume entry, the search, and where a find's data lies.
#include "scan/exfat/ExfatEngine.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "catalog/AllocationMap.h"
#include "catalog/Catalog.h"
#include "disk/File_RW.h"
#include "exfat/ExfatEntrySet.h"
#include "exfat/ExfatLayout.h"
#include "exfat/ExfatVolume.h"
#include "platform/EventSink.h"
#include "platform/Status.h"
#include "scan/FindLayout.h"
#include "scan/exfat/ExfatDeep.h"
#include "scan/exfat/ExfatScan.h"
#include "scan/exfat/ExfatVolumeState.h"

namespace
{
constexpr u32 kSectorSize = 512;
// Both boot regions at the largest sector size.
constexpr u32 kBootBytes = 2 * ExfatLayout::kBootRegionSectors << ExfatLayout::kMaxSectorShift;
} // namespace

ExfatVolumeState::ExfatVolumeState() = default;
ExfatVolumeState::~ExfatVolumeState() = default;

const CExfatEngine& ExfatEngine()
{
    static const CExfatEngine kEngine;
    return kEngine;
}

bool AttachExfatVolume(VolumeEntry& entry)
{
    if (!entry.reader)
        return false;
    std::vector<u8> start(kBootBytes);
    u32 done = 0;
    if (entry.reader->ReadBytes(start.data(), kBootBytes, &done, 0) != kOk)
    {
        // A sector that cannot be read (a damaged image chunk) must not take the other boot
        // region along: the sectors are read one by one, those that fail left as zeros.
        done = 0;
        for (u32 at = 0; at < kBootBytes; at += kSectorSize)
        {
            u32 got = 0;
            if (entry.reader->ReadBytes(start.data() + at, kSectorSize, &got, at) != kOk)
                std::fill_n(start.begin() + at, kSectorSize, u8{0});
            else if (got != 0)
                done = at + got;
        }
    }
    if (done == 0)
        return false;
    auto* state = new (std::nothrow) ExfatVolumeState();
    entry.state.reset(state);
    if (state == nullptr)
        return false;
    ExfatVolume& exfat = state->exfat;
    if (ParseExfatBootRegion(ByteView(start.data(), std::min(done, kBootBytes)), &exfat.boot,
                             &exfat.fromBackup) != ExfatBootResult::kValid)
        return false;
    if (!exfat.table.Attach(entry.reader.get(), exfat.boot))
        return false;
    entry.fsType = kFsExfat;
    state->bytesPerSector = exfat.boot.BytesPerSector();
    state->sectorsPerCluster = 1u << exfat.boot.sectorsPerClusterShift;
    state->clusterCount = exfat.boot.HighestCluster();

    // The allocation bitmap is named in the root directory; without it the search still runs,
    // only whether a cluster is in use cannot be told.
    const std::vector<u32> root = ExfatFolderClusters(entry, exfat.boot.rootCluster, 0, false);
    std::vector<u8> bytes;
    (void)exfat.table.ReadClusters(root, &bytes);
    u32 bitmapCluster = 0;
    u64 bitmapBytes = 0;
    if (FindExfatBitmap(ByteView(bytes.data(), bytes.size()), &bitmapCluster, &bitmapBytes))
        (void)exfat.table.SetBitmap(bitmapCluster, bitmapBytes);
    return true;
}

bool CExfatEngine::Open(VolumeEntry& entry) const
{
    entry.engine = this;
    entry.reader.reset(new (std::nothrow) CFile_RW());
    if (!entry.reader || entry.reader->Open(entry.name, kSectorSize) != kOk)
        return false;
    return AttachExfatVolume(entry);
}

void CExfatEngine::AddFind(VolumeEntry& entry, FoundItem item) const
{
    AddClusterFind(entry, ExfatStateOf(entry), std::move(item));
}

u32 CExfatEngine::Search(CCatalog& catalog, VolumeEntry& entry) const
{
    const ExfatVolumeState* state = ExfatStateOf(entry);
    if (state != nullptr && state->exfat.fromBackup)
        catalog.Post(WM_SCAN_NOTIFY, kScanWarning,
                     entry.name + " the main boot region is damaged; the volume is read through "
                                  "its backup boot region (sector 12)",
                     0);
    return ScanExfatVolume(catalog, entry);
}

u32 CExfatEngine::DeepSearch(CCatalog& catalog, VolumeEntry& entry) const
{
    return DeepSearchExfatVolume(catalog, entry);
}

u32 CExfatEngine::LoadAllocation(VolumeEntry& entry, AllocationMap* map) const
{
    ExfatVolumeState* state = ExfatStateOf(entry);
    if (state == nullptr)
        return kErrUnsupported;
    // The search's cluster assignment has read the bitmap already.
    if (state->allocation)
    {
        *map = std::move(*state->allocation);
        state->allocation.reset();
        return kOk;
    }
    // The allocation bitmap, read through its window; clusters 0 and 1 are not in the heap.
    if (!state->exfat.table.HasBitmap())
        return kErrUnsupported;
    ExfatTable& table = state->exfat.table;
    const u32 highest = state->exfat.boot.HighestCluster();
    if (highest < ExfatLayout::kFirstCluster || !map->Reset(u64{highest} + 1))
        return highest < ExfatLayout::kFirstCluster ? kErrUnsupported : kErrNoMemory;
    map->Set(0);
    map->Set(1);
    for (u32 cluster = ExfatLayout::kFirstCluster; cluster <= highest; ++cluster)
    {
        if (cluster % 0x10000 == 0 && g_bRunning.load(std::memory_order_relaxed) == 0)
            return kErrUnsupported;
        bool inUse = true;
        if (table.ClusterAllocated(cluster, &inUse) != kOk)
            return kErrUnsupported;
        if (inUse)
            map->Set(cluster);
        if (cluster == highest)
            break; // the last cluster may be 2^32 - 1: the loop must not wrap
    }
    return kOk;
}

void CExfatEngine::EndSearch(VolumeEntry& entry) const
{
    // The volume is read no more during the search: close its device. The recovery opens it
    // again.
    if (entry.reader)
        (void)entry.reader->Open(std::string(), kSectorSize);
}

u64 CExfatEngine::ClusterBytes(const VolumeEntry& entry) const
{
    const ExfatVolumeState* state = ExfatStateOf(entry);
    return state != nullptr ? state->exfat.boot.ClusterBytes() : 0;
}

CDirectRW* CExfatEngine::DataReader(VolumeEntry& entry) const
{
    if (!entry.reader)
        return nullptr;
    // The data is addressed in bytes, so the reader's own sector size does not matter.
    (void)entry.reader->Open(entry.name, kSectorSize);
    return entry.reader.get();
}

bool CExfatEngine::Geometry(VolumeEntry& entry, ClusterGeometry* geometry) const
{
    const ExfatVolumeState* state = ExfatStateOf(entry);
    if (state == nullptr || state->exfat.boot.ClusterBytes() == 0)
        return false;
    const ExfatBoot& boot = state->exfat.boot;
    *geometry =
        ClusterGeometry{boot.ClusterBytes(), ExfatLayout::kFirstCluster,
                        ExfatLayout::kFirstCluster + u64{boot.clusterCount}, boot.HeapBytes()};
    return boot.clusterCount != 0;
}

u32 CExfatEngine::DescribeStream(VolumeEntry& entry, const FoundItem& item,
                                 DataStream* stream) const
{
    // A file whose clusters lie in one stretch (NoFatChain) is that stretch exactly. Any other
    // deleted file has lost its chain with the deletion: its data lies in the clusters the
    // search assigned to it, as on FAT; without an assignment, or with the contiguous read
    // asked for, it is read as one stretch from its first cluster. The stretch ends with the
    // heap.
    *stream = DataStream{};
    stream->size = item.size;
    const ExfatVolumeState* state = ExfatStateOf(entry);
    if (state == nullptr)
        return kStreamUnreadable;
    const ExfatBoot& boot = state->exfat.boot;
    stream->clusterBytes = boot.ClusterBytes();
    stream->firstLcn = ExfatLayout::kFirstCluster;
    stream->dataStart = boot.HeapBytes();
    const ExfatStreamInfo* info = StreamRecordOf(item);
    if (info != nullptr)
        stream->initializedSize = info->validDataLength;
    if (item.size == 0)
        return kOk;
    if (item.first < ExfatLayout::kFirstCluster || item.first > boot.HighestCluster())
        return kStreamUnreadable;
    const u64 wanted =
        item.size / stream->clusterBytes + (item.size % stream->clusterBytes != 0 ? 1 : 0);
    u64 given = 0;
    if ((info == nullptr || !info->noFatChain) &&
        AssignedExtents(entry, *state, item, wanted, &stream->extents, &given))
        return given < wanted ? kStreamClipped : kOk;
    const u64 length = std::min<u64>(wanted, boot.HighestCluster() - item.first + 1);
    stream->extents.push_back(StreamExtent{0, item.first, length, false});
    return length < wanted ? kStreamClipped : kOk;
}

u32 CExfatEngine::ReadTimes(VolumeEntry& /*entry*/, const FoundItem& item, FindTimes* times) const
{
    // The file entry's times: creation and access as the item holds them, the last
    // modification from its stream record. exFAT keeps no change time.
    *times = NotedTimes(item);
    if (const auto* stream = StreamRecordOf(item))
        times->modified = LocalTimeToUnix(ExfatTimeToFoundTime(stream->Modified()));
    return kOk;
}

u32 CExfatEngine::ClusterInUse(VolumeEntry& entry, u64 cluster, bool* inUse) const
{
    ExfatVolumeState* state = ExfatStateOf(entry);
    if (state == nullptr || cluster > 0xFFFFFFFFu)
        return kErrUnsupported;
    return state->exfat.table.ClusterAllocated(static_cast<u32>(cluster), inUse);
}

void CExfatEngine::ReleaseItems(VolumeEntry& entry) const
{
    // The items point into the stream records: both go together.
    if (ExfatVolumeState* state = ExfatStateOf(entry))
        state->exfat.streams.clear();
    for (FoundItem& item : entry.items)
        item.SetPayload(FindPayload::kNone, nullptr);
}
