// Fuzzes the cluster assignment with random layouts: owners, live files' times and deleted
// finds from the input bytes. No crash, no cluster given twice, every run inside the volume,
// no find given more than it asked for.
#include <cstdint>
#include <cstdlib>
#include <vector>

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
    // The owner table may stop short of the volume's end: the rest counts as unknown.
    const u32 owners = input.lastCluster + 1 - (in.Next() % 4);
    const u32 lives = in.Next() % 8;
    for (u32 k = 0; k < lives; ++k)
        input.liveCreated.push_back(in.Next() % 4 == 0 ? kNoTime : in.Next() * 30u);
    for (u32 c = 0; c < owners; ++c)
    {
        const u8 b = in.Next();
        input.owner.push_back(b < 128   ? kOwnerFree
                              : b < 140 ? kOwnerSystem
                              : b < 150 ? kOwnerUnknown
                                        : 1 + b % (lives + 2)); // may name no live file
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
    const AssignOutput out = AssignClusters(input);
    Check(out.results.size() == input.finds.size());
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
            for (u32 c = run.first; c < run.first + run.length; ++c)
            {
                Check(!given[c]);
                given[c] = true;
            }
            total += run.length;
        }
        Check(total == r.clusters && total <= input.finds[f].clusters);
        Check(r.overwritten <= total && r.inferred == (r.runCount > 1));
    }
    return 0;
}
