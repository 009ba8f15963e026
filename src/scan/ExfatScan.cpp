// The exFAT deleted-entry scan: folders read whole (within their own clusters), entry sets
// decoded one after the other, deleted sets and live folders catalogued.
#include "scan/ExfatScan.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "exfat/ExfatEntrySet.h"
#include "exfat/ExfatLayout.h"
#include "exfat/ExfatVolume.h"
#include "platform/Status.h"
#include "scan/ClusterAssignment.h"
#include "scan/FindLayout.h"
#include "scan/FindNames.h"
#include "scan/ReadFailures.h"

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

// Catalogues one entry set; excludedToIndex as in the FAT scan: an excluded folder of a live
// folder has its cluster entered in dirIndex so that no folder with it is ever catalogued.
void HandleSet(FolderWalk& walk, const ExfatEntrySet& set, u32 deleted, bool excludedToIndex)
{
    std::string name = set.name;
    // Path separators cannot occur in an exFAT name; one read from a damaged or hostile volume
    // would split the item's path and could lead a recovery out of its destination folder.
    std::replace(name.begin(), name.end(), '\\', '_');
    std::replace(name.begin(), name.end(), '/', '_');
    if (IsExcludedName(name))
    {
        if (excludedToIndex)
            walk.volume.dirIndex.push_back(set.firstCluster);
        return;
    }
    name = walk.names.Unique(std::move(name));

    const bool folder = (set.attributes & kAttrFolder) != 0;
    ExfatVolume& exfat = *walk.volume.exfat;
    exfat.streams.push_back(ExfatStreamInfo{set.dataLength, set.validDataLength, set.NoFatChain()});

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
    item.data = &exfat.streams.back();

    walk.catalog.Post(WM_SCAN_NOTIFY, 1, walk.path + "\\" + name, item.attr);
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
        if (folderDeleted)
            HandleSet(walk, set, 1, false);
        else if (set.deleted)
            HandleSet(walk, set, 1, true);
        else if (set.attributes & kAttrFolder)
            HandleSet(walk, set, 0, true);
    }
}
} // namespace

std::vector<u32> ExfatFolderClusters(VolumeEntry& volume, u32 first, u64 bytes, bool contiguous)
{
    ExfatVolume& exfat = *volume.exfat;
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
void ScanFolder(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume, LiveEntries* live)
{
    if (!volume.exfat || dir.first > 0xFFFFFFFFu)
        return;
    // Take what the walk needs now: the item list grows (and may move) while it runs.
    std::string path =
        dir.name.empty() || dir.name == dir.path ? dir.path.str() : dir.path + "\\" + dir.name;
    const bool deleted = dir.deleted != 0;
    const auto* info = static_cast<const ExfatStreamInfo*>(dir.data);
    const u64 bytes = info != nullptr ? info->dataLength : 0;
    // A deleted folder's chain is gone: its clusters are read as one stretch.
    const bool contiguous = deleted || (info != nullptr && info->noFatChain);
    const std::vector<u32> clusters =
        ExfatFolderClusters(volume, static_cast<u32>(dir.first), bytes, contiguous);
    std::vector<u8> content;
    // A cluster that cannot be read leaves zeros: the entries before it still count.
    u64 failed = ~u64{0};
    if (!volume.exfat->table.ReadClusters(clusters, &content, &failed) && failed != ~u64{0})
        ReportUnreadableFolder(catalog, path, failed, volume.exfat->boot.ClusterBytes());
    FolderWalk walk{catalog, volume, path, {}, live};
    WalkEntries(walk, content, deleted);
}

u64 ClustersOf(u64 bytes, u64 clusterBytes)
{
    return bytes / clusterBytes + (bytes % clusterBytes != 0 ? 1 : 0);
}

// The owner of every cluster of the heap: free or in use by the allocation bitmap, the root
// folder (never a file's), or the live file or folder whose clusters hold it; an allocated
// cluster of none met is of unknown owner. False without a readable bitmap.
bool BuildExfatOwners(VolumeEntry& volume, const LiveEntries& live, OwnerTable* owner)
{
    ExfatTable& table = volume.exfat->table;
    const ExfatBoot& boot = volume.exfat->boot;
    const u32 last = boot.HighestCluster();
    const u64 clusterBytes = boot.ClusterBytes();
    bool lastInUse = false;
    if (!table.HasBitmap() || clusterBytes == 0 || last < kFirstCluster ||
        table.ClusterAllocated(last, &lastInUse) != kOk)
        return false;
    try
    {
        owner->assign(static_cast<std::size_t>(last) + 1, kOwnerFree);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    for (u32 c = kFirstCluster; c <= last && c != 0; ++c)
    {
        bool inUse = false;
        if (((c & 0xFFFF) == 0 && !Running()) || table.ClusterAllocated(c, &inUse) != kOk)
            return false;
        (*owner)[c] = inUse ? kOwnerUnknown : kOwnerFree;
    }
    // Only allocated clusters no other file holds are marked.
    auto mark = [&](const std::vector<u32>& clusters, u32 id)
    {
        for (u32 c : clusters)
            if (c <= last && (*owner)[c] == kOwnerUnknown)
                (*owner)[c] = id;
    };
    mark(table.Chain(boot.rootCluster, last), kOwnerSystem);
    for (std::size_t k = 0; k < live.entries.size() && k + 1 < kOwnerSystem; ++k)
    {
        const LiveEntry& entry = live.entries[k];
        const u64 clusters = std::min<u64>(ClustersOf(entry.bytes, clusterBytes), last);
        if (entry.contiguous)
        {
            for (u64 c = entry.first; c < entry.first + clusters && c <= last; ++c)
                if ((*owner)[c] == kOwnerUnknown)
                    (*owner)[c] = static_cast<u32>(k + 1);
        }
        else
        {
            mark(table.Chain(entry.first, clusters), static_cast<u32>(k + 1));
        }
    }
    return true;
}

// Gives the deleted finds of the volume their most likely clusters (see ClusterAssignment.h).
// Without a readable bitmap the finds keep none and are read as one stretch each.
void AssignExfatFinds(VolumeEntry& volume, LiveEntries& live)
{
    if (!Running() || !HasDeletedFinds(volume))
        return;
    OwnerTable owner;
    if (!BuildExfatOwners(volume, live, &owner))
        return;
    const u64 clusterBytes = volume.exfat->boot.ClusterBytes();
    AssignFindClusters(volume, std::move(owner), live,
                       [clusterBytes](const FoundItem& item, u64* clusters, bool* contiguous)
                       {
                           const auto* info = static_cast<const ExfatStreamInfo*>(item.data);
                           *clusters = ClustersOf(info != nullptr ? info->dataLength : item.size,
                                                  clusterBytes);
                           *contiguous = info != nullptr && info->noFatChain;
                       });
}
} // namespace

u32 ScanExfatDirectory(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume)
{
    ScanFolder(catalog, dir, volume, nullptr);
    return kOk;
}

u32 ScanExfatVolume(CCatalog& catalog, VolumeEntry& volume)
{
    if (!volume.exfat || !volume.reader)
        return kErrBadFatBoot;
    FoundItem root;
    root.path = volume.name;
    root.name = volume.name;
    root.attr = kAttrFolder;
    root.first = volume.exfat->boot.rootCluster;
    LiveEntries live;
    volume.dirIndex.push_back(volume.exfat->boot.rootCluster);
    // The root is walked but not catalogued.
    ScanFolder(catalog, root, volume, &live);

    // Breadth-first over the catalogue: every accepted folder is walked once, in the order of
    // acceptance; the list grows while it is walked.
    for (std::size_t i = 0; i < volume.items.size() && Running(); ++i)
    {
        if (volume.items[i].attr & kAttrFolder)
        {
            FoundItem dir = volume.items[i];
            ScanFolder(catalog, dir, volume, &live);
        }
    }
    AssignExfatFinds(volume, live);
    return kOk;
}
