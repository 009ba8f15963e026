// The NTFS engine: the CNtfs parser of a volume entry, the MFT search, and a find's data as the
// extents of its run list or the value held in its MFT record, compressed streams handed out
// decoded.
#pragma once

#include "catalog/VolumeEngine.h"

class CNtfs;
struct NtfsStreamLayout;

class CNtfsEngine final : public IVolumeEngine
{
public:
    [[nodiscard]] bool Open(VolumeEntry& entry) const override;
    [[nodiscard]] u32 Search(CCatalog& catalog, VolumeEntry& entry) const override;
    [[nodiscard]] u32 DeepSearch(CCatalog& catalog, VolumeEntry& entry) const override;
    [[nodiscard]] u32 LoadAllocation(VolumeEntry& entry, AllocationMap* map) const override;
    void EndSearch(VolumeEntry& entry) const override;
    [[nodiscard]] u64 ClusterBytes(const VolumeEntry& entry) const override;
    [[nodiscard]] CDirectRW* DataReader(VolumeEntry& entry) const override;
    [[nodiscard]] bool Geometry(VolumeEntry& entry, ClusterGeometry* geometry) const override;
    [[nodiscard]] bool KnownWithoutClusters(const VolumeEntry& entry,
                                            const FoundItem& item) const override;
    [[nodiscard]] u32 DescribeStream(VolumeEntry& entry, const FoundItem& item,
                                     DataStream* stream) const override;
    [[nodiscard]] std::unique_ptr<IStreamReader>
    OpenStream(CDirectRW* reader, const DataStream& stream, u64 chunkBytes) const override;
    [[nodiscard]] u32 ReadTimes(VolumeEntry& entry, const FoundItem& item,
                                FindTimes* times) const override;
    [[nodiscard]] u32 ClusterInUse(VolumeEntry& entry, u64 cluster, bool* inUse) const override;
    [[nodiscard]] bool FoldersContiguous() const override { return false; }
    void ReleaseItems(VolumeEntry& entry) const override;

private:
    // The stream as its base record (and extension records) describe it now.
    [[nodiscard]] static u32 FromLayout(const CNtfs& ntfs, const FoundItem& item,
                                        const NtfsStreamLayout& layout, DataStream* stream);
    // The stream as the data block kept at search time describes it (items made without a
    // record number).
    [[nodiscard]] u32 FromDataBlock(VolumeEntry& entry, const FoundItem& item,
                                    DataStream* stream) const;
};

// The one NTFS engine.
[[nodiscard]] const CNtfsEngine& NtfsEngine();
