// The cluster assignment of deleted finds on small hand-made layouts.
#include "scan/ClusterAssignment.h"

#include "catalog/AllocationMap.h"
#include "scan/FindLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
// A layout: owners of clusters 2, 3, ... as letters ('.' free, 'S' system, '?' unknown, '1' ..
// '9' live file k), the live files' creation times, the finds.
struct Layout
{
    const char* name;
    std::string owners;
    std::vector<u64> liveCreated;
    std::vector<AssignFind> finds;
    std::vector<std::string> expected; // per find: runs "a-b,c", or "" for none
    std::vector<u32> overwritten;      // per find; empty: all 0
};

std::string RunsText(const AssignOutput& out, std::size_t find)
{
    const AssignResult& r = out.results[find];
    std::string text;
    for (u32 i = 0; i < r.runCount; ++i)
    {
        const ClusterRun& run = out.runs[r.runsAt + i];
        if (!text.empty())
            text += ",";
        text += std::to_string(run.first);
        if (run.length > 1)
            text += "-" + std::to_string(run.first + run.length - 1);
    }
    return text;
}

// The input of a layout: the allocation map (kept by the caller), the reach of the finds over
// it, and the owners of the clusters in use.
AssignInput MakeInput(const Layout& layout, AllocationMap& map)
{
    AssignInput in;
    in.firstCluster = 2;
    in.lastCluster = static_cast<u32>(layout.owners.size() + 1);
    EXPECT_TRUE(map.Reset(in.lastCluster + 1));
    for (std::size_t i = 0; i < layout.owners.size(); ++i)
        if (layout.owners[i] != '.')
            map.Set(i + 2);
    in.liveCreated.assign(layout.liveCreated.begin(), layout.liveCreated.end());
    in.finds.assign(layout.finds.begin(), layout.finds.end());
    std::vector<ReachStart> starts;
    for (const AssignFind& find : layout.finds)
        starts.push_back({find.first, find.clusters});
    std::sort(starts.begin(), starts.end(),
              [](const ReachStart& a, const ReachStart& b) { return a.first < b.first; });
    EXPECT_TRUE(in.reach.Build(map, in.firstCluster, in.lastCluster, starts));
    for (std::size_t i = 0; i < layout.owners.size(); ++i)
    {
        const char o = layout.owners[i];
        if (o != '.')
            (void)in.reach.Set(i + 2, o == 'S'   ? kOwnerSystem
                                      : o == '?' ? kOwnerUnknown
                                                 : static_cast<u32>(o - '0'));
    }
    return in;
}

constexpr u64 kT = 1000000; // some creation time; later ones add to it
} // namespace

TEST(ClusterAssignment, HandMadeLayouts)
{
    const std::vector<Layout> layouts = {
        {"contiguous", "........", {}, {{2, 3, kT, false}}, {"2-4"}, {}},
        {"single-cluster file in the gap",
         "........",
         {},
         {{2, 3, kT + 500, false}, {3, 1, kT, false}},
         {"2,4-5", "3"},
         {}},
        {"multi-cluster file in the gap, no times",
         "..........",
         {},
         {{2, 4, kNoTime, false}, {4, 2, kNoTime, false}},
         {"2-3,6-7", "4-5"},
         {}},
        {"multi-cluster file in the gap, created before",
         "..........",
         {},
         {{2, 4, kT + 900, false}, {4, 2, kT, false}},
         {"2-3,6-7", "4-5"},
         {}},
        {"ABAB written at once",
         "..........",
         {},
         {{2, 3, kT, false}, {3, 3, kT + 4, false}},
         {"2,4,6", "3,5,7"},
         {}},
        {"ABAB without times keeps the fewest gaps",
         "..........",
         {},
         {{2, 3, kNoTime, false}, {3, 3, kNoTime, false}},
         {"2,6-7", "3-5"},
         {}},
        {"three written at once",
         "............",
         {},
         {{2, 2, kT, false}, {3, 2, kT + 1, false}, {4, 2, kT + 2, false}},
         {"2,5", "3,6", "4,7"},
         {}},
        {"interleaved pair around a live file created before",
         "..1.......",
         {kT - 100},
         {{2, 3, kT, false}, {3, 3, kT + 2, false}},
         {"2,5,7", "3,6,8"},
         {}},
        {"live file created before is stepped over",
         ".11.....",
         {kT - 100},
         {{2, 3, kT, false}},
         {"2,5-6"},
         {}},
        {"live file created the same second is stepped over",
         ".1......",
         {kT},
         {{2, 3, kT, false}},
         {"2,4-5"},
         {}},
        {"live file created after overwrote the file",
         ".11.....",
         {kT + 100},
         {{2, 4, kT, false}},
         {"2-5"},
         {2}},
        {"live file without a time overwrote the file",
         ".1......",
         {kNoTime},
         {{2, 3, kT, false}},
         {"2-4"},
         {1}},
        {"find without a time, live file with one",
         ".1......",
         {kT},
         {{2, 3, kNoTime, false}},
         {"2-4"},
         {1}},
        {"unknown owner counts as overwritten, system is stepped over",
         ".?S.....",
         {},
         {{2, 4, kT, false}},
         {"2-3,5-6"},
         {1}},
        {"overwritten first cluster", "1.......", {kT - 100}, {{2, 2, kT, false}}, {"2-3"}, {1}},
        {"a later find's first cluster blocks",
         "........",
         {},
         {{2, 2, kT, false}, {3, 1, kT + 100000, false}},
         {"2,4", "3"},
         {}},
        {"clusters beyond the volume", "....", {}, {{4, 4, kT, false}}, {"4-5"}, {}},
        {"first cluster outside the volume",
         "....",
         {},
         {{1, 2, kT, false}, {6, 2, kT, false}, {3, 0, kT, false}},
         {"", "", ""},
         {}},
        {"shared first cluster: the newer entry takes it",
         "........",
         {},
         {{2, 3, kT, false}, {2, 3, kT + 100, false}},
         {"", "2-4"},
         {}},
        {"a run known contiguous is taken first",
         "..........",
         {},
         {{2, 4, kNoTime, false}, {4, 2, kNoTime, true}},
         {"2-3,6-7", "4-5"},
         {}},
        {"fragmented file inside a deleted folder",
         "...1......",
         {kT - 100},
         {{2, 1, kT, false}, {3, 3, kT + 10, false}},
         {"2", "3-4,6"},
         {}},
    };
    for (const Layout& layout : layouts)
    {
        SCOPED_TRACE(layout.name);
        AllocationMap map;
        const AssignOutput out = AssignClusters(MakeInput(layout, map));
        ASSERT_EQ(out.results.size(), layout.finds.size());
        for (std::size_t f = 0; f < layout.finds.size(); ++f)
        {
            EXPECT_EQ(RunsText(out, f), layout.expected[f]) << "find " << f;
            const u32 over = layout.overwritten.empty() ? 0 : layout.overwritten[f];
            EXPECT_EQ(out.results[f].overwritten, over) << "find " << f;
            EXPECT_EQ(out.results[f].inferred, out.results[f].runCount > 1);
        }
    }
}

// Layouts as an allocator handing out the lowest free cluster would have written them, each
// with the one layout the evidence allows. Flags per find: 'y' yields its shared clusters,
// 'c' clipped, 'i' inferred.
TEST(ClusterAssignment, LayoutsAsWritten)
{
    struct Case
    {
        const char* name;
        std::string owners;
        std::vector<u64> liveCreated;
        std::vector<AssignFind> finds;
        std::vector<std::string> expected;
        std::vector<std::string> flags; // empty: none set
        std::vector<u32> overwritten;   // empty: all 0
    };
    // Ten files copied one after the other in a minute, created 6 s apart; the first was
    // written over the start of an older deleted file (clusters 5-6), and the sixth goes
    // around a live file at 17.
    std::vector<AssignFind> batch = {{5, 2, kT - 86400, false}};
    const u64 firsts[10] = {2, 6, 8, 12, 15, 16, 19, 22, 24, 25};
    const u64 sizes[10] = {4, 2, 4, 3, 1, 2, 3, 2, 1, 3};
    for (u64 k = 0; k < 10; ++k)
        batch.push_back({firsts[k], sizes[k], kT + 6 * k, false});
    const std::vector<std::string> batchRuns = {"5-6",   "2-5",   "6-7",   "8-11", "12-14", "15",
                                                "16,18", "19-21", "22-23", "24",   "25-27"};
    std::string batchOwners(30, '.');
    batchOwners[17 - 2] = '1';
    std::vector<std::string> batchFlags(11, "");
    batchFlags[0] = "y";
    batchFlags[6] = "i";
    std::vector<u32> batchOver(11, 0);
    batchOver[0] = 2;
    const std::vector<Case> cases = {
        {"A fragmented around B in a deleted folder",
         std::string(30, '.'),
         {},
         {{16, 1, kT - 60, false}, {17, 2, kT, false}, {18, 2, kT + 30, false}},
         {"16", "17,20", "18-19"},
         {"", "i", ""},
         {}},
        {"middle file deleted, then a bigger one written over it",
         "11..22......",
         {kT, kT + 120},
         {{4, 2, kT + 60, false}, {4, 3, kT + 600, false}},
         {"", "4-5,8"},
         {"", "i"},
         {}},
        {"two downloads interleaved",
         std::string(12, '.'),
         {},
         {{2, 3, kT, false}, {3, 3, kT + 2, false}},
         {"2,4,6", "3,5,7"},
         {"i", "i"},
         {}},
        {"a file around a live file",
         "..11......",
         {kT - 600},
         {{2, 4, kT, false}},
         {"2-3,6-7"},
         {"i"},
         {}},
        {"ten files copied in one minute",
         batchOwners,
         {kT - 600},
         batch,
         batchRuns,
         batchFlags,
         batchOver},
        {"a deleted file written over an older deleted one",
         std::string(20, '.'),
         {},
         {{10, 4, kT, false}, {9, 4, kT + 3600, false}},
         {"10-13", "9-12"},
         {"y", ""},
         {3, 0}},
        {"a size the volume cannot hold takes nothing from a later find",
         std::string(30, '.'),
         {},
         {{4, 1000, kT, false}, {14, 3, kT + 12, false}},
         {"4-13", "14-16"},
         {"yc", ""},
         {}},
        {"a clipped find stops at the first cluster in use",
         "...1....",
         {kT - 600},
         {{3, 1000, kT, false}},
         {"3-4"},
         {"yc"},
         {}},
        {"equally good layouts fall back to the plain read",
         "..1.......",
         {kT - 600},
         {{2, 2, kT, false}, {3, 2, kT + 3600, false}},
         {"", ""},
         {"yi", "yi"},
         {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        AllocationMap map;
        const AssignOutput out = AssignClusters(
            MakeInput(Layout{c.name, c.owners, c.liveCreated, c.finds, {}, {}}, map));
        ASSERT_EQ(out.results.size(), c.finds.size());
        for (std::size_t f = 0; f < c.finds.size(); ++f)
        {
            const AssignResult& r = out.results[f];
            EXPECT_EQ(RunsText(out, f), c.expected[f]) << "find " << f;
            std::string flags;
            flags += r.yields ? "y" : "";
            flags += r.clipped ? "c" : "";
            flags += r.inferred ? "i" : "";
            EXPECT_EQ(flags, c.flags.empty() ? "" : c.flags[f]) << "find " << f;
            EXPECT_EQ(r.overwritten, c.overwritten.empty() ? 0 : c.overwritten[f]) << "find " << f;
        }
    }
}

TEST(ClusterAssignment, SharedAndClippedFlags)
{
    AllocationMap map;
    const AssignOutput out = AssignClusters(MakeInput(
        Layout{"", "....", {}, {{2, 9, kT, false}, {2, 1, kNoTime, false}}, {}, {}}, map));
    EXPECT_EQ(out.results[0].clusters, 4u);
    EXPECT_FALSE(out.results[0].shared);
    EXPECT_TRUE(out.results[1].shared);
    EXPECT_EQ(out.results[1].runCount, 0u);
}

TEST(ClusterAssignment, TimeKey)
{
    EXPECT_EQ(TimeKey(FoundTime{}), kNoTime);
    EXPECT_EQ(TimeKey(FoundTime{1980, 1, 1, 0, 0, 0}), kNoTime); // a zero DOS date and time
    const u64 a = TimeKey(FoundTime{2024, 2, 29, 23, 59, 59});
    const u64 b = TimeKey(FoundTime{2024, 3, 1, 0, 0, 0});
    EXPECT_NE(a, kNoTime);
    EXPECT_EQ(b - a, 1u);
    EXPECT_EQ(TimeKey(FoundTime{1601, 1, 1, 0, 0, 0}), 1u);
    EXPECT_EQ(TimeKey(FoundTime{2024, 13, 1, 0, 0, 0}), kNoTime);
}

// The assignment's state follows the finds and their reach, never the volume: a volume of 2^28
// clusters (2 TiB at 8 KiB) keeps a few clusters' worth for a few finds.
TEST(ClusterReach, FollowsTheFindsNotTheVolume)
{
    constexpr u64 kLast = (u64{1} << 28) + 1;
    AllocationMap map;
    ASSERT_TRUE(map.Reset(kLast + 1));
    for (u64 c = 5001; c <= 5100; ++c)
        map.Set(c); // a live file
    struct Case
    {
        const char* what;
        std::vector<ReachStart> starts;
        u64 size;
    };
    const Case cases[] = {
        {"no finds", {}, 0},
        {"one find of three clusters", {{1000, 3}}, 3},
        {"a size the volume cannot hold", {{1000, u64{1} << 40}}, 1},
        {"close finds share a window", {{1000, 4}, {1002, 2}}, 6},
        {"a find reaches over a live file", {{5000, 3}}, 103},
        {"a find in use at the end", {{kLast, 1}}, 1},
    };
    for (const Case& c : cases)
    {
        ClusterReach reach;
        ASSERT_TRUE(reach.Build(map, 2, kLast, c.starts)) << c.what;
        EXPECT_EQ(reach.Size(), c.size) << c.what;
    }
}
