// The FAT deleted-entry scan: the folder walk (fat/FatFolderWalk.h) over the root and every
// catalogued folder, its entries named and catalogued as finds, the live files it meets kept
// for the cluster assignment of the deleted finds.
#include "scan/fat/FatScan.h"

#include <ctime>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "catalog/AllocationMap.h"
#include "fat/FatBootSector.h"
#include "fat/FatFolderWalk.h"
#include "fat/FatTable.h"
#include "platform/Status.h"
#include "scan/ClusterAssignment.h"
#include "scan/FindLayout.h"
#include "scan/FindNames.h"
#include "scan/ReadFailures.h"
#include "scan/fat/FatOwners.h"
#include "scan/fat/FatVolumeState.h"

using namespace FatDirLayout;

namespace
{
// The largest FAT the search keeps in memory (that of a 2 TiB volume of 32 KiB clusters):
// the walks, the cluster assignment and the condition pass then read each FAT sector once,
// in large reads, instead of through the 4 KiB window again and again.
constexpr u64 kFatInMemoryLimit = u64{256} << 20;

// The catalogue's side of one folder's walk: every entry the walk hands out is a find to be
// named and catalogued, the live files met are recorded for the cluster assignment, and the
// folder's unreadable clusters are reported under its path.
class FolderFinds final : public FatEntrySink
{
public:
    // live: where the live files met are recorded; null: not recorded.
    FolderFinds(CCatalog& catalog, VolumeEntry& volume, ItemText path, LiveEntries* live)
        : m_catalog(catalog), m_volume(volume), m_path(std::move(path)), m_live(live)
    {
    }
    // The finds of a folder the deep search found: marked deep and inferred, and its folder
    // entries that skipFolder names (by first cluster) passed over.
    FolderFinds(CCatalog& catalog, VolumeEntry& volume, ItemText path,
                const FatFolderFilter& skipFolder)
        : m_catalog(catalog), m_volume(volume), m_path(std::move(path)), m_live(nullptr),
          m_skipFolder(&skipFolder)
    {
    }

    void Entry(const FatEntryInfo& info, std::string name, u32 deleted) override;
    [[nodiscard]] bool CollectsLive() const override { return m_live != nullptr; }
    void Live(u32 first, const FoundTime* created) override
    {
        m_live->entries.push_back(
            LiveEntry{.created = created == nullptr ? kNoTime : TimeKey(*created), .first = first});
    }
    void Unreadable(u64 byteOffset, u64 bytes) override
    {
        ReportUnreadableFolder(m_catalog, m_path.str(), byteOffset, bytes);
    }

private:
    CCatalog& m_catalog;
    VolumeEntry& m_volume;
    ItemText m_path; // path of the folder's children, shared by its finds
    NameList m_names;
    LiveEntries* m_live;
    const FatFolderFilter* m_skipFolder = nullptr; // set for the deep search's folders
    std::string m_notice; // the text of the find notice, built here for every find
};

// Makes room for one more find: from 2,048 finds on the heap straight to 131,072 on huge
// pages, then eightfold up to a million finds and twofold beyond. Each growth copies the list
// into memory touched for the first time (a page fault per 4 KiB, or per 2 MiB once the list is
// mapped on huge pages); capacity not yet used takes no memory, so the large first step costs
// nothing a smaller one would not. Without the memory the list grows as usual.
void MakeRoom(FoundItems& list)
{
    constexpr std::size_t kFirst = 2048;
    constexpr std::size_t kSecond = std::size_t{1} << 17;
    constexpr std::size_t kEightfoldUpTo = std::size_t{1} << 20;
    if (list.size() < list.capacity() || list.capacity() >= kEightfoldUpTo)
        return;
    try
    {
        list.reserve(list.capacity() < kFirst    ? kFirst
                     : list.capacity() < kSecond ? kSecond
                                                 : list.capacity() * 8);
    }
    catch (const std::exception&)
    {
    }
}

// Catalogues one find. name is the entry's name as the walk takes it.
void FolderFinds::Entry(const FatEntryInfo& info, std::string name, u32 deleted)
{
    // An entry without clusters is a find only as an empty file with a name (a nameless one is
    // a slot that was never used).
    if (info.firstCluster == 0 &&
        (info.size != 0 || (info.attr & kAttrDirectory) != 0 || name.empty()))
        return;
    if (m_skipFolder != nullptr && (info.attr & kAttrDirectory) != 0 &&
        (*m_skipFolder)(info.firstCluster))
        return;
    // Path separators cannot occur in a FAT name; one read from a damaged or hostile volume
    // would split the item's path and could lead a recovery out of its destination folder.
    // Two scans of the whole name for the two bytes (memchr; nearly every name holds neither)
    // cost less than a test of each byte for both.
    if (name.find('\\') != std::string::npos || name.find('/') != std::string::npos)
        for (char& c : name)
            if (c == '\\' || c == '/')
                c = '_';
    FoundItem item;
    item.path = m_path;
    item.name = m_names.Unique(std::move(name));
    item.attr = info.attr;
    item.deleted = deleted;
    item.created = info.created;
    item.accessed = info.accessed;
    item.size = info.size;
    item.first = info.firstCluster;
    if (m_skipFolder != nullptr)
    {
        // Nothing the volume still links leads to the find: its clusters are a guess.
        item.deep = 1;
        item.inferred = 1;
    }

    // The notice's text reuses one buffer: no string is made and freed per find.
    m_notice.assign(m_path);
    m_notice += '\\';
    m_notice += item.name;
    m_catalog.Post(WM_SCAN_NOTIFY, kScanFind, m_notice, info.attr);
    MakeRoom(m_volume.items);
    m_catalog.AddItem(std::move(item), m_volume);
}

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

FoundTime LocalNow()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    FoundTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    return t;
}

// What the folder walk reads the volume through; nothing usable without a FAT state.
FatFolderSource SourceOf(const VolumeEntry& volume)
{
    const FatVolumeState* state = FatStateOf(volume);
    if (state == nullptr)
        return FatFolderSource{};
    return FatFolderSource{.reader = volume.reader.get(),
                           .boot = state->boot.get(),
                           .table = state->table.get(),
                           .bytesPerSector = state->bytesPerSector,
                           .sectorsPerCluster = state->sectorsPerCluster,
                           .clusterCount = state->clusterCount};
}
} // namespace

namespace
{
// Walks one folder. *overwritten tells whether a deleted folder's first cluster is in use again.
u32 ScanFolder(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume, LiveEntries* live,
               FatFolderWalk& walker, bool* overwritten)
{
    *overwritten = false;
    if (!SourceOf(volume).Usable())
        return kOk;
    // Take what the walk needs now: the item list grows (and may move) while it runs.
    std::string path =
        dir.name.empty() || dir.name == dir.path ? dir.path.str() : dir.path + "\\" + dir.name;
    const u32 deleted = dir.deleted;
    if (dir.first > 0xFFFFFFFFu)
        return kOk;
    const u32 first = static_cast<u32>(dir.first);

    FolderFinds finds(catalog, volume, path, live);
    if (deleted == 0)
        return walker.WalkLiveFolder(first, finds);
    return walker.WalkDeletedFolder(first, finds, overwritten);
}

// Walks the root folder: on FAT32 through its cluster chain from rootEntriesOrCluster (walked
// but not catalogued: a failed walk only leaves the root empty), else the fixed root of
// rootEntriesOrCluster entries from rootSector. Returns 0, or 8 when there is no memory for the
// fixed root's reads.
u32 ScanRoot(CCatalog& catalog, VolumeEntry& volume, FatVolumeState& state, FatFolderWalk& walker,
             LiveEntries* live, u64 rootSector, u32 rootEntriesOrCluster)
{
    if (volume.fsType != kFsFat32)
    {
        FolderFinds finds(catalog, volume, volume.name, live);
        return walker.WalkFixedRoot(rootSector, rootEntriesOrCluster, finds);
    }
    FoundItem root;
    root.path = volume.name;
    root.name = volume.name;
    root.attr = kAttrDirectory;
    root.deleted = 0;
    root.created = LocalNow();
    root.accessed = root.created;
    root.size = 0;
    root.first = rootEntriesOrCluster;
    state.dirIndex.push_back(rootEntriesOrCluster);
    bool overwritten = false;
    (void)ScanFolder(catalog, root, volume, live, walker, &overwritten);
    return kOk;
}

// Gives the deleted finds of the volume their most likely clusters (see ClusterAssignment.h).
// Without a readable FAT the finds keep none and are read as one stretch each.
void AssignFatFinds(VolumeEntry& volume, const FatVolumeState& state, LiveEntries& live,
                    u32 rootCluster, const AllocationMap& map)
{
    if (!Running() || !HasDeletedFinds(volume) || map.Clusters() == 0)
        return;
    const u64 clusterBytes = static_cast<u64>(state.sectorsPerCluster) * state.bytesPerSector;
    AssignFindClusters(
        volume, map, live,
        [clusterBytes](const FoundItem& item, u64* clusters, bool* contiguous)
        {
            // A deleted folder is read from its first cluster alone.
            *clusters = (item.attr & kAttrDirectory) != 0
                            ? 1
                            : (item.size + clusterBytes - 1) / clusterBytes;
            *contiguous = false;
        },
        [&](ClusterReach& reach) { return MarkFatOwners(state, live, rootCluster, reach); });
}

// Keeps the allocation map the assignment worked with for the condition pass (an empty one is
// worked out again there).
void KeepAllocation(FatVolumeState& state, AllocationMap map)
{
    if (map.Clusters() == 0)
        return;
    try
    {
        state.allocation = std::make_unique<AllocationMap>(std::move(map));
    }
    catch (const std::bad_alloc&)
    {
    }
}
} // namespace

u32 ScanFatDirectory(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume)
{
    FatFolderWalk walker(SourceOf(volume), &g_bRunning);
    bool overwritten = false;
    return ScanFolder(catalog, dir, volume, nullptr, walker, &overwritten);
}

u32 ScanFatVolume(CCatalog& catalog, VolumeEntry& volume)
{
    FatVolumeState* state = FatStateOf(volume);
    if (state == nullptr || !state->boot)
        return kErrBadFatBoot;
    u64 rootSector = 0;
    u32 countOrCluster = 0;
    if (!state->boot->GetRootDir(&rootSector, &countOrCluster))
        return kErrBadFatBoot;
    if (!SourceOf(volume).Usable())
        return kErrBadFatBoot;
    // Released when the search ends (CFatEngine::EndSearch); a FAT too large stays windowed.
    // Wholly in memory, its own part of the owner table is worked out on a second thread
    // while the folders are walked.
    FatOwnerPass ownerPass;
    if (state->table->KeepInMemory(kFatInMemoryLimit) && state->table->LoadAllSegments())
        ownerPass.Start(*state);
    std::unique_ptr<LiveEntries> kept(new (std::nothrow) LiveEntries());
    if (!kept)
        return kErrNoMemory;
    LiveEntries& live = *kept;
    FatFolderWalk walker(SourceOf(volume), &g_bRunning);
    if (ScanRoot(catalog, volume, *state, walker, &live, rootSector, countOrCluster) != kOk)
        return kErrNoMemory;

    // Breadth-first over the catalogue: every accepted folder is walked once, in the order of
    // acceptance; the list grows while it is walked.
    bool overwritten = false;
    for (std::size_t i = 0; i < volume.items.size(); ++i)
    {
        if (volume.items[i].attr & kAttrDirectory)
        {
            FoundItem dir = volume.items[i];
            (void)ScanFolder(catalog, dir, volume, &live, walker, &overwritten);
            // A deleted folder whose first cluster is in use again is listed without children.
            if (overwritten)
                volume.items[i].condition = FindCondition::kOverwritten;
        }
    }
    // The allocation map the pass worked out serves the cluster assignment, then goes to the
    // condition pass; without it that pass works the map out itself. Only deleted finds make
    // it worth working out here.
    AllocationMap map;
    if (!ownerPass.TakeAllocation(&map) && Running() && HasDeletedFinds(volume) &&
        LoadFatAllocation(*state->table, &map) != kOk)
        (void)map.Reset(0);
    AssignFatFinds(volume, *state, live, volume.fsType == kFsFat32 ? countOrCluster : 0, map);
    KeepAllocation(*state, std::move(map));
    if (catalog.m_deepSearch)
        state->live = std::move(kept);
    return kOk;
}

u32 ScanFatDeepFolder(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume,
                      FatFolderWalk& walker, const FatFolderFilter& skipFolder, bool* overwritten)
{
    *overwritten = false;
    if (!SourceOf(volume).Usable() || dir.first < 2 || dir.first > 0xFFFFFFFFu)
        return kOk;
    FolderFinds finds(catalog, volume, dir.path + "\\" + dir.name, skipFolder);
    return walker.WalkDeletedFolder(static_cast<u32>(dir.first), finds, overwritten);
}

void ReassignFatFinds(VolumeEntry& volume)
{
    FatVolumeState* state = FatStateOf(volume);
    u64 rootSector = 0;
    u32 countOrCluster = 0;
    if (state == nullptr || !state->live || !state->table || !state->boot ||
        !state->boot->GetRootDir(&rootSector, &countOrCluster))
        return;
    AllocationMap map;
    if (state->allocation)
    {
        map = std::move(*state->allocation);
        state->allocation.reset();
    }
    else if (!Running() || !HasDeletedFinds(volume) ||
             LoadFatAllocation(*state->table, &map) != kOk)
        (void)map.Reset(0);
    AssignFatFinds(volume, *state, *state->live, volume.fsType == kFsFat32 ? countOrCluster : 0,
                   map);
    KeepAllocation(*state, std::move(map));
    state->live.reset();
}
