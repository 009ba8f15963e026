// The FAT folder walk: the fixed root, live folders through their chains, deleted folders and
// the free clusters after them that hold their entries.
#include "fat/FatFolderWalk.h"

#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "fat/FatBootSector.h"
#include "fat/FatDirBlock.h"
#include "fat/FatTable.h"
#include "platform/ByteOrder.h"
#include "platform/Status.h"

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

// Hands out the live files and folders among the entries of block from byte from to valid:
// their first cluster and creation time.
void CollectLive(FatEntrySink& sink, const u8* block, u32 from, u32 valid)
{
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
        sink.Live(first, date == 0 ? nullptr : &created);
    }
}

// Whether the entry at offset of a deleted folder's block is handed out, decoded into info with
// its trimmed name in *name.
bool DeletedFolderEntry(const FatDirBuffer& buffer, u32 offset, FatEntryInfo& info,
                        std::string* name)
{
    const u8* entry = buffer.Data() + offset;
    if ((entry[kAttr] & kAttrLongNameMask) == kAttrLongName || (entry[kAttr] & kAttrVolumeId) != 0)
        return false;
    DecodeEntry(buffer, info, static_cast<s32>(offset));
    *name = TrimRight(info.name);
    return !IsDotName(*name);
}
} // namespace

FatFolderWalk::FatFolderWalk(const FatFolderSource& source, const std::atomic<u32>* running)
    : m_source(source), m_running(running)
{
}

FatFolderWalk::~FatFolderWalk() = default;

bool FatFolderWalk::HaveBlock()
{
    if (!m_block)
        m_block.reset(new (std::nothrow) u8[static_cast<std::size_t>(
            (m_source.sectorsPerCluster + 1) * m_source.bytesPerSector)]);
    return m_block != nullptr;
}

u32 FatFolderWalk::WalkFixedRoot(u64 firstSector, u32 entryCount, FatEntrySink& sink)
{
    if (!m_source.Usable())
        return kOk;
    const u32 bps = m_source.bytesPerSector;
    const std::size_t chunkBytes = static_cast<std::size_t>(kRootChunkSectors) * bps;
    std::unique_ptr<u8[]> chunk(new (std::nothrow) u8[chunkBytes]);
    if (!chunk)
        return kErrNoMemory;
    const bool collectLive = sink.CollectsLive();
    const u32 rootSectors = static_cast<u32>((static_cast<u64>(entryCount) * 32 + bps - 1) / bps);
    FatEntryInfo info;
    u32 entryNumber = 0;
    u32 deleted = 0;
    for (u32 pos = 0; Running() && pos < rootSectors;)
    {
        std::memset(chunk.get(), 0, chunkBytes);
        u32 count = rootSectors - pos < kRootChunkSectors ? rootSectors - pos : kRootChunkSectors;
        u32 got = ReadVolumeSectors(*m_source.reader, chunk.get(), count, firstSector + pos, bps);
        if (got < count * bps)
            sink.Unreadable((firstSector + pos) * bps, static_cast<u64>(count) * bps);
        m_dirBuffer.Attach(chunk.get(), got);
        if (collectLive)
            CollectLive(sink, chunk.get(), 0, got);
        while (NextDirEntry(m_dirBuffer, info, entryNumber, deleted, bps / kEntrySize))
            sink.Entry(info, info.name, deleted);
        // When the chunk ended on a deleted entry or a long-name part, the next chunk starts with
        // this chunk's last sector again, so that long-name parts in it stay in front of the
        // entries after it; the walk of that chunk resumes behind the carried sector.
        pos += entryNumber != 0 ? kRootChunkSectors - 1 : kRootChunkSectors;
    }
    return kOk;
}

u32 FatFolderWalk::WalkLiveFolder(u32 first, FatEntrySink& sink)
{
    if (!m_source.Usable())
        return kOk;
    if (!HaveBlock())
        return kErrNoMemory;
    u8* const buffer = m_block.get();
    const u32 bps = m_source.bytesPerSector;
    const u32 clusterBytes = m_source.sectorsPerCluster * bps;
    const bool collectLive = sink.CollectsLive();
    FatEntryInfo info;
    u32 cur = first;
    ClusterState state = m_source.table->GetClusterState(cur);
    u32 carry = 0;
    u32 entryNumber = 0;
    u32 deleted = 0;
    // Each cluster of the chain is read once: a chain that runs back into itself ends there.
    std::unordered_set<u32> visited;
    FolderClusterReads reads(m_source);
    while (Running() && (state == ClusterState::kLinked || state == ClusterState::kChainHead ||
                         state == ClusterState::kChainEnd))
    {
        if (!visited.insert(cur).second)
            break;
        s64 sector = cur;
        if (!m_source.boot->ClusterToSector(&sector))
            break;
        u32 got = reads.Read(cur, static_cast<u64>(sector), buffer + carry);
        if (got < clusterBytes)
            sink.Unreadable(static_cast<u64>(sector) * bps, clusterBytes);
        u32 valid = got + carry;
        if (!CheckDirBlock(buffer, valid, m_source.clusterCount))
            break;
        if (collectLive)
            CollectLive(sink, buffer, carry, valid);
        m_dirBuffer.Attach(buffer, valid);
        while (Running() && NextDirEntry(m_dirBuffer, info, entryNumber, deleted, bps / kEntrySize))
            sink.Entry(info, info.name, deleted);
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
        cur = m_source.table->GetEntry(cur);
        state = m_source.table->GetClusterState(cur);
    }
    return kOk;
}

u32 FatFolderWalk::WalkDeletedFolder(u32 first, FatEntrySink& sink, bool* overwritten)
{
    *overwritten = false;
    if (!m_source.Usable())
        return kOk;
    if (!HaveBlock())
        return kErrNoMemory;
    if (!Running())
        return kOk;
    // A FAT entry that cannot be read leaves the cluster's use open: its entries are read.
    const u32 use = m_source.table->GetEntry(first);
    if (use != 0 && use != FatTable::kUnreadable)
    {
        *overwritten = true;
        return kOk;
    }
    // Read already as part of another deleted folder: its entries are listed there.
    if (!m_deletedRead.insert(first).second)
        return kOk;
    s64 sector = first;
    if (!m_source.boot->ClusterToSector(&sector))
        return kOk;
    u8* const buffer = m_block.get();
    const u32 bps = m_source.bytesPerSector;
    const u32 clusterBytes = m_source.sectorsPerCluster * bps;
    const u32 got = ReadVolumeSectors(*m_source.reader, buffer, m_source.sectorsPerCluster,
                                      static_cast<u64>(sector), bps);
    if (got < clusterBytes)
        sink.Unreadable(static_cast<u64>(sector) * bps, clusterBytes);
    if (!CheckDirBlock(buffer, got, m_source.clusterCount))
        return kOk;
    m_dirBuffer.Attach(buffer, got);
    FatEntryInfo info;
    for (u32 n = 0; Running(); ++n)
    {
        if (GetEntryByIndex(m_dirBuffer, info, n) != kOk)
            break;
        if ((info.attr & kAttrLongNameMask) != kAttrLongName && (info.attr & kAttrVolumeId) != 0)
            continue;
        std::string name = TrimRight(info.name);
        if (IsDotName(name))
            continue;
        sink.Entry(info, std::move(name), 1);
    }
    if (got == clusterBytes)
        WalkDeletedContinuation(first, sink);
    return kOk;
}

// The clusters after a deleted folder's first one, read on contiguously as the recovery reads a
// deleted file, while each is free, holds a whole cluster of directory entries and nothing else
// (CheckDirContinuation), and the folder has not ended (an end-of-directory slot). The block
// holds the first cluster; the last sector of each cluster is carried in front of each new
// cluster so that long-name parts reach across the boundary. Every cluster is read once: the
// walk only moves forward, and ends at the volume's last cluster and at the largest folder FAT
// allows.
void FatFolderWalk::WalkDeletedContinuation(u32 first, FatEntrySink& sink)
{
    u8* const buffer = m_block.get();
    const u32 bps = m_source.bytesPerSector;
    const u32 clusterBytes = m_source.sectorsPerCluster * bps;
    u32 carry = 0;
    if (HasDirEnd(buffer, clusterBytes))
        return;
    u64 folderBytes = clusterBytes;
    FatEntryInfo info;
    for (u64 next = static_cast<u64>(first) + 1;
         Running() && next <= m_source.clusterCount && folderBytes < kMaxFolderBytes; ++next)
    {
        const u32 cluster = static_cast<u32>(next);
        if (m_source.table->GetEntry(cluster) != 0)
            break;
        s64 sector = cluster;
        if (!m_source.boot->ClusterToSector(&sector))
            break;
        std::memmove(buffer, buffer + carry + clusterBytes - bps, bps);
        carry = bps;
        // A cluster read for another deleted folder is that folder's.
        if (m_deletedRead.contains(cluster))
            break;
        bool ended = false;
        if (!ContinuationCluster(cluster, sector, info, sink, &ended) || ended)
            break;
        folderBytes += clusterBytes;
    }
}

bool FatFolderWalk::ContinuationCluster(u32 cluster, s64 sector, FatEntryInfo& info,
                                        FatEntrySink& sink, bool* ended)
{
    const u32 bps = m_source.bytesPerSector;
    const u32 clusterBytes = m_source.sectorsPerCluster * bps;
    // The cluster goes behind the sector carried in front of it.
    u8* const data = m_block.get() + bps;
    const u32 got = ReadVolumeSectors(*m_source.reader, data, m_source.sectorsPerCluster,
                                      static_cast<u64>(sector), bps);
    if (got != clusterBytes)
        sink.Unreadable(static_cast<u64>(sector) * bps, clusterBytes);
    if (got != clusterBytes || !CheckDirContinuation(data, got, m_source.clusterCount))
        return false;
    // A cluster that opens with a "." entry starts a folder of its own.
    if (std::memcmp(data, kDotName, sizeof kDotName) == 0)
        return false;
    m_deletedRead.insert(cluster);
    m_dirBuffer.Attach(m_block.get(), bps + clusterBytes);
    for (u32 offset = bps; Running() && offset < bps + clusterBytes; offset += kEntrySize)
    {
        if (m_block[offset + kName] == 0x00)
        {
            *ended = true; // the end of the folder
            return true;
        }
        std::string name;
        if (DeletedFolderEntry(m_dirBuffer, offset, info, &name))
            sink.Entry(info, std::move(name), 1);
    }
    return true;
}
