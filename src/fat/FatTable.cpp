// The FAT window: entries of FAT copy 1 read 4096 bytes at a time (or, kept in memory, a
// segment at a time), and the cluster states the directory walk follows chains with.
#include "fat/FatTable.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "disk/DirectRW.h"
#include "fat/FatBootSector.h"
#include "platform/ByteOrder.h"

using namespace FatLayout;

bool FatTable::Attach(CDirectRW* reader, const FatBootSector& boot)
{
    u32 fatType = kFatTypeNone;
    if (reader == nullptr || !boot.GetFatType(&fatType))
        return false;
    m_fatBits = fatType == kFatType12 ? 12 : fatType == kFatType16 ? 16 : 32;

    u64 firstFatSector = 0;
    u32 fatSectors = 0;
    u32 fatCount = 0;
    if (!boot.GetFatLocation(&firstFatSector, &fatSectors, &fatCount))
        return false;
    const u32 bytesPerSector = boot.GetBytesPerSector();
    // The boot sector admits only 512 .. 4096 bytes; the window must hold a whole sector.
    if (bytesPerSector < kMinSectorSize || bytesPerSector > kWindowSize)
        return false;

    m_firstFatSector = firstFatSector;
    m_fatSectors = fatSectors;
    m_bytesPerSector = bytesPerSector;
    m_reader = reader;
    const u64 limit = boot.GetClusterLimit(true);
    m_clusterLimit = limit > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<u32>(limit);

    // The first window is read whatever the FAT's length; sectors after a short FAT are
    // loaded too but never read as entries.
    m_windowSector = 0;
    return LoadWindow();
}

s64 FatTable::ByteOffset(u64 fatSector) const
{
    // Attach bounds the FAT's sectors, and a sector is at most 4 KiB: no overflow.
    return static_cast<s64>((m_firstFatSector + fatSector) * m_bytesPerSector);
}

bool FatTable::LoadWindow()
{
    // A read that ends early at the end of the device leaves zeros, never bytes of the
    // window's previous position.
    std::memset(m_window, 0, sizeof m_window);
    m_windowLoaded = false;
    const u32 perWindow = kWindowSize / m_bytesPerSector;
    u32 done = 0;
    // Read by byte offset: the reader may since have been opened with another sector size (the
    // data of the finds is read in 512-byte sectors).
    if (m_reader->ReadBytes(m_window, perWindow * m_bytesPerSector, &done,
                            ByteOffset(m_windowSector)) != kOk)
    {
        std::memset(m_window, 0, sizeof m_window);
        return false;
    }
    m_windowLoaded = true;
    return true;
}

u32 FatTable::MapOffset(s64 offset)
{
    const u64 fatBytes = static_cast<u64>(m_fatSectors) * m_bytesPerSector;
    if (offset < 0 || static_cast<u64>(offset) > fatBytes)
        return kMapFailed;
    const u64 at = static_cast<u64>(offset);
    const u64 perWindow = kWindowSize / m_bytesPerSector;
    const u64 windowBytes = perWindow * m_bytesPerSector;
    const u64 start = m_windowSector * m_bytesPerSector;

    // Hit: the window holds the offset with room for a 4-byte read.
    if (m_windowLoaded && start <= at && at <= start + windowBytes - 4)
        return static_cast<u32>(at - start);

    // Miss: the window starts at the sector holding the offset, or is pulled back to end with
    // the FAT (to its start when the whole FAT is shorter than a window).
    m_windowSector = at / m_bytesPerSector;
    u64 pos = at % m_bytesPerSector;
    if (m_windowSector + perWindow > m_fatSectors)
    {
        m_windowSector = m_fatSectors > perWindow ? m_fatSectors - perWindow : 0;
        pos = at - m_windowSector * m_bytesPerSector;
    }
    if (!LoadWindow())
        return kMapFailed;
    return static_cast<u32>(pos); // at most windowBytes: the FAT ends inside the window
}

bool FatTable::KeepInMemory(u64 maxBytes)
{
    if (m_reader == nullptr)
        return false;
    if (m_memory)
        return true;
    // Only the bytes up to the last entry read are kept, whatever length the boot sector gives
    // the FAT.
    const u64 fatBytes = static_cast<u64>(m_fatSectors) * m_bytesPerSector;
    const u64 bytes =
        std::min(fatBytes, (static_cast<u64>(m_clusterLimit) + 1) * m_fatBits / 8 + 4);
    if (bytes == 0 || bytes > maxBytes)
        return false;
    if (!m_memory.Allocate(bytes))
        return false;
    try
    {
        m_segmentBytes = kSegmentBytes / m_bytesPerSector * m_bytesPerSector;
        m_segments.assign((bytes + m_segmentBytes - 1) / m_segmentBytes, Segment::kUnread);
    }
    catch (const std::bad_alloc&)
    {
        m_memory.Release();
        return false;
    }
    m_memoryBytes = bytes;
    return true;
}

void FatTable::ReleaseMemory()
{
    m_memory.Release();
    m_memoryBytes = 0;
    m_segments.clear();
}

bool FatTable::LoadAllSegments()
{
    if (!m_memory)
        return false;
    bool all = true;
    for (std::size_t s = 0; s < m_segments.size(); ++s)
        if (m_segments[s] != Segment::kLoaded)
            all = (m_segments[s] == Segment::kUnread && LoadSegment(s)) && all;
    return all;
}

bool FatTable::LoadSegment(std::size_t segment)
{
    // Segments start on sector bounds (m_segmentBytes is whole sectors); the reader takes care
    // of a last one that ends inside a sector.
    const u64 start = static_cast<u64>(segment) * m_segmentBytes;
    const u64 length = std::min<u64>(m_segmentBytes, m_memoryBytes - start);
    u8* target = m_memory.Bytes() + start;
    u32 done = 0;
    if (m_reader->ReadBytes(target, static_cast<u32>(length), &done,
                            ByteOffset(start / m_bytesPerSector)) != kOk)
    {
        m_segments[segment] = Segment::kFailed;
        return false;
    }
    // A read that ends early at the end of the device leaves zeros, as the window does.
    if (done < length)
        std::memset(target + done, 0, static_cast<std::size_t>(length - done));
    m_segments[segment] = Segment::kLoaded;
    return true;
}

bool FatTable::EntryFromMemory(u64 offset, u32 entryBytes, u32* raw)
{
    if (offset + entryBytes > m_memoryBytes)
        return false;
    // An entry never spans two segments (FAT32 and FAT16 entries are aligned, a FAT12 is far
    // shorter than one), but its bytes are checked against both ends all the same.
    for (std::size_t s = offset / m_segmentBytes; s <= (offset + entryBytes - 1) / m_segmentBytes;
         ++s)
        if (m_segments[s] == Segment::kFailed ||
            (m_segments[s] == Segment::kUnread && !LoadSegment(s)))
            return false;
    *raw =
        entryBytes == 4 ? LoadLe32(m_memory.Bytes() + offset) : LoadLe16(m_memory.Bytes() + offset);
    return true;
}

u32 FatTable::ReadEntry(u32 cluster)
{
    if (cluster > m_clusterLimit || cluster < kFirstCluster || m_reader == nullptr)
        return kUnreadable;
    // 64-bit product: a 32-bit one wraps for FAT32 clusters from 2^27 on.
    const u64 offset = static_cast<u64>(cluster) * m_fatBits / 8;
    // An entry that runs past the end of the FAT has no value.
    const u32 entryBytes = m_fatBits == 32 ? 4 : 2;
    if (offset + entryBytes > static_cast<u64>(m_fatSectors) * m_bytesPerSector)
        return kUnreadable;
    u32 raw = 0;
    // The FAT in memory: no window to move, one read per segment for the whole search.
    if (!m_memory || !EntryFromMemory(offset, entryBytes, &raw))
    {
        const u32 pos = MapOffset(static_cast<s64>(offset));
        if (pos > kWindowSize)
            return kUnreadable;
        raw = LoadLe32(m_window + pos);
    }
    if (m_fatBits == 12)
    {
        if (cluster & 1)
            raw >>= 4;
        return raw & kFat12Mask;
    }
    if (m_fatBits == 16)
        return raw & kFat16Mask;
    return raw & kFat32Mask;
}

void FatTable::GetEntries(u32 first, u32 count, u32* out)
{
    for (u32 k = 0; k < count;)
    {
        const u64 cluster = static_cast<u64>(first) + k;
        // A stretch of FAT32 entries of one segment in memory: copied out and masked in one
        // loop, without the checks GetEntry makes for each. The passes over the whole FAT
        // (owners, allocation) are made of such stretches.
        if (m_fatBits == 32 && cluster >= kFirstCluster && cluster <= m_clusterLimit &&
            cluster * 4 + 4 <= m_memoryBytes &&
            m_segments[static_cast<std::size_t>(cluster * 4 / m_segmentBytes)] == Segment::kLoaded)
        {
            const u64 offset = cluster * 4;
            const u64 segmentEnd =
                std::min<u64>((offset / m_segmentBytes + 1) * m_segmentBytes, m_memoryBytes);
            const u64 n = std::min<u64>({count - k, (segmentEnd - offset) / 4,
                                         static_cast<u64>(m_clusterLimit) - cluster + 1});
            const u8* at = m_memory.Bytes() + offset;
            for (u64 i = 0; i < n; ++i)
                out[k + i] = LoadLe32(at + i * 4) & kFat32Mask;
            k += static_cast<u32>(n);
            continue;
        }
        out[k++] = GetEntry(static_cast<u32>(cluster));
    }
}

ClusterState FatTable::GetClusterState(u32 cluster)
{
    if (cluster < kFirstCluster || cluster >= m_clusterLimit)
        return ClusterState::kInvalid;
    const u32 entry = GetEntry(cluster);
    const u32 prev = GetEntry(cluster - 1);
    if (entry == 0)
        return ClusterState::kFree;

    u32 end = 0;
    u32 bad = 0;
    switch (m_fatBits)
    {
    case 12:
        end = kFat12End;
        bad = kFat12Bad;
        break;
    case 16:
        end = kFat16End;
        bad = kFat16Bad;
        break;
    case 32:
        end = kFat32End;
        bad = kFat32Bad;
        break;
    default:
        return ClusterState::kInvalid;
    }
    if (entry == end)
        return ClusterState::kChainEnd;
    if (entry == bad)
        return ClusterState::kBad;
    return cluster == kFirstCluster || prev == end ? ClusterState::kChainHead
                                                   : ClusterState::kLinked;
}
