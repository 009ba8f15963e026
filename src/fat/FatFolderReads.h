// Reads of FAT folder clusters for the folder walks.
#pragma once

#include <memory>

#include "platform/Types.h"

class CDirectRW;
class FatBootSector;
class FatTable;

// What a folder walk reads a FAT volume through, none of it owned: its sectors, its boot sector
// (where the clusters lie) and its FAT, with the geometry the boot sector gave.
struct FatFolderSource
{
    CDirectRW* reader = nullptr;
    const FatBootSector* boot = nullptr;
    FatTable* table = nullptr;
    u32 bytesPerSector = 0;
    u32 sectorsPerCluster = 0;
    u32 clusterCount = 0; // the highest cluster number of the volume

    // Whether the geometry describes real sectors and clusters (buffers are sized from it)
    // and the reader, boot sector and FAT are all there.
    [[nodiscard]] bool Usable() const;
};

// Reads count volume sectors of bytesPerSector bytes at sector into buffer. The byte form of
// the read keeps the volume's own sector size, whatever the reader's. Returns bytes read (0 on
// failure).
[[nodiscard]] u32 ReadVolumeSectors(CDirectRW& reader, u8* buffer, u32 count, u64 sector,
                                    u32 bytesPerSector);

// Reads the clusters of one folder's chain in turn. Where the FAT links a cluster to the one
// after it on the volume, the stretch (up to kStretchBytes) is read at once and each cluster
// copied out of it: a folder of a thousand files spans dozens of 4 KiB clusters, and a system
// call per cluster cost more than the copy. A stretch that does not arrive whole is dropped,
// and its clusters are read one by one as before, so each cluster reads as a read of its own.
class FolderClusterReads
{
public:
    // source must be usable (FatFolderSource::Usable) and outlive the reads.
    explicit FolderClusterReads(const FatFolderSource& source) : m_source(source) {}

    // Reads cluster, whose first sector is sector, into out (one cluster). Returns bytes read,
    // as ReadVolumeSectors.
    [[nodiscard]] u32 Read(u32 cluster, u64 sector, u8* out);

private:
    static constexpr u32 kStretchBytes = 64 * 1024;
    const FatFolderSource& m_source;
    std::unique_ptr<u8[]> m_stretch; // kStretchBytes, not cleared: only what a read filled is used
    u32 m_first = 0;                 // the stretch's first cluster
    u32 m_count = 0;                 // its clusters; 0: none held
};
