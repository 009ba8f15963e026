#include "scan/VolumeClusters.h"

#include <algorithm>

#include "disk/DirectRW.h"

void VolumeClusters::Claim(u64 lcn, u64 length)
{
    const u64 end = geometry.endLcn;
    if (lcn >= end || length == 0)
        return;
    const u64 last = std::min(end - 1, length - 1 > end - 1 - lcn ? end - 1 : lcn + length - 1);
    if (claimed.size() < (end + 63) / 64)
        claimed.resize((end + 63) / 64, 0);
    for (u64 c = lcn; c <= last; ++c)
    {
        const u64 bit = u64{1} << (c % 64);
        if ((claimed[c / 64] & bit) != 0)
        {
            if (shared.size() < claimed.size())
                shared.resize(claimed.size(), 0);
            shared[c / 64] |= bit;
        }
        claimed[c / 64] |= bit;
    }
}

void VolumeClusters::Unclaim(u64 lcn, u64 length)
{
    const u64 end = std::min<u64>(geometry.endLcn, claimed.size() * 64);
    if (lcn >= end || length == 0)
        return;
    const u64 stop = length > end - lcn ? end : lcn + length;
    for (u64 c = lcn; c < stop; ++c)
    {
        const u64 bit = u64{1} << (c % 64);
        if (c / 64 >= shared.size() || (shared[c / 64] & bit) == 0)
            claimed[c / 64] &= ~bit;
    }
}

std::size_t VolumeCarveSpace::ReadClusters(u64 cluster, u64 count, std::span<u8> out)
{
    const ClusterGeometry& g = m_clusters.geometry;
    if (m_reader == nullptr || g.clusterBytes == 0 || cluster < g.firstLcn || cluster >= g.endLcn)
        return 0;
    count = std::min(count, g.endLcn - cluster);
    u64 want = std::min<u64>(out.size(), count * g.clusterBytes);
    const u64 at = g.dataStart + (cluster - g.firstLcn) * g.clusterBytes;
    std::size_t done = 0;
    // Reads of at most 16 MiB at a time: the reader counts in 32 bits.
    while (want > 0)
    {
        const u32 piece = static_cast<u32>(std::min<u64>(want, 16u << 20));
        u32 got = 0;
        if (m_reader->ReadBytes(out.data() + done, piece, &got, static_cast<s64>(at + done)) != 0 ||
            got == 0)
            break;
        done += got;
        want -= got;
        if (got < piece)
            break;
    }
    return done;
}

void VolumeCarveSpace::Take(std::span<const CarveRun> runs)
{
    for (const CarveRun& run : runs)
        m_clusters.Claim(run.first, run.length);
}
