// Carving through orlavent-cli on the card of tests/images/recipes/carvecard.sh: 34 files in the
// root folder of a FAT32 volume, two JPEGs of them fragmented around other files, the volume
// quick-formatted. recover --deep must give back every file that is not random data byte for
// byte (matched by SHA-256 against the originals kept beside the image), and no carved file it
// calls good or valid may be anything but an original.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace
{
// The value of key in a JSON line of ours: a string unescaped, any other value as it stands;
// empty when the line has no such key.
std::string Field(const std::string& line, std::string_view key)
{
    const std::string tag = "\"" + std::string(key) + "\":";
    std::size_t at = line.find(tag);
    if (at == std::string::npos)
        return {};
    at += tag.size();
    std::string value;
    if (line[at] != '"')
    {
        const std::size_t end = line.find_first_of(",}", at);
        return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    }
    for (++at; at < line.size() && line[at] != '"'; ++at)
    {
        if (line[at] == '\\' && at + 1 < line.size())
            ++at;
        value += line[at];
    }
    return value;
}

// The find a JSON or report line is of: "path\name".
std::string FindKey(const std::string& line)
{
    return Field(line, "path") + "\\" + Field(line, "name");
}

// The originals' names by SHA-256, from the list the recipe keeps beside the image.
std::map<std::string, std::string> Originals(const std::string& image)
{
    std::map<std::string, std::string> byDigest;
    for (const std::string& line : Lines(ReadText(image + ".sha256")))
        if (line.size() > 66)
            byDigest[line.substr(0, 64)] = line.substr(66);
    return byDigest;
}

// Random data: no carving can tell where it ends.
bool IsNoise(const std::string& name)
{
    return name.find("noise") != std::string::npos;
}

// The first sector of each original on the volume before the format, from the layout the recipe
// keeps beside the image ("name <first-last> ...", clusters) and the boot sector.
std::map<std::string, unsigned long long> FirstSectors(const std::string& image)
{
    std::ifstream in(image, std::ios::binary);
    unsigned char boot[512] = {};
    in.read(reinterpret_cast<char*>(boot), sizeof boot);
    const unsigned perCluster = boot[13];
    const unsigned reserved = boot[14] | boot[15] << 8;
    const unsigned long long fatSectors =
        boot[36] | boot[37] << 8 | boot[38] << 16 | static_cast<unsigned long long>(boot[39]) << 24;
    const unsigned long long data = reserved + boot[16] * fatSectors;
    std::map<std::string, unsigned long long> sectors;
    for (const std::string& line : Lines(ReadText(image + ".layout")))
    {
        const std::size_t open = line.find(" <");
        if (open != std::string::npos)
            sectors[line.substr(0, open)] =
                data + (std::stoull(line.substr(open + 2)) - 2) * perCluster;
    }
    return sectors;
}

// The EXIF date taken of the photos carve_content.py writes with one, as the listing shows it.
const std::map<std::string, std::string> kDateTaken = {
    {"01-photo-exif-small.jpg", "2023-02-11 11:21:31"},
    {"03-frag-a.jpg", "2023-04-13 13:23:33"},
    {"10-frag-b.jpg", "2023-02-10 10:20:30"},
    {"13-photo-restart.jpg", "2023-05-13 13:23:33"},
    {"28-photo-exif-large.jpg", "2023-02-18 18:28:38"},
    {"33-photo-restart-2.jpg", "2023-07-13 13:23:33"},
};

// The card is what the test below needs: two photos in pieces around other files, and no entry
// left that names any file (neither The Sleuth Kit nor the normal search finds one).
TEST(CarveCardCli, CardHoldsTwoFragmentedPhotosAndNoEntry)
{
    const std::string image = TestImage("carvecard");
    ASSERT_FALSE(image.empty());
    std::map<std::string, std::size_t> pieces;
    for (const std::string& line : Lines(ReadText(image + ".layout")))
        pieces[line.substr(0, line.find(' '))] =
            static_cast<std::size_t>(std::count(line.begin(), line.end(), '<'));
    EXPECT_EQ(pieces["03-frag-a.jpg"], 2u);
    EXPECT_EQ(pieces["10-frag-b.jpg"], 3u);
    EXPECT_EQ(pieces["04-chart.png"], 1u);

    std::string listing;
    ASSERT_EQ(RunCommand("fls -r -p '" + image + "'", &listing), 0);
    CliResult plain = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(plain.status, 0) << plain.err;
    for (const auto& entry : pieces)
    {
        const std::string& name = entry.first;
        const std::string stem = name.substr(0, name.find('.'));
        EXPECT_EQ(listing.find(stem), std::string::npos) << name << "\n" << listing;
        EXPECT_EQ(plain.out.find(stem), std::string::npos) << name << "\n" << plain.out;
    }
}

TEST(CarveCardCli, FormattedCardGivesItsFilesBackByTheirContents)
{
    const std::string image = TestImage("carvecard");
    ASSERT_FALSE(image.empty());
    const std::map<std::string, std::string> originals = Originals(image);
    ASSERT_EQ(originals.size(), 34u) << "the digests beside " << image;
    const std::map<std::string, unsigned long long> firstSectors = FirstSectors(image);
    ASSERT_EQ(firstSectors.size(), 34u) << "the layout beside " << image;

    CliOptions options;
    options.env["TZ"] = "UTC";
    options.timeoutSeconds = 600;
    CliResult scan = RunCli({"scan", "--deep", "--json", "C:=" + image}, options);
    ASSERT_EQ(scan.status, 0) << scan.err;
    std::map<std::string, std::string> listed; // carved finds by "path\name"
    for (const std::string& line : Lines(scan.out))
        if (Field(line, "found_by") == "carved")
            listed[FindKey(line)] = line;

    const std::string scratch = ScratchDir("carvecard");
    const std::string report = scratch + "/report.jsonl";
    CliResult run =
        RunCli({"recover", "--deep", "--to", scratch + "/out", "--report", report, "C:=" + image},
               options);
    // 3: some file did not come back intact (the random data among them).
    ASSERT_TRUE(run.status == 0 || run.status == 3) << run.status << "\n" << run.err;

    std::map<std::string, std::string> written; // digest -> the find it was written from
    std::vector<std::string> falseFinds;
    std::size_t carved = 0;
    for (const std::string& line : Lines(ReadText(report)))
    {
        const std::string key = FindKey(line);
        const std::string digest = Field(line, "sha256");
        written.emplace(digest, key);
        if (!listed.contains(key))
            continue;
        ++carved;
        const bool claimed =
            Field(line, "condition") == "good" || Field(listed[key], "content") == "valid";
        if (claimed && !originals.contains(digest))
            falseFinds.push_back(listed[key]);
    }
    std::printf("carved files written: %zu; good or valid but no original: %zu\n", carved,
                falseFinds.size());

    for (const auto& [digest, name] : originals)
    {
        if (IsNoise(name))
            continue;
        const auto it = written.find(digest);
        EXPECT_TRUE(it != written.end()) << name << " did not come back byte for byte";
        if (it == written.end() || !name.ends_with(".jpg"))
            continue;
        // A photo is listed under Carved\jpg, named by its first sector, dated by its EXIF.
        char expected[32];
        std::snprintf(expected, sizeof expected, "C:\\Carved\\jpg\\f%07llu.jpg",
                      firstSectors.at(name));
        EXPECT_EQ(it->second, expected) << name;
        if (kDateTaken.contains(name) && listed.contains(it->second))
        {
            EXPECT_EQ(Field(listed.at(it->second), "created"), kDateTaken.at(name)) << name;
        }
    }
    for (const std::string& line : falseFinds)
        ADD_FAILURE() << "good or valid, but no original: " << line;
}
} // namespace
