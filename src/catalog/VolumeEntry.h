// One volume of the scan job list: what every engine and the recovery share of it (its name,
// file system, engine, reader and finds), and the engine's own state behind VolumeState.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/LargeBlock.h"
#include "platform/Types.h"
#include "records/FoundItem.h"

class CDirectRW;
class IVolumeEngine;

// File-system codes of a volume entry.
inline constexpr u32 kFsFat12 = 1;
inline constexpr u32 kFsFat16 = 2;
inline constexpr u32 kFsFat32 = 3;
inline constexpr u32 kFsNtfs = 4;
inline constexpr u32 kFsExfat = 5;
inline constexpr u32 kFsNone = 7;

// The finds of a volume: a search of a large volume fills megabytes of them once, so their
// list is mapped on huge pages once it passes a megabyte (a page fault per 2 MiB instead of per
// 4 KiB).
using FoundItems = std::vector<FoundItem, HugePageAllocator<FoundItem>>;

// What one engine keeps of a volume beyond the shared fields: its parsers and tables, its
// geometry and the working lists of its search. Each engine defines its own beside it and alone
// reads it; the entry owns it, and dropping it frees everything it holds.
class VolumeState
{
public:
    VolumeState() = default;
    virtual ~VolumeState();
    VolumeState(const VolumeState&) = delete;
    VolumeState& operator=(const VolumeState&) = delete;
    VolumeState(VolumeState&&) = delete;
    VolumeState& operator=(VolumeState&&) = delete;
};

// Where the bytes of the files carving found lie: runs of clusters, cluster firstLcn beginning at
// byte dataStart of the engine's data reader. A carved find names its file by its index in files
// (FoundItem::runsAt).
struct CarvedExtent
{
    u64 lcn = 0;
    u64 length = 0;
};
struct CarvedFile
{
    u64 size = 0;
    std::vector<CarvedExtent> extents; // in file order
};
struct CarvedFiles
{
    u64 clusterBytes = 0;
    u64 firstLcn = 0;
    u64 dataStart = 0;
    std::vector<CarvedFile> files;
};

// One volume of the scan job list with the engine state it owns and everything found on it.
//
// The entry owns its reader and engine state through unique_ptr, so it is move-only: the scan
// start moves a finished entry into the job list, and a worker that needs a view of its own
// (the recovery) works through a reference or copies the plain fields it needs.
struct VolumeEntry
{
    VolumeEntry();
    ~VolumeEntry();
    VolumeEntry(VolumeEntry&&) noexcept;
    VolumeEntry& operator=(VolumeEntry&&) noexcept;
    VolumeEntry(const VolumeEntry&) = delete;
    VolumeEntry& operator=(const VolumeEntry&) = delete;

    u32 fsType = kFsNone;                  // 1 FAT12, 2 FAT16, 3 FAT32, 4 NTFS, 5 exFAT, 7 none
    const IVolumeEngine* engine = nullptr; // the file system's engine; null for none
    std::unique_ptr<CDirectRW> reader;     // FAT, exFAT: reader opened on name; NTFS: null
    std::string name;                      // drive text such as "C:", root of every item path
    std::unique_ptr<VolumeState> state;    // the engine's own state; null for none
    FoundItems items;                      // every found item, in the order added
    bool contiguousRead = false; // recovery: every find as one stretch from its first cluster
    // The deep search or carving appended finds after the search's own: a folder's items may
    // then stand in more than one run, whatever the engine's FoldersContiguous says.
    bool foldersScattered = false;
    // The recycled finds listed under the made-up Recycle Bin folder: the full path each was
    // found at, by its index in items.
    std::unordered_map<std::size_t, std::string> recycledFrom;
    // The layouts of the carved finds.
    CarvedFiles carved;
    // Shown every block the deep search reads, in volume order (offset on the engine's data
    // reader, the block's own bytes), while it is set: carving's header search rides on that read.
    std::function<void(u64 offset, std::span<const u8> bytes)> deepTap;

    // Hash lookups over the items and a list of folder clusters, for the rule by which the
    // engines add finds. They index the two vectors incrementally (both only grow until the
    // entry is reset), so code that appends to them directly needs no care; code that empties
    // them calls Clear().
    class Lookup
    {
    public:
        // Indexes (ascending) of the items whose first equals first, or null when none.
        const std::vector<std::size_t>* ItemsWithFirst(const FoundItems& list, u64 first);
        // Position of the first occurrence of cluster in clusters.
        bool FindDir(const std::vector<u32>& clusters, u32 cluster, std::size_t* position);
        void Clear();

    private:
        std::unordered_map<u64, std::vector<std::size_t>> m_byFirst;
        std::unordered_map<u32, std::size_t> m_dirPosition;
        std::size_t m_itemsSeen = 0;
        std::size_t m_dirsSeen = 0;
    };
    Lookup lookup;
};
