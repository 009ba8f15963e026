// The clusters of a searched volume as its content checks and carving see them: which live
// files hold (the allocation state), which the layouts of its finds claim, and where they lie.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "carve/GapSearch.h"
#include "catalog/AllocationMap.h"
#include "catalog/VolumeEngine.h"
#include "platform/Types.h"

class CDirectRW;

struct VolumeClusters
{
    ClusterGeometry geometry; // from the engine; clusterBytes 0 when it offers none
    AllocationMap allocation; // the live files' clusters
    bool known = false;       // the allocation state was read
    std::vector<u64> claimed; // a bit per cluster number: a find's layout claims it
    std::vector<u64> shared;  // a bit per cluster number: more than one claim was made on it

    // Marks clusters lcn .. lcn + length - 1 claimed (those outside the volume are left).
    void Claim(u64 lcn, u64 length);
    // Gives up one claim on clusters lcn .. lcn + length - 1: those only one claim was made on
    // are no longer claimed; those claimed more than once stay claimed.
    void Unclaim(u64 lcn, u64 length);
    [[nodiscard]] bool Claimed(u64 cluster) const
    {
        return cluster / 64 < claimed.size() && (claimed[cluster / 64] >> (cluster % 64) & 1u) != 0;
    }
    // No live file holds cluster and no find claims it (false while the state is unknown).
    [[nodiscard]] bool Free(u64 cluster) const
    {
        return known && cluster >= geometry.firstLcn && cluster < geometry.endLcn &&
               !allocation.InUse(cluster) && !Claimed(cluster);
    }
};

// The free clusters of a volume for the gap search, read through the engine's reader. The
// clusters of a layout kept are claimed with Take, so that no later layout takes them again.
class VolumeCarveSpace final : public ICarveSpace
{
public:
    VolumeCarveSpace(VolumeClusters& clusters, CDirectRW* reader)
        : m_clusters(clusters), m_reader(reader)
    {
    }
    [[nodiscard]] u64 ClusterBytes() const override { return m_clusters.geometry.clusterBytes; }
    [[nodiscard]] u64 FirstCluster() const override { return m_clusters.geometry.firstLcn; }
    [[nodiscard]] u64 EndCluster() const override { return m_clusters.geometry.endLcn; }
    [[nodiscard]] bool Free(u64 cluster) const override { return m_clusters.Free(cluster); }
    [[nodiscard]] std::size_t ReadClusters(u64 cluster, u64 count, std::span<u8> out) override;
    // Claims the clusters of runs.
    void Take(std::span<const CarveRun> runs);

private:
    VolumeClusters& m_clusters;
    CDirectRW* m_reader;
};
