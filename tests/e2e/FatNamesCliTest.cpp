// orlavent-cli recovering FAT and exFAT finds under the names they are stored with, and deleted
// empty files, from the volumes of tests/images/recipes/fatnames.sh.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
std::string LongName(const std::string& tail)
{
    const std::string stem =
        "A very long name that goes on and on past the old limit of the catalogue ";
    return (stem + stem + stem + stem).substr(0, 240 - tail.size()) + tail;
}

TEST(FatNamesCliTest, RecoversNamesAsStoredAndEmptyFiles)
{
    const std::string image = TestImage("fatnames");
    ASSERT_FALSE(image.empty());
    const std::string dest = ScratchDir("fatnames-recover");
    CliResult run = RunCli({"recover", "--to", dest, "C:=" + image});
    EXPECT_NE(run.status, 1) << run.out << run.err;
    // Each file under the name it is listed with, holding what was written under its own.
    struct Case
    {
        std::string stored; // as listed and recovered
        std::string written;
        unsigned size;
    };
    const Case cases[] = {
        {"_one.txt", "gone.txt", 300},
        {"_ata.TXT", "data.TXT", 310},
        {".привет.txt.swp", ".привет.txt.swp", 320},
        {"привет мир.txt", "привет мир.txt", 330},
        {LongName(" version 1.txt"), LongName(" version 1.txt"), 340},
        {LongName(" version 2.txt"), LongName(" version 2.txt"), 350},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadText(fs::path(dest) / c.stored), FatContent(c.written, c.size)) << c.stored;
    // Deleted empty files come back empty; the folder whose cluster a live folder took has
    // nothing to give.
    std::vector<fs::path> empty = {fs::path(dest) / "_mpty.txt"};
    for (int i = 1; i <= 20; ++i)
        empty.push_back(fs::path(dest) / "_MPTIES" /
                        ("_" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".TXT"));
    for (const fs::path& p : empty)
    {
        ASSERT_TRUE(fs::is_regular_file(p)) << p;
        EXPECT_EQ(fs::file_size(p), 0u) << p;
    }
    EXPECT_FALSE(fs::exists(fs::path(dest) / "_LDDIR" / "LIVE.TXT"));
}

TEST(FatNamesCliTest, RecoversExfatEmptyFiles)
{
    const std::string image = TestImage("exfatnames");
    ASSERT_FALSE(image.empty());
    const std::string dest = ScratchDir("exfatnames-recover");
    CliResult run = RunCli({"recover", "--to", dest, "C:=" + image});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::vector<fs::path> empty = {fs::path(dest) / "zero.txt"};
    for (int i = 1; i <= 20; ++i)
        empty.push_back(fs::path(dest) / "Empties" /
                        ("e" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".txt"));
    for (const fs::path& p : empty)
    {
        ASSERT_TRUE(fs::is_regular_file(p)) << p;
        EXPECT_EQ(fs::file_size(p), 0u) << p;
    }
}
} // namespace
