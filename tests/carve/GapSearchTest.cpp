// The gap search and the layout source over a made-up volume, with a toy format of its own:
// every 512-byte block carries its file's id, its index and a checksum, the last block a flag.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "carve/GapSearch.h"
#include "platform/ByteOrder.h"

namespace
{
constexpr u64 kCb = 512;
constexpr u64 kFirst = 2; // cluster numbers start at 2, as on FAT

class FakeSpace final : public ICarveSpace
{
public:
    explicit FakeSpace(u64 clusters, u32 seed = 7)
        : m_bytes(static_cast<std::size_t>(clusters * kCb)), m_free(clusters, true)
    {
        std::mt19937 random(seed);
        for (u8& b : m_bytes)
            b = static_cast<u8>(random());
    }
    [[nodiscard]] u64 ClusterBytes() const override { return kCb; }
    [[nodiscard]] u64 FirstCluster() const override { return kFirst; }
    [[nodiscard]] u64 EndCluster() const override { return kFirst + m_free.size(); }
    [[nodiscard]] bool Free(u64 cluster) const override
    {
        return cluster >= kFirst && cluster < EndCluster() && m_free[cluster - kFirst];
    }
    [[nodiscard]] std::size_t ReadClusters(u64 cluster, u64 count, std::span<u8> out) override
    {
        if (cluster < kFirst || cluster >= EndCluster())
            return 0;
        const u64 n = std::min(count, EndCluster() - cluster) * kCb;
        const std::size_t bytes = std::min<std::size_t>(out.size(), n);
        std::memcpy(out.data(), Cluster(cluster), bytes);
        return bytes;
    }
    u8* Cluster(u64 cluster) { return m_bytes.data() + (cluster - kFirst) * kCb; }
    void SetFree(u64 cluster, bool free) { m_free[cluster - kFirst] = free; }

private:
    std::vector<u8> m_bytes;
    std::vector<bool> m_free;
};

u32 Fnv(const u8* p, std::size_t n)
{
    u32 h = 2166136261u;
    for (std::size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 16777619u;
    return h;
}

// Writes block index of file id into cluster; the payload differs per file and block.
void PutBlock(FakeSpace& space, u64 cluster, u32 id, u32 index, bool last)
{
    u8* p = space.Cluster(cluster);
    std::mt19937 random(id * 100003u + index);
    for (std::size_t i = 0; i < kCb; ++i)
        p[i] = static_cast<u8>(random());
    StoreLe32(p, id);
    StoreLe32(p + 4, index);
    StoreLe32(p + 8, last ? 1 : 0);
    StoreLe32(p + kCb - 4, Fnv(p, kCb - 4));
}

void PutFile(FakeSpace& space, u32 id, const std::vector<u64>& clusters)
{
    for (std::size_t i = 0; i < clusters.size(); ++i)
        PutBlock(space, clusters[i], id, static_cast<u32>(i), i + 1 == clusters.size());
}

// The toy format's validator; late: bytes past the break it reports as valid (a validator
// that notices a break late).
ContentCheck CheckToy(IContentSource& source, u64 late = 0, u64 early = 0)
{
    ContentCheck check;
    std::array<u8, kCb> block{};
    u32 id = 0;
    u64 i = 0;
    for (; (i + 1) * kCb <= source.Size(); ++i)
    {
        if (source.Read(i * kCb, block) != kCb)
            break;
        if (i == 0)
            id = LoadLe32(block.data());
        if (LoadLe32(block.data()) != id || LoadLe32(block.data() + 4) != i ||
            LoadLe32(block.data() + kCb - 4) != Fnv(block.data(), kCb - 4))
            break;
        if (LoadLe32(block.data() + 8) == 1)
        {
            check.verdict = FindContent::kValid;
            check.validBytes = check.end = (i + 1) * kCb;
            return check;
        }
    }
    check.verdict = FindContent::kDamaged;
    check.validBytes = std::min(i * kCb + late, source.Size());
    // A validator that vouches conservatively places the break before it, and says how far.
    check.breakReach = std::min(early, check.validBytes);
    check.validBytes -= check.breakReach;
    return check;
}

std::vector<CarveRun> RunsOf(const std::vector<u64>& clusters)
{
    std::vector<CarveRun> runs;
    for (u64 c : clusters)
        if (!runs.empty() && runs.back().first + runs.back().length == c)
            ++runs.back().length;
        else
            runs.push_back({c, 1});
    return runs;
}

void ExpectRuns(const CarveLayout& layout, const std::vector<u64>& clusters)
{
    const std::vector<CarveRun> want = RunsOf(clusters);
    ASSERT_EQ(layout.runs.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
    {
        EXPECT_EQ(layout.runs[i].first, want[i].first) << "run " << i;
        EXPECT_EQ(layout.runs[i].length, want[i].length) << "run " << i;
    }
}

// Clusters first .. first + count - 1.
std::vector<u64> Span(u64 first, u64 count)
{
    std::vector<u64> out;
    for (u64 i = 0; i < count; ++i)
        out.push_back(first + i);
    return out;
}

std::vector<u64> Join(std::initializer_list<std::vector<u64>> parts)
{
    std::vector<u64> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

const ContentValidator kToy = [](IContentSource& source) { return CheckToy(source); };

struct FragmentCase
{
    const char* name;
    u64 volumeClusters;
    std::vector<u64> file; // the clusters of the file's blocks, in order
    u64 late;              // how late the validator notices a break
    u64 early = 0;         // how far before the break the validator places it
};

TEST(GapSearchTest, FragmentedFilesComeBackWhole)
{
    const FragmentCase cases[] = {
        {"contiguous", 40, Span(kFirst, 10), 0},
        {"contiguous before other data", 40, Span(kFirst + 3, 10), 0},
        {"gap of 1", 40, Join({Span(kFirst, 5), Span(kFirst + 6, 5)}), 0},
        {"gap of 2", 40, Join({Span(kFirst, 5), Span(kFirst + 7, 5)}), 0},
        {"gap of 7", 40, Join({Span(kFirst, 3), Span(kFirst + 10, 9)}), 0},
        {"gap of 300", 340, Join({Span(kFirst, 5), Span(kFirst + 305, 5)}), 0},
        {"gap of 1024", 1100, Join({Span(kFirst, 6), Span(kFirst + 1030, 6)}), 0},
        {"two gaps", 200, Join({Span(kFirst, 4), Span(kFirst + 10, 4), Span(kFirst + 114, 4)}), 0},
        {"two gaps of 1", 40, Join({Span(kFirst, 4), Span(kFirst + 5, 4), Span(kFirst + 10, 4)}),
         0},
        {"one-cluster pieces", 40,
         Join({Span(kFirst, 1), Span(kFirst + 2, 1), Span(kFirst + 9, 6)}), 0},
        {"break noticed late", 60, Join({Span(kFirst, 8), Span(kFirst + 20, 8)}), 768},
        {"break placed early", 60, Join({Span(kFirst, 8), Span(kFirst + 20, 8)}), 0, 1536},
        {"break placed early, twice", 90,
         Join({Span(kFirst, 8), Span(kFirst + 20, 8), Span(kFirst + 50, 8)}), 0, 2000},
    };
    for (const FragmentCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        FakeSpace space(c.volumeClusters);
        PutFile(space, 1, c.file);
        const ContentValidator validate = [&c](IContentSource& s)
        { return CheckToy(s, c.late, c.early); };
        const CarveLayout layout = LayOutWith(validate, c.file.front(), space);
        EXPECT_EQ(layout.check.verdict, FindContent::kValid);
        EXPECT_EQ(layout.size, c.file.size() * kCb);
        ExpectRuns(layout, c.file);
    }
}

// A validator that, like a photo's decoder, keeps in step with later blocks of its own file (a
// continuation that skips some) and tells the skip only at the file's end; where the bytes run
// out it places the break a margin before, nearer or further by the block it ran out at.
ContentCheck CheckResyncing(IContentSource& source)
{
    ContentCheck check;
    check.verdict = FindContent::kDamaged;
    std::array<u8, kCb> block{};
    u32 id = 0;
    u64 expected = 0;
    bool skipped = false;
    u64 i = 0;
    for (; (i + 1) * kCb <= source.Size() && source.Read(i * kCb, block) == kCb; ++i)
    {
        if (i == 0)
            id = LoadLe32(block.data());
        const u32 index = LoadLe32(block.data() + 4);
        if (LoadLe32(block.data()) != id || index < expected ||
            LoadLe32(block.data() + kCb - 4) != Fnv(block.data(), kCb - 4))
        {
            check.validBytes = i * kCb;
            return check;
        }
        skipped = skipped || index > expected;
        expected = index + 1;
        if (LoadLe32(block.data() + 8) == 1)
        {
            check.verdict = skipped ? FindContent::kDamaged : FindContent::kValid;
            check.validBytes = skipped ? i * kCb : (i + 1) * kCb;
            check.end = skipped ? 0 : check.validBytes;
            return check;
        }
    }
    const u64 margin = 2048 + (expected % 2 == 0 ? 256 : 0);
    check.validBytes = i * kCb > margin ? i * kCb - margin : 0;
    check.breakReach = i * kCb - check.validBytes;
    check.ranOut = true;
    return check;
}

// Continuations that held to the end of their screening are equals, however near its end
// each one's break was placed: the file's own continuation is validated in full even where
// those skipping a few of its clusters screened a little further.
TEST(GapSearchTest, ContinuationsThatHeldAreRankedAlike)
{
    FakeSpace space(300);
    const std::vector<u64> file = Join({Span(kFirst, 9), Span(kFirst + 15, 150)});
    PutFile(space, 1, file);
    const CarveLayout layout = LayOutWith(CheckResyncing, kFirst, space);
    EXPECT_EQ(layout.check.verdict, FindContent::kValid);
    ExpectRuns(layout, file);
}

// Two files written a cluster at a time each, side by side: both come back, the second from
// the clusters the first did not take.
TEST(GapSearchTest, InterleavedFilesBothComeBack)
{
    for (u64 piece : {1u, 3u})
    {
        SCOPED_TRACE(piece);
        FakeSpace space(80);
        std::vector<u64> a;
        std::vector<u64> b;
        for (u64 c = kFirst; c < kFirst + 60; ++c)
            ((c - kFirst) / piece % 2 == 0 ? a : b).push_back(c);
        PutFile(space, 1, a);
        PutFile(space, 2, b);
        const CarveLayout first = LayOutWith(kToy, a.front(), space);
        EXPECT_EQ(first.check.verdict, FindContent::kValid);
        ExpectRuns(first, a);
        for (const CarveRun& run : first.runs)
            for (u64 k = 0; k < run.length; ++k)
                space.SetFree(run.first + k, false);
        const CarveLayout second = LayOutWith(kToy, b.front(), space);
        EXPECT_EQ(second.check.verdict, FindContent::kValid);
        ExpectRuns(second, b);
    }
}

// A file overwritten from its sixth block on: the blocks that validate come back, damaged,
// and the rest of the volume is not taken for it.
TEST(GapSearchTest, BreakWithoutContinuationKeepsTheValidPrefix)
{
    FakeSpace space(200);
    PutFile(space, 1, Span(kFirst, 12));
    PutBlock(space, kFirst + 5, 9, 5, false); // another file's block where the sixth was
    for (u64 c = kFirst + 6; c < kFirst + 12; ++c)
        PutBlock(space, c, 1, 40, false); // the file's id, blocks it never had here
    const CarveLayout layout = LayOutWith(kToy, kFirst, space);
    EXPECT_EQ(layout.check.verdict, FindContent::kDamaged);
    EXPECT_EQ(layout.check.validBytes, 5 * kCb);
    EXPECT_EQ(layout.size, 5 * kCb);
    ExpectRuns(layout, Span(kFirst, 5));
}

// The limits hold: no gap wider than maxGap is bridged, no more gaps than maxGaps; what lies
// past them is left and the file is damaged where its last piece ends.
TEST(GapSearchTest, GapLimitsHold)
{
    // Three pieces of 4 clusters, the second 300 clusters on, the third 3 after it; a piece
    // of 4 more after a gap of 2 when three gaps are allowed.
    const std::vector<u64> file = Join(
        {Span(kFirst, 4), Span(kFirst + 304, 4), Span(kFirst + 311, 4), Span(kFirst + 317, 4)});
    const struct
    {
        u64 maxGap;
        u32 maxGaps;
        FindContent verdict;
        u64 pieces; // of the file, that the layout holds
    } cases[] = {
        {2048, 3, FindContent::kValid, 4},   {299, 3, FindContent::kDamaged, 1},
        {300, 3, FindContent::kValid, 4},    {2048, 2, FindContent::kDamaged, 3},
        {2048, 1, FindContent::kDamaged, 2}, {2048, 0, FindContent::kDamaged, 1},
    };
    FakeSpace space(340);
    PutFile(space, 1, file);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.maxGap << " " << c.maxGaps);
        GapLimits limits;
        limits.maxGap = c.maxGap;
        limits.maxGaps = c.maxGaps;
        const CarveLayout layout = LayOutWith(kToy, kFirst, space, limits);
        EXPECT_EQ(layout.check.verdict, c.verdict);
        const std::vector<u64> kept(file.begin(), file.begin() + 4 * c.pieces);
        EXPECT_EQ(layout.size, kept.size() * kCb);
        ExpectRuns(layout, kept);
    }
}

// A size from metadata: the source the validator sees holds exactly those bytes, and the
// layout covers them, across a live file's clusters too.
TEST(GapSearchTest, KnownSizeBoundsTheLayout)
{
    FakeSpace space(40);
    const std::vector<u64> file = Join({Span(kFirst, 5), Span(kFirst + 8, 5)});
    PutFile(space, 1, file);
    for (u64 c = kFirst + 5; c < kFirst + 8; ++c)
        space.SetFree(c, false);
    u64 largest = 0;
    const ContentValidator validate = [&largest](IContentSource& s)
    {
        largest = std::max(largest, s.Size());
        return CheckToy(s);
    };
    const CarveLayout layout = LayOutWith(validate, kFirst, space, {}, 10 * kCb - 100);
    // The toy's blocks are whole: a size that cuts the last one leaves the file damaged there.
    EXPECT_EQ(largest, 10 * kCb - 100);
    EXPECT_EQ(layout.size, 10 * kCb - 100);
    EXPECT_EQ(layout.check.verdict, FindContent::kDamaged);
    const CarveLayout exact = LayOutWith(kToy, kFirst, space, {}, 10 * kCb);
    EXPECT_EQ(exact.check.verdict, FindContent::kValid);
    EXPECT_EQ(exact.size, 10 * kCb);
    ExpectRuns(exact, file);
}

// However many candidates a big free volume offers, the validations stay within maxTries,
// and the answer is the same every time.
TEST(GapSearchTest, TriesAreBoundedAndDeterministic)
{
    FakeSpace space(3000);
    PutFile(space, 1, Span(kFirst, 8));
    PutBlock(space, kFirst + 4, 9, 0, false);
    for (u32 maxTries : {1u, 50u, 600u})
    {
        SCOPED_TRACE(maxTries);
        u32 calls = 0;
        const ContentValidator validate = [&calls](IContentSource& s)
        {
            ++calls;
            return CheckToy(s);
        };
        GapLimits limits;
        limits.maxTries = maxTries;
        const CarveLayout once = LayOutWith(validate, kFirst, space, limits);
        EXPECT_LE(calls, maxTries);
        const CarveLayout again = LayOutWith(kToy, kFirst, space, limits);
        EXPECT_EQ(once.check.verdict, FindContent::kDamaged);
        EXPECT_EQ(once.size, again.size);
        EXPECT_EQ(once.runs.size(), again.runs.size());
        EXPECT_EQ(once.check.validBytes, 4 * kCb);
    }
}

// A format whose structure gives no end: the layout runs to the cap or the first cluster not
// free, without the zeros it ends with; a first cluster that is not free gives nothing; a type
// no validator knows stops at the next header.
TEST(GapSearchTest, NoEndTypesStopAtZerosCapAndAllocation)
{
    const ContentValidator whole = [](IContentSource& s)
    {
        ContentCheck check;
        check.verdict = FindContent::kValid;
        check.validBytes = s.Size();
        return check;
    };
    FakeSpace space(20);
    std::memset(space.Cluster(kFirst), 'a', 1000);
    std::memset(space.Cluster(kFirst) + 1000, 0, 3 * kCb - 1000);
    const CarveLayout trimmed = LayOutWith(whole, kFirst, space, {}, 0, 3 * kCb);
    EXPECT_EQ(trimmed.size, 1000u);
    ExpectRuns(trimmed, Span(kFirst, 2));
    space.SetFree(kFirst + 10, false);
    const CarveLayout stopped = LayOutWith(whole, kFirst + 4, space);
    EXPECT_EQ(stopped.size, 6 * kCb);
    ExpectRuns(stopped, Span(kFirst + 4, 6));
    EXPECT_TRUE(LayOutWith(whole, kFirst + 10, space).runs.empty());
    // No validator for the type: up to the next cluster where a header begins, no gap search.
    std::memcpy(space.Cluster(kFirst + 7), "GIF89a", 6);
    u32 calls = 0;
    const ContentValidator none = [&calls](IContentSource&)
    {
        ++calls;
        return ContentCheck{};
    };
    const CarveLayout unchecked = LayOutWith(none, kFirst + 4, space);
    EXPECT_EQ(calls, 1u);
    EXPECT_EQ(unchecked.check.verdict, FindContent::kNone);
    EXPECT_EQ(unchecked.size, 3 * kCb);
    ExpectRuns(unchecked, Span(kFirst + 4, 3));
    EXPECT_TRUE(LayOutWith(whole, kFirst + 20, space).runs.empty());
    EXPECT_TRUE(LayOutWith(whole, 0, space).runs.empty());
}

// A volume whose cluster numbers reach the top of the range (a hostile geometry): the bounds
// of the layout are worked out without overflow.
TEST(GapSearchTest, HugeVolumeBoundsDoNotOverflow)
{
    class HugeSpace final : public ICarveSpace
    {
    public:
        [[nodiscard]] u64 ClusterBytes() const override { return 4096; }
        [[nodiscard]] u64 FirstCluster() const override { return 2; }
        [[nodiscard]] u64 EndCluster() const override { return ~u64{0}; }
        [[nodiscard]] bool Free(u64 cluster) const override { return cluster < 6; }
        [[nodiscard]] std::size_t ReadClusters(u64, u64 count, std::span<u8> out) override
        {
            const std::size_t n = std::min<std::size_t>(out.size(), count * 4096);
            std::memset(out.data(), 'a', n);
            return n;
        }
    } space;
    const ContentValidator damaged = [](IContentSource& s)
    {
        ContentCheck check;
        check.verdict = FindContent::kDamaged;
        check.validBytes = s.Size() / 2;
        return check;
    };
    const CarveLayout layout = LayOutWith(damaged, 2, space);
    EXPECT_EQ(layout.size, 2 * 4096u);
    ExpectRuns(layout, Span(2, 2));
}

// The layout source reads across runs at any offset and length, never past its size.
TEST(GapSearchTest, LayoutSourceReadsAcrossRuns)
{
    FakeSpace space(20);
    const std::vector<CarveRun> runs = {{kFirst + 3, 2}, {kFirst + 10, 1}, {kFirst + 1, 1}};
    const u64 size = 3 * kCb + 100;
    std::vector<u8> want;
    for (u64 c : {kFirst + 3, kFirst + 4, kFirst + 10, kFirst + 1})
        want.insert(want.end(), space.Cluster(c), space.Cluster(c) + kCb);
    want.resize(size);
    LayoutSource source(space, runs, size);
    EXPECT_EQ(source.Size(), size);
    const std::pair<u64, u64> reads[] = {{0, 1},    {0, kCb},    {0, 2 * kCb},  {100, 1000},
                                         {511, 2},  {1023, 600}, {1536, 100},   {1600, 500},
                                         {0, 9000}, {size, 10},  {size + 5, 10}};
    for (const auto& [offset, length] : reads)
    {
        SCOPED_TRACE(offset);
        std::vector<u8> out(length, 0xEE);
        const std::size_t got = source.Read(offset, out);
        const u64 expect = offset >= size ? 0 : std::min(length, size - offset);
        ASSERT_EQ(got, expect);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(got),
                               want.begin() + static_cast<std::ptrdiff_t>(std::min(offset, size))));
    }
}
} // namespace
