// orlavent-cli on deleted FAT files whose clusters the layout search must not get wrong
// (assign.sh): a file the plain read gets right stays right, and a size the volume cannot hold
// takes nothing from its neighbours.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace
{
// The condition and share a scan lists for the find named name.
std::string ConditionOf(const std::string& json, const std::string& name)
{
    const std::size_t at = json.find("\"name\":\"" + name + "\"");
    if (at == std::string::npos)
        return "missing";
    const std::size_t from = json.find("\"condition\":", at);
    const std::size_t end = json.find(",\"deep\"", from);
    return from == std::string::npos || end == std::string::npos ? "missing"
                                                                 : json.substr(from, end - from);
}
} // namespace

TEST(AssignCli, RightFilesStayRightAndAbsurdSizesTakeNothing)
{
    const std::string image = TestImage("fat-assign");
    ASSERT_FALSE(image.empty());
    CliResult scan = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    // Beta's own stretch is free: it is taken as it is, and Alpha goes around it. After.bin
    // keeps its clusters whatever Huge.bin claims, and is not damaged by that claim.
    struct Listed
    {
        const char* name;
        const char* condition;
    };
    const Listed listed[] = {
        {"Alpha.bin", "\"condition\":\"inferred\",\"overwritten_pct\":0"},
        {"Beta.bin", "\"condition\":\"good\",\"overwritten_pct\":0"},
        {"After.bin", "\"condition\":\"good\",\"overwritten_pct\":0"},
        {"Huge.bin", "\"condition\":\"partial\",\"overwritten_pct\":100"},
    };
    for (const Listed& l : listed)
        EXPECT_EQ(ConditionOf(scan.out, l.name), l.condition) << l.name;

    const std::string dest = ScratchDir("assign-recover");
    CliResult run = RunCli({"recover", "--to", dest, "C:=" + image});
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_NE(run.err.find("Huge.bin is partial: "), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("After.bin is partial"), std::string::npos) << run.err;
    const struct
    {
        const char* path;
        unsigned size;
    } whole[] = {{"Gone/Alpha.bin", 2027}, {"Gone/Beta.bin", 1715}, {"After.bin", 3000}};
    for (const auto& w : whole)
        EXPECT_EQ(ReadText(std::filesystem::path(dest) / w.path), FatContent(w.path, w.size))
            << w.path;
    // Huge.bin has the clusters up to After.bin's and no more.
    EXPECT_EQ(ReadText(std::filesystem::path(dest) / "Huge.bin").substr(0, 3000),
              FatContent("Huge.bin", 3000));

    // The Sleuth Kit reads Beta and After from their first clusters on too.
    std::string listing;
    ASSERT_EQ(RunCommand("fls -r -d -p '" + image + "'", &listing), 0);
    for (const char* path : {"Gone/Beta.bin", "After.bin"})
    {
        const std::size_t at = listing.find(std::string(":\t") + path + "\n");
        ASSERT_NE(at, std::string::npos) << listing;
        const std::size_t star = listing.rfind("* ", at);
        ASSERT_NE(star, std::string::npos);
        std::string bytes;
        ASSERT_EQ(RunCommand("icat -r '" + image + "' " + listing.substr(star + 2, at - star - 2),
                             &bytes),
                  0);
        EXPECT_EQ(bytes, ReadText(std::filesystem::path(dest) / path)) << path;
    }
}

// On exFAT, a deleted file whose size was set to 1 TiB leaves the intact file behind it intact.
TEST(AssignCli, ExfatAbsurdSizeLeavesItsNeighbourGood)
{
    const std::string image = TestImage("exfat-assign");
    ASSERT_FALSE(image.empty());
    CliResult scan = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(ConditionOf(scan.out, "intact.bin"), "\"condition\":\"good\",\"overwritten_pct\":0");
    EXPECT_EQ(ConditionOf(scan.out, "bogus.bin"),
              "\"condition\":\"partial\",\"overwritten_pct\":100");
    const std::string dest = ScratchDir("assign-exfat");
    CliResult run = RunCli({"recover", "--to", dest, "C:=" + image});
    EXPECT_EQ(run.err.find("intact.bin is partial"), std::string::npos) << run.err;
    EXPECT_EQ(ReadText(std::filesystem::path(dest) / "intact.bin"),
              FatContent("intact.bin", 3 * 4096));
    // What bogus.bin had before its size was changed lies in its first clusters.
    EXPECT_EQ(ReadText(std::filesystem::path(dest) / "bogus.bin").substr(0, 3 * 4096),
              FatContent("bogus.bin", 3 * 4096));
}
