// The FAT window: entries of FAT copy 1 read 4096 bytes at a time, and the cluster states the
// directory walk follows chains with.
#include "fat/FatTable.h"

#include <cstring>

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

bool FatTable::LoadWindow()
{
    // A read that ends early at the end of the device leaves zeros, never bytes of the
    // window's previous position.
    std::memset(m_window, 0, sizeof m_window);
    m_windowLoaded = false;
    const u32 perWindow = kWindowSize / m_bytesPerSector;
    u32 done = 0;
    if (m_reader->ReadSectors(m_window, perWindow, &done, m_firstFatSector + m_windowSector) != kOk)
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

u32 FatTable::GetEntry(u32 cluster)
{
    if (cluster > m_clusterLimit || cluster < kFirstCluster || m_reader == nullptr)
        return kUnreadable;
    // 64-bit product: a 32-bit one wraps for FAT32 clusters from 2^27 on.
    const u64 offset = static_cast<u64>(cluster) * m_fatBits / 8;
    // An entry that runs past the end of the FAT has no value.
    const u64 entryBytes = m_fatBits == 32 ? 4 : 2;
    if (offset + entryBytes > static_cast<u64>(m_fatSectors) * m_bytesPerSector)
        return kUnreadable;
    const u32 pos = MapOffset(static_cast<s64>(offset));
    if (pos > kWindowSize)
        return kUnreadable;
    u32 raw = LoadLe32(m_window + pos);
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
