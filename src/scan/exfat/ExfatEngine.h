// The exFAT engine: the boot region, FAT and allocation bitmap of a volume entry, the
// deleted-entry search, the deep search of its heap, and a find's data as the clusters the search
// assigned to it (its one stretch when NoFatChain).
#pragma once

#include "catalog/VolumeEngine.h"

class CExfatEngine final : public IVolumeEngine
{
public:
    [[nodiscard]] bool Open(VolumeEntry& entry) const override;
    void AddFind(VolumeEntry& entry, FoundItem item) const override;
    [[nodiscard]] u32 Search(CCatalog& catalog, VolumeEntry& entry) const override;
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

// The one exFAT engine.
[[nodiscard]] const CExfatEngine& ExfatEngine();

// Gives entry (already holding its reader, opened on the volume) a new exFAT state filled from
// the volume's boot region: geometry, FAT and bitmap windows. False when it holds no usable exFAT
// boot region.
[[nodiscard]] bool AttachExfatVolume(VolumeEntry& entry);
