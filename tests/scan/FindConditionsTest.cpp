// The condition of the finds: the judgement over an allocation map (a table of cluster
// layouts), and whole searches of volumes whose deleted files had their clusters taken again,
// with the NTFS $Bitmap cross-checked against The Sleuth Kit.
#include "scan/FindConditions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <thread>

#include "catalog/AllocationMap.h"
#include "catalog/Catalog.h"
#include "catalog/VolumeEngine.h"
#include "disk/Faulty_RW.h"
#include "platform/ByteOrder.h"
#include "platform/DriveTable.h"
#include "platform/EventSink.h"
#include "platform/Status.h"
#include "scan/FatScanSupport.h"
#include "scan/fat/FatEngine.h"
#include "scan/fat/FatOwners.h"
#include "scan/ntfs/NtfsEngine.h"
#include "support/TestImages.h"

namespace
{
using C = FindCondition;

struct Expected
{
    C condition;
    u8 pct;
};

struct JudgeCase
{
    const char* what;
    std::vector<u64> inUse; // clusters of live files in a map of 64
    std::vector<FindClusters> finds;
    std::vector<Expected> expected;
};

TEST(FindConditionsTest, JudgesClustersAgainstLiveFilesAndOtherFinds)
{
    const std::vector<JudgeCase> cases = {
        {"no clusters (resident or empty)", {}, {{0, {}}}, {{C::kGood, 0}}},
        {"free and unclaimed", {9}, {{0, {{10, 4}}}}, {{C::kGood, 0}}},
        {"all live", {10, 11}, {{0, {{10, 2}}}}, {{C::kOverwritten, 100}}},
        {"first cluster live", {10}, {{0, {{10, 4}}}}, {{C::kOverwritten, 25}}},
        {"last half live", {12, 13}, {{0, {{10, 4}}}}, {{C::kPartial, 50}}},
        {"one of three, rounded up", {12}, {{0, {{10, 3}}}}, {{C::kPartial, 34}}},
        {"second run live", {20, 21}, {{0, {{10, 2}, {20, 2}}}}, {{C::kPartial, 50}}},
        {"two finds overlap",
         {},
         {{0, {{10, 4}}}, {0, {{12, 4}}}},
         {{C::kPartial, 50}, {C::kPartial, 50}}},
        {"same runs, no identity",
         {},
         {{0, {{10, 2}}}, {0, {{10, 2}}}},
         {{C::kPartial, 100}, {C::kPartial, 100}}},
        {"one file seen twice",
         {},
         {{7, {{10, 2}}}, {7, {{10, 2}}}},
         {{C::kGood, 0}, {C::kGood, 0}}},
        {"same identity, other runs",
         {},
         {{7, {{10, 2}}}, {7, {{11, 2}}}},
         {{C::kPartial, 50}, {C::kPartial, 50}}},
        {"touching runs", {}, {{0, {{20, 2}}}, {0, {{22, 2}}}}, {{C::kGood, 0}, {C::kGood, 0}}},
        {"three claims, one stretch",
         {},
         {{0, {{10, 4}}}, {0, {{11, 1}}}, {0, {{13, 1}}}},
         {{C::kPartial, 50}, {C::kPartial, 100}, {C::kPartial, 100}}},
        {"live and claimed count once",
         {32},
         {{0, {{30, 4}}}, {0, {{32, 2}}}},
         {{C::kPartial, 50}, {C::kOverwritten, 100}}},
        {"past the volume's end", {}, {{0, {{63, 2}}}}, {{C::kPartial, 50}}},
    };
    for (const JudgeCase& c : cases)
    {
        AllocationMap map;
        ASSERT_TRUE(map.Reset(64));
        for (const u64 cluster : c.inUse)
            map.Set(cluster);
        const std::vector<FindJudgement> judged = JudgeFinds(map, c.finds);
        ASSERT_EQ(judged.size(), c.expected.size()) << c.what;
        for (std::size_t i = 0; i < judged.size(); ++i)
        {
            EXPECT_EQ(judged[i].condition, c.expected[i].condition) << c.what << ", find " << i;
            EXPECT_EQ(judged[i].overwrittenPct, c.expected[i].pct) << c.what << ", find " << i;
        }
    }
}

TEST(FindConditionsTest, MapCountsWordsAndEdges)
{
    AllocationMap map;
    ASSERT_TRUE(map.Reset(200));
    for (u64 n = 0; n < 200; n += 3)
        map.Set(n);
    for (const auto& [first, count] : std::vector<std::pair<u64, u64>>{
             {0, 200}, {1, 130}, {64, 64}, {5, 3}, {190, 20}, {250, 4}})
    {
        u64 expected = 0;
        for (u64 n = first; n < first + count; ++n)
            expected += (n >= 200 || n % 3 == 0) ? 1 : 0;
        EXPECT_EQ(map.CountInUse(first, count), expected) << first << "+" << count;
    }
}

class FinishSink final : public IEventSink
{
public:
    void Post(u32 message, u32 code, const std::string&, u32) override
    {
        if (message == WM_SCAN_NOTIFY && code == 2)
            finished = true;
    }
    std::atomic<bool> finished{false};
};

struct ImageCase
{
    const char* image;
    const char* fileSystem;
    const char* path;
    const char* name;
    Expected expected;
};

TEST(FindConditionsTest, SearchJudgesReusedClusters)
{
    const std::vector<ImageCase> cases = {
        {"cond-fat", "FAT12", "C:\\DEL", "_EEP.TXT", {C::kGood, 0}},
        {"cond-fat", "FAT12", "C:\\DEL", "_VER.TXT", {C::kOverwritten, 100}},
        {"cond-fat", "FAT12", "C:\\DEL", "_ART.TXT", {C::kPartial, 50}},
        {"cond-fat", "FAT12", "C:\\DEL", "_AME.TXT", {C::kPartial, 100}},
        {"cond-fat", "FAT12", "C:\\OLD", "_ATE.TXT", {C::kPartial, 100}},
        {"cond-ntfs", "NTFS", "C:\\del", "over.bin", {C::kOverwritten, 100}},
        {"cond-ntfs", "NTFS", "C:\\del", "keep.bin", {C::kGood, 0}},
        {"cond-ntfs", "NTFS", "C:\\del", "tiny.txt", {C::kGood, 0}},
    };
    std::string searched;
    CCatalog catalog;
    FinishSink sink;
    catalog.m_sink = &sink;
    for (const ImageCase& c : cases)
    {
        if (searched != c.image)
        {
            catalog.StopWorkers(false);
            g_DriveTable.Clear();
            const std::string path = TestImage(c.image);
            ASSERT_FALSE(path.empty());
            DriveSource source;
            source.drive = "C:";
            source.path = path;
            source.fileSystem = c.fileSystem;
            g_DriveTable.Register(source);
            sink.finished = false;
            ASSERT_EQ(catalog.StartSearch("C:"), kOk);
            for (int i = 0; i < 1200 && !sink.finished; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ASSERT_TRUE(sink.finished) << c.image << ": the search never finished";
            searched = c.image;
            // Folders are not judged.
            for (const FoundItem& item : catalog.m_volumes[0].items)
            {
                if (item.attr & 0x10)
                {
                    EXPECT_EQ(item.condition, C::kNotJudged) << item.name;
                }
            }
        }
        const FoundItem* found = nullptr;
        for (const FoundItem& item : catalog.m_volumes[0].items)
            if (item.path == c.path && item.name == c.name)
                found = &item;
        ASSERT_NE(found, nullptr) << c.image << " " << c.path << "\\" << c.name;
        EXPECT_EQ(found->condition, c.expected.condition) << c.path << "\\" << c.name;
        EXPECT_EQ(found->overwrittenPct, c.expected.pct) << c.path << "\\" << c.name;
    }
    catalog.StopWorkers(false);
    catalog.m_sink = nullptr;
    g_DriveTable.Clear();
}

// The FAT's map, built a block of entries at a time, against the entries read one by one.
TEST(FindConditionsTest, FatMapHoldsEveryClusterWhoseEntryIsSet)
{
    for (const char* name : {"cond-fat", "fat16", "fat32", "fatbigdel32"})
    {
        std::vector<u8> image = ReadImage(TestImage(name));
        ASSERT_GT(image.size(), 512u) << name;
        if (std::string(name) == "fatbigdel32")
        {
            // Clusters in use where the pass's blocks of 4,096 entries meet, and the volume's
            // last one.
            const std::size_t fat = std::size_t{LoadLe16(&image[14])} * LoadLe16(&image[11]);
            const u32 clusters =
                (LoadLe32(&image[32]) - LoadLe16(&image[14]) - image[16] * LoadLe32(&image[36])) /
                image[13];
            for (const u32 c : {4096u, 4097u, 8193u, 8194u, clusters + 1})
                StoreLe32(&image[fat + 4 * std::size_t{c}], 0x0FFFFFFF);
        }
        VolumeEntry volume;
        ASSERT_TRUE(OpenFatVolume(std::move(image), volume)) << name;
        FatVolumeState& state = *FatStateOf(volume);
        FatTable& table = *state.table;
        g_bRunning = 1;
        // The map as the condition pass works it out, then as the owner pass does beside the
        // walk and hands it over.
        AllocationMap direct;
        ASSERT_EQ(FatEngine().LoadAllocation(volume, &direct), kOk) << name;
        ASSERT_TRUE(table.KeepInMemory(u64{64} << 20) && table.LoadAllSegments()) << name;
        AllocationMap ahead;
        {
            FatOwnerPass pass;
            pass.Start(state);
            ASSERT_TRUE(pass.TakeAllocation(&ahead)) << name;
        }
        state.allocation = std::make_unique<AllocationMap>(std::move(ahead));
        AllocationMap handed;
        ASSERT_EQ(FatEngine().LoadAllocation(volume, &handed), kOk) << name;
        EXPECT_EQ(state.allocation, nullptr) << name;
        g_bRunning = 0;
        for (const AllocationMap* map : {&direct, &handed})
        {
            ASSERT_EQ(map->Clusters(), u64{table.ClusterLimit()} + 1) << name;
            EXPECT_TRUE(map->InUse(0) && map->InUse(1)) << name;
            u64 used = 0;
            for (u32 c = 2; c <= table.ClusterLimit(); ++c)
            {
                ASSERT_EQ(map->InUse(c), table.GetEntry(c) != 0) << name << " cluster " << c;
                used += map->InUse(c) ? 1 : 0;
            }
            EXPECT_GT(used, 0u) << name;
        }
    }
}

// A FAT that cannot be read for the most part (a device that fails after the FAT's first
// sector) gives no allocation map, and stops asking soon: the finds' condition is unknown, not
// judged against entries that were never read, and a failing disk is not read again for every
// one of its clusters.
TEST(FindConditionsTest, FatMostlyUnreadableGivesNoMap)
{
    std::vector<u8> image = ReadImage(TestImage("fatbigdel32"));
    ASSERT_GT(image.size(), 512u);
    VolumeEntry volume;
    auto faulty = std::make_unique<CFaulty_RW>(std::move(image));
    CFaulty_RW& device = *faulty;
    ASSERT_TRUE(OpenFatVolume(std::move(faulty), volume));
    ASSERT_GT(FatStateOf(volume)->table->ClusterLimit(), 4u * 4096);
    device.FailAfter(0);
    g_bRunning = 1;
    AllocationMap map;
    EXPECT_EQ(FatEngine().LoadAllocation(volume, &map), kErrUnsupported);
    g_bRunning = 0;
    EXPECT_EQ(map.Clusters(), 0u);
    EXPECT_LT(device.FaultCount(), 3u * 4096);
}

TEST(FindConditionsTest, NtfsBitmapAgreesWithSleuthKit)
{
    const std::string path = TestImage("cond-ntfs");
    ASSERT_FALSE(path.empty());
    g_DriveTable.Clear();
    DriveSource source;
    source.drive = "C:";
    source.path = path;
    source.fileSystem = "NTFS";
    g_DriveTable.Register(source);
    VolumeEntry entry;
    entry.name = "C:";
    ASSERT_TRUE(NtfsEngine().Open(entry));
    g_bRunning = 1;
    AllocationMap map;
    ASSERT_EQ(NtfsEngine().LoadAllocation(entry, &map), kOk);
    g_bRunning = 0;

    // blkls -l -e lists every cluster as "address|a" or "address|f".
    std::string listing;
    ASSERT_EQ(RunCommand("blkls -l -e '" + path + "'", &listing), 0);
    std::istringstream lines(listing);
    std::string line;
    u64 compared = 0;
    while (std::getline(lines, line))
    {
        const std::size_t bar = line.find('|');
        if (bar == std::string::npos || line.empty() || line[0] < '0' || line[0] > '9')
            continue;
        const u64 cluster = std::stoull(line.substr(0, bar));
        const bool allocated = line.substr(bar + 1) == "a";
        ASSERT_EQ(map.InUse(cluster), allocated) << "cluster " << cluster;
        // The engine's own answer, one cluster at a time, at a sample of clusters.
        if (cluster % 97 == 0 || (cluster >= 2556 && cluster <= 2570))
        {
            bool inUse = !allocated;
            ASSERT_EQ(NtfsEngine().ClusterInUse(entry, cluster, &inUse), kOk);
            EXPECT_EQ(inUse, allocated) << "cluster " << cluster;
        }
        ++compared;
    }
    EXPECT_EQ(compared, map.Clusters());
    g_DriveTable.Clear();
}
} // namespace
