// drives --deep lists the lost volumes of a whole disk; a deep search of a whole disk whose table
// no longer lists its volumes finds the same files as a search of the intact disk
// (tests/images/recipes/lostvol.sh): through a zeroed MBR, a table that lists one partition of
// three, and boot sectors that only their backups stand in for.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "cli/CliRun.h"
#include "cli/SearchRun.h"
#include "platform/DriveTable.h"
#include "support/TestImages.h"

namespace
{
// What was written to the stream err.
std::string ErrText(std::FILE* err)
{
    std::string text;
    std::rewind(err);
    for (int c = std::fgetc(err); c != EOF; c = std::fgetc(err))
        text += static_cast<char>(c);
    return text;
}

// Every find of a search of image, which ends with status: drive, full path, size and
// condition, one line each.
std::multiset<std::string> Finds(const std::string& image, bool deep, int status = kExitOk)
{
    g_DriveTable.Clear();
    std::multiset<std::string> finds;
    std::FILE* err = std::tmpfile();
    EXPECT_NE(err, nullptr);
    {
        SearchRun run(err);
        run.deep = deep;
        EXPECT_EQ(RunSearch(run, {image}), status) << ErrText(err);
        for (const VolumeEntry& volume : run.catalog.m_volumes)
            for (const FoundItem& item : volume.items)
                finds.insert(FullPath(item) + " " + std::to_string(item.size) + " " +
                             std::to_string(static_cast<u32>(item.condition)));
    }
    if (err != nullptr)
        std::fclose(err);
    g_DriveTable.Clear();
    return finds;
}

TEST(LostVolumeScanTest, DeepSearchFindsWhatTheIntactTableShows)
{
    const std::string intact = TestImage("lostvol_disk");
    ASSERT_FALSE(intact.empty());
    const std::multiset<std::string> expected = Finds(intact, false);
    // The FAT32 and NTFS volumes hold deleted files: the comparison is not one of empty lists.
    ASSERT_EQ(expected.count("C:\\DOCS\\_ONE.TXT 9000 2"), 1u);
    ASSERT_EQ(expected.count("D:\\papers\\gone.txt 12000 2"), 1u);
    for (const char* name : {"lostvol_nombr", "lostvol_partial", "lostvol_backups"})
    {
        SCOPED_TRACE(name);
        const std::string image = TestImage(name);
        ASSERT_FALSE(image.empty());
        EXPECT_EQ(Finds(image, true), expected);
    }
    // Without the deep search nothing changes: the disk without a table yields no drive.
    EXPECT_TRUE(Finds(TestImage("lostvol_nombr"), false, kExitFailed).empty());
}

// The drives command lists the lost volumes with --deep only, each as where it lies.
TEST(LostVolumeScanTest, DrivesDeepListsTheLostVolumes)
{
    const std::string zeroed = TestImage("lostvol_nombr");
    ASSERT_FALSE(zeroed.empty());
    struct Case
    {
        std::string args;
        int status;
        std::vector<std::string> lines; // each on stdout, in this order
        bool anyLost;                   // "lost volume" appears at all
    };
    const std::string z = ShellQuote(zeroed);
    const std::vector<Case> cases = {
        {"drives " + z, kExitFailed, {}, false},
        {"drives --deep " + z,
         kExitOk,
         {"FAT32        LOSTFAT32  " + zeroed + " (lost volume at sector 2048)\n",
          "NTFS         LostNtfs   " + zeroed + " (lost volume at sector 75776)\n",
          "exFAT        LOSTEXFAT  " + zeroed + " (lost volume at sector 108544)\n"},
         true},
        {"drives --deep --help", kExitOk, {"--deep"}, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.args);
        const CliRun run = RunOrlaventCli(c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        std::size_t at = 0;
        for (const std::string& line : c.lines)
        {
            at = run.out.find(line, at);
            EXPECT_NE(at, std::string::npos) << line << "\n" << run.out;
        }
        EXPECT_EQ(run.out.find("lost volume") != std::string::npos, c.anyLost) << run.out;
    }
}
} // namespace
