// The step from a volume's walk to the cluster assignment and back into the catalogue.
#include "scan/FindLayout.h"

#include <algorithm>
#include <utility>

#include "scan/ClusterAssignment.h"

bool HasDeletedFinds(const VolumeEntry& volume)
{
    for (const FoundItem& item : volume.items)
        if (item.deleted != 0 && item.first >= 2 && item.first <= volume.clusterCount)
            return true;
    return false;
}

void AssignFindClusters(VolumeEntry& volume, OwnerTable&& owner, LiveEntries& live,
                        const FindClusters& findClusters)
{
    std::pmr::memory_resource* const scratch = live.scratch.Resource();
    AssignInput input(scratch);
    input.firstCluster = 2;
    input.lastCluster = volume.clusterCount;
    input.owner = std::move(owner);
    input.liveCreated.reserve(live.entries.size());
    for (const LiveEntry& entry : live.entries)
        input.liveCreated.push_back(entry.created);
    std::pmr::vector<std::size_t> itemOf(scratch);
    // Room for every item at once: the lists are not copied as they grow.
    input.finds.reserve(volume.items.size());
    itemOf.reserve(volume.items.size());
    for (std::size_t i = 0; i < volume.items.size(); ++i)
    {
        const FoundItem& item = volume.items[i];
        if (item.deleted == 0)
            continue;
        AssignFind find;
        find.first = item.first;
        find.created = TimeKey(item.created);
        findClusters(item, &find.clusters, &find.contiguous);
        if (find.clusters == 0)
            continue;
        input.finds.push_back(find);
        itemOf.push_back(i);
    }
    AssignOutput out = AssignClusters(input);
    volume.assignedRuns = std::move(out.runs);
    for (std::size_t f = 0; f < itemOf.size(); ++f)
    {
        const AssignResult& result = out.results[f];
        FoundItem& item = volume.items[itemOf[f]];
        item.runsAt = result.runsAt;
        item.runCount = result.runCount;
        item.overwritten = result.overwritten;
        item.inferred = result.inferred ? 1 : 0;
        item.yields = result.yields ? 1 : 0;
        item.clipped = result.clipped ? 1 : 0;
    }
}

bool AssignedExtents(const VolumeEntry& volume, const FoundItem& item, u64 wanted,
                     std::vector<StreamExtent>* extents, u64* clusters)
{
    *clusters = 0;
    if (volume.contiguousRead || item.runCount == 0 ||
        static_cast<u64>(item.runsAt) + item.runCount > volume.assignedRuns.size())
        return false;
    // The runs were made for the item's size: fewer clusters than it needs only when the volume
    // ended first. Runs that fit neither were made for another size (an item changed since),
    // and the item is read as one stretch.
    u64 total = 0;
    for (u32 i = 0; i < item.runCount; ++i)
        total += volume.assignedRuns[item.runsAt + i].length;
    const ClusterRun& tail = volume.assignedRuns[item.runsAt + item.runCount - 1];
    if (total < wanted && item.clipped == 0 &&
        static_cast<u64>(tail.first) + tail.length - 1 < volume.clusterCount)
        return false;
    for (u32 i = 0; i < item.runCount && *clusters < wanted; ++i)
    {
        const ClusterRun& run = volume.assignedRuns[item.runsAt + i];
        const u64 length = std::min<u64>(run.length, wanted - *clusters);
        extents->push_back(StreamExtent{*clusters, run.first, length, false});
        *clusters += length;
    }
    return true;
}
