// orlavent-cli recover on fragmented deleted FAT files (frag.sh): each comes back as written,
// and --contiguous gives the literal read from the first cluster.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace
{
constexpr unsigned kCluster = 512;
} // namespace

TEST(FragmentCli, FragmentedFilesComeBackAsWritten)
{
    const std::string image = TestImage("fat-frag");
    ASSERT_FALSE(image.empty());
    struct Written
    {
        const char* path;
        unsigned size;
    };
    const Written whole[] = {
        {"Interleaved A.bin", 1500}, {"Interleaved B.bin", 1400},      {"Frag One.bin", 1200},
        {"Single.bin", 400},         {"Frag Two.bin", 1800},           {"Multi.bin", 900},
        {"Frag Three.bin", 1300},    {"Gone Dir/Frag Five.bin", 1300},
    };
    const std::string dest = ScratchDir("frag-recover");
    CliResult run = RunCli({"recover", "--to", dest, "C:=" + image});
    // Frag Four lost a cluster to a later file: copied with a warning, so not all came whole.
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_NE(run.err.find("Frag Four.bin is partial: "), std::string::npos) << run.err;
    for (const Written& w : whole)
        EXPECT_EQ(ReadText(std::filesystem::path(dest) / w.path), FatContent(w.path, w.size))
            << w.path;

    // The Sleuth Kit also steps over clusters that live files hold: where no other deleted file
    // lies in the way, its icat -r gives the same bytes.
    std::string listing;
    ASSERT_EQ(RunCommand("fls -r -d -p '" + image + "'", &listing), 0);
    for (const char* path : {"Frag Three.bin", "Gone Dir/Frag Five.bin"})
    {
        const std::size_t at = listing.find(std::string(":\t") + path + "\n");
        ASSERT_NE(at, std::string::npos) << listing;
        const std::size_t star = listing.rfind("* ", at);
        ASSERT_NE(star, std::string::npos);
        const std::string inode = listing.substr(star + 2, at - star - 2);
        std::string bytes;
        ASSERT_EQ(RunCommand("icat -r '" + image + "' " + inode, &bytes), 0);
        EXPECT_EQ(bytes, ReadText(std::filesystem::path(dest) / path)) << path;
    }

    // Frag Four's middle cluster now holds Live After: the rest stays at its offsets.
    const std::string four = ReadText(std::filesystem::path(dest) / "Frag Four.bin");
    const std::string wrote = FatContent("Frag Four.bin", 1500);
    ASSERT_EQ(four.size(), 1500u);
    EXPECT_EQ(four.substr(0, kCluster), wrote.substr(0, kCluster));
    EXPECT_EQ(four.substr(kCluster, 300), FatContent("Live After.bin", 300));
    EXPECT_EQ(four.substr(2 * kCluster), wrote.substr(2 * kCluster));

    // The literal read: Interleaved A from cluster 100 on takes B's first cluster second.
    const std::string literal = ScratchDir("frag-contiguous");
    CliResult old = RunCli({"recover", "--contiguous", "--to", literal, "C:=" + image});
    EXPECT_EQ(old.status, 3) << old.out << old.err;
    const std::string a = ReadText(std::filesystem::path(literal) / "Interleaved A.bin");
    ASSERT_EQ(a.size(), 1500u);
    EXPECT_EQ(a.substr(0, kCluster), FatContent("Interleaved A.bin", 1500).substr(0, kCluster));
    EXPECT_EQ(a.substr(kCluster, kCluster),
              FatContent("Interleaved B.bin", 1400).substr(0, kCluster));
    EXPECT_EQ(ReadText(std::filesystem::path(literal) / "Single.bin"),
              FatContent("Single.bin", 400));
}

// The last line of recover counts the files that did not come back intact and those rebuilt
// from inferred clusters; the inferred ones leave the exit status at 0. Both counts are taken
// from what scan lists for the volume.
TEST(FragmentCli, LastLineCountsInferredAndDamagedFiles)
{
    for (const char* name : {"fat-frag", "exfat-4k"})
    {
        SCOPED_TRACE(name);
        const std::string image = TestImage(name);
        ASSERT_FALSE(image.empty());
        CliResult scan = RunCli({"scan", "--json", "C:=" + image});
        ASSERT_EQ(scan.status, 0) << scan.err;
        unsigned inferred = 0;
        unsigned damaged = 0;
        std::istringstream lines(scan.out);
        for (std::string line; std::getline(lines, line);)
        {
            inferred += line.find("\"condition\":\"inferred\"") != std::string::npos;
            damaged += line.find("\"condition\":\"partial\"") != std::string::npos ||
                       line.find("\"condition\":\"overwritten\"") != std::string::npos;
        }
        ASSERT_GT(inferred, 0u) << "the volume holds no inferred find to count";
        const std::string rebuilt = std::to_string(inferred) + " rebuilt from inferred clusters";
        const std::string last =
            damaged == 0 ? "Finished Recovery Successfully. " + rebuilt + ".\n"
                         : std::to_string(damaged) +
                               " file(s) were copied from clusters that other data has taken; " +
                               rebuilt + " (see the warnings).\n";

        CliResult run = RunCli({"recover", "--to", ScratchDir("frag-last-line"), "C:=" + image});
        EXPECT_EQ(run.status, damaged == 0 ? 0 : 3) << run.err;
        EXPECT_TRUE(run.out.ends_with("\n" + last)) << run.out;
    }
}
