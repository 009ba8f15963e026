// The cluster state the FAT and exFAT engines share, and their rule for adding a find.
#include "scan/ClusterVolume.h"

#include <algorithm>
#include <utility>

#include "catalog/Catalog.h"

ClusterVolumeState* ClusterVolumeOf(VolumeEntry& entry)
{
    return dynamic_cast<ClusterVolumeState*>(entry.state.get());
}

const ClusterVolumeState* ClusterVolumeOf(const VolumeEntry& entry)
{
    return dynamic_cast<const ClusterVolumeState*>(entry.state.get());
}

namespace
{
// A folder whose first cluster is catalogued already (or excluded), at position k of dirIndex:
// the earliest item from index k on with this first cluster may take the newer entry's name;
// the new entry is dropped.
void MeetCataloguedFolder(VolumeEntry& entry, FoundItem item, std::size_t k)
{
    const std::vector<std::size_t>* same = entry.lookup.ItemsWithFirst(entry.items, item.first);
    if (same == nullptr)
        return;
    auto at = std::lower_bound(same->begin(), same->end(), k);
    if (at == same->end())
        return;
    FoundItem& found = entry.items[*at];
    // A live folder and a deleted entry of its cluster are two finds: the live one is never
    // hidden behind the deleted one (which lost the cluster to it), nor renamed by it. It is
    // catalogued once: a folder that names its own cluster again (a loop in a damaged or
    // hostile tree) would otherwise be walked without end, a level deeper each time.
    if ((found.attr & 0x10) && (found.deleted == 0) != (item.deleted == 0))
    {
        const auto liveTwin = [&entry](std::size_t index)
        {
            const FoundItem& other = entry.items[index];
            return (other.attr & 0x10) != 0 && other.deleted == 0;
        };
        if (item.deleted == 0 && std::none_of(at, same->end(), liveTwin))
            entry.items.push_back(std::move(item));
        return;
    }
    if ((found.attr & 0x10) && CCatalog::CompareTime(item.accessed, found.accessed) == 1)
        found.name = std::move(item.name);
}
} // namespace

void AddClusterFind(VolumeEntry& entry, ClusterVolumeState* state, FoundItem item)
{
    if (state == nullptr)
    {
        entry.items.push_back(std::move(item));
        return;
    }
    // A file of no bytes has no cluster (first 0): it is listed all the same.
    const bool emptyFile = item.first == 0 && item.size == 0 && (item.attr & 0x10) == 0;
    if (item.first > state->clusterCount || (item.first < 2 && !emptyFile))
        return;
    if (item.attr & 0x10)
    {
        // first lies in [2, clusterCount], so it fits a cluster number.
        const u32 cluster = static_cast<u32>(item.first);
        std::size_t k = 0;
        if (entry.lookup.FindDir(state->dirIndex, cluster, &k))
        {
            MeetCataloguedFolder(entry, std::move(item), k);
            return;
        }
        state->dirIndex.push_back(cluster);
    }
    entry.items.push_back(std::move(item));
}
