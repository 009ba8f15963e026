// The carving step of the deep search with its header matcher, layout and text check replaced by
// doubles: which candidates become files, which clusters each takes, the text files, and the
// finds listed for them.
#include "scan/Carving.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "catalog/Catalog.h"
#include "catalog/FindStream.h"

namespace
{
constexpr u64 kCluster = 64;

// Clusters 2 .. 2 + count - 1 in memory; a cluster is free unless marked used or taken.
class FakeSpace final : public ICarveSpace
{
public:
    explicit FakeSpace(u64 count) : m_bytes(count * kCluster, 0), m_used(count, false) {}
    [[nodiscard]] u64 ClusterBytes() const override { return kCluster; }
    [[nodiscard]] u64 FirstCluster() const override { return 2; }
    [[nodiscard]] u64 EndCluster() const override { return 2 + m_used.size(); }
    [[nodiscard]] bool Free(u64 c) const override
    {
        return c >= 2 && c < EndCluster() && !m_used[c - 2];
    }
    [[nodiscard]] std::size_t ReadClusters(u64 c, u64 count, std::span<u8> out) override
    {
        if (c < 2 || c >= EndCluster())
            return 0;
        const std::size_t n = static_cast<std::size_t>(
            std::min<u64>({count * kCluster, out.size(), (EndCluster() - c) * kCluster}));
        std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>((c - 2) * kCluster), n,
                    out.begin());
        return n;
    }
    void Use(u64 c) { m_used[c - 2] = true; }
    void Write(u64 c, std::string_view text, u64 at = 0)
    {
        std::copy(text.begin(), text.end(),
                  m_bytes.begin() + static_cast<std::ptrdiff_t>((c - 2) * kCluster + at));
    }
    void Take(std::span<const CarveRun> runs)
    {
        for (const CarveRun& run : runs)
            for (u64 c = run.first; c < run.first + run.length; ++c)
                Use(c);
    }

private:
    std::vector<u8> m_bytes;
    std::vector<bool> m_used;
};

CarveLayout Layout(CarveType type, std::vector<CarveRun> runs, u64 size, FindContent verdict,
                   u64 validBytes)
{
    CarveLayout layout;
    layout.runs = std::move(runs);
    layout.size = size;
    layout.check.verdict = verdict;
    layout.check.validBytes = validBytes;
    layout.check.type = type;
    return layout;
}

struct CarveRunResult
{
    std::vector<CarveLayout> layouts;
    std::vector<u64> laidOut; // the clusters the layout step was asked for
};

// Carves space with layouts answering by first cluster and every text cluster run valid.
CarveRunResult Carve(FakeSpace& space, const std::vector<CarveCandidate>& candidates,
                     const std::map<u64, CarveLayout>& layouts,
                     const std::vector<TextRun>& textRuns = {})
{
    CarveRunResult result;
    CarveSteps steps;
    steps.layOut = [&](CarveType, u64 first, ICarveSpace&)
    {
        result.laidOut.push_back(first);
        const auto it = layouts.find(first);
        return it != layouts.end() ? it->second : CarveLayout{};
    };
    steps.checkText = [](IContentSource& source)
    {
        ContentCheck check;
        check.verdict = FindContent::kValid;
        check.validBytes = source.Size();
        check.end = source.Size();
        return check;
    };
    g_bRunning = 1;
    result.layouts = CarveLayouts(
        space, [&space](std::span<const CarveRun> runs) { space.Take(runs); }, candidates, textRuns,
        steps);
    return result;
}

std::vector<std::pair<u64, u64>> RunsOf(const CarveLayout& layout)
{
    std::vector<std::pair<u64, u64>> runs;
    for (const CarveRun& run : layout.runs)
        runs.emplace_back(run.first, run.length);
    return runs;
}
} // namespace

// Candidates are carved in cluster order; one on a used cluster, one inside a file carved
// before, a false header (nothing validated) and a layout reaching a used cluster give nothing,
// and only the files kept take their clusters.
TEST(Carving, CandidatesInClusterOrderNeverShareClusters)
{
    FakeSpace space(40);
    space.Use(30);
    const std::map<u64, CarveLayout> layouts = {
        {4, Layout(CarveType::kJpeg, {{4, 3}, {10, 2}}, 5 * kCluster, FindContent::kValid, 320)},
        {6, Layout(CarveType::kPng, {{6, 1}}, 10, FindContent::kValid, 10)},  // inside the JPEG
        {12, Layout(CarveType::kPdf, {{12, 2}}, 100, FindContent::kNone, 0)}, // false header
        {20, Layout(CarveType::kZip, {{20, 2}}, 100, FindContent::kDamaged, 40)},
        {28, Layout(CarveType::kGif, {{28, 4}}, 200, FindContent::kValid, 200)}, // over 30
    };
    const CarveRunResult result = Carve(space,
                                        {{28, CarveType::kGif},
                                         {30, CarveType::kJpeg},
                                         {20, CarveType::kZip},
                                         {12, CarveType::kPdf},
                                         {6, CarveType::kPng},
                                         {4, CarveType::kJpeg}},
                                        layouts);
    EXPECT_EQ(result.laidOut, (std::vector<u64>{4, 12, 20, 28}));
    ASSERT_EQ(result.layouts.size(), 2u);
    EXPECT_EQ(RunsOf(result.layouts[0]), (std::vector<std::pair<u64, u64>>{{4, 3}, {10, 2}}));
    EXPECT_EQ(RunsOf(result.layouts[1]), (std::vector<std::pair<u64, u64>>{{20, 2}}));
    for (const u64 c : {4, 5, 6, 10, 11, 20, 21})
        EXPECT_FALSE(space.Free(c)) << c;
    for (const u64 c : {7, 12, 13, 28, 29})
        EXPECT_TRUE(space.Free(c)) << c;
}

// Text runs become text files over the clusters still free: split where a header begins and
// where a cluster is not free, each as long as its last byte that is not zero.
TEST(Carving, TextRunsSplitAtHeadersAndClaimedClusters)
{
    FakeSpace space(40);
    for (u64 c = 2; c < 20; ++c)
        space.Write(c, std::string(kCluster, 'a'));
    space.Write(7, std::string(kCluster, '\0'));
    space.Write(7, "tail", 0); // the first file ends 4 bytes into cluster 7
    space.Write(8, std::string(kCluster, '\0'));
    space.Use(12); // a live file's
    const std::map<u64, CarveLayout> layouts = {
        {9, Layout(CarveType::kRtf, {{9, 2}}, 2 * kCluster, FindContent::kValid, 2 * kCluster)},
    };
    const CarveRunResult result =
        Carve(space, {{9, CarveType::kRtf}, {15, CarveType::kPdf}}, layouts, {{2, 18}});
    ASSERT_EQ(result.layouts.size(), 5u);
    EXPECT_EQ(result.layouts[0].check.type, CarveType::kRtf);
    const std::vector<std::pair<u64, u64>> expected[] = {{{2, 6}}, {{11, 1}}, {{13, 2}}, {{15, 5}}};
    const u64 sizes[] = {5 * kCluster + 4, kCluster, 2 * kCluster, 5 * kCluster};
    for (std::size_t i = 0; i < 4; ++i)
    {
        SCOPED_TRACE(i);
        const CarveLayout& text = result.layouts[i + 1];
        EXPECT_EQ(text.check.type, CarveType::kText);
        EXPECT_EQ(RunsOf(text), expected[i]);
        EXPECT_EQ(text.size, sizes[i]);
    }
}

// A cleared run flag ends carving before the next candidate.
TEST(Carving, StopsWhenTheRunFlagIsCleared)
{
    FakeSpace space(10);
    CarveSteps steps;
    int calls = 0;
    steps.layOut = [&](CarveType, u64 first, ICarveSpace&)
    {
        ++calls;
        g_bRunning = 0;
        return Layout(CarveType::kJpeg, {{first, 1}}, 10, FindContent::kValid, 10);
    };
    g_bRunning = 1;
    const std::vector<CarveCandidate> candidates = {{2, CarveType::kJpeg}, {4, CarveType::kJpeg}};
    const auto layouts = CarveLayouts(
        space, [](std::span<const CarveRun>) {}, candidates, {}, steps);
    EXPECT_EQ(calls, 1);
    EXPECT_LE(layouts.size(), 1u);
    g_bRunning = 1;
}

TEST(Carving, NamesByFirstSectorAndTitle)
{
    const struct
    {
        u64 sector;
        std::string title;
        const char* ext;
        std::string name;
    } cases[] = {
        {12345, "", "jpg", "f0012345.jpg"},
        {123456789, "", "txt", "f123456789.txt"},
        {8, "Quarterly report", "pdf", "f0000008 - Quarterly report.pdf"},
        {8, "a/b\\c:d*e?\"f<g>h|i\tj", "docx", "f0000008 - a_b_c_d_e__f_g_h_i_j.docx"},
        {8, "  . ", "pdf", "f0000008.pdf"},
        {8, "ends with dots...", "pdf", "f0000008 - ends with dots.pdf"},
        {8, std::string(70, 'x'), "pdf", "f0000008 - " + std::string(64, 'x') + ".pdf"},
        // The cap falls inside a two-byte character: the whole character goes.
        {8, std::string(63, 'x') + "\xc3\xa9" + "yy", "pdf",
         "f0000008 - " + std::string(63, 'x') + ".pdf"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CarvedName(c.sector, c.title, c.ext), c.name) << c.title;
}

// The finds of the carved files: a Carved folder, one folder per extension, each extension's
// files together; named by their first sector, judged by layout and check, and their data read
// through the volume's carved layouts.
TEST(Carving, CarvedFindsAndTheirData)
{
    CarveLayout one = Layout(CarveType::kJpeg, {{10, 2}}, 100, FindContent::kValid, 100);
    one.check.taken = FoundTime{2024, 5, 6, 7, 8, 9};
    CarveLayout two = Layout(CarveType::kPdf, {{20, 1}, {30, 1}}, 128, FindContent::kValid, 128);
    two.check.title = "Report";
    CarveLayout three = Layout(CarveType::kJpeg, {{40, 4}}, 1000, FindContent::kDamaged, 250);
    const CarveLayout four = Layout(CarveType::kPng, {{50, 1}}, 64, FindContent::kDamaged, 64);
    VolumeEntry volume;
    volume.name = "E:";
    const ClusterGeometry geometry{4096, 2, 100, 1 << 20};
    AddCarvedFinds(nullptr, volume, geometry, {one, two, three, four});

    const struct
    {
        const char* path;
        const char* name;
        FindCondition condition;
        u8 pct;
        FindContent content;
    } expected[] = {
        {"E:", "Carved", FindCondition::kNotJudged, 0, FindContent::kNone},
        {"E:\\Carved", "jpg", FindCondition::kNotJudged, 0, FindContent::kNone},
        {"E:\\Carved", "pdf", FindCondition::kNotJudged, 0, FindContent::kNone},
        {"E:\\Carved", "png", FindCondition::kNotJudged, 0, FindContent::kNone},
        {"E:\\Carved\\jpg", "f0002112.jpg", FindCondition::kGood, 0, FindContent::kValid},
        {"E:\\Carved\\jpg", "f0002352.jpg", FindCondition::kPartial, 75, FindContent::kDamaged},
        {"E:\\Carved\\pdf", "f0002192 - Report.pdf", FindCondition::kInferred, 0,
         FindContent::kValid},
        {"E:\\Carved\\png", "f0002432.png", FindCondition::kPartial, 1, FindContent::kDamaged},
    };
    ASSERT_EQ(volume.items.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i)
    {
        SCOPED_TRACE(i);
        const FoundItem& item = volume.items[i];
        EXPECT_EQ(item.path.str(), expected[i].path);
        EXPECT_EQ(item.name.str(), expected[i].name);
        EXPECT_EQ(item.condition, expected[i].condition);
        EXPECT_EQ(item.overwrittenPct, expected[i].pct);
        EXPECT_EQ(item.Content(), expected[i].content);
        EXPECT_EQ(item.deleted, 1u);
        EXPECT_EQ(item.deep, 1u);
        EXPECT_EQ(item.carved, 1u);
        EXPECT_EQ((item.attr & 0x10) != 0, i < 4);
    }
    EXPECT_EQ(volume.items[4].created, (FoundTime{2024, 5, 6, 7, 8, 9}));
    EXPECT_EQ(volume.items[6].created, FoundTime{});

    // The PDF in two runs, read as they lie.
    DataStream stream;
    ASSERT_EQ(DescribeFind(volume, volume.items[6], &stream), 0u);
    EXPECT_EQ(stream.size, 128u);
    EXPECT_EQ(stream.clusterBytes, 4096u);
    EXPECT_EQ(stream.firstLcn, 2u);
    EXPECT_EQ(stream.dataStart, 1u << 20);
    ASSERT_EQ(stream.extents.size(), 2u);
    EXPECT_EQ(stream.extents[0].lcn, 20u);
    EXPECT_EQ(stream.extents[1].vcn, 1u);
    EXPECT_EQ(stream.extents[1].lcn, 30u);
    // A carved find whose layout the volume no longer holds reads nothing.
    FoundItem stray = volume.items[6];
    stray.runsAt = 99;
    EXPECT_EQ(DescribeFind(volume, stray, &stream), kStreamUnreadable);
}
