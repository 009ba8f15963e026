// The first FAT of a volume seen through one 4096-byte window that moves on demand, or (once
// asked to keep it) held in memory: entry values and the classification of clusters by their
// entries.
#pragma once

#include <vector>

#include "fat/FatLayout.h"
#include "platform/ByteOrder.h"
#include "platform/LargeBlock.h"
#include "platform/Types.h"

class CDirectRW;
class FatBootSector;

// What a cluster's FAT entry says about it.
enum class ClusterState : u32
{
    kFree = 0,      // entry 0
    kLinked = 1,    // entry names a next cluster
    kChainHead = 2, // as kLinked, and the cluster is 2 or the one before it ends a chain
    kChainEnd = 3,  // end-of-chain value
    kBad = 4,       // bad-cluster value
    kInvalid = 5,   // cluster outside 2 .. limit - 1
};

class FatTable
{
public:
    static constexpr u32 kWindowSize = 4096;
    // Returned by GetEntry for an entry that cannot be read.
    static constexpr u32 kUnreadable = 1;

    FatTable() = default;

    // Takes the FAT geometry from a valid boot sector and loads the first window through the
    // reader (not owned; it must outlive the table). False when the boot sector is not valid
    // or the first window cannot be read.
    [[nodiscard]] bool Attach(CDirectRW* reader, const FatBootSector& boot);
    // The entry of cluster (2 .. limit), or 1 when it cannot be read: a cluster out of range,
    // an entry not wholly inside the FAT, or a failed window read.
    [[nodiscard]] u32 GetEntry(u32 cluster)
    {
        // A FAT32 entry of a segment in memory: a load and a mask, without a call. The passes
        // over the whole FAT ask for every entry, several times per search.
        if (m_fatBits == 32 && cluster >= FatLayout::kFirstCluster && cluster <= m_clusterLimit)
        {
            const u64 offset = static_cast<u64>(cluster) * 4;
            if (offset + 4 <= m_memoryBytes &&
                m_segments[static_cast<std::size_t>(offset / m_segmentBytes)] == Segment::kLoaded)
                return LoadLe32(m_memory.Bytes() + offset) & FatLayout::kFat32Mask;
        }
        return ReadEntry(cluster);
    }
    // The entries of clusters first .. first + count - 1 into out, each as GetEntry gives it.
    void GetEntries(u32 first, u32 count, u32* out);
    [[nodiscard]] ClusterState GetClusterState(u32 cluster);

    // Keeps the FAT's entries in memory from here on: each segment (up to kSegmentBytes) is read
    // with one read when an entry in it is first asked for and served from memory after, so
    // that the passes of a search over the whole FAT and its chains read each FAT sector once.
    // A stretch whose read fails is served by the window, as before. False (the window alone
    // stays in use) when the entries take more than maxBytes or the memory cannot be had.
    bool KeepInMemory(u64 maxBytes);
    // Gives the memory back; the window serves every entry again.
    void ReleaseMemory();
    // Reads every segment of a FAT kept in memory that is not read yet. True when the whole FAT
    // is in memory: from then on entries are only read from memory, and threads may read the
    // table side by side.
    bool LoadAllSegments();

    // The highest cluster number whose entry is read (the boot sector's limit, capped to 32
    // bits); clusters 2 .. limit - 1 are classified.
    [[nodiscard]] u32 ClusterLimit() const { return m_clusterLimit; }
    [[nodiscard]] u32 FatBits() const { return m_fatBits; }
    // FAT sector (counted from the first FAT sector) at which the window starts.
    [[nodiscard]] u64 WindowSector() const { return m_windowSector; }

    // Bytes of FAT read at a time once the FAT is kept in memory, at most: a segment is whole
    // sectors (1536-byte sectors make it 261,120 bytes).
    static constexpr u32 kSegmentBytes = 256 * 1024;

private:
    static constexpr u32 kMapFailed = kWindowSize + 1;

    enum class Segment : u8
    {
        kUnread,
        kLoaded,
        kFailed, // its read failed: the window serves its entries
    };

    // GetEntry for every case the inline path does not serve.
    [[nodiscard]] u32 ReadEntry(u32 cluster);

    // The entry at FAT byte offset `offset` (entryBytes long) from memory; false when its
    // stretch could not be read.
    [[nodiscard]] bool EntryFromMemory(u64 offset, u32 entryBytes, u32* raw);
    [[nodiscard]] bool LoadSegment(std::size_t segment);

    // Position of a FAT byte offset in the window, moving the window on a miss; 4097 when the
    // offset lies outside the FAT or the window read fails.
    [[nodiscard]] u32 MapOffset(s64 offset);
    // Reads the window at m_windowSector; on failure the window is left empty and unloaded.
    [[nodiscard]] bool LoadWindow();
    // The volume byte offset of a sector of the FAT.
    [[nodiscard]] s64 ByteOffset(u64 fatSector) const;

    CDirectRW* m_reader = nullptr;
    u32 m_clusterLimit = 0;
    // Four zero bytes after the window keep the 4-byte entry read inside the object when an
    // entry sits at the window's end.
    u8 m_window[kWindowSize + 4] = {};
    u32 m_fatBits = 0;
    u32 m_bytesPerSector = 512;
    u64 m_firstFatSector = 1;
    u64 m_windowSector = 0;
    u32 m_fatSectors = 0;
    bool m_windowLoaded = false;
    // The FAT in memory (KeepInMemory): its first m_memoryBytes bytes, read a segment at a time.
    LargeBlock m_memory; // in huge pages where the system allows
    u64 m_memoryBytes = 0;
    u32 m_segmentBytes = kSegmentBytes; // whole sectors
    std::vector<Segment> m_segments;
};
