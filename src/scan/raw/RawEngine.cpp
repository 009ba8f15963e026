// The engine of a source without a file system: its sectors, read once by the deep search.
#include "scan/raw/RawEngine.h"

#include <new>
#include <optional>
#include <typeinfo>

#include "catalog/AllocationMap.h"
#include "catalog/Catalog.h"
#include "disk/DirectRW.h"
#include "disk/DriveReader.h"
#include "platform/DriveDiscovery.h"
#include "platform/DriveTable.h"
#include "platform/Status.h"
#include "scan/DeepPass.h"

namespace
{
constexpr u64 kSectorBytes = 512;

// What the engine keeps of a source: its whole sectors.
class RawVolumeState final : public VolumeState
{
public:
    u64 sectors = 0;
};

const RawVolumeState* RawStateOf(const VolumeEntry& entry)
{
    const VolumeState* state = entry.state.get();
    return state != nullptr && typeid(*state) == typeid(RawVolumeState)
               ? static_cast<const RawVolumeState*>(state)
               : nullptr;
}

u64 SectorsOf(const VolumeEntry& entry)
{
    const RawVolumeState* state = RawStateOf(entry);
    return state != nullptr ? state->sectors : 0;
}

// Bytes of the drive's source from its offset on: the length the drive table gives, or else
// what is left of the image or device past the offset. 0 when it cannot be told.
u64 SourceBytes(const DriveSource& source)
{
    if (source.length != 0)
        return source.length;
    SourceLayout layout;
    int error = 0;
    if (ReadSourceLayout(source.path, false, &layout, &error) != kOk ||
        layout.size <= source.offset)
        return 0;
    return layout.size - source.offset;
}
} // namespace

const CRawEngine& RawEngine()
{
    static const CRawEngine kEngine;
    return kEngine;
}

bool CRawEngine::Open(VolumeEntry& entry) const
{
    entry.engine = this;
    entry.fsType = kFsNone;
    const std::optional<DriveSource> source = g_DriveTable.Find(entry.name);
    if (!source)
        return false;
    entry.reader = NewDriveReader(entry.name);
    if (!entry.reader || entry.reader->Open(entry.name, kSectorBytes) != kOk)
        return false;
    auto* state = new (std::nothrow) RawVolumeState();
    entry.state.reset(state);
    if (state == nullptr)
        return false;
    state->sectors = SourceBytes(*source) / kSectorBytes;
    return state->sectors != 0;
}

u32 CRawEngine::Search(CCatalog& /*catalog*/, VolumeEntry& /*entry*/) const
{
    return kOk; // no metadata: only the deep search's carving finds anything
}

u32 CRawEngine::DeepSearch(CCatalog& catalog, VolumeEntry& entry) const
{
    // One read of every sector: carving's header search sees each block through the tap.
    const u64 sectors = SectorsOf(entry);
    if (sectors == 0)
        return kErrTransfer;
    DeepRange range;
    range.start = 0;
    range.end = sectors * kSectorBytes;
    range.unit = static_cast<u32>(kSectorBytes);
    const bool whole =
        RunDeepPass(catalog, entry, DataReader(entry), range, [](const DeepBlock& /*block*/) {});
    return whole ? kOk : kErrUnsupported;
}

bool CRawEngine::Geometry(VolumeEntry& entry, ClusterGeometry* geometry) const
{
    const u64 sectors = SectorsOf(entry);
    *geometry = ClusterGeometry{kSectorBytes, 0, sectors, 0};
    return sectors != 0;
}

u32 CRawEngine::LoadAllocation(VolumeEntry& entry, AllocationMap* map) const
{
    // Nothing on the source is known to be in use.
    const u64 sectors = SectorsOf(entry);
    if (sectors == 0)
        return kErrUnsupported;
    return map->Reset(sectors) ? kOk : kErrNoMemory;
}

void CRawEngine::EndSearch(VolumeEntry& entry) const
{
    // The source is read no more during the search; the recovery opens it again.
    if (entry.reader)
        (void)entry.reader->Open(std::string(), kSectorBytes);
}

u64 CRawEngine::ClusterBytes(const VolumeEntry& /*entry*/) const
{
    return kSectorBytes;
}

CDirectRW* CRawEngine::DataReader(VolumeEntry& entry) const
{
    if (!entry.reader)
        return nullptr;
    (void)entry.reader->Open(entry.name, kSectorBytes);
    return entry.reader.get();
}

u32 CRawEngine::DescribeStream(VolumeEntry& /*entry*/, const FoundItem& item,
                               DataStream* stream) const
{
    // Every find here is carved, and carved finds are described by their layouts
    // (catalog/FindStream.h): anything else has no data the engine could tell.
    *stream = DataStream{};
    stream->size = item.size;
    stream->clusterBytes = kSectorBytes;
    return kStreamUnreadable;
}

u32 CRawEngine::ClusterInUse(VolumeEntry& entry, u64 cluster, bool* inUse) const
{
    if (cluster >= SectorsOf(entry))
        return kErrUnsupported;
    *inUse = false;
    return kOk;
}

void CRawEngine::ReleaseItems(VolumeEntry& /*entry*/) const
{
    // Carved finds hold no payloads.
}
