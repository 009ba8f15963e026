// The engine of a source that holds no file system the program knows (a card whose boot sector
// and FATs were wiped, one reformatted with another file system, a raw dump): its "clusters" are
// its 512-byte sectors from sector 0, none of them in use. The search finds nothing; the deep
// search reads the whole source once, so that carving finds the files by their contents.
#pragma once

#include "catalog/VolumeEngine.h"

class CRawEngine final : public IVolumeEngine
{
public:
    [[nodiscard]] bool Open(VolumeEntry& entry) const override;
    [[nodiscard]] u32 Search(CCatalog& catalog, VolumeEntry& entry) const override;
    [[nodiscard]] u32 DeepSearch(CCatalog& catalog, VolumeEntry& entry) const override;
    [[nodiscard]] bool Geometry(VolumeEntry& entry, ClusterGeometry* geometry) const override;
    [[nodiscard]] u32 LoadAllocation(VolumeEntry& entry, AllocationMap* map) const override;
    void EndSearch(VolumeEntry& entry) const override;
    [[nodiscard]] u64 ClusterBytes(const VolumeEntry& entry) const override;
    [[nodiscard]] CDirectRW* DataReader(VolumeEntry& entry) const override;
    [[nodiscard]] u32 DescribeStream(VolumeEntry& entry, const FoundItem& item,
                                     DataStream* stream) const override;
    [[nodiscard]] u32 ClusterInUse(VolumeEntry& entry, u64 cluster, bool* inUse) const override;
    [[nodiscard]] bool FoldersContiguous() const override { return true; }
    void ReleaseItems(VolumeEntry& entry) const override;
};

// The one engine of sources without a file system.
[[nodiscard]] const CRawEngine& RawEngine();
