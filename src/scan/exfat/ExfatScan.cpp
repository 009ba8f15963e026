// The exFAT deleted-entry scan: live folders read whole (within their own clusters), deleted
// ones cluster by cluster up to their end, entry sets decoded one after the other, deleted sets
// and live folders catalogued.
#include "scan/exfat/ExfatScan.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "catalog/AllocationMap.h"
#include "exfat/ExfatEntrySet.h"
#include "exfat/ExfatLayout.h"
#include "exfat/ExfatVolume.h"
#include "platform/Status.h"
#include "scan/ClusterAssignment.h"
#include "scan/FindLayout.h"
#include "scan/FindNames.h"
#include "scan/ReadFailures.h"
#include "scan/exfat/ExfatEngine.h"
#include "scan/exfat/ExfatVolumeState.h"

using namespace ExfatLayout;

namespace
{
// The state one directory walk shares with the handling of its finds.
struct FolderWalk
{
    CCatalog& catalog;
    VolumeEntry& volume;
    ItemText path; // path of the folder's children, shared by its finds
    NameList names;
    LiveEntries* live = nullptr; // where the live files met are recorded; null: not recorded
};

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

// Catalogues one entry set.
void HandleSet(FolderWalk& walk, const ExfatEntrySet& set, u32 deleted)
{
    std::string name = set.name;
    // Path separators cannot occur in an exFAT name; one read from a damaged or hostile volume
    // would split the item's path and could lead a recovery out of its destination folder.
    std::replace(name.begin(), name.end(), '\\', '_');
    std::replace(name.begin(), name.end(), '/', '_');
    name = walk.names.Unique(std::move(name));

    const bool folder = (set.attributes & kAttrFolder) != 0;
    ExfatVolume& exfat = ExfatStateOf(walk.volume)->exfat;
    exfat.streams.push_back(ExfatStreamInfo{set.dataLength, set.validDataLength, set.NoFatChain(),
                                            set.modified.tenMs, set.modified.utcOffset,
                                            set.modified.timestamp});

    FoundItem item;
    item.path = walk.path;
    item.name = name;
    item.attr = static_cast<u8>(set.attributes & 0xFF);
    item.deleted = deleted;
    item.created = ExfatTimeToFoundTime(set.created);
    item.accessed = ExfatTimeToFoundTime(set.accessed);
    // Folders show no size, as on FAT; their length stays in the stream record.
    item.size = folder ? 0 : set.dataLength;
    item.first = set.firstCluster;
    item.SetPayload(FindPayload::kStreamRecord, &exfat.streams.back());

    walk.catalog.Post(WM_SCAN_NOTIFY, kScanFind, walk.path + "\\" + name, item.attr);
    walk.catalog.AddItem(std::move(item), walk.volume);
}

// Decodes the entry sets of one folder's bytes. In a live folder deleted sets and live folders
// are finds; in a deleted folder every set is (all it held is gone with it).
void WalkEntries(FolderWalk& walk, const std::vector<u8>& bytes, bool folderDeleted)
{
    const ByteView all(bytes.data(), bytes.size());
    for (std::size_t at = 0; Running() && all.Has(at, kEntrySize);)
    {
        if (all.U8(at + kEntryType) == kTypeEndOfDirectory)
            break;
        ExfatEntrySet set;
        if (DecodeExfatEntrySet(all.Sub(at, all.Size() - at), &set) != ExfatSetResult::kDecoded)
        {
            at += kEntrySize;
            continue;
        }
        at += static_cast<std::size_t>(set.entries) * kEntrySize;
        if (!folderDeleted && !set.deleted && walk.live != nullptr &&
            set.firstCluster >= kFirstCluster)
            walk.live->entries.push_back(LiveEntry{
                .created = set.created.timestamp == 0 ? kNoTime
                                                      : TimeKey(ExfatTimeToFoundTime(set.created)),
                .bytes = set.dataLength,
                .first = set.firstCluster,
                .contiguous = set.NoFatChain()});
        if (folderDeleted || set.deleted)
            HandleSet(walk, set, 1);
        else if (set.attributes & kAttrFolder)
            HandleSet(walk, set, 0);
    }
}
} // namespace

std::vector<u32> ExfatFolderClusters(VolumeEntry& volume, u32 first, u64 bytes, bool contiguous)
{
    ExfatVolumeState* state = ExfatStateOf(volume);
    if (state == nullptr)
        return {};
    ExfatVolume& exfat = state->exfat;
    const ExfatBoot& boot = exfat.boot;
    const u64 clusterBytes = boot.ClusterBytes();
    const u64 limit = std::min(bytes == 0 ? kMaxDirectoryBytes : bytes, kMaxDirectoryBytes);
    const u64 wanted = (limit + clusterBytes - 1) / clusterBytes;
    if (first < kFirstCluster || first > boot.HighestCluster())
        return {};
    if (!contiguous)
        return exfat.table.Chain(first, wanted);
    std::vector<u32> clusters;
    const u64 room = static_cast<u64>(boot.HighestCluster()) - first + 1;
    for (u64 i = 0; i < std::min(wanted, room); ++i)
        clusters.push_back(static_cast<u32>(first + i));
    return clusters;
}

namespace
{
// Bytes read at most of a deleted folder whose entry keeps no length: the largest FAT folder.
constexpr u64 kMaxDeletedFolderBytes = 65536ull * kEntrySize;

// Whether cluster is marked in use by the allocation bitmap (false when that is not known).
bool InUse(ExfatTable& table, u32 cluster)
{
    bool inUse = false;
    return table.ClusterAllocated(cluster, &inUse) == kOk && inUse;
}

// The bytes of a deleted folder: its chain is gone, so its clusters are taken one by one from
// the first on as one stretch, up to the length its entry keeps (or, without one, the largest
// FAT folder), and only while they are free, hold entries and nothing else, are neither read
// for another deleted folder (deletedRead) nor the first cluster of a catalogued folder, and
// the folder has not ended. Returns false when the first cluster is in use again: what it holds
// now is another file's or folder's, and the deleted folder keeps no children. *unreadableAt
// is set to the volume byte offset of the first cluster when that cannot be read.
bool DeletedFolderBytes(VolumeEntry& volume, ExfatVolumeState& state, u32 first, u64 bytes,
                        std::unordered_set<u32>& deletedRead, std::vector<u8>* content,
                        u64* unreadableAt)
{
    ExfatTable& table = state.exfat.table;
    const ExfatBoot& boot = state.exfat.boot;
    if (first < kFirstCluster || first > boot.HighestCluster())
        return true;
    if (InUse(table, first))
        return false;
    // Read already as part of another deleted folder: its entries are listed there.
    if (!deletedRead.insert(first).second)
        return true;
    const u64 clusterBytes = boot.ClusterBytes();
    const u64 limit = bytes != 0 ? std::min(bytes, kMaxDirectoryBytes) : kMaxDeletedFolderBytes;
    // Each step reads the next cluster, so the walk ends at the heap's end at the latest.
    for (u64 c = first; Running() && c <= boot.HighestCluster() && content->size() < limit; ++c)
    {
        const u32 cluster = static_cast<u32>(c);
        std::size_t position = 0;
        if (cluster != first && (InUse(table, cluster) || deletedRead.contains(cluster) ||
                                 volume.lookup.FindDir(state.dirIndex, cluster, &position)))
            break;
        const std::size_t at = content->size();
        // A first cluster that cannot be read leaves zeros, as a live folder's cluster does.
        const bool read =
            table.ReadClusters({cluster}, content, cluster == first ? unreadableAt : nullptr);
        if (content->size() != at + clusterBytes)
        {
            content->resize(at);
            break;
        }
        bool ends = false;
        const bool entries = HoldsExfatEntries(ByteView(content->data() + at, clusterBytes), &ends);
        if (cluster != first)
        {
            if (!read || !entries)
            {
                content->resize(at);
                break;
            }
            deletedRead.insert(cluster);
        }
        // The folder goes on only behind a cluster that it fills with entries.
        if (!read || !entries || ends)
            break;
    }
    return true;
}

// Walks one folder. Returns false when a deleted folder's first cluster is in use again.
bool ScanFolder(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume, LiveEntries* live,
                std::unordered_set<u32>& deletedRead)
{
    ExfatVolumeState* state = ExfatStateOf(volume);
    if (state == nullptr || dir.first > 0xFFFFFFFFu)
        return true;
    // Take what the walk needs now: the item list grows (and may move) while it runs.
    std::string path =
        dir.name.empty() || dir.name == dir.path ? dir.path.str() : dir.path + "\\" + dir.name;
    const bool deleted = dir.deleted != 0;
    const ExfatStreamInfo* info = StreamRecordOf(dir);
    const u64 bytes = info != nullptr ? info->dataLength : 0;
    std::vector<u8> content;
    if (deleted)
    {
        u64 failed = ~u64{0};
        if (!DeletedFolderBytes(volume, *state, static_cast<u32>(dir.first), bytes, deletedRead,
                                &content, &failed))
            return false;
        if (failed != ~u64{0})
            ReportUnreadableFolder(catalog, path, failed, state->exfat.boot.ClusterBytes());
    }
    else
    {
        const bool contiguous = info != nullptr && info->noFatChain;
        const std::vector<u32> clusters =
            ExfatFolderClusters(volume, static_cast<u32>(dir.first), bytes, contiguous);
        // A cluster that cannot be read leaves zeros: the entries before it still count.
        u64 failed = ~u64{0};
        if (!state->exfat.table.ReadClusters(clusters, &content, &failed) && failed != ~u64{0})
            ReportUnreadableFolder(catalog, path, failed, state->exfat.boot.ClusterBytes());
    }
    FolderWalk walk{catalog, volume, path, {}, live};
    WalkEntries(walk, content, deleted);
    return true;
}

u64 ClustersOf(u64 bytes, u64 clusterBytes)
{
    return bytes / clusterBytes + (bytes % clusterBytes != 0 ? 1 : 0);
}

// The owners of the clusters in use that the deleted finds reach: the root folder (never a
// file's), or the live file or folder whose clusters hold it; those of none met stay unknown.
bool MarkExfatOwners(ExfatVolumeState& state, const LiveEntries& live, ClusterReach& reach)
{
    ExfatTable& table = state.exfat.table;
    const ExfatBoot& boot = state.exfat.boot;
    const u32 last = boot.HighestCluster();
    const u64 clusterBytes = boot.ClusterBytes();
    auto mark = [&](const std::vector<u32>& clusters, u32 id)
    {
        for (u32 c : clusters)
            if (reach.Set(c, id) == ClusterReach::Mark::kHeld)
                break;
    };
    mark(table.Chain(boot.rootCluster, last), kOwnerSystem);
    for (std::size_t k = 0; k < live.entries.size() && k + 1 < kOwnerSystem; ++k)
    {
        if (!Running())
            return false;
        const LiveEntry& entry = live.entries[k];
        const u64 clusters = std::min<u64>(ClustersOf(entry.bytes, clusterBytes), last);
        if (!entry.contiguous)
        {
            mark(table.Chain(entry.first, clusters), static_cast<u32>(k + 1));
            continue;
        }
        // One run: only the windows it crosses are visited.
        const u64 end = std::min<u64>(u64{entry.first} + clusters, u64{last} + 1);
        for (const ClusterReach::Window& window : reach.Windows())
            for (u64 c = std::max<u64>(window.first, entry.first); c <= window.last && c < end; ++c)
                (void)reach.Set(c, static_cast<u32>(k + 1));
    }
    return true;
}

} // namespace

void AssignExfatFinds(VolumeEntry& volume, LiveEntries& live)
{
    ExfatVolumeState* state = ExfatStateOf(volume);
    if (state == nullptr || !Running() || !HasDeletedFinds(volume))
        return;
    AllocationMap map;
    if (ExfatEngine().LoadAllocation(volume, &map) != kOk)
        return;
    const u64 clusterBytes = state->exfat.boot.ClusterBytes();
    AssignFindClusters(
        volume, map, live,
        [clusterBytes](const FoundItem& item, u64* clusters, bool* contiguous)
        {
            const ExfatStreamInfo* info = StreamRecordOf(item);
            *clusters = ClustersOf(info != nullptr ? info->dataLength : item.size, clusterBytes);
            *contiguous = info != nullptr && info->noFatChain;
        },
        [&](ClusterReach& reach) { return MarkExfatOwners(*state, live, reach); });
    try
    {
        state->allocation = std::make_unique<AllocationMap>(std::move(map));
    }
    catch (const std::bad_alloc&)
    {
    }
}

u32 ScanExfatDirectory(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume)
{
    std::unordered_set<u32> deletedRead;
    (void)ScanFolder(catalog, dir, volume, nullptr, deletedRead);
    return kOk;
}

u32 ScanExfatVolume(CCatalog& catalog, VolumeEntry& volume)
{
    ExfatVolumeState* state = ExfatStateOf(volume);
    if (state == nullptr || !volume.reader)
        return kErrBadFatBoot;
    FoundItem root;
    root.path = volume.name;
    root.name = volume.name;
    root.attr = kAttrFolder;
    root.first = state->exfat.boot.rootCluster;
    auto live = std::make_unique<LiveEntries>();
    std::unordered_set<u32> deletedRead;
    state->dirIndex.push_back(state->exfat.boot.rootCluster);
    // The root is walked but not catalogued.
    (void)ScanFolder(catalog, root, volume, live.get(), deletedRead);

    // Breadth-first over the catalogue: every accepted folder is walked once, in the order of
    // acceptance; the list grows while it is walked.
    for (std::size_t i = 0; i < volume.items.size() && Running(); ++i)
    {
        if (volume.items[i].attr & kAttrFolder)
        {
            FoundItem dir = volume.items[i];
            // A deleted folder whose first cluster is in use again is listed without children.
            if (!ScanFolder(catalog, dir, volume, live.get(), deletedRead))
                volume.items[i].condition = FindCondition::kOverwritten;
        }
    }
    // With the deep search to follow, the assignment waits for its finds.
    if (catalog.m_deepSearch)
        state->liveForDeep = std::move(live);
    else
        AssignExfatFinds(volume, *live);
    return kOk;
}
