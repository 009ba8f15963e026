// The FAT12/16/32 engine: the boot sector, FAT table and sector reader of a volume entry (its
// FatVolumeState and reader), the deleted-entry search, and a find's data as the clusters the
// search assigned to it.
#pragma once

#include <memory>

#include "catalog/VolumeEngine.h"

class CFatEngine final : public IVolumeEngine
{
public:
    [[nodiscard]] bool Open(VolumeEntry& entry) const override;
    // Open through reader (closed or open; it is opened on entry.name) instead of the drive
    // table's reader for entry.name, with the same reads and checks: for a reader of another
    // kind over the same drive, or over bytes in memory.
    [[nodiscard]] bool OpenOn(VolumeEntry& entry, std::unique_ptr<CDirectRW> reader) const;
    void AddFind(VolumeEntry& entry, FoundItem item) const override;
    [[nodiscard]] u32 Search(CCatalog& catalog, VolumeEntry& entry) const override;
    // Folders found anywhere on the data region by their "." and ".." entries (scan/fat/FatDeep).
    [[nodiscard]] u32 DeepSearch(CCatalog& catalog, VolumeEntry& entry) const override;
    [[nodiscard]] u32 LoadAllocation(VolumeEntry& entry, AllocationMap* map) const override;
    void EndSearch(VolumeEntry& entry) const override;
    [[nodiscard]] u64 ClusterBytes(const VolumeEntry& entry) const override;
    [[nodiscard]] CDirectRW* DataReader(VolumeEntry& entry) const override;
    [[nodiscard]] bool Geometry(VolumeEntry& entry, ClusterGeometry* geometry) const override;
    [[nodiscard]] u32 DescribeStream(VolumeEntry& entry, const FoundItem& item,
                                     DataStream* stream) const override;
    [[nodiscard]] u32 ReadTimes(VolumeEntry& entry, const FoundItem& item,
                                FindTimes* times) const override;
    [[nodiscard]] u32 ClusterInUse(VolumeEntry& entry, u64 cluster, bool* inUse) const override;
    [[nodiscard]] bool FoldersContiguous() const override { return true; }
    void ReleaseItems(VolumeEntry& entry) const override;
};

// The one FAT engine.
[[nodiscard]] const CFatEngine& FatEngine();
