// orlavent-cli on volumes whose Recycle Bin was emptied (recycle.sh): the recycled files listed
// under the made-up folder by the names their $I and INFO2 records give, where they were found
// kept in recycled_from, and recovered by the paths shown, byte for byte as written and as The
// Sleuth Kit reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
const char kSid[] = "S-1-5-21-1004336348-1177238915-682003330-1001";
const char kBin[] = "C:\\Recycle Bin";

std::string Lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The string value of key in one JSON line (escapes \\ and \" undone); "-" when it is absent.
std::string Field(const std::string& line, const std::string& key)
{
    const std::string start = "\"" + key + "\":\"";
    std::size_t at = line.find(start);
    if (at == std::string::npos)
        return "-";
    std::string value;
    for (at += start.size(); at < line.size() && line[at] != '"'; ++at)
    {
        if (line[at] == '\\' && at + 1 < line.size())
            ++at;
        value += line[at];
    }
    return value;
}

// The lines of a JSON listing by the full path of their item.
std::map<std::string, std::string> ByPath(const std::string& listing)
{
    std::map<std::string, std::string> lines;
    std::istringstream in(listing);
    for (std::string line; std::getline(in, line);)
        lines[Field(line, "path") + "\\" + Field(line, "name")] = line;
    return lines;
}

// A recycled find: where it is listed, what it is, and the end of the path it was found at
// (lower case: the FAT short names' case is not this test's concern), "" for a folder level.
struct Recycled
{
    const char* shown;
    const char* foundEnd;
    bool dir;
    const char* tag; // its content, as _fat_content wrote it
    unsigned size;
};

struct RecycleCase
{
    const char* image;
    bool xp; // holds the INFO2 form of the bin as well
};

class RecycleCliTest : public ::testing::TestWithParam<RecycleCase>
{
};

TEST_P(RecycleCliTest, ListsRecycledFindsWhereTheyCameFromAndRecoversThem)
{
    const std::string image = TestImage(GetParam().image);
    ASSERT_FALSE(image.empty());
    CliResult scan = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    const std::map<std::string, std::string> lines = ByPath(scan.out);
    const std::string sidFolder = std::string("c:\\$recycle.bin\\") + Lowered(kSid) + "\\";

    std::vector<Recycled> recycled = {
        {"Users\\Alice\\Documents\\Quarterly Report.txt", "rabc123.txt", false, "Quarterly Report",
         3000},
        {"Users\\Alice\\Documents\\Quarterly Report_1_.txt", "rghi789.txt", false,
         "Quarterly Report older", 1200},
        {"Users\\Alice\\Old Project", "rdef456", true, "", 0},
        {"Users\\Alice\\Old Project\\Project Notes.txt", "rdef456\\project notes.txt", false,
         "Project Notes", 1500},
    };
    if (GetParam().xp)
        recycled.push_back(
            {"Documents and Settings\\Bob\\Desktop\\budget.xls", "c1.xls", false, "budget", 800});
    for (const Recycled& r : recycled)
    {
        const std::string shown = std::string(kBin) + "\\" + r.shown;
        auto line = lines.find(shown);
        ASSERT_NE(line, lines.end()) << shown << "\n" << scan.out;
        EXPECT_NE(line->second.find(r.dir ? "\"dir\":true" : "\"dir\":false"), std::string::npos)
            << line->second;
        if (!r.dir)
        {
            EXPECT_NE(line->second.find("\"size\":" + std::to_string(r.size) + ","),
                      std::string::npos)
                << line->second;
        }
        const std::string from = Lowered(Field(line->second, "recycled_from"));
        EXPECT_TRUE(from.ends_with(r.foundEnd)) << line->second;
        if (std::string(r.tag) != "budget")
        {
            EXPECT_TRUE(from.starts_with(sidFolder)) << line->second;
        }
        // Listed once: nothing stays behind where it was found.
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const auto& l) { return Lowered(l.first) == from; }),
                  0)
            << from;
    }
    // The records stay where they were, as any other deleted file, without recycled_from.
    std::size_t records = 0;
    for (const auto& [path, line] : lines)
        if (Lowered(path).starts_with(sidFolder))
        {
            EXPECT_EQ(line.find("recycled_from"), std::string::npos) << line;
            ++records;
        }
    EXPECT_EQ(records, 3u) << scan.out;

    // Recovered by the paths shown: a file on its own, the made-up folder whole.
    const std::string one = ScratchDir("recycle-one");
    CliResult single = RunCli({"recover", "--to", one, "--item",
                               std::string(kBin) + "\\" + recycled[0].shown, "C:=" + image});
    EXPECT_EQ(single.status, 0) << single.out << single.err;
    const std::string report = ReadText(fs::path(one) / "Quarterly Report.txt");
    EXPECT_EQ(report, FatContent(recycled[0].tag, recycled[0].size));
    const std::string all = ScratchDir("recycle-all");
    CliResult whole = RunCli({"recover", "--to", all, "--item", kBin, "C:=" + image});
    // A find whose contents do not hold together as its type (text in a .xls) is not intact.
    const bool damaged = scan.out.find("\"content\":\"damaged\"") != std::string::npos;
    EXPECT_EQ(whole.status, damaged ? 3 : 0) << whole.out << whole.err;
    for (const Recycled& r : recycled)
    {
        std::string relative = r.shown;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        const fs::path path = fs::path(all) / "Recycle Bin" / relative;
        if (r.dir)
            EXPECT_TRUE(fs::is_directory(path)) << path;
        else
            EXPECT_EQ(ReadText(path), FatContent(r.tag, r.size)) << path;
    }

    // The Sleuth Kit reads the same bytes from the data file where it lies.
    std::string fls;
    ASSERT_EQ(RunCommand("fls -r -d -p '" + image + "'", &fls), 0);
    std::istringstream in(fls);
    std::string inode;
    for (std::string line; std::getline(in, line);)
        if (Lowered(line).ends_with("rabc123.txt") && line.find('*') != std::string::npos)
            inode = line.substr(line.find('*') + 2, line.find(':') - line.find('*') - 2);
    ASSERT_FALSE(inode.empty()) << fls;
    std::string icat;
    ASSERT_EQ(RunCommand("icat -r '" + image + "' " + inode, &icat), 0) << inode;
    EXPECT_EQ(icat, report);
}

INSTANTIATE_TEST_SUITE_P(Volumes, RecycleCliTest,
                         ::testing::Values(RecycleCase{"recycle-fat", true},
                                           RecycleCase{"recycle-ntfs", false},
                                           RecycleCase{"recycle-exfat", false}),
                         [](const ::testing::TestParamInfo<RecycleCase>& p)
                         {
                             std::string name = p.param.image;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });
} // namespace
