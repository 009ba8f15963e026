// The FAT folder walk: the fixed root directory of FAT12/16, live folders through their cluster
// chains, deleted folders from their first cluster on through the free clusters after it that
// hold directory entries. It reads the clusters and decodes their entries; what becomes of an
// entry is the caller's, through FatEntrySink.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <unordered_set>

#include "fat/FatDir.h"
#include "fat/FatFolderReads.h"
#include "platform/Types.h"
#include "records/FoundItem.h"

// Where a walk hands out what it meets in one folder.
class FatEntrySink
{
public:
    virtual ~FatEntrySink() = default;

    // An entry worth reporting: in a live folder (and the fixed root) a deleted file with the
    // archive bit or a folder other than "." and ".." (live or deleted), named as decoded; in
    // a deleted folder every short entry but volume labels, "." and "..", its name without
    // trailing blanks, deleted set to 1.
    virtual void Entry(const FatEntryInfo& info, std::string name, u32 deleted) = 0;

    // Whether the live files and folders met are wanted (Live).
    [[nodiscard]] virtual bool CollectsLive() const { return false; }
    // A live file or folder of a live folder or the fixed root, with a first cluster of 2 or
    // more; created is null when the entry keeps no creation date.
    virtual void Live(u32 first, const FoundTime* created)
    {
        (void)first;
        (void)created;
    }

    // bytes of the folder's entries at volume byte offset byteOffset that could not be read.
    virtual void Unreadable(u64 byteOffset, u64 bytes) = 0;
};

// Walks the folders of one FAT volume. A cluster read as part of one deleted folder is never
// read again for another: the walk keeps those clusters for as long as it lives.
class FatFolderWalk
{
public:
    // source must be usable (FatFolderSource::Usable) for any folder to be read; running (null:
    // always) is polled, and the walk ends soon after it reads 0.
    FatFolderWalk(const FatFolderSource& source, const std::atomic<u32>* running);
    ~FatFolderWalk();
    FatFolderWalk(const FatFolderWalk&) = delete;
    FatFolderWalk& operator=(const FatFolderWalk&) = delete;

    // The fixed root directory: entryCount entries from volume sector firstSector, read a few
    // sectors at a time. Returns 0, or 8 when there is no memory for the reads.
    [[nodiscard]] u32 WalkFixedRoot(u64 firstSector, u32 entryCount, FatEntrySink& sink);

    // A live folder through its cluster chain from first, each cluster once, while the FAT
    // names the clusters in use and each holds directory entries. Returns 0, or 8.
    [[nodiscard]] u32 WalkLiveFolder(u32 first, FatEntrySink& sink);

    // A deleted folder from its first cluster, and on past it through the free clusters that
    // hold its entries. *overwritten is set when that first cluster is in use again: its
    // entries are another file's or folder's, and none is handed out. Returns 0, or 8.
    [[nodiscard]] u32 WalkDeletedFolder(u32 first, FatEntrySink& sink, bool* overwritten);

private:
    [[nodiscard]] bool Running() const
    {
        return m_running == nullptr || m_running->load(std::memory_order_relaxed) != 0;
    }
    // The cluster block ((sectorsPerCluster + 1) sectors: a cluster and the sector carried in
    // front of it); false without the memory.
    [[nodiscard]] bool HaveBlock();
    // Reads the free clusters after a deleted folder's first cluster (held in the block).
    void WalkDeletedContinuation(u32 first, FatEntrySink& sink);
    // Whether the continuation's cluster at sector (read behind the carried sector) holds this
    // folder's entries; hands them out, decoded through info. *ended is set at the folder's
    // end-of-directory mark.
    [[nodiscard]] bool ContinuationCluster(u32 cluster, s64 sector, FatEntryInfo& info,
                                           FatEntrySink& sink, bool* ended);

    FatFolderSource m_source;
    const std::atomic<u32>* m_running;
    std::unique_ptr<u8[]> m_block;
    FatDirBuffer m_dirBuffer;
    // Clusters already read as part of a deleted folder: a cluster's entries belong to one
    // folder, and are never read again for another.
    std::unordered_set<u32> m_deletedRead;
};
