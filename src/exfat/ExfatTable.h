// The first FAT and the allocation bitmap of an exFAT volume, each seen through a small window
// that moves on demand: FAT entries, cluster chains, and whether a cluster is allocated.
#pragma once

#include <vector>

#include "exfat/ExfatBoot.h"
#include "platform/Types.h"

class CDirectRW;

class ExfatTable
{
public:
    static constexpr u32 kWindowSize = 4096;
    static constexpr u32 kBitmapWindowSize = 512; // never more than one cluster
    // Returned by GetEntry for an entry that cannot be read.
    static constexpr u32 kUnreadable = 1;

    // Takes the geometry of a validated boot sector; reader (not owned) reads the volume from
    // its start in bytes and must outlive the table. False when no reader is given.
    [[nodiscard]] bool Attach(CDirectRW* reader, const ExfatBoot& boot);
    // The FAT entry of cluster (2 .. highest), or 1 when it cannot be read.
    [[nodiscard]] u32 GetEntry(u32 cluster);
    // The cluster chain from first in the FAT: at most maxClusters clusters, ending before a
    // value that is no cluster of the heap (the end mark, a bad or free entry) and at the
    // first cluster seen twice.
    [[nodiscard]] std::vector<u32> Chain(u32 first, u64 maxClusters);

    // Appends the bytes of clusters, in order, to *out (zeros where a read fails). False when a
    // cluster lies outside the heap or a read failed; *failedOffset (when given) is then the
    // volume byte offset of the first cluster whose read failed (unchanged for a cluster
    // outside the heap).
    bool ReadClusters(const std::vector<u32>& clusters, std::vector<u8>* out,
                      u64* failedOffset = nullptr);

    // Locates the allocation bitmap: bytes long, from firstCluster on through its chain (or
    // contiguous when the FAT holds no chain for it). False when it cannot cover the heap.
    bool SetBitmap(u32 firstCluster, u64 bytes);
    [[nodiscard]] bool HasBitmap() const { return !m_bitmapClusters.empty(); }
    // Whether the bitmap marks cluster allocated: 0 with *inUse set, or kErrUnsupported (no
    // bitmap, a cluster outside the heap, or a read that failed).
    [[nodiscard]] u32 ClusterAllocated(u32 cluster, bool* inUse);

private:
    // Reads count bytes at byte offset of the volume into buffer, zeros where the read ends
    // early. False when nothing could be read.
    [[nodiscard]] bool ReadAt(u8* buffer, u32 count, u64 offset);

    CDirectRW* m_reader = nullptr;
    ExfatBoot m_boot;
    u8 m_window[kWindowSize] = {};
    u64 m_windowStart = 0; // FAT byte offset of the window
    bool m_windowLoaded = false;
    std::vector<u32> m_bitmapClusters;
    u64 m_bitmapBytes = 0;
    u8 m_bitmapWindow[kBitmapWindowSize] = {};
    u64 m_bitmapWindowStart = 0;
    bool m_bitmapLoaded = false;
};
