// The header search over files real tools write: what it takes each for, on a volume of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "carve/HeaderSearch.h"
#include "support/TestImages.h"

namespace
{
// Files written by real tools (tests/images/recipes/carvecore.sh), each from a cluster
// boundary: every header is taken for its type, nothing else is, and the text file is a run.
TEST(HeaderSearchTest, ScanFindsTheFilesRealToolsWrite)
{
    const std::string path = TestImage("carvecore-files");
    ASSERT_FALSE(path.empty());
    const std::vector<u8> volume = ReadWholeFile(path);
    constexpr u64 kCluster = 4096;
    ASSERT_EQ(volume.size() % kCluster, 0u);
    const u64 clusters = volume.size() / kCluster;
    CarveScan scan(0, 0, clusters, kCluster);
    for (u64 off = 0; off < volume.size(); off += 64 * kCluster)
        scan.Scan(off, std::span<const u8>(volume).subspan(
                           off, std::min<u64>(64 * kCluster, volume.size() - off)));
    using T = CarveType;
    const std::vector<std::pair<u64, CarveType>> want = {
        {0, T::kJpeg}, {1, T::kPng},     {2, T::kGif},   {3, T::kBmp},  {6, T::kBmp},
        {9, T::kTiff}, {14, T::kTiff},   {19, T::kPdf},  {20, T::kZip}, {21, T::kEpub},
        {22, T::kOdt}, {23, T::kSqlite}, {25, T::kGzip}, {26, T::kWav}};
    ASSERT_EQ(scan.Candidates().size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
    {
        EXPECT_EQ(scan.Candidates()[i].cluster, want[i].first) << i;
        EXPECT_EQ(scan.Candidates()[i].type, want[i].second) << i;
    }
    ASSERT_FALSE(scan.TextRuns().empty());
    EXPECT_EQ(scan.TextRuns().back().first, 27u);
    EXPECT_EQ(scan.TextRuns().back().length, clusters - 27);
}
} // namespace
