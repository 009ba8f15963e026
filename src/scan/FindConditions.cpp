// The condition of the finds: the clusters of each file against the volume's allocation state
// and against the clusters of the other finds.
#include "scan/FindConditions.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "catalog/AllocationMap.h"
#include "catalog/Catalog.h"
#include "catalog/FindStream.h"
#include "catalog/VolumeEngine.h"
#include "platform/ScratchArena.h"
#include "platform/Status.h"
#include "scan/VolumeClusters.h"

namespace
{
constexpr u8 kAttrFolder = 0x10;

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

// A stretch claimed by two or more finds: [start, end).
struct Contested
{
    u64 start = 0;
    u64 end = 0;
};

u64 ClaimHash(const FindClusters& find)
{
    u64 hash = (0xcbf29ce484222325ull ^ find.identity) * 0x100000001b3ull;
    for (const ClaimedRun& run : find.runs)
    {
        hash = (hash ^ run.lcn) * 0x100000001b3ull;
        hash = (hash ^ run.length) * 0x100000001b3ull;
    }
    return hash;
}

// One file seen twice: the same identity (not 0) and the same runs.
bool SameClaim(const FindClusters& a, const FindClusters& b)
{
    return a.identity != 0 && a.identity == b.identity &&
           std::equal(a.runs.begin(), a.runs.end(), b.runs.begin(), b.runs.end(),
                      [](const ClaimedRun& x, const ClaimedRun& y)
                      { return x.lcn == y.lcn && x.length == y.length; });
}

// The stretches that more than one distinct claim covers, in order and disjoint: a sweep over
// the starts and ends of the runs of one find of each file seen more than once.
std::pmr::vector<Contested> ContestedStretches(std::span<const FindClusters> finds, bool strongOnly,
                                               std::pmr::memory_resource* scratch)
{
    std::unordered_map<u64, std::vector<std::size_t>> byHash;
    // The runs' starts and ends, each list sorted on its own and the two merged in the sweep:
    // two sorts of plain numbers take half the time of one sort of (number, step) pairs.
    std::pmr::vector<u64> starts(scratch);
    std::pmr::vector<u64> ends(scratch);
    std::size_t runTotal = 0;
    for (const FindClusters& find : finds)
        runTotal += find.runs.size();
    starts.reserve(runTotal);
    ends.reserve(runTotal);
    for (std::size_t i = 0; i < finds.size(); ++i)
    {
        if (finds[i].runs.empty() || (strongOnly && finds[i].yields))
            continue;
        if (finds[i].identity != 0)
        {
            std::vector<std::size_t>& same = byHash[ClaimHash(finds[i])];
            if (std::any_of(same.begin(), same.end(),
                            [&](std::size_t j) { return SameClaim(finds[i], finds[j]); }))
                continue;
            same.push_back(i);
        }
        for (const ClaimedRun& run : finds[i].runs)
        {
            starts.push_back(run.lcn);
            ends.push_back(run.lcn + run.length);
        }
    }
    // Runs laid out in the order of their finds come sorted already: one pass tells.
    for (std::pmr::vector<u64>* list : {&starts, &ends})
        if (!std::is_sorted(list->begin(), list->end()))
            std::sort(list->begin(), list->end());
    std::pmr::vector<Contested> out(scratch);
    int depth = 0;
    // At one cluster number the ends come before the starts: touching runs do not overlap.
    for (std::size_t s = 0, e = 0; s < starts.size() || e < ends.size();)
    {
        const bool end = s == starts.size() || (e < ends.size() && ends[e] <= starts[s]);
        const u64 at = end ? ends[e++] : starts[s++];
        const int before = depth;
        depth += end ? -1 : +1;
        if (before < 2 && depth >= 2)
            out.push_back(Contested{at, at});
        else if (before >= 2 && depth < 2)
        {
            if (at > out.back().start)
                out.back().end = at;
            else
                out.pop_back();
        }
    }
    return out;
}

// Clusters of run that are damaged: in use, or free but contested.
u64 DamagedClusters(const AllocationMap& map, const std::pmr::vector<Contested>& contested,
                    const ClaimedRun& run)
{
    u64 damaged = map.CountInUse(run.lcn, run.length);
    const u64 end = run.lcn + run.length;
    auto it = std::upper_bound(contested.begin(), contested.end(), run.lcn,
                               [](u64 lcn, const Contested& c) { return lcn < c.end; });
    for (; it != contested.end() && it->start < end; ++it)
    {
        const u64 from = std::max(it->start, run.lcn);
        const u64 to = std::min(it->end, end);
        if (from < to)
            damaged += (to - from) - map.CountInUse(from, to - from);
    }
    return damaged;
}
// A find whose size the volume cannot hold is partial at most: the clusters it lacks count as
// damaged.
void ClipJudgement(FoundItem& item, u64 clusterBytes, const FindClusters& find)
{
    if (clusterBytes == 0 || item.condition == FindCondition::kOverwritten)
        return;
    u64 have = 0;
    for (const ClaimedRun& run : find.runs)
        have += run.length;
    const u64 wanted = item.size / clusterBytes + (item.size % clusterBytes != 0 ? 1 : 0);
    if (have >= wanted)
        return;
    // The damaged share of the clusters it has, then of those it lacks, as a share of all.
    const u64 damaged = item.overwrittenPct * have / 100 + (wanted - have);
    const u64 pct = damaged / wanted * 100 + (damaged % wanted * 100 + wanted - 1) / wanted;
    item.condition = FindCondition::kPartial;
    item.overwrittenPct = static_cast<u8>(std::min<u64>(pct, 100));
}
} // namespace

std::vector<FindJudgement> JudgeFinds(const AllocationMap& map, std::span<const FindClusters> finds,
                                      std::pmr::memory_resource* scratch)
{
    // Where one claim yields, a find that does not is damaged only where claims like its own
    // meet.
    const std::pmr::vector<Contested> contested = ContestedStretches(finds, false, scratch);
    const bool anyYields =
        std::any_of(finds.begin(), finds.end(), [](const FindClusters& f) { return f.yields; });
    const std::pmr::vector<Contested> strong =
        anyYields ? ContestedStretches(finds, true, scratch) : std::pmr::vector<Contested>(scratch);
    std::vector<FindJudgement> out(finds.size());
    for (std::size_t i = 0; i < finds.size(); ++i)
    {
        u64 total = 0;
        u64 live = 0;
        u64 damaged = 0;
        for (const ClaimedRun& run : finds[i].runs)
        {
            total += run.length;
            live += map.CountInUse(run.lcn, run.length);
            damaged +=
                DamagedClusters(map, anyYields && !finds[i].yields ? strong : contested, run);
        }
        FindJudgement& judged = out[i];
        if (total == 0)
        {
            judged.condition = FindCondition::kGood;
            continue;
        }
        // Rounded up: one damaged cluster of many still shows.
        const u64 pct = damaged / total * 100 + (damaged % total * 100 + total - 1) / total;
        judged.overwrittenPct = static_cast<u8>(std::min<u64>(pct, 100));
        if (live == total || map.InUse(finds[i].runs.front().lcn))
            judged.condition = FindCondition::kOverwritten;
        else if (damaged > 0)
            judged.condition = FindCondition::kPartial;
        else
            judged.condition = FindCondition::kGood;
    }
    return out;
}

namespace
{
// Hands the allocation state, the engine's geometry and the clusters the finds claim to *keep
// (nothing when the engine offers no geometry).
void KeepClusters(VolumeEntry& entry, std::span<const FindClusters> finds, AllocationMap& map,
                  VolumeClusters* keep)
{
    if (!entry.engine->Geometry(entry, &keep->geometry) || keep->geometry.clusterBytes == 0)
        return;
    for (const FindClusters& find : finds)
        for (const ClaimedRun& run : find.runs)
            keep->Claim(run.lcn, run.length);
    keep->allocation = std::move(map);
    keep->known = true;
}
} // namespace

void AssessConditions(VolumeEntry& entry, VolumeClusters* keep)
{
    if (entry.engine == nullptr)
        return;
    const IVolumeEngine& engine = *entry.engine;
    AllocationMap map;
    const bool known = Running() && engine.LoadAllocation(entry, &map) == kOk;

    // The files to judge and the runs of clusters each needs: lists of this pass alone, in an
    // arena (a cluster list per find was a heap block each). Room for every remaining item is
    // made at the first file that needs it, so that the lists are not copied as they grow,
    // and a volume whose files need no clusters touches none.
    ScratchArena scratch;
    std::pmr::vector<std::size_t> judged(scratch.Resource());
    std::pmr::vector<FindClusters> finds(scratch.Resource());
    DataStream stream;
    for (std::size_t i = 0; i < entry.items.size(); ++i)
    {
        FoundItem& item = entry.items[i];
        if (item.attr & kAttrFolder)
            continue;
        // A deep find known to be without data (a name whose record holds another file now)
        // keeps the condition its engine gave it.
        if (item.deep != 0 && item.condition == FindCondition::kOverwritten)
            continue;
        item.condition = FindCondition::kUnknown;
        item.overwrittenPct = 0;
        // A live file's clusters are its own.
        if (item.deleted == 0 && known)
            item.condition = FindCondition::kGood;
        if (item.deleted == 0 || !known || !Running())
            continue;
        // Data the engine knows to lie in the file's record is not described again.
        const bool inRecord = engine.KnownWithoutClusters(entry, item);
        if (!inRecord && DescribeFind(entry, item, &stream) == kStreamUnreadable)
            continue;
        // An NTFS item names its record: a file listed twice is the same data. FAT and exFAT
        // entries have no such identity.
        FindClusters find{0, std::pmr::vector<ClaimedRun>(scratch.Resource())};
        if (item.record != 0)
            find.identity = item.record ^ (u64{item.stream} << 48);
        find.yields = item.yields != 0;
        if (!inRecord && !stream.resident)
            for (const StreamExtent& extent : stream.extents)
                if (!extent.hole && extent.length > 0 && extent.lcn <= ~0ull - extent.length)
                    find.runs.push_back(ClaimedRun{extent.lcn, extent.length});
        // A find that needs no cluster (data inside its record, or none) is good whatever the
        // others claim: judged here rather than kept for the sweep, so that a volume of small
        // files holds no cluster list per find.
        if (find.runs.empty())
        {
            item.condition = item.inferred != 0 ? FindCondition::kInferred : FindCondition::kGood;
            continue;
        }
        if (finds.capacity() == 0)
        {
            judged.reserve(entry.items.size() - i);
            finds.reserve(entry.items.size() - i);
        }
        judged.push_back(i);
        finds.push_back(std::move(find));
    }
    if (!Running())
        return;
    const std::vector<FindJudgement> results = JudgeFinds(map, finds, scratch.Resource());
    for (std::size_t k = 0; k < judged.size(); ++k)
    {
        FoundItem& item = entry.items[judged[k]];
        item.condition = results[k].condition;
        item.overwrittenPct = results[k].overwrittenPct;
        if (item.clipped != 0)
            ClipJudgement(item, engine.ClusterBytes(entry), finds[k]);
        // Clusters worked out around other files' data: likely right, not certain.
        if (item.condition == FindCondition::kGood && item.inferred != 0)
            item.condition = FindCondition::kInferred;
    }
    if (keep != nullptr && known)
        KeepClusters(entry, finds, map, keep);
}
