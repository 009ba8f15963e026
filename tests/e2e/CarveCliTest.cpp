// Carving through orlavent-cli: volumes of tests/images/recipes/carve.sh, whose files were
// written by the file system's tools and then lost to a quick format, give the files back by
// their contents under C:\Carved\<ext>, byte-exact, a JPEG fragmented around other data and two
// interleaved ones included; nothing carved is a false find or a file the deep search has too.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
struct CarveCase
{
    const char* image;
    // Files only carving can give back (their metadata went with the format).
    std::vector<std::string> carved;
    // Files that come back once, carved or by the deep search.
    std::vector<std::string> once;
};

// Named by its image in the test's name and messages.
void PrintTo(const CarveCase& c, std::ostream* out)
{
    *out << c.image;
}

// The name carving gives a file whose first cluster holds the start of original: by the sector
// it begins at on the volume.
std::string CarvedName(const std::string& volume, const std::string& original,
                       const std::string& ext)
{
    const std::size_t at = volume.find(original.substr(0, 4096));
    if (at == std::string::npos)
        return "not on the volume";
    char name[32];
    std::snprintf(name, sizeof name, "f%07zu.%s", at / 512, ext.c_str());
    return name;
}

class CarveCli : public testing::TestWithParam<CarveCase>
{
};

TEST_P(CarveCli, FormattedVolumeGivesItsFilesBackByContent)
{
    const CarveCase& c = GetParam();
    const std::string image = TestImage(c.image);
    ASSERT_FALSE(image.empty());
    const fs::path originals = image + ".d";
    const std::string volume = ReadText(image);

    // Without the deep search nothing is carved.
    CliResult plain = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out.find("Carved"), std::string::npos) << plain.out;
    EXPECT_EQ(plain.out.find("\"found_by\":\"carved\""), std::string::npos);

    CliResult scan = RunCli({"scan", "--deep", "--json", "C:=" + image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    std::size_t carvedLines = 0;
    for (const std::string& line : Lines(scan.out))
    {
        if (line.find("\"path\":\"C:\\\\Carved") == std::string::npos)
            continue;
        EXPECT_NE(line.find("\"found_by\":\"carved\""), std::string::npos) << line;
        EXPECT_NE(line.find("\"deep\":1"), std::string::npos) << line;
        carvedLines += line.find("\"dir\":false") != std::string::npos;
    }
    for (const std::string& name : c.carved)
    {
        const std::string ext = fs::path(name).extension().string().substr(1);
        const std::string key = "\"path\":\"C:\\\\Carved\\\\" + ext + "\",\"name\":\"" +
                                CarvedName(volume, ReadText(originals / name), ext) + "\",";
        EXPECT_NE(scan.out.find(key), std::string::npos) << name << ": " << key;
    }

    const std::string dest = ScratchDir(std::string(c.image) + "-recover");
    CliResult run = RunCli({"recover", "--deep", "--to", dest, "C:=" + image});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    // What came back, by content: where (under Carved or not).
    std::map<std::string, std::vector<std::string>> carved;
    std::map<std::string, std::vector<std::string>> other;
    std::size_t carvedFiles = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dest))
    {
        if (!entry.is_regular_file())
            continue;
        const std::string relative = fs::relative(entry.path(), dest).generic_string();
        const bool underCarved = relative.rfind("Carved/", 0) == 0;
        carvedFiles += underCarved;
        (underCarved ? carved : other)[ReadText(entry.path())].push_back(relative);
    }
    EXPECT_EQ(carvedFiles, carvedLines);
    std::map<std::string, std::string> known; // original bytes -> name
    for (const auto& entry : fs::directory_iterator(originals))
        known[ReadText(entry.path())] = entry.path().filename().string();
    for (const std::string& name : c.carved)
    {
        const std::string ext = fs::path(name).extension().string().substr(1);
        const std::string path =
            "Carved/" + ext + "/" + CarvedName(volume, ReadText(originals / name), ext);
        const std::string back = ReadText(fs::path(dest) / path);
        const std::string written = ReadText(originals / name);
        EXPECT_TRUE(back == written)
            << name << " as " << path << ": " << back.size() << " bytes of " << written.size();
    }
    for (const std::string& name : c.once)
    {
        const std::string bytes = ReadText(originals / name);
        EXPECT_EQ(carved[bytes].size() + other[bytes].size(), 1u) << name;
    }
    // Every carved file is a file written, and none is a deep find's as well.
    for (const auto& [bytes, paths] : carved)
    {
        if (paths.empty())
            continue;
        EXPECT_TRUE(known.contains(bytes)) << "false find: " << paths[0];
        EXPECT_EQ(paths.size(), 1u) << paths[0];
        EXPECT_FALSE(other.contains(bytes)) << "listed twice: " << paths[0];
    }
}

const std::vector<std::string> kCommon = {"photo1.jpg", "photo2.jpg", "pic.png", "doc.zip",
                                          "note.txt"};
const std::vector<std::string> kPlaced = {"frag.jpg", "pairA.jpg", "pairB.jpg"};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, CarveCli,
    testing::Values(CarveCase{"carve_fat32", Join(kCommon, kPlaced), {"deep.jpg"}},
                    CarveCase{"carve_exfat", Join(kCommon, kPlaced), {}},
                    CarveCase{"carve_ntfs", kPlaced, kCommon}),
    [](const testing::TestParamInfo<CarveCase>& param) { return std::string(param.param.image); });
} // namespace
