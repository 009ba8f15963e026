// The content check of the finds over an engine of 64 clusters, with a validator, a header
// match and a layout search of the test's own: which finds are judged, by what type, through
// which bytes, and how a wrong inferred layout is replaced by one that reads back valid.
#include "scan/ContentChecks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "catalog/AllocationMap.h"
#include "catalog/Catalog.h"
#include "catalog/VolumeEngine.h"
#include "disk/Mem_RW.h"
#include "platform/Status.h"
#include "scan/ClusterVolume.h"
#include "scan/FindConditions.h"
#include "scan/VolumeClusters.h"
#include "support/WholeStreamReader.h"

namespace
{
constexpr u64 kCluster = 512;
constexpr u64 kFirstLcn = 2;
constexpr u64 kEndLcn = 66;
constexpr u64 kResidentRecord = 1;    // a find whose data its record holds (100 bytes of 9)
constexpr u64 kCompressedRecord = 2;  // stored coded at its clusters; decoded: 70 then 71
constexpr u64 kHalfWrittenRecord = 3; // only its first cluster was written

// The decoded bytes of a compressed stream: a cluster of 70, then one of 71, in one piece.
std::unique_ptr<IStreamReader> Decoded(u64 size)
{
    std::vector<u8> bytes(size, 70);
    std::fill(bytes.begin() + static_cast<long>(std::min<u64>(size, kCluster)), bytes.end(), 71);
    return std::make_unique<WholeStreamReader>(std::move(bytes));
}

// Cluster c lies at (c - 2) * 512; the search's layouts are the cluster state's assigned runs,
// read as the FAT engine reads them. Clusters 13 and 45 are held by live files.
class FakeEngine final : public IVolumeEngine
{
public:
    bool Open(VolumeEntry&) const override { return true; }
    u32 Search(CCatalog&, VolumeEntry&) const override { return 0; }
    bool Geometry(VolumeEntry&, ClusterGeometry* g) const override
    {
        *g = ClusterGeometry{kCluster, kFirstLcn, kEndLcn, 0};
        return true;
    }
    u32 LoadAllocation(VolumeEntry&, AllocationMap* map) const override
    {
        if (!map->Reset(kEndLcn))
            return kErrNoMemory;
        map->Set(13);
        map->Set(45);
        return kOk;
    }
    void EndSearch(VolumeEntry&) const override {}
    u64 ClusterBytes(const VolumeEntry&) const override { return kCluster; }
    CDirectRW* DataReader(VolumeEntry& entry) const override { return entry.reader.get(); }
    u32 DescribeStream(VolumeEntry& entry, const FoundItem& item, DataStream* out) const override
    {
        *out = DataStream{};
        out->size = item.size;
        out->clusterBytes = kCluster;
        out->firstLcn = kFirstLcn;
        if (item.record == kResidentRecord)
        {
            out->resident = true;
            out->residentBytes.assign(item.size, 9);
            return kOk;
        }
        if (item.record == kCompressedRecord)
            out->compressionUnit = 16;
        if (item.record == kHalfWrittenRecord)
            out->initializedSize = kCluster;
        const u64 wanted = (item.size + kCluster - 1) / kCluster;
        const std::vector<ClusterRun>& runs = ClusterVolumeOf(entry)->assignedRuns;
        u64 vcn = 0;
        for (u32 i = 0; i < item.runCount; ++i)
        {
            const ClusterRun& run = runs.at(item.runsAt + i);
            out->extents.push_back(StreamExtent{vcn, run.first, run.length, false});
            vcn += run.length;
        }
        if (item.runCount == 0 && wanted != 0)
            out->extents.push_back(StreamExtent{0, item.first, wanted, false});
        return kOk;
    }
    std::unique_ptr<IStreamReader> OpenStream(CDirectRW* reader, const DataStream& stream,
                                              u64 chunkBytes) const override
    {
        if (stream.compressionUnit == 0)
            return IVolumeEngine::OpenStream(reader, stream, chunkBytes);
        return Decoded(stream.size);
    }
    u32 ClusterInUse(VolumeEntry&, u64, bool*) const override { return kErrUnsupported; }
    bool FoldersContiguous() const override { return true; }
    void ReleaseItems(VolumeEntry&) const override {}
};

// A file's cluster k holds byte first + k throughout: the test's validator calls the bytes valid
// when they keep to that, and an RTF valid when it begins "{\rtf".
ContentCheck PatternCheck(CarveType type, IContentSource& source)
{
    std::vector<u8> bytes(source.Size());
    ContentCheck check;
    check.type = type;
    check.verdict = FindContent::kDamaged;
    if (source.Read(0, bytes) != bytes.size() || bytes.empty())
        return check;
    bool holds = true;
    if (type == CarveType::kRtf)
        holds = bytes.size() >= 5 && std::memcmp(bytes.data(), "{\\rtf", 5) == 0;
    for (std::size_t i = 0; i < bytes.size() && type != CarveType::kRtf; ++i)
        holds = holds && bytes[i] == static_cast<u8>(bytes[0] + i / kCluster);
    check.verdict = holds ? FindContent::kValid : FindContent::kDamaged;
    return check;
}

CarveType HeadOf(std::span<const u8> head)
{
    const std::string text(head.begin(), head.end());
    if (text.starts_with("{\\rtf"))
        return CarveType::kRtf;
    if (text.starts_with("PK\x03\x04"))
        return CarveType::kZip;
    if (text.starts_with("\x89PNG"))
        return CarveType::kPng;
    return CarveType::kNone;
}

struct Find
{
    const char* name;
    u64 first;
    u64 size;
    std::vector<ClusterRun> runs;  // the search's layout; none: one stretch
    FindContent content;           // expected
    std::vector<ClusterRun> after; // the layout expected after the check
};

// What the layout search saw of the free clusters when it was asked for the find at 20.
struct Seen
{
    std::vector<u64> firsts;
    std::map<u64, bool> freeAt;
};

class ContentChecksTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::vector<u8> image((kEndLcn - kFirstLcn) * kCluster, 0);
        const auto fill = [&](u64 cluster, u8 value)
        { std::memset(image.data() + (cluster - kFirstLcn) * kCluster, value, kCluster); };
        for (const auto& [cluster, value] : std::map<u64, u8>{{10, 100},
                                                              {11, 101},
                                                              {12, 102},
                                                              {13, 7},
                                                              {14, 50},
                                                              {20, 120},
                                                              {21, 121},
                                                              {23, 60},
                                                              {30, 122},
                                                              {31, 123},
                                                              {50, 150},
                                                              {53, 151},
                                                              {55, 155},
                                                              {45, 156}})
            fill(cluster, value);
        std::memcpy(image.data() + (42 - kFirstLcn) * kCluster, "{\\rtf1 letter}", 14);
        entry.engine = &engine;
        entry.reader = std::make_unique<CMem_RW>(std::move(image));
        entry.state = std::make_unique<ClusterVolumeState>();
        ClusterVolumeOf(entry)->clusterCount = kEndLcn - 1;
        g_bRunning = 1;
    }
    void TearDown() override { g_bRunning = 0; }

    FoundItem& Add(const Find& find)
    {
        ClusterVolumeState& state = *ClusterVolumeOf(entry);
        FoundItem item;
        item.path = "C:";
        item.name = find.name;
        item.first = find.first;
        item.size = find.size;
        item.deleted = 1;
        item.attr = 0x20;
        item.runsAt = static_cast<u32>(state.assignedRuns.size());
        item.runCount = static_cast<u32>(find.runs.size());
        item.inferred = find.runs.size() > 0 ? 1 : 0;
        state.assignedRuns.insert(state.assignedRuns.end(), find.runs.begin(), find.runs.end());
        entry.items.push_back(item);
        return entry.items.back();
    }
    std::vector<ClusterRun> RunsOf(const FoundItem& item)
    {
        const auto& runs = ClusterVolumeOf(entry)->assignedRuns;
        return {runs.begin() + item.runsAt, runs.begin() + item.runsAt + item.runCount};
    }
    ContentCheckers Doubles()
    {
        ContentCheckers with;
        with.validate = PatternCheck;
        with.matchHeader = HeadOf;
        with.layOut = [this](CarveType, u64 first, ICarveSpace& space, const GapLimits&, u64 size)
        {
            seen.firsts.push_back(first);
            CarveLayout layout;
            layout.size = size;
            layout.check.verdict = FindContent::kValid;
            if (first == 20)
            {
                for (u64 c : {10, 13, 20, 22, 23, 30})
                    seen.freeAt[c] = space.Free(c);
                layout.runs = {{20, 2}, {30, 2}};
            }
            else if (first == 50) // says valid, but the bytes there are not the file's
                layout.runs = {{50, 1}, {52, 1}};
            else if (first == 55) // the file's bytes, but a live file holds them now
                layout.runs = {{55, 1}, {45, 1}};
            return layout;
        };
        return with;
    }

    FakeEngine engine;
    VolumeEntry entry;
    VolumeClusters clusters;
    Seen seen;
};

TEST_F(ContentChecksTest, JudgesDeletedFindsOfKnownTypesAndLaysOutWrongGuessesAgain)
{
    using K = FindContent;
    const std::vector<Find> finds = {
        {"a.jpg", 10, 1536, {}, K::kValid, {}},
        {"overwritten.jpg", 13, 1024, {}, K::kDamaged, {}},
        {"notes.txt", 10, 1536, {}, K::kNone, {}},  // text is never damaged
        {"data.bin", 10, 1536, {}, K::kNone, {}},   // no validator
        {"empty.jpg", 0, 0, {}, K::kNone, {}},      // nothing to judge
        {"letter.doc", 42, 300, {}, K::kValid, {}}, // an RTF under a .doc name
        {"tiny.gif", 0, 100, {}, K::kValid, {}},    // held in its record
        {"other.jpg", 23, 512, {}, K::kValid, {}},  // claims a cluster of photo's guess
        {"photo.jpg", 20, 2048, {{20, 4}}, K::kValid, {{20, 2}, {30, 2}}},
        {"clip.png", 50, 1024, {{50, 2}}, K::kDamaged, {{50, 2}}},
        {"live.jpg", 13, 1024, {}, K::kNone, {}},
        {"folder.jpg", 13, 1024, {}, K::kNone, {}},
        {"carved.jpg", 13, 1024, {}, K::kNone, {}},
        {"gone.jpg", 13, 1024, {}, K::kNone, {}},    // a deep name without data
        {"packed.jpg", 60, 1024, {}, K::kValid, {}}, // read decoded
        {"half.jpg", 10, 1024, {}, K::kDamaged, {}}, // zeros past what was written
        {"taken.gif", 55, 1024, {{55, 2}}, K::kDamaged, {{55, 2}}},
    };
    for (const Find& find : finds)
        Add(find);
    entry.items[6].record = kResidentRecord;
    entry.items[10].deleted = 0;
    entry.items[11].attr = 0x10;
    entry.items[12].carved = 1;
    entry.items[13].deep = 1;
    entry.items[13].condition = FindCondition::kOverwritten;
    entry.items[14].record = kCompressedRecord;
    entry.items[15].record = kHalfWrittenRecord;

    AssessConditions(entry, &clusters);
    ASSERT_TRUE(clusters.known);
    std::vector<std::pair<std::size_t, std::size_t>> heard;
    CheckContents(entry, clusters, Doubles(),
                  [&heard](std::size_t done, std::size_t total)
                  { heard.emplace_back(done, total); });

    for (std::size_t i = 0; i < finds.size(); ++i)
    {
        const FoundItem& item = entry.items[i];
        EXPECT_EQ(item.Content(), finds[i].content) << finds[i].name;
        EXPECT_EQ(RunsOf(item), finds[i].after) << finds[i].name;
    }
    // Progress counts the finds judged: from none to all of those a validator may read.
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.front(), std::make_pair(std::size_t{0}, std::size_t{10}));
    EXPECT_EQ(heard.back(), std::make_pair(std::size_t{10}, std::size_t{10}));
    EXPECT_TRUE(std::is_sorted(heard.begin(), heard.end()));
    // Laid out again: the damaged guesses alone.
    EXPECT_EQ(seen.firsts, (std::vector<u64>{20, 50, 55}));
    // Its own clusters were free for it, other finds' and live files' not.
    EXPECT_EQ(seen.freeAt,
              (std::map<u64, bool>{
                  {10, false}, {13, false}, {20, true}, {22, true}, {23, false}, {30, true}}));
    // The layout kept is claimed, the guess it replaced given up; the shared cluster stays.
    const FoundItem& photo = entry.items[8];
    EXPECT_EQ(photo.condition, FindCondition::kInferred);
    EXPECT_EQ(photo.inferred, 1u);
    EXPECT_TRUE(clusters.Claimed(30) && clusters.Claimed(31) && clusters.Claimed(23));
    EXPECT_FALSE(clusters.Claimed(22));
    // A layout that does not read back valid is not taken: the guess keeps its claim.
    EXPECT_TRUE(clusters.Claimed(51));
    EXPECT_FALSE(clusters.Claimed(52));
}

TEST_F(ContentChecksTest, TypeToCheckFollowsTheHeaderOfAnotherFamily)
{
    const struct
    {
        const char* name;
        const char* head;
        CarveType type;
    } cases[] = {
        {"a.JPG", "", CarveType::kJpeg},           {"a.jpeg", "\x89PNG", CarveType::kPng},
        {"a.doc", "{\\rtf1", CarveType::kRtf},     {"a.docx", "PK\x03\x04", CarveType::kDocx},
        {"a.txt", "{\\rtf1", CarveType::kNone},    {"noext", "PK\x03\x04", CarveType::kNone},
        {"trailing.", "", CarveType::kNone},       {"a.bin", "\x89PNG", CarveType::kNone},
        {"a.pdf", "plain words", CarveType::kPdf},
    };
    for (const auto& c : cases)
    {
        const std::span<const u8> head(reinterpret_cast<const u8*>(c.head), std::strlen(c.head));
        EXPECT_EQ(TypeToCheck(c.name, head, Doubles()), c.type) << c.name;
    }
}

TEST_F(ContentChecksTest, AStopLeavesTheFindsUnchecked)
{
    Add({"a.jpg", 10, 1536, {}, FindContent::kNone, {}});
    AssessConditions(entry, &clusters);
    g_bRunning = 0;
    CheckContents(entry, clusters, Doubles());
    EXPECT_EQ(entry.items[0].Content(), FindContent::kNone);
}
} // namespace
