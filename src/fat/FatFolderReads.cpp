// Reads of FAT folder clusters: single clusters, and stretches of a chain read at once.
#include "fat/FatFolderReads.h"

#include <climits>
#include <cstring>
#include <memory>

#include "disk/DirectRW.h"
#include "fat/FatTable.h"

bool FatFolderSource::Usable() const
{
    return bytesPerSector >= 512 && bytesPerSector % 512 == 0 && bytesPerSector <= 65536 &&
           sectorsPerCluster >= 1 && sectorsPerCluster <= 255 && reader != nullptr &&
           boot != nullptr && table != nullptr;
}

u32 ReadVolumeSectors(CDirectRW& reader, u8* buffer, u32 count, u64 sector, u32 bytesPerSector)
{
    if (sector > static_cast<u64>(LLONG_MAX) / bytesPerSector)
        return 0;
    u32 done = 0;
    if (reader.ReadBytes(buffer, count * bytesPerSector, &done,
                         static_cast<s64>(sector * bytesPerSector)) != kOk)
        return 0;
    return done > count * bytesPerSector ? count * bytesPerSector : done;
}

u32 FolderClusterReads::Read(u32 cluster, u64 sector, u8* out)
{
    const u32 bps = m_source.bytesPerSector;
    const u32 spc = m_source.sectorsPerCluster;
    const u32 clusterBytes = spc * bps;
    if (m_count != 0 && cluster >= m_first && cluster - m_first < m_count)
    {
        std::memcpy(out,
                    m_stretch.get() + static_cast<std::size_t>(cluster - m_first) * clusterBytes,
                    clusterBytes);
        return clusterBytes;
    }
    m_count = 0;
    // How far the chain runs on from cluster to the next cluster on the volume: clusters the
    // walk is about to read, unless the chain turns back into itself first.
    FatTable& table = *m_source.table;
    const u32 most = kStretchBytes / clusterBytes;
    u32 count = 1;
    while (count < most && cluster + count - 1 < m_source.clusterCount &&
           table.GetEntry(cluster + count - 1) == cluster + count)
        ++count;
    if (count > 1)
    {
        if (!m_stretch)
            m_stretch = std::make_unique_for_overwrite<u8[]>(kStretchBytes);
        const u32 got =
            ReadVolumeSectors(*m_source.reader, m_stretch.get(), count * spc, sector, bps);
        if (got == count * clusterBytes)
        {
            m_first = cluster;
            m_count = count;
            std::memcpy(out, m_stretch.get(), clusterBytes);
            return clusterBytes;
        }
    }
    return ReadVolumeSectors(*m_source.reader, out, spc, sector, bps);
}
