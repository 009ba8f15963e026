// The FAT deleted-entry scan: the fixed root directory (FAT12/16) or the root cluster chain
// (FAT32), live folders through their cluster chains, deleted folders from their first cluster
// on through the free clusters after it that hold directory entries.
#include "scan/fat/FatScan.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "catalog/AllocationMap.h"
#include "disk/DirectRW.h"
#include "fat/FatBootSector.h"
#include "fat/FatDirBlock.h"
#include "fat/FatTable.h"
#include "mempool/MemPool.h"
#include "platform/ByteOrder.h"
#include "scan/ClusterAssignment.h"
#include "scan/FindLayout.h"
#include "scan/FindNames.h"
#include "scan/ReadFailures.h"
#include "scan/fat/FatFolderReads.h"
#include "scan/fat/FatOwners.h"

using namespace FatDirLayout;

namespace
{
// Sectors of the fixed root directory read at a time.
constexpr u32 kRootChunkSectors = 4;
// The largest folder: 65536 entries of 32 bytes.
constexpr u64 kMaxFolderBytes = 65536ull * kEntrySize;
// The attribute bit of a volume label entry.
constexpr u8 kAttrVolumeId = 0x08;
// The name field of a folder's "." entry, which opens the folder's first cluster.
constexpr u8 kDotName[11] = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
// The largest FAT the search keeps in memory (that of a 2 TiB volume of 32 KiB clusters):
// the walks, the cluster assignment and the condition pass then read each FAT sector once,
// in large reads, instead of through the 4 KiB window again and again.
constexpr u64 kFatInMemoryLimit = u64{256} << 20;

// The state one directory walk shares with the handling of its finds.
struct FolderWalk
{
    CCatalog& catalog;
    VolumeEntry& volume;
    ItemText path; // path of the folder's children, shared by its finds
    NameList names;
    LiveEntries* live = nullptr; // where the live files met are recorded; null: not recorded
    std::string notice;          // the text of the find notice, built here for every find
    // Clusters already read as part of a deleted folder: a cluster's entries belong to one
    // folder, and are never read again for another.
    std::unordered_set<u32>* deletedRead = nullptr;
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
void HandleFind(FolderWalk& walk, const FatEntryInfo& info, std::string name, u32 deleted)
{
    // An entry without clusters is a find only as an empty file with a name (a nameless one is
    // a slot that was never used).
    if (info.firstCluster == 0 &&
        (info.size != 0 || (info.attr & kAttrDirectory) != 0 || name.empty()))
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
    item.path = walk.path;
    item.name = walk.names.Unique(std::move(name));
    item.attr = info.attr;
    item.deleted = deleted;
    item.created = info.created;
    item.accessed = info.accessed;
    item.size = info.size;
    item.first = info.firstCluster;
    item.data = nullptr;

    // The notice's text reuses one buffer: no string is made and freed per find.
    walk.notice.assign(walk.path);
    walk.notice += '\\';
    walk.notice += item.name;
    walk.catalog.Post(WM_SCAN_NOTIFY, kScanFind, walk.notice, info.attr);
    MakeRoom(walk.volume.items);
    walk.catalog.AddItem(std::move(item), walk.volume);
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

// The geometry fields of the entry must describe real sectors and clusters before any buffer
// is sized from them.
bool UsableGeometry(const VolumeEntry& volume)
{
    return volume.bytesPerSector >= 512 && volume.bytesPerSector % 512 == 0 &&
           volume.bytesPerSector <= 65536 && volume.sectorsPerCluster >= 1 &&
           volume.sectorsPerCluster <= 255 && volume.reader && volume.fatBoot && volume.fatTable;
}

// Records the live files and folders among the entries of block from byte from to valid: their
// first cluster and creation time, for the cluster assignment of the deleted finds.
void CollectLive(LiveEntries* live, const u8* block, u32 from, u32 valid)
{
    if (live == nullptr)
        return;
    for (u64 at = from; at + kEntrySize <= valid; at += kEntrySize)
    {
        const u8* entry = block + at;
        if (entry[kName] == 0x00)
            break;
        const u8 attr = entry[kAttr];
        if (entry[kName] == kDeletedMark || entry[kName] == '.' ||
            (attr & kAttrLongNameMask) == kAttrLongName || (attr & kAttrVolumeId) != 0)
            continue;
        const u32 first =
            (static_cast<u32>(LoadLe16(entry + kFstClusHi)) << 16) | LoadLe16(entry + kFstClusLo);
        if (first < 2)
            continue;
        const u16 date = LoadLe16(entry + kCrtDate);
        FoundTime created;
        DecodeDosTime(created, date, LoadLe16(entry + kCrtTime), entry[kCrtTimeTenth]);
        live->entries.push_back(
            LiveEntry{.created = date == 0 ? kNoTime : TimeKey(created), .first = first});
    }
}

void ScanFixedRoot(CCatalog& catalog, VolumeEntry& volume, u8* chunk, u64 rootDirSector,
                   u32 rootEntryCount, LiveEntries* live)
{
    const u32 bps = volume.bytesPerSector;
    const u32 rootSectors =
        static_cast<u32>((static_cast<u64>(rootEntryCount) * 32 + bps - 1) / bps);
    FatDirBuffer buffer;
    FolderWalk walk{catalog, volume, volume.name, {}, live, {}};
    FatEntryInfo info;
    u32 entryNumber = 0;
    u32 deleted = 0;
    for (u32 pos = 0; Running() && pos < rootSectors;)
    {
        std::memset(chunk, 0, static_cast<std::size_t>(kRootChunkSectors) * bps);
        u32 count = rootSectors - pos < kRootChunkSectors ? rootSectors - pos : kRootChunkSectors;
        u32 got = ReadVolumeSectors(*volume.reader, chunk, count, rootDirSector + pos, bps);
        if (got < count * bps)
            ReportUnreadableFolder(catalog, volume.name,
                                   (static_cast<u64>(rootDirSector) + pos) * bps,
                                   static_cast<u64>(count) * bps);
        buffer.Attach(chunk, got);
        CollectLive(live, chunk, 0, got);
        while (NextDirEntry(buffer, info, entryNumber, deleted, bps / kEntrySize))
            HandleFind(walk, info, info.name, deleted);
        // When the chunk ended on a deleted entry or a long-name part, the next chunk starts with
        // this chunk's last sector again, so that long-name parts in it stay in front of the
        // entries after it; the scan of that chunk resumes behind the carried sector.
        pos += entryNumber != 0 ? kRootChunkSectors - 1 : kRootChunkSectors;
    }
}

void ScanLiveDirectory(FolderWalk& walk, u32 first, u8* buffer, FatDirBuffer& dirBuffer)
{
    VolumeEntry& volume = walk.volume;
    const u32 bps = volume.bytesPerSector;
    FatEntryInfo info;
    u32 cur = first;
    ClusterState state = volume.fatTable->GetClusterState(cur);
    u32 carry = 0;
    u32 entryNumber = 0;
    u32 deleted = 0;
    // Each cluster of the chain is read once: a chain that runs back into itself ends there.
    std::unordered_set<u32> visited;
    FolderClusterReads reads(volume);
    while (Running() && (state == ClusterState::kLinked || state == ClusterState::kChainHead ||
                         state == ClusterState::kChainEnd))
    {
        if (!visited.insert(cur).second)
            break;
        s64 sector = cur;
        if (!volume.fatBoot->ClusterToSector(&sector))
            break;
        u32 got = reads.Read(cur, static_cast<u64>(sector), buffer + carry);
        if (got < volume.sectorsPerCluster * bps)
            ReportUnreadableFolder(walk.catalog, walk.path.str(), static_cast<u64>(sector) * bps,
                                   static_cast<u64>(volume.sectorsPerCluster) * bps);
        u32 valid = got + carry;
        if (!CheckDirBlock(buffer, valid, volume.clusterCount))
            break;
        CollectLive(walk.live, buffer, carry, valid);
        dirBuffer.Attach(buffer, valid);
        while (Running() && NextDirEntry(dirBuffer, info, entryNumber, deleted, bps / kEntrySize))
            HandleFind(walk, info, info.name, deleted);
        // Only the first valid bytes of the block are read, so it is not cleared between
        // clusters.
        if (entryNumber != 0 && valid >= bps)
        {
            // The block ended on a deleted entry or a long-name part: keep its last sector in front
            // of the next cluster so that long-name parts reach across the boundary.
            std::memmove(buffer, buffer + valid - bps, bps);
            carry = bps;
        }
        else
        {
            carry = 0;
            entryNumber = 0;
        }
        if (state == ClusterState::kChainEnd)
            break;
        cur = volume.fatTable->GetEntry(cur);
        state = volume.fatTable->GetClusterState(cur);
    }
}

// The clusters after a deleted folder's first one, read on contiguously as the recovery reads a
// deleted file, while each is free, holds a whole cluster of directory entries and nothing else
// (CheckDirContinuation), and the folder has not ended (an end-of-directory slot). buffer holds
// the first cluster; the last sector of each cluster is carried in front of each new
// cluster so that long-name parts reach across the boundary. Every cluster is read once: the
// walk only moves forward, and ends at the volume's last cluster and at the largest folder FAT
// allows.
void ScanDeletedContinuation(FolderWalk& walk, u32 first, u8* buffer, FatDirBuffer& dirBuffer)
{
    VolumeEntry& volume = walk.volume;
    const u32 bps = volume.bytesPerSector;
    const u32 clusterBytes = volume.sectorsPerCluster * bps;
    u32 carry = 0;
    if (HasDirEnd(buffer, clusterBytes))
        return;
    u64 folderBytes = clusterBytes;
    FatEntryInfo info;
    for (u64 next = static_cast<u64>(first) + 1;
         Running() && next <= volume.clusterCount && folderBytes < kMaxFolderBytes; ++next)
    {
        const u32 cluster = static_cast<u32>(next);
        if (volume.fatTable->GetEntry(cluster) != 0)
            break;
        s64 sector = cluster;
        if (!volume.fatBoot->ClusterToSector(&sector))
            break;
        std::memmove(buffer, buffer + carry + clusterBytes - bps, bps);
        carry = bps;
        // A cluster read for another deleted folder is that folder's.
        if (walk.deletedRead != nullptr && walk.deletedRead->contains(cluster))
            break;
        u32 got = ReadVolumeSectors(*volume.reader, buffer + carry, volume.sectorsPerCluster,
                                    static_cast<u64>(sector), bps);
        if (got != clusterBytes)
            ReportUnreadableFolder(walk.catalog, walk.path.str(), static_cast<u64>(sector) * bps,
                                   clusterBytes);
        if (got != clusterBytes || !CheckDirContinuation(buffer + carry, got, volume.clusterCount))
            break;
        // A cluster that opens with a "." entry starts a folder of its own.
        if (std::memcmp(buffer + carry, kDotName, sizeof kDotName) == 0)
            break;
        if (walk.deletedRead != nullptr)
            walk.deletedRead->insert(cluster);
        folderBytes += clusterBytes;
        dirBuffer.Attach(buffer, carry + clusterBytes);
        for (u32 offset = carry; Running() && offset < carry + clusterBytes; offset += kEntrySize)
        {
            const u8* entry = buffer + offset;
            if (entry[kName] == 0x00)
                return; // the end of the folder
            if ((entry[kAttr] & kAttrLongNameMask) == kAttrLongName)
                continue;
            if ((entry[kAttr] & kAttrVolumeId) != 0)
                continue;
            DecodeEntry(dirBuffer, info, static_cast<s32>(offset));
            std::string name = TrimRight(info.name);
            if (IsDotName(name))
                continue;
            HandleFind(walk, info, std::move(name), 1);
        }
    }
}

// Reads a deleted folder's entries from its first cluster on. Returns false when that cluster
// is in use again: what it holds now is another file's or folder's, and the deleted folder keeps
// no children.
bool ScanDeletedDirectory(FolderWalk& walk, u32 first, u8* buffer, FatDirBuffer& dirBuffer)
{
    VolumeEntry& volume = walk.volume;
    if (!Running())
        return true;
    // A FAT entry that cannot be read leaves the cluster's use open: its entries are read.
    const u32 use = volume.fatTable->GetEntry(first);
    if (use != 0 && use != FatTable::kUnreadable)
        return false;
    // Read already as part of another deleted folder: its entries are listed there.
    if (walk.deletedRead != nullptr && !walk.deletedRead->insert(first).second)
        return true;
    s64 sector = first;
    if (!volume.fatBoot->ClusterToSector(&sector))
        return true;
    u32 got = ReadVolumeSectors(*volume.reader, buffer, volume.sectorsPerCluster,
                                static_cast<u64>(sector), volume.bytesPerSector);
    if (got < volume.sectorsPerCluster * volume.bytesPerSector)
        ReportUnreadableFolder(walk.catalog, walk.path.str(),
                               static_cast<u64>(sector) * volume.bytesPerSector,
                               static_cast<u64>(volume.sectorsPerCluster) * volume.bytesPerSector);
    if (!CheckDirBlock(buffer, got, volume.clusterCount))
        return true;
    dirBuffer.Attach(buffer, got);
    FatEntryInfo info;
    for (u32 n = 0; Running(); ++n)
    {
        if (GetEntryByIndex(dirBuffer, info, n) != kOk)
            break;
        if ((info.attr & kAttrLongNameMask) != kAttrLongName && (info.attr & kAttrVolumeId) != 0)
            continue;
        std::string name = TrimRight(info.name);
        if (IsDotName(name))
            continue;
        HandleFind(walk, info, std::move(name), 1);
    }
    if (got == volume.sectorsPerCluster * volume.bytesPerSector)
        ScanDeletedContinuation(walk, first, buffer, dirBuffer);
    return true;
}
} // namespace

namespace
{
// Walks one folder. *overwritten tells whether a deleted folder's first cluster is in use again.
u32 ScanFolder(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume, LiveEntries* live,
               std::unordered_set<u32>* deletedRead, bool* overwritten)
{
    *overwritten = false;
    if (!UsableGeometry(volume))
        return kOk;
    const u64 blockBytes = static_cast<u64>(volume.sectorsPerCluster + 1) * volume.bytesPerSector;
    if (blockBytes > INT_MAX)
        return kErrNoMemory;
    PoolBlock block(static_cast<int>(blockBytes));
    if (!block)
        return kErrNoMemory;
    FatDirBuffer dirBuffer;

    // Take what the walk needs now: the item list grows (and may move) while it runs.
    std::string path =
        dir.name.empty() || dir.name == dir.path ? dir.path.str() : dir.path + "\\" + dir.name;
    const u32 deleted = dir.deleted;
    if (dir.first > 0xFFFFFFFFu)
        return kOk;
    const u32 first = static_cast<u32>(dir.first);

    FolderWalk walk{catalog, volume, path, {}, live, {}, deletedRead};
    if (deleted == 0)
        ScanLiveDirectory(walk, first, block.Bytes(), dirBuffer);
    else
        *overwritten = !ScanDeletedDirectory(walk, first, block.Bytes(), dirBuffer);
    return kOk;
}

// Gives the deleted finds of the volume their most likely clusters (see ClusterAssignment.h).
// Without a readable FAT the finds keep none and are read as one stretch each.
void AssignFatFinds(VolumeEntry& volume, LiveEntries& live, u32 rootCluster,
                    const AllocationMap& map)
{
    if (!Running() || !HasDeletedFinds(volume) || map.Clusters() == 0)
        return;
    const u64 clusterBytes = static_cast<u64>(volume.sectorsPerCluster) * volume.bytesPerSector;
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
        [&](ClusterReach& reach) { return MarkFatOwners(volume, live, rootCluster, reach); });
}
} // namespace

u32 ScanFatDirectory(CCatalog& catalog, const FoundItem& dir, VolumeEntry& volume)
{
    std::unordered_set<u32> deletedRead;
    bool overwritten = false;
    return ScanFolder(catalog, dir, volume, nullptr, &deletedRead, &overwritten);
}

u32 ScanFatVolume(CCatalog& catalog, VolumeEntry& volume)
{
    if (!volume.fatBoot)
        return kErrBadFatBoot;
    u64 rootSector = 0;
    u32 countOrCluster = 0;
    if (!volume.fatBoot->GetRootDir(&rootSector, &countOrCluster))
        return kErrBadFatBoot;
    if (!UsableGeometry(volume))
        return kErrBadFatBoot;
    // Released when the search ends (CFatEngine::EndSearch); a FAT too large stays windowed.
    // Wholly in memory, its own part of the owner table is worked out on a second thread
    // while the folders are walked.
    FatOwnerPass ownerPass;
    if (volume.fatTable->KeepInMemory(kFatInMemoryLimit) && volume.fatTable->LoadAllSegments())
        ownerPass.Start(volume);
    LiveEntries live;
    std::unordered_set<u32> deletedRead;
    bool overwritten = false;
    {
        PoolBlock chunk(static_cast<int>(kRootChunkSectors * volume.bytesPerSector));
        if (!chunk)
            return kErrNoMemory;
        if (volume.fsType == kFsFat32)
        {
            FoundItem root;
            root.path = volume.name;
            root.name = volume.name;
            root.attr = kAttrDirectory;
            root.deleted = 0;
            root.created = LocalNow();
            root.accessed = root.created;
            root.size = 0;
            root.first = countOrCluster;
            volume.dirIndex.push_back(countOrCluster);
            // The root is walked but not catalogued; a failed walk only leaves the root empty.
            (void)ScanFolder(catalog, root, volume, &live, &deletedRead, &overwritten);
        }
        else
        {
            ScanFixedRoot(catalog, volume, chunk.Bytes(), rootSector, countOrCluster, &live);
        }
    }

    // Breadth-first over the catalogue: every accepted folder is walked once, in the order of
    // acceptance; the list grows while it is walked.
    for (std::size_t i = 0; i < volume.items.size(); ++i)
    {
        if (volume.items[i].attr & kAttrDirectory)
        {
            FoundItem dir = volume.items[i];
            (void)ScanFolder(catalog, dir, volume, &live, &deletedRead, &overwritten);
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
        LoadFatAllocation(*volume.fatTable, &map) != kOk)
        (void)map.Reset(0);
    AssignFatFinds(volume, live, volume.fsType == kFsFat32 ? countOrCluster : 0, map);
    if (map.Clusters() != 0)
    {
        try
        {
            volume.fatAllocation = std::make_unique<AllocationMap>(std::move(map));
        }
        catch (const std::bad_alloc&)
        {
        }
    }
    return kOk;
}
