// The FAT deep search through orlavent-cli: volumes of tests/images/recipes/fatdeep.sh, filled
// with a folder tree and quick-formatted again, give their files back under their folders'
// names, byte-exact; a loop of ".." and a folder that names itself stay bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
// A file of the tree as written (the tag of its content) and where the deep search lists it:
// the top-level folders under the names made up for them, in the order of their clusters.
struct TreeFile
{
    const char* written;
    const char* folder; // under the volume root
    const char* name;
    unsigned size;
};

const TreeFile kTree[] = {
    {"DCIM/100CAM01/IMG_0001.JPG", "Folder_1_\\100CAM01", "IMG_0001.JPG", 5000},
    {"DCIM/100CAM01/IMG_0002.JPG", "Folder_1_\\100CAM01", "IMG_0002.JPG", 7300},
    {"DCIM/100CAM01/Holiday at the sea 003.jpg", "Folder_1_\\100CAM01",
     "Holiday at the sea 003.jpg", 4100},
    {"DCIM/100CAM01/IMG_0004.JPG", "Folder_1_\\100CAM01", "IMG_0004.JPG", 2600},
    {"DOCS/PLAN.TXT", "Folder_2_", "PLAN.TXT", 400},
    {"DOCS/Meeting Minutes.txt", "Folder_2_", "Meeting Minutes.txt", 900},
    {"DOCS/SUB/DEEP.TXT", "Folder_2_\\SUB", "DEEP.TXT", 250},
    {"DOCS/SUB/Deep Long Name.txt", "Folder_2_\\SUB", "Deep Long Name.txt", 2600},
    {"DOCS/MANY/Empty note 01.txt", "Folder_2_\\MANY", "Empty note 01.txt", 0},
    {"DOCS/MANY/Empty note 40.txt", "Folder_2_\\MANY", "Empty note 40.txt", 0},
    // In a later cluster of its folder.
    {"DOCS/MANY/Last One.txt", "Folder_2_\\MANY", "Last One.txt", 700},
};

// The JSON of a path under the volume root ("": the root), backslashes escaped.
std::string JsonPath(const std::string& path)
{
    std::string out;
    for (char c : path.empty() ? std::string("C:") : "C:\\" + path)
        out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

// The scan lines whose path and name are these.
std::vector<std::string> LinesOf(const std::string& out, const std::string& folder,
                                 const std::string& name)
{
    std::vector<std::string> found;
    const std::string key = "\"path\":\"" + JsonPath(folder) + "\",\"name\":\"" + name + "\",";
    for (const std::string& line : Lines(out))
        if (line.find(key) != std::string::npos)
            found.push_back(line);
    return found;
}

class FatDeepCli : public testing::TestWithParam<const char*>
{
};

TEST_P(FatDeepCli, FormattedVolumeGivesItsTreeBack)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());

    // Without the deep search the formatted volume holds nothing.
    CliResult plain = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out.find("\"deep\":1"), std::string::npos) << plain.out;
    EXPECT_EQ(plain.out.find("IMG_0001"), std::string::npos) << plain.out;

    CliResult scan = RunCli({"scan", "--deep", "--json", "C:=" + image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.err, "");
    for (const TreeFile& f : kTree)
    {
        const std::vector<std::string> lines = LinesOf(scan.out, f.folder, f.name);
        ASSERT_EQ(lines.size(), 1u) << f.written << "\n" << scan.out;
        EXPECT_NE(lines[0].find("\"deleted\":1,\"size\":" + std::to_string(f.size)),
                  std::string::npos)
            << lines[0];
        EXPECT_NE(lines[0].find("\"deep\":1"), std::string::npos) << lines[0];
        // Nothing read without a known chain claims good.
        EXPECT_EQ(lines[0].find("\"condition\":\"good\""), std::string::npos) << lines[0];
    }
    for (const char* folder : {"Folder_1_", "Folder_2_"})
        EXPECT_EQ(LinesOf(scan.out, "", folder).size(), 1u) << folder;
    // The root's own entries went with the format.
    EXPECT_EQ(scan.out.find("ROOT.TXT"), std::string::npos);

    const std::string dest = ScratchDir(std::string(GetParam()) + "-recover");
    CliResult run = RunCli({"recover", "--deep", "--to", dest, "C:=" + image});
    // The .JPG files hold text: each is damaged, copied as it is with a warning.
    const bool damaged = scan.out.find("\"content\":\"damaged\"") != std::string::npos;
    ASSERT_EQ(run.status, damaged ? 3 : 0) << run.out << run.err;
    for (const TreeFile& f : kTree)
    {
        std::string path = std::string(f.folder) + "/" + f.name;
        std::replace(path.begin(), path.end(), '\\', '/');
        EXPECT_EQ(ReadText(fs::path(dest) / path), FatContent(f.written, f.size)) << path;
    }

    // The Sleuth Kit lists the same files as orphans: as many, and those of its orphan
    // folders under the same folder names.
    std::string listing;
    ASSERT_EQ(RunCommand("fls -r -p '" + image + "'", &listing), 0);
    std::size_t tskFiles = 0;
    for (const std::string& line : Lines(listing))
    {
        const std::size_t at = line.find(":\t$OrphanFiles/");
        if (at == std::string::npos || line.rfind("-/d", 0) == 0 || line.rfind("d/d", 0) == 0)
            continue;
        ++tskFiles;
        const std::string path = line.substr(at + 15);
        const std::size_t slash = path.find('/');
        if (slash == std::string::npos)
            continue;
        const std::string tail =
            "\\\\" + path.substr(0, slash) + "\",\"name\":\"" + path.substr(slash + 1) + "\",";
        EXPECT_NE(scan.out.find(tail), std::string::npos) << path;
    }
    std::size_t deepFiles = 0;
    for (const std::string& line : Lines(scan.out))
        deepFiles += line.find("\"dir\":false") != std::string::npos &&
                     line.find("\"deep\":1") != std::string::npos &&
                     // Carving's finds (the root's file, by its text) are no orphans' entries.
                     line.find("\"found_by\":\"carved\"") == std::string::npos;
    EXPECT_EQ(deepFiles, tskFiles) << listing;
}

INSTANTIATE_TEST_SUITE_P(Variants, FatDeepCli,
                         testing::Values("fatdeep12", "fatdeep16", "fatdeep32"));

// Folders whose ".." entries loop, and one that names itself as its parent and its child: each
// file is listed once, and no folder is listed inside itself.
TEST(FatDeepCliHostile, LoopsOfFoldersStayBounded)
{
    const std::string image = TestImage("fatdeep_loop");
    ASSERT_FALSE(image.empty());
    CliResult scan = RunCli({"scan", "--deep", "--json", "C:=" + image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    for (const char* name : {"AFILE.TXT", "BFILE.TXT", "SFILE.TXT"})
    {
        std::size_t count = 0;
        for (const std::string& line : Lines(scan.out))
            count += line.find("\"name\":\"" + std::string(name) + "\"") != std::string::npos;
        EXPECT_EQ(count, 1u) << name << "\n" << scan.out;
    }
    EXPECT_NE(scan.out.find("\\\\LOOPB\",\"name\":\"BFILE.TXT\""), std::string::npos) << scan.out;
    for (const char* inside : {"\\\\BACK\\\\", "\\\\ME\\\\", "\\\\LOOPB\\\\LOOPB"})
        EXPECT_EQ(scan.out.find(inside), std::string::npos) << inside;
    EXPECT_LT(Lines(scan.out).size(), 12u) << scan.out;
}
} // namespace
