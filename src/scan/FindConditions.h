// The condition of the finds: whether the clusters a recovery would read for each file are
// still free, and not claimed by another find, in the volume's allocation state.
#pragma once

#include <memory_resource>
#include <span>
#include <vector>

#include "platform/Types.h"
#include "records/FoundItem.h"

class AllocationMap;
struct VolumeClusters;
struct VolumeEntry;

// A stretch of clusters on the volume.
struct ClaimedRun
{
    u64 lcn = 0;
    u64 length = 0;
};

// The clusters one find's data needs, in stream order (holes left out).
struct FindClusters
{
    u64 identity = 0; // finds of one equal identity other than 0 are the same data seen twice
    std::pmr::vector<ClaimedRun> runs;
    // Its claim gives way: a cluster it shares with a find whose claim does not is damaged for
    // it alone (a later file was written there, as the cluster layout tells).
    bool yields = false;
};

// What the clusters of one find say.
struct FindJudgement
{
    FindCondition condition = FindCondition::kNotJudged;
    u8 overwrittenPct = 0;
};

// Judges finds (a find without runs judges good). A cluster is damaged for a find when a live
// file holds it, or when another find claims it: two deleted files that claim one cluster
// cannot both hold their data there, and which of them was written there last cannot be told
// from the clusters (a new file of the same length put on the same clusters claims exactly the
// same runs), so the shared clusters count against each. Only finds of one identity with the
// same runs (one file seen twice) count once; a find that yields loses the clusters it shares
// with one that does not, which keeps them undamaged. Per find: overwritten when a live file holds
// its first cluster or all of them, partial when any cluster is damaged (also when all of them are,
// by other finds alone), good otherwise; overwrittenPct is the share of damaged clusters, rounded
// up so that one damaged cluster of many still shows. The working lists take their memory from
// scratch.
[[nodiscard]] std::vector<FindJudgement>
JudgeFinds(const AllocationMap& map, std::span<const FindClusters> finds,
           std::pmr::memory_resource* scratch = std::pmr::get_default_resource());

// Sets the condition of every deleted file of entry (folders are not judged): loads the
// volume's allocation state through its engine and asks the engine where each file's data
// lies. Without the allocation state every file is unknown; a stop through the run flag leaves
// the files not yet judged unknown. Called by the search thread after Search, before
// EndSearch. With keep, the allocation state, the engine's geometry and the clusters the deleted
// files' layouts claim are handed to *keep for the content checks and carving that follow.
void AssessConditions(VolumeEntry& entry, VolumeClusters* keep = nullptr);
