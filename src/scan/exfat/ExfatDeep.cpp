// The exFAT deep search: one read of the heap, the sets found in it placed in the old tree,
// their finds catalogued and their clusters assigned with the others'.
#include "scan/exfat/ExfatDeep.h"

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "exfat/ExfatLayout.h"
#include "exfat/ExfatLooseSets.h"
#include "platform/EventSink.h"
#include "platform/Format.h"
#include "platform/Status.h"
#include "scan/DeepPass.h"
#include "scan/FindLayout.h"
#include "scan/exfat/ExfatDeepTree.h"
#include "scan/exfat/ExfatScan.h"
#include "scan/exfat/ExfatVolumeState.h"

using namespace ExfatLayout;

namespace
{
// The clusters the normal search read as folders: the root's chain, every live folder's
// clusters, and the first cluster of every folder it catalogued.
std::unordered_set<u32> NormalFolderClusters(VolumeEntry& volume, ExfatVolumeState& state)
{
    std::unordered_set<u32> known(state.dirIndex.begin(), state.dirIndex.end());
    const ExfatBoot& boot = state.exfat.boot;
    for (u32 c : state.exfat.table.Chain(boot.rootCluster, boot.HighestCluster()))
        known.insert(c);
    std::vector<std::pair<u32, const ExfatStreamInfo*>> live;
    for (const FoundItem& item : volume.items)
        if ((item.attr & kAttrFolder) != 0 && item.deleted == 0 && item.first <= 0xFFFFFFFFu)
            live.emplace_back(static_cast<u32>(item.first), StreamRecordOf(item));
    for (const auto& [first, info] : live)
        for (u32 c : ExfatFolderClusters(volume, first, info != nullptr ? info->dataLength : 0,
                                         info != nullptr && info->noFatChain))
            known.insert(c);
    return known;
}

// Clusters of data a set's length needs.
u64 ClustersOf(u64 bytes, u64 clusterBytes)
{
    return bytes / clusterBytes + (bytes % clusterBytes != 0 ? 1 : 0);
}

// Whether a deep find's clusters cannot be known for sure: its chain was in the FAT, and it
// needs more than its first cluster.
bool ChainLost(const FoundItem& item, u64 clusterBytes)
{
    const ExfatStreamInfo* info = StreamRecordOf(item);
    return (item.attr & kAttrFolder) == 0 && info != nullptr && !info->noFatChain &&
           ClustersOf(info->dataLength, clusterBytes) > 1;
}

// The find of one placed set, its stream record kept in exfat.
FoundItem DeepFind(ExfatVolume& exfat, const ExfatEntrySet& set, const ExfatDeepPlace& place)
{
    const bool folder = (set.attributes & kAttrFolder) != 0;
    exfat.streams.push_back(ExfatStreamInfo{set.dataLength, set.validDataLength, set.NoFatChain(),
                                            set.modified.tenMs, set.modified.utcOffset,
                                            set.modified.timestamp});
    FoundItem item;
    item.path = place.path;
    item.name = place.name;
    item.attr = static_cast<u8>(set.attributes & 0xFF);
    // After a format nothing of the old tree is allocated, live-looking sets included.
    item.deleted = 1;
    item.deep = 1;
    item.created = ExfatTimeToFoundTime(set.created);
    item.accessed = ExfatTimeToFoundTime(set.accessed);
    item.size = folder ? 0 : set.dataLength;
    item.first = set.firstCluster;
    item.SetPayload(FindPayload::kStreamRecord, &exfat.streams.back());
    item.inferred = ChainLost(item, exfat.boot.ClusterBytes()) ? 1 : 0;
    return item;
}
// Looks for sets in every readable cluster of block; heap is the byte offset on the reader of
// cluster 2.
void FindInBlock(const DeepBlock& block, u64 heap, u64 clusterBytes, ExfatLooseSets* found)
{
    const u64 first = kFirstCluster + (block.offset - heap) / clusterBytes;
    const std::size_t units = block.own / clusterBytes;
    for (std::size_t i = 0; i < units; ++i)
    {
        if (block.unreadableUnits != nullptr && i < block.unreadableUnits->size() &&
            (*block.unreadableUnits)[i])
            continue;
        const std::size_t at = i * clusterBytes;
        FindExfatLooseSets(ByteView(block.bytes.data() + at, block.bytes.size() - at), clusterBytes,
                           static_cast<u32>(first + i), found);
    }
}
} // namespace

u32 DeepSearchExfatVolume(CCatalog& catalog, VolumeEntry& volume)
{
    ExfatVolumeState* state = ExfatStateOf(volume);
    if (state == nullptr || !volume.reader)
        return kErrBadFatBoot;
    ExfatVolume& exfat = state->exfat;
    const u64 clusterBytes = exfat.boot.ClusterBytes();
    const u64 heap = exfat.boot.HeapBytes();
    const DeepRange range{heap, heap + u64{exfat.boot.clusterCount} * clusterBytes,
                          static_cast<u32>(clusterBytes), kExfatSetLookahead};
    ExfatLooseSets found;
    const bool whole = RunDeepPass(
        catalog, volume, volume.reader.get(), range,
        [&](const DeepBlock& block) { FindInBlock(block, heap, clusterBytes, &found); },
        [&found] { return found.sets.size(); });

    const std::unordered_set<u32> known = NormalFolderClusters(volume, *state);
    const std::vector<ExfatDeepPlace> places = PlaceExfatLooseSets(
        found, clusterBytes, volume.name, [&known](u32 c) { return known.contains(c); });
    const std::size_t before = volume.items.size();
    for (const ExfatDeepPlace& place : places)
    {
        const ExfatEntrySet& set = found.sets[place.set].set;
        FoundItem item = DeepFind(exfat, set, place);
        catalog.Post(WM_SCAN_NOTIFY, kScanFind, item.path + "\\" + item.name.str(), item.attr);
        catalog.AddItem(std::move(item), volume);
    }
    // The sets are catalogued once the whole tree is known: the pass's progress counted none.
    if (whole)
        catalog.Post(WM_SCAN_NOTIFY, kScanDeepProgress,
                     Format("Deep search: 100%% read, %zu found", volume.items.size() - before),
                     1000);

    // The cluster assignment the normal search left for now: the deep finds take part.
    if (state->liveForDeep)
    {
        AssignExfatFinds(volume, *state->liveForDeep);
        state->liveForDeep.reset();
    }
    for (FoundItem& item : volume.items)
        if (item.deep != 0 && ChainLost(item, clusterBytes))
            item.inferred = 1;
    return kOk;
}
