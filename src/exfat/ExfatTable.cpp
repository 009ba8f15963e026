// The exFAT FAT window, cluster chains and the allocation bitmap.
#include "exfat/ExfatTable.h"

#include <climits>
#include <cstring>
#include <unordered_set>

#include "disk/DirectRW.h"
#include "exfat/ExfatLayout.h"
#include "platform/ByteOrder.h"
#include "platform/Status.h"

using namespace ExfatLayout;

bool ExfatTable::Attach(CDirectRW* reader, const ExfatBoot& boot)
{
    if (reader == nullptr)
        return false;
    m_reader = reader;
    m_boot = boot;
    m_windowLoaded = false;
    m_bitmapClusters.clear();
    m_bitmapLoaded = false;
    return true;
}

bool ExfatTable::ReadAt(u8* buffer, u32 count, u64 offset)
{
    std::memset(buffer, 0, count);
    if (m_reader == nullptr || offset > static_cast<u64>(LLONG_MAX))
        return false;
    u32 done = 0;
    if (m_reader->ReadBytes(buffer, count, &done, static_cast<s64>(offset)) != kOk || done == 0)
    {
        std::memset(buffer, 0, count);
        return false;
    }
    if (done < count)
        std::memset(buffer + done, 0, count - done);
    return true;
}

u32 ExfatTable::GetEntry(u32 cluster)
{
    if (cluster < kFirstCluster || cluster > m_boot.HighestCluster() || m_reader == nullptr)
        return kUnreadable;
    const u64 offset = static_cast<u64>(cluster) * kFatEntryBytes;
    const u64 fatBytes = static_cast<u64>(m_boot.fatLength) << m_boot.bytesPerSectorShift;
    if (offset + kFatEntryBytes > fatBytes)
        return kUnreadable;
    // Windows start at multiples of the window size, so an entry never straddles two.
    const u64 start = offset / kWindowSize * kWindowSize;
    if (!m_windowLoaded || start != m_windowStart)
    {
        m_windowStart = start;
        const u64 fatStart = static_cast<u64>(m_boot.fatOffset) << m_boot.bytesPerSectorShift;
        m_windowLoaded = ReadAt(m_window, kWindowSize, fatStart + start);
        if (!m_windowLoaded)
            return kUnreadable;
    }
    return LoadLe32(m_window + (offset - start));
}

std::vector<u32> ExfatTable::Chain(u32 first, u64 maxClusters)
{
    std::vector<u32> chain;
    std::unordered_set<u32> seen;
    const u32 highest = m_boot.HighestCluster();
    // Bounded by maxClusters and by the heap: every cluster is taken once.
    for (u32 cur = first; chain.size() < maxClusters && cur >= kFirstCluster && cur <= highest;)
    {
        if (!seen.insert(cur).second)
            break;
        chain.push_back(cur);
        const u32 next = GetEntry(cur);
        if (next == kUnreadable)
            break;
        cur = next;
    }
    return chain;
}

bool ExfatTable::ReadClusters(const std::vector<u32>& clusters, std::vector<u8>* out,
                              u64* failedOffset)
{
    const u64 clusterBytes = m_boot.ClusterBytes();
    bool whole = true;
    for (u32 cluster : clusters)
    {
        u64 offset = 0;
        if (!m_boot.ClusterOffset(cluster, &offset))
            return false;
        const std::size_t at = out->size();
        out->resize(at + clusterBytes);
        if (!ReadAt(out->data() + at, static_cast<u32>(clusterBytes), offset))
        {
            if (whole && failedOffset != nullptr)
                *failedOffset = offset;
            whole = false;
        }
    }
    return whole;
}

bool ExfatTable::SetBitmap(u32 firstCluster, u64 bytes)
{
    m_bitmapClusters.clear();
    m_bitmapLoaded = false;
    const u64 clusterBytes = m_boot.ClusterBytes();
    const u64 needed = (static_cast<u64>(m_boot.clusterCount) + 7) / 8;
    if (bytes < needed || firstCluster < kFirstCluster || firstCluster > m_boot.HighestCluster())
        return false;
    const u64 clusters = (needed + clusterBytes - 1) / clusterBytes;
    std::vector<u32> chain = Chain(firstCluster, clusters);
    if (chain.size() < clusters)
    {
        // No chain in the FAT: the bitmap lies in one stretch.
        if (clusters > static_cast<u64>(m_boot.HighestCluster()) - firstCluster + 1)
            return false;
        chain.clear();
        for (u64 i = 0; i < clusters; ++i)
            chain.push_back(static_cast<u32>(firstCluster + i));
    }
    m_bitmapClusters = std::move(chain);
    m_bitmapBytes = needed;
    return true;
}

u32 ExfatTable::ClusterAllocated(u32 cluster, bool* inUse)
{
    if (m_bitmapClusters.empty() || cluster < kFirstCluster || cluster > m_boot.HighestCluster())
        return kErrUnsupported;
    const u64 bit = cluster - kFirstCluster;
    const u64 byte = bit / 8;
    const u64 start = byte / kBitmapWindowSize * kBitmapWindowSize;
    if (!m_bitmapLoaded || start != m_bitmapWindowStart)
    {
        const u64 clusterBytes = m_boot.ClusterBytes();
        const u64 index = start / clusterBytes;
        u64 offset = 0;
        if (index >= m_bitmapClusters.size() ||
            !m_boot.ClusterOffset(m_bitmapClusters[index], &offset))
            return kErrUnsupported;
        m_bitmapWindowStart = start;
        m_bitmapLoaded = ReadAt(m_bitmapWindow, kBitmapWindowSize, offset + start % clusterBytes);
        if (!m_bitmapLoaded)
            return kErrUnsupported;
    }
    *inUse = ((m_bitmapWindow[byte - start] >> (bit % 8)) & 1) != 0;
    return kOk;
}
