// The built orlavent-cli on Expert Witness images that ewfacquire wrote at test time: listed
// drives, scan listings, boot sectors and recovered files equal those of the acquired raw
// bytes, and the segment files stay untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Every regular file below root, by its path relative to root, with its size and bytes. Of a
// file over 2 MiB (the NTFS volume's sparse 5 GiB file) only the first and last MiB are kept.
std::map<std::string, std::string> Tree(const fs::path& root)
{
    constexpr std::uintmax_t kPart = 1024 * 1024;
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
    {
        if (!entry.is_regular_file())
            continue;
        const std::uintmax_t size = entry.file_size();
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes(static_cast<std::size_t>(std::min(size, 2 * kPart)), '\0');
        if (size <= 2 * kPart)
        {
            in.read(bytes.data(), static_cast<std::streamsize>(size));
        }
        else
        {
            in.read(bytes.data(), kPart);
            in.seekg(static_cast<std::streamoff>(size - kPart));
            in.read(bytes.data() + kPart, kPart);
        }
        files[fs::relative(entry.path(), root).string()] = std::to_string(size) + ":" + bytes;
    }
    return files;
}

std::string SegmentHashes(const fs::path& folder)
{
    std::string out;
    EXPECT_EQ(RunCommand("cd '" + folder.string() + "' && sha256sum image.E*", &out), 0);
    return out;
}

class EwfCliTest : public ::testing::TestWithParam<const char*>
{
};
} // namespace

TEST_P(EwfCliTest, ImageActsAsTheAcquiredBytes)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    const fs::path folder = fs::canonical(image).parent_path();
    const std::string raw = (folder / "volume.raw").string();
    const std::string before = SegmentHashes(folder);

    // Same drives, file systems and labels; only the source named differs.
    CliResult drivesE = RunCli({"drives", image});
    CliResult drivesR = RunCli({"drives", raw});
    ASSERT_EQ(drivesE.status, 0) << drivesE.err;
    ASSERT_EQ(drivesR.status, 0) << drivesR.err;
    EXPECT_EQ(Replace(drivesE.out, image, "SOURCE"), Replace(drivesR.out, raw, "SOURCE"));

    // The same finds, item for item.
    CliResult scanE = RunCli({"scan", "--json", image});
    CliResult scanR = RunCli({"scan", "--json", raw});
    ASSERT_EQ(scanE.status, 0) << scanE.err;
    ASSERT_EQ(scanR.status, 0) << scanR.err;
    EXPECT_NE(scanR.out.find("\"deleted\":1"), std::string::npos) << scanR.out;
    EXPECT_EQ(scanE.out, scanR.out);

    // The same files recovered, byte for byte.
    const std::string scratch = ScratchDir("e2e-ewf");
    CliResult recE = RunCli({"recover", "--to", scratch + "/ewf", image});
    CliResult recR = RunCli({"recover", "--to", scratch + "/raw", raw});
    // 3 where finds share clusters (a file written over a deleted one and deleted in turn).
    ASSERT_TRUE(recR.status == 0 || recR.status == 3) << recR.err;
    ASSERT_EQ(recE.status, recR.status) << recE.err;
    ASSERT_TRUE(fs::exists(scratch + "/raw")) << recR.out;
    ASSERT_TRUE(fs::exists(scratch + "/ewf")) << recE.out;
    EXPECT_TRUE(Tree(scratch + "/ewf") == Tree(scratch + "/raw"));

    EXPECT_EQ(SegmentHashes(folder), before) << "the image was modified";
}

INSTANTIATE_TEST_SUITE_P(Images, EwfCliTest,
                         ::testing::Values("e01-fat12", "e01-ntfs", "e01-disk-finds"),
                         [](const ::testing::TestParamInfo<const char*>& param)
                         {
                             std::string name = param.param;
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

// bootinfo reads the boot sector through libewf too.
TEST(EwfCliBootInfoTest, BootSectorEqualsTheAcquiredBytes)
{
    const std::string image = TestImage("e01-fat12");
    ASSERT_FALSE(image.empty());
    const std::string raw = (fs::canonical(image).parent_path() / "volume.raw").string();
    CliResult e = RunCli({"bootinfo", image});
    CliResult r = RunCli({"bootinfo", raw});
    ASSERT_EQ(e.status, 0) << e.err;
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("FAT12"), std::string::npos) << r.out;
    EXPECT_EQ(Replace(e.out, image, "SOURCE"), Replace(r.out, raw, "SOURCE"));
}
