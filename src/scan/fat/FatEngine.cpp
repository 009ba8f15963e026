// The FAT engine: opening a volume entry, the search, and where a find's data lies.
#include "scan/fat/FatEngine.h"

#include <algorithm>
#include <array>
#include <limits>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "catalog/AllocationMap.h"
#include "catalog/Catalog.h"
#include "disk/DriveReader.h"
#include "fat/FatBootSector.h"
#include "fat/FatTable.h"
#include "platform/EventSink.h"
#include "platform/Status.h"
#include "scan/FindLayout.h"
#include "scan/fat/FatOwners.h"
#include "scan/fat/FatScan.h"
#include "scan/fat/FatVolumeState.h"

namespace
{
constexpr u32 kSectorSize = 512;
constexpr u32 kBpbOffset = 11;        // the BIOS parameter block follows the jump and the OEM name
constexpr u64 kFat32BackupSector = 6; // where FAT32 keeps a copy of its boot sector
} // namespace

FatVolumeState::FatVolumeState() = default;

FatVolumeState::~FatVolumeState() = default;

const CFatEngine& FatEngine()
{
    static const CFatEngine kEngine;
    return kEngine;
}

bool CFatEngine::Open(VolumeEntry& entry) const
{
    return OpenOn(entry, NewDriveReader(entry.name));
}

bool CFatEngine::OpenOn(VolumeEntry& entry, std::unique_ptr<CDirectRW> reader) const
{
    entry.engine = this;
    FatVolumeState* state = NewFatState(entry);
    entry.reader = std::move(reader);
    if (state == nullptr || !entry.reader || entry.reader->Open(entry.name, kSectorSize) != kOk)
        return false;
    u8 sector[kSectorSize] = {};
    u32 done = 0;
    state->backupBootSector = 0;
    state->boot.reset(new (std::nothrow) FatBootSector());
    if (!state->boot)
        return false;
    if (entry.reader->ReadSectors(sector, 1, &done, 0) != kOk ||
        !state->boot->Parse(sector + kBpbOffset))
    {
        // Sector 0 does not arrive, or holds no usable boot sector: FAT32 keeps a backup of it
        // in sector 6.
        if (entry.reader->ReadSectors(sector, 1, &done, kFat32BackupSector) != kOk ||
            !state->boot->Parse(sector + kBpbOffset))
            return false;
        state->backupBootSector = kFat32BackupSector;
    }
    u32 fatType = kFsNone;
    (void)state->boot->GetFatType(&fatType);
    // A parsed BPB always names a variant; anything else would be searched as no file system.
    if (fatType != kFsFat12 && fatType != kFsFat16 && fatType != kFsFat32)
        return false;
    if (state->backupBootSector != 0 && fatType != kFsFat32)
        return false;
    entry.fsType = fatType;
    // Sector 0 was read in 512-byte units; the FAT table reads its window in the volume's own
    // sectors, so a volume with larger sectors gets its reader reopened at that size.
    const u32 bytesPerSector = state->boot->GetBytesPerSector();
    if (bytesPerSector != kSectorSize && entry.reader->Open(entry.name, bytesPerSector) != kOk)
        return false;
    state->table.reset(new (std::nothrow) FatTable());
    if (!state->table || !state->table->Attach(entry.reader.get(), *state->boot))
        return false;
    state->sectorsPerCluster = state->boot->GetBpb()->sectorsPerCluster;
    // FAT32 cluster numbers take 28 bits, so the limit fits; the cap only guards the narrowing.
    const u64 limit = state->boot->GetClusterLimit(true);
    state->clusterCount = static_cast<u32>(std::min<u64>(limit, std::numeric_limits<u32>::max()));
    state->bytesPerSector = bytesPerSector;
    return true;
}

void CFatEngine::AddFind(VolumeEntry& entry, FoundItem item) const
{
    AddClusterFind(entry, FatStateOf(entry), std::move(item));
}

u32 CFatEngine::Search(CCatalog& catalog, VolumeEntry& entry) const
{
    const FatVolumeState* state = FatStateOf(entry);
    if (state != nullptr && state->backupBootSector != 0)
        catalog.Post(WM_SCAN_NOTIFY, kScanWarning,
                     entry.name +
                         " sector 0 could not be read; the volume is read through its "
                         "backup boot sector in sector " +
                         std::to_string(state->backupBootSector),
                     0);
    return ScanFatVolume(catalog, entry);
}

u32 CFatEngine::LoadAllocation(VolumeEntry& entry, AllocationMap* map) const
{
    FatVolumeState* state = FatStateOf(entry);
    if (state == nullptr)
        return kErrUnsupported;
    // The walk's owner pass has worked the map out already, from the same FAT in memory.
    if (state->allocation)
    {
        *map = std::move(*state->allocation);
        state->allocation.reset();
        return kOk;
    }
    if (!state->table)
        return kErrUnsupported;
    return LoadFatAllocation(*state->table, map);
}

void CFatEngine::EndSearch(VolumeEntry& entry) const
{
    // The volume is read no more during the search: close its device. The recovery opens it
    // again.
    if (entry.reader)
        (void)entry.reader->Open(std::string(), kSectorSize);
    // The FAT the search kept in memory is not needed any more.
    FatVolumeState* state = FatStateOf(entry);
    if (state != nullptr && state->table)
        state->table->ReleaseMemory();
    if (state != nullptr)
        state->live.reset();
}

u64 CFatEngine::ClusterBytes(const VolumeEntry& entry) const
{
    const FatVolumeState* state = FatStateOf(entry);
    const FatBootSector* boot = state != nullptr ? state->boot.get() : nullptr;
    if (!boot)
        return 0;
    const u32 bps = boot->GetBytesPerSector();
    return bps == 0xFFFFFFFFu ? 0 : static_cast<u64>(boot->GetBpb()->sectorsPerCluster) * bps;
}

CDirectRW* CFatEngine::DataReader(VolumeEntry& entry) const
{
    if (!entry.reader)
        return nullptr;
    // The data is addressed in bytes, so the reader's own sector size does not matter.
    (void)entry.reader->Open(entry.name, kSectorSize);
    return entry.reader.get();
}

bool CFatEngine::Geometry(VolumeEntry& entry, ClusterGeometry* geometry) const
{
    // Clusters 2 .. clusterCount, as far as the volume's sectors reach.
    const FatVolumeState* state = FatStateOf(entry);
    const FatBootSector* boot = state != nullptr ? state->boot.get() : nullptr;
    const u64 clusterBytes = ClusterBytes(entry);
    s64 start = 2;
    if (!boot || clusterBytes == 0 || state->clusterCount < 2 || !boot->ClusterToSector(&start) ||
        start < 0)
        return false;
    const u64 dataStart = static_cast<u64>(start) * state->bytesPerSector;
    const u64 total = boot->GetTotalSectors() * state->bytesPerSector;
    if (total <= dataStart)
        return false;
    *geometry = ClusterGeometry{
        clusterBytes, 2,
        std::min<u64>(u64{state->clusterCount} + 1, 2 + (total - dataStart) / clusterBytes),
        dataStart};
    return geometry->endLcn > 2;
}

u32 CFatEngine::DescribeStream(VolumeEntry& entry, const FoundItem& item, DataStream* stream) const
{
    // The data lies in the clusters the search assigned to the find (fragmented around what
    // other files held); without an assignment, or with the contiguous read asked for, it is
    // read as one stretch from the first cluster on, ending with the volume's last cluster.
    // A fresh stream that keeps the capacity of the extent list: the condition pass asks for
    // every find in turn through one stream, without an allocation per find.
    std::vector<StreamExtent> extents = std::move(stream->extents);
    extents.clear();
    *stream = DataStream{};
    stream->extents = std::move(extents);
    stream->size = item.size;
    const FatVolumeState* state = FatStateOf(entry);
    const FatBootSector* boot = state != nullptr ? state->boot.get() : nullptr;
    if (!boot)
        return kStreamUnreadable;
    const u32 bps = boot->GetBytesPerSector();
    stream->clusterBytes = ClusterBytes(entry);
    s64 start = 2;
    if (stream->clusterBytes == 0 || !boot->ClusterToSector(&start) || start < 0)
        return kStreamUnreadable;
    stream->firstLcn = 2;
    stream->dataStart = static_cast<u64>(start) * bps;
    if (item.size == 0)
        return kOk;
    const u64 last = state->clusterCount;
    if (item.first < 2 || item.first > last)
        return kStreamUnreadable;
    const u64 wanted = item.size / stream->clusterBytes + (item.size % stream->clusterBytes != 0);
    u64 given = 0;
    if (AssignedExtents(entry, *state, item, wanted, &stream->extents, &given))
        return given < wanted ? kStreamClipped : kOk;
    const u64 length = std::min(wanted, last - item.first + 1);
    stream->extents.push_back(StreamExtent{0, item.first, length, false});
    return length < wanted ? kStreamClipped : kOk;
}

u32 CFatEngine::ClusterInUse(VolumeEntry& entry, u64 cluster, bool* inUse) const
{
    FatVolumeState* state = FatStateOf(entry);
    if (state == nullptr || !state->table || cluster > std::numeric_limits<u32>::max())
        return kErrUnsupported;
    const ClusterState held = state->table->GetClusterState(static_cast<u32>(cluster));
    if (held == ClusterState::kInvalid)
        return kErrUnsupported;
    *inUse = held != ClusterState::kFree;
    return kOk;
}

void CFatEngine::ReleaseItems(VolumeEntry& /*entry*/) const
{
}

u32 CFatEngine::ReadTimes(VolumeEntry& /*entry*/, const FoundItem& item, FindTimes* times) const
{
    // A directory entry keeps the date of the last access only: the item's access time carries
    // the creation's time of day, which a timeline must not take for the access's.
    *times = NotedTimes(item);
    FoundTime accessDay = item.accessed;
    accessDay.hour = 0;
    accessDay.minute = 0;
    accessDay.second = 0;
    times->accessed = LocalTimeToUnix(accessDay);
    return kOk;
}
