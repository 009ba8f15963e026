// The step from a volume's walk to the cluster assignment and back into the catalogue.
#include "scan/FindLayout.h"

#include <algorithm>
#include <utility>

#include "platform/Unicode.h"
#include "scan/ClusterAssignment.h"

u64 TimeKey(const FoundTime& t)
{
    // A zero DOS date and time decodes as the first second of 1980: no time was kept.
    const bool zeroDos = t.year == 1980 && t.month == 1 && t.day == 1 && t.hour == 0 &&
                         t.minute == 0 && t.second == 0;
    if (zeroDos || t.year < 1601 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 60)
        return kNoTime;
    constexpr s64 kDaysTo1970 = 134774; // 1 January 1601 to 1 January 1970
    const s64 days = DaysFromCivil(t.year, t.month, t.day) + kDaysTo1970;
    return static_cast<u64>(days) * 86400 + static_cast<u64>(t.hour) * 3600 +
           static_cast<u64>(t.minute) * 60 + static_cast<u64>(t.second) + 1;
}

bool HasDeletedFinds(const VolumeEntry& volume)
{
    const ClusterVolumeState* state = ClusterVolumeOf(volume);
    if (state == nullptr)
        return false;
    for (const FoundItem& item : volume.items)
        if (item.deleted != 0 && item.first >= 2 && item.first <= state->clusterCount)
            return true;
    return false;
}

void AssignFindClusters(VolumeEntry& volume, const AllocationMap& allocation, LiveEntries& live,
                        const FindClusters& findClusters, const MarkOwners& markOwners)
{
    ClusterVolumeState* state = ClusterVolumeOf(volume);
    if (state == nullptr)
        return;
    std::pmr::memory_resource* const scratch = live.scratch.Resource();
    AssignInput input(scratch);
    input.firstCluster = 2;
    input.lastCluster = state->clusterCount;
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
    // The reach of the finds, in the order of their first clusters.
    std::pmr::vector<ReachStart> starts(scratch);
    starts.reserve(input.finds.size());
    for (const AssignFind& find : input.finds)
        starts.push_back(ReachStart{find.first, find.clusters});
    std::sort(starts.begin(), starts.end(),
              [](const ReachStart& a, const ReachStart& b) { return a.first < b.first; });
    if (!input.reach.Build(allocation, input.firstCluster, input.lastCluster, starts) ||
        !markOwners(input.reach))
        return;
    AssignOutput out = AssignClusters(input);
    state->assignedRuns = std::move(out.runs);
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

bool AssignedExtents(const VolumeEntry& volume, const ClusterVolumeState& state,
                     const FoundItem& item, u64 wanted, std::vector<StreamExtent>* extents,
                     u64* clusters)
{
    *clusters = 0;
    if (volume.contiguousRead || item.runCount == 0 ||
        static_cast<u64>(item.runsAt) + item.runCount > state.assignedRuns.size())
        return false;
    // The runs were made for the item's size: fewer clusters than it needs only when the volume
    // ended first. Runs that fit neither were made for another size (an item changed since),
    // and the item is read as one stretch.
    u64 total = 0;
    for (u32 i = 0; i < item.runCount; ++i)
        total += state.assignedRuns[item.runsAt + i].length;
    const ClusterRun& tail = state.assignedRuns[item.runsAt + item.runCount - 1];
    if (total < wanted && item.clipped == 0 &&
        static_cast<u64>(tail.first) + tail.length - 1 < state.clusterCount)
        return false;
    for (u32 i = 0; i < item.runCount && *clusters < wanted; ++i)
    {
        const ClusterRun& run = state.assignedRuns[item.runsAt + i];
        const u64 length = std::min<u64>(run.length, wanted - *clusters);
        extents->push_back(StreamExtent{*clusters, run.first, length, false});
        *clusters += length;
    }
    return true;
}
