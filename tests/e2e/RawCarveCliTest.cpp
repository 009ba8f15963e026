// Carving sources that hold no file system the program reads, through orlavent-cli: the
// volumes of tests/images/recipes/rawcarve.sh (a card whose boot sector and FATs were wiped, the
// same card reformatted as ext4) are refused by the normal search and carved sector by sector by
// the deep search, every file back byte for byte under C:\Carved\<ext> and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
struct RawCase
{
    const char* image;
    const char* driveNote; // what the drive listing says of the source
};

void PrintTo(const RawCase& c, std::ostream* out)
{
    *out << c.image;
}

// Where carving lists a file whose first sector holds the start of original: "<ext>/f%07u.<ext>"
// by that sector of the source.
std::string CarvedPlace(const std::string& source, const std::string& original,
                        const std::string& ext)
{
    const std::size_t at = source.find(original.substr(0, 4096));
    if (at == std::string::npos || at % 512 != 0)
        return "not on a sector boundary of the source";
    char name[32];
    std::snprintf(name, sizeof name, "f%07zu.", at / 512);
    return ext + "/" + name + ext;
}

class RawCarveCli : public testing::TestWithParam<RawCase>
{
};

TEST_P(RawCarveCli, SourceWithoutFileSystemIsCarvedOnlyInTheDeepSearch)
{
    const RawCase& c = GetParam();
    const std::string image = TestImage(c.image);
    ASSERT_FALSE(image.empty());
    const fs::path originals = image + ".d";
    const std::string source = ReadText(image);

    // The normal search refuses the source as before.
    CliResult plain = RunCli({"scan", "--json", "C:=" + image});
    EXPECT_NE(plain.status, 0);
    EXPECT_NE(plain.err.find("orlavent-cli: '" + image + "' holds no FAT, exFAT or NTFS volume\n"),
              std::string::npos)
        << plain.err;
    EXPECT_TRUE(plain.out.empty()) << plain.out;

    CliResult drives = RunCli({"drives", "--deep", image});
    EXPECT_EQ(drives.status, 0) << drives.err;
    EXPECT_NE(drives.out.find(" raw "), std::string::npos) << drives.out;
    EXPECT_NE(drives.out.find(std::string("(") + c.driveNote + ")"), std::string::npos)
        << drives.out;

    // Every file but the random filler, listed carved by the sector it begins at.
    std::map<std::string, std::string> wanted; // place under Carved -> bytes written
    for (const auto& entry : fs::directory_iterator(originals))
    {
        const fs::path& name = entry.path();
        if (name.filename() == "random.bin")
            continue;
        const std::string ext = name.extension().string().substr(1);
        wanted[CarvedPlace(source, ReadText(name), ext)] = ReadText(name);
    }
    ASSERT_EQ(wanted.size(), 9u);
    CliResult scan = RunCli({"scan", "--deep", "--json", "C:=" + image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    for (const auto& [place, bytes] : wanted)
    {
        const fs::path at(place);
        const std::string line = "{\"volume\":\"C:\",\"fs\":\"none\",\"path\":\"C:\\\\Carved\\\\" +
                                 at.parent_path().string() + "\",\"name\":\"" +
                                 at.filename().string() + "\",\"dir\":false,";
        const std::size_t found = scan.out.find(line);
        ASSERT_NE(found, std::string::npos) << line << "\n" << scan.out;
        const std::string rest = scan.out.substr(found, scan.out.find('\n', found) - found);
        EXPECT_NE(rest.find("\"found_by\":\"carved\""), std::string::npos) << rest;
        EXPECT_NE(rest.find("\"content\":\"valid\""), std::string::npos) << rest;
    }

    // recover gives each back byte for byte, and nothing it was not given.
    const std::string dest = ScratchDir(std::string(c.image) + "-recover");
    CliResult run = RunCli({"recover", "--deep", "--to", dest, "C:=" + image});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dest))
    {
        if (!entry.is_regular_file())
            continue;
        ++files;
        const std::string relative = fs::relative(entry.path(), dest).generic_string();
        const auto known = wanted.find(relative.substr(relative.find('/') + 1));
        ASSERT_TRUE(relative.rfind("Carved/", 0) == 0 && known != wanted.end())
            << "not a file written: " << relative;
        EXPECT_TRUE(ReadText(entry.path()) == known->second) << relative;
    }
    EXPECT_EQ(files, wanted.size());
}

INSTANTIATE_TEST_SUITE_P(
    Sources, RawCarveCli,
    testing::Values(RawCase{"rawcarve_wiped", "no file system: carved by contents"},
                    RawCase{"rawcarve_ext4", "holds ext4: carved by contents"}),
    [](const testing::TestParamInfo<RawCase>& param) { return std::string(param.param.image); });
} // namespace
