// Which clusters each deleted file of a FAT or exFAT volume most likely had: the layout of all
// the deleted finds of the volume together with the fewest gaps, stepping over what live files
// created earlier hold.
#pragma once

#include <memory_resource>
#include <vector>

#include "platform/Types.h"
#include "records/FoundItem.h"
#include "scan/ClusterReach.h"

// Creation times compare as seconds; 0 means the time is missing.
inline constexpr u64 kNoTime = 0;

// One deleted find as the sweep sees it.
struct AssignFind
{
    u64 first = 0;           // first cluster
    u64 clusters = 0;        // clusters its size needs
    u64 created = kNoTime;   // creation time in seconds
    bool contiguous = false; // its clusters are known to be one run (exFAT NoFatChain)
};

struct AssignInput
{
    // The lists take their memory, and the sweep its working lists and the results, from
    // memory (a ScratchArena's for a volume's assignment).
    explicit AssignInput(std::pmr::memory_resource* memory = std::pmr::get_default_resource())
        : reach(memory), liveCreated(memory), finds(memory)
    {
    }

    u32 firstCluster = 2; // the volume's clusters are firstCluster .. lastCluster
    u32 lastCluster = 0;
    // The owner of each cluster the finds reach (built for these finds): kOwnerFree,
    // kOwnerSystem, kOwnerUnknown, or k for the live file liveCreated[k - 1]. A cluster in use
    // outside its windows counts as unknown.
    ClusterReach reach;
    std::pmr::vector<u64> liveCreated; // creation time of each live file; kNoTime when missing
    std::pmr::vector<AssignFind> finds;
};

// What the sweep gave one find.
struct AssignResult
{
    u32 runsAt = 0;        // its first run in AssignOutput::runs
    u32 runCount = 0;      // 0: nothing given (first cluster outside the volume, or shared)
    u64 clusters = 0;      // clusters given; fewer than asked when the volume ran out
    u32 overwritten = 0;   // given clusters now held by live (or unknown) files or later finds
    bool shared = false;   // another find with the same first cluster took it
    bool inferred = false; // the clusters are not one run, or the layout could not be told
    // Its clusters count as another find's where both claim them: a later find was written
    // over part of it, or it is read as one stretch from its first cluster because two layouts
    // were equally good (runCount 0 then), or it is clipped.
    bool yields = false;
    // The volume cannot hold its size: it has the free clusters from its first one up to the
    // first one in use or held by another find, and no more.
    bool clipped = false;
};

struct AssignOutput
{
    explicit AssignOutput(std::pmr::memory_resource* memory = std::pmr::get_default_resource())
        : results(memory)
    {
    }

    std::vector<ClusterRun> runs;           // the runs of every find, each find's together
    std::pmr::vector<AssignResult> results; // parallel to AssignInput::finds, in its memory
};

// Two finds count as written at once (two downloads running together), and their clusters
// alternate, when the later one's first cluster lies inside the earlier one's own stretch
// (had the earlier been finished, it would have had that cluster) and their creation times lie
// within this many seconds (two downloads started together). Times in the same minute tell
// nothing more: a batch copy writes many files in one minute, one after the other.
inline constexpr u64 kConcurrentSeconds = 5;
// Active finds the sweep weighs for each cluster, and earlier finds a find is compared with for
// writing at once: the most recently started ones.
inline constexpr u32 kLookBack = 8;

// Assigns the clusters of every find. Never fails: finds the volume cannot serve get fewer
// clusters or none.
//
// The rules every layout keeps: a find's clusters start at its first cluster and go forward; no
// cluster goes to two finds, except where a later find was written over an earlier one; a
// cluster held by a live file created before the find (or in the same second) was never the
// find's and is stepped over, while one held by a live file created after it, or when a time is
// missing, was probably the find's and is now overwritten (given, and counted).
//
// 1. A find whose size is more than the free clusters from its first one to the end of the
//    volume can hold is clipped: its size is wrong, so it says nothing of where its clusters
//    lie. It takes part last, and takes no cluster another find has (step 4).
// 2. A find whose own stretch (from its first cluster, as many clusters as its size needs) is
//    free and holds no other find's first cluster takes exactly that stretch: zero gaps is the
//    strongest evidence there is. Files known to be one run (exFAT NoFatChain) take theirs too.
//    A later find's stretch may hold an earlier find's first cluster when the earlier one
//    reaches past its end: the later file was written over the start of the earlier one, which
//    keeps its stretch and counts the shared clusters overwritten. An earlier find lying wholly
//    inside a later one's stretch is stepped around instead: with it the later find has one
//    gap, without it a whole file would be lost, and a lost file weighs more than a gap.
// 3. The rest are laid out by a forward sweep that hands each free cluster to one of the
//    started, unfinished finds: among finds written at once (see kConcurrentSeconds) to the
//    one that waited longest, so that their clusters alternate; else to the one that continues
//    without a gap (it had the cluster before). When neither tells, the layouts are equally
//    good: the finds weighed are read as one stretch from their first cluster and marked
//    inferred.
// 4. The clipped finds take the free clusters from their first one on, up to the first one in
//    use or held by another find.
//
// Cost: sorting the finds, O(F log F); the stretches of step 2 and the sweep of step 3 visit
// each cluster the finds reach a bounded number of times, O(R * kLookBack). Memory: the reach
// (ClusterReach.h), a bit per cluster of it, and the runs.
[[nodiscard]] AssignOutput AssignClusters(const AssignInput& input);
