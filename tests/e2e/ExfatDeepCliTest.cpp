// orlavent-cli's deep search on an exFAT volume filled and quick-formatted again by
// mkfs.exfat: the old tree listed with its names, cross-checked with The Sleuth Kit's orphans,
// and every file recovered byte-exact.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
// What exfatdeep.sh wrote: the path as written (the content tag), the folder the deep search
// lists it in (the old root is cleared by the format: its folders are lost ones), its size and
// the condition its clusters earn.
struct Written
{
    const char* tag;
    const char* listedIn;
    unsigned size;
    const char* condition;
};
const Written kWritten[] = {
    {"DCIM/100CAM01/IMG_0001.JPG", "C:\\Folder_1_\\100CAM01", 3000, "good"},
    {"DCIM/100CAM01/IMG_0002.JPG", "C:\\Folder_1_\\100CAM01", 7000, "good"},
    {"DCIM/100CAM01/IMG_0003.JPG", "C:\\Folder_1_\\100CAM01", 11000, "good"},
    {"DCIM/100CAM01/IMG_0004.JPG", "C:\\Folder_1_\\100CAM01", 15000, "good"},
    {"DCIM/100CAM01/IMG_0005.JPG", "C:\\Folder_1_\\100CAM01", 19000, "good"},
    {"DOCS/report.txt", "C:\\Folder_2_", 6000, "good"},
    {"DOCS/pad.bin", "C:\\Folder_2_", 8192, "good"},
    // Two pieces: its chain was in the FAT, which the format cleared.
    {"DOCS/frag.bin", "C:\\Folder_2_", 6 * 4096 + 100, "inferred"},
    {"DOCS/SUB/notes.txt", "C:\\Folder_2_\\SUB", 700, "good"},
    {"DOCS/SUB/long.bin", "C:\\Folder_2_\\SUB", 40000, "good"},
};

std::string Leaf(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// The names of the files fls -r lists (the orphans of the old tree, on a formatted volume).
std::set<std::string> SleuthKitFiles(const std::string& image)
{
    std::string out;
    const int rc = RunCommand("timeout 20 fls -r -f exfat '" + image + "' 2>&1", &out);
    EXPECT_EQ(rc, 0) << "fls failed (is sleuthkit installed?):\n" << out;
    std::set<std::string> names;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
    {
        const std::size_t tab = line.find('\t');
        // "r/r" or, for a file whose entry type fls cannot tell, "-/r".
        if (line.find("/r ") != std::string::npos && tab != std::string::npos &&
            line[tab + 1] != '$' && line.find("Volume Label") == std::string::npos)
            names.insert(line.substr(tab + 1));
    }
    return names;
}
} // namespace

TEST(ExfatDeepCliTest, FormattedVolumeComesBackWithItsNames)
{
    const std::string image = TestImage("exfat-formatted");
    ASSERT_FALSE(image.empty());
    // The normal search sees a fresh volume.
    CliResult plain = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "");

    CliResult scan = RunCli({"scan", "--deep", "--json", "C:=" + image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    std::set<std::string> listed;
    for (const Written& w : kWritten)
    {
        SCOPED_TRACE(w.tag);
        const std::string line =
            std::string("\"path\":\"") + w.listedIn + "\",\"name\":\"" + Leaf(w.tag) +
            "\",\"dir\":false,\"deleted\":1,\"size\":" + std::to_string(w.size) + ",";
        // The JSON doubles each backslash.
        std::string json;
        for (char c : line)
            json += c == '\\' ? std::string("\\\\") : std::string(1, c);
        const std::size_t at = scan.out.find(json);
        ASSERT_NE(at, std::string::npos) << scan.out;
        const std::size_t end = scan.out.find('\n', at);
        EXPECT_NE(scan.out.substr(at, end - at)
                      .find(std::string("\"condition\":\"") + w.condition +
                            "\",\"overwritten_pct\":0,"
                            "\"deep\":1,\"found_by\":\"deep\","),
                  std::string::npos)
            << scan.out.substr(at, end - at);
        listed.insert(Leaf(w.tag));
    }
    // Every line is a deep, deleted find; nothing but the written tree is listed: the files and
    // 100CAM01 and SUB (DCIM and DOCS, named in the cleared root, are lost folders, listed as
    // no finds of their own).
    // Carving lists what no entry set names (a text of the cleared root) under Carved.
    std::istringstream lines(scan.out);
    std::size_t count = 0;
    for (std::string line; std::getline(lines, line);)
    {
        if (line.find("\"found_by\":\"carved\"") != std::string::npos)
            continue;
        ++count;
        EXPECT_NE(line.find("\"deleted\":1,"), std::string::npos) << line;
        EXPECT_NE(line.find("\"deep\":1,\"found_by\":\"deep\","), std::string::npos) << line;
    }
    EXPECT_EQ(count, std::size(kWritten) + 2);
    EXPECT_EQ(listed, SleuthKitFiles(image));

    const std::string dest = ScratchDir("exfat-deep-recover");
    CliResult run = RunCli({"recover", "--deep", "--to", dest, "C:=" + image});
    // The photos hold text, not JPEG data: copied whole, and counted as damaged.
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    for (const Written& w : kWritten)
    {
        std::string folder = w.listedIn + 3; // past "C:\"
        for (char& c : folder)
            c = c == '\\' ? '/' : c;
        EXPECT_EQ(ReadText(fs::path(dest) / folder / Leaf(w.tag)), FatContent(w.tag, w.size))
            << w.tag;
    }
}

// On a volume whose tree the normal search walks whole, the deep search meets only sets it has
// already (live files, deleted ones, the folders they lie in): it adds nothing and changes no
// find's layout or condition.
TEST(ExfatDeepCliTest, WhatTheNormalSearchHasIsNotAddedAgain)
{
    const std::string image = TestImage("exfat-4k");
    ASSERT_FALSE(image.empty());
    CliResult plain = RunCli({"scan", "--json", "C:=" + image});
    CliResult deep = RunCli({"scan", "--deep", "--json", "C:=" + image});
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(deep.status, 0) << deep.err;
    EXPECT_NE(plain.out, "");
    EXPECT_EQ(deep.out, plain.out);
}
