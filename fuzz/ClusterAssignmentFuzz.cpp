// Fuzzes the cluster assignment with random layouts: owners, live files' times and deleted
// finds from the input bytes. No crash, no cluster given twice but to a find that yields it,
// every run inside the volume, no find given more than it asked for.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "catalog/AllocationMap.h"
#include "scan/ClusterAssignment.h"

namespace
{
struct Bytes
{
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    u8 Next() { return at < size ? data[at++] : 0; }
};

void Check(bool ok)
{
    if (!ok)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bytes in{data, size};
    AssignInput input;
    input.firstCluster = 2;
    input.lastCluster = 2 + in.Next() % 200; // may be below firstCluster + 1 clusters
    // The allocation map may stop short of the volume's end: the rest counts as in use.
    const u32 mapped = input.lastCluster + 1 - (in.Next() % 4);
    const u32 lives = in.Next() % 8;
    for (u32 k = 0; k < lives; ++k)
        input.liveCreated.push_back(in.Next() % 4 == 0 ? kNoTime : in.Next() * 30u);
    AllocationMap map;
    if (!map.Reset(mapped))
        return 0;
    std::vector<u32> owner(mapped, kOwnerFree);
    for (u32 c = 0; c < mapped; ++c)
    {
        const u8 b = in.Next();
        owner[c] = b < 128   ? kOwnerFree
                   : b < 140 ? kOwnerSystem
                   : b < 150 ? kOwnerUnknown
                             : 1 + b % (lives + 2); // may name no live file
        if (owner[c] != kOwnerFree)
            map.Set(c);
    }
    const u32 finds = in.Next() % 40;
    for (u32 f = 0; f < finds; ++f)
    {
        AssignFind find;
        find.first = in.Next() % 210;
        find.clusters = in.Next() % 32;
        find.created = in.Next() % 3 == 0 ? kNoTime : in.Next() * 30u;
        find.contiguous = in.Next() % 5 == 0;
        input.finds.push_back(find);
    }
    std::vector<ReachStart> starts;
    for (const AssignFind& find : input.finds)
        starts.push_back(ReachStart{find.first, find.clusters});
    std::sort(starts.begin(), starts.end(),
              [](const ReachStart& a, const ReachStart& b) { return a.first < b.first; });
    if (!input.reach.Build(map, input.firstCluster, input.lastCluster, starts))
        return 0;
    for (u32 c = 0; c < mapped; ++c)
        (void)input.reach.Set(c, owner[c]);
    const AssignOutput out = AssignClusters(input);
    Check(out.results.size() == input.finds.size());
    // Clusters given to finds that do not yield them: never twice.
    std::vector<bool> given(input.lastCluster + 1u, false);
    for (std::size_t f = 0; f < out.results.size(); ++f)
    {
        const AssignResult& r = out.results[f];
        Check(static_cast<u64>(r.runsAt) + r.runCount <= out.runs.size());
        u64 total = 0;
        for (u32 i = 0; i < r.runCount; ++i)
        {
            const ClusterRun& run = out.runs[r.runsAt + i];
            Check(run.length > 0 && run.first >= input.firstCluster &&
                  static_cast<u64>(run.first) + run.length - 1 <= input.lastCluster);
            if (i == 0)
                Check(run.first == input.finds[f].first);
            for (u32 c = run.first; c < run.first + run.length && !r.yields; ++c)
            {
                Check(!given[c]);
                given[c] = true;
            }
            total += run.length;
        }
        Check(total == r.clusters && total <= input.finds[f].clusters);
        Check(r.overwritten <= total);
        // Not one run, or read as one stretch because the layout could not be told.
        Check(r.inferred == (r.runCount > 1) || (r.runCount == 0 && r.yields && r.inferred));
    }
    return 0;
}
