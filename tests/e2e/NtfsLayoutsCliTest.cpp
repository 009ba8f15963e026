// orlavent-cli on NTFS volumes of every geometry and record layout: 4 KiB sectors, 64 KiB and
// 2 MiB clusters, named streams, compressed files and files spread over extension records.
// Every deleted file and stream is listed and recovered byte-exact: compared with The Sleuth
// Kit's icat where TSK reads the volume, and with the bytes the recipe wrote where it does not.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliProcess.h"
#include "support/NtfsContent.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
struct Expected
{
    std::string path;    // as fls -r -p prints it, and below the destination
    std::string address; // icat address; empty: compare with content
    std::string content; // the bytes written, when TSK cannot read the volume
};

struct LayoutCase
{
    const char* image;
    std::vector<Expected> files;
    int recoverStatus = 0; // 3 when the allocation state has a file's clusters in use
};

std::string Icat(const std::string& image, const std::string& address)
{
    std::string out;
    EXPECT_EQ(RunCommand("icat '" + image + "' " + address, &out), 0) << address;
    return out;
}

class NtfsLayoutsCliTest : public ::testing::TestWithParam<LayoutCase>
{
};

NtfsWrite Text(std::uint64_t n)
{
    return {NtfsWrite::kText, n};
}
} // namespace

TEST_P(NtfsLayoutsCliTest, ListsAndRecoversEveryDeletedFileAndStream)
{
    const LayoutCase& c = GetParam();
    const std::string image = TestImage(c.image);
    ASSERT_FALSE(image.empty());
    const CliResult scan = RunCli({"scan", "--json", image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    const std::string dest = ScratchDir(std::string("layouts-") + c.image);
    const CliResult recover = RunCli({"recover", image, "--to", dest});
    EXPECT_EQ(recover.status, c.recoverStatus) << recover.out << recover.err;
    for (const Expected& e : c.files)
    {
        std::string name = e.path.substr(e.path.rfind('/') + 1);
        EXPECT_NE(scan.out.find("\"name\":\"" + name + "\""), std::string::npos) << e.path;
        const fs::path file = fs::path(dest) / e.path;
        ASSERT_TRUE(fs::is_regular_file(file)) << e.path;
        const std::string want = e.address.empty() ? e.content : Icat(image, e.address);
        EXPECT_EQ(ReadText(file), want) << e.path;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, NtfsLayoutsCliTest,
    ::testing::Values(
        LayoutCase{"ntfs-4k-sector",
                   {{"docs/old/gone.txt", "69", ""},
                    {"docs/tiny gone.txt", "70", ""},
                    {"big gone.bin", "71", ""},
                    {"resident gone.txt", "72", ""}}},
        LayoutCase{"ntfs-64k-cluster",
                   {{"data/two runs.bin", "68", ""},
                    {"data/resident gone.txt", "71", ""},
                    {"data/one cluster gone.txt", "72", ""},
                    {"big gone.bin", "73", ""}}},
        LayoutCase{
            "ntfs-2m-cluster",
            {{"data/resident gone.txt", "", NtfsContent("/data/resident gone.txt", {Text(100)})},
             {"data/one cluster gone.txt", "",
              NtfsContent("/data/one cluster gone.txt", {Text(6000)})},
             {"data/two clusters gone.bin", "",
              NtfsContent("/data/two clusters gone.bin",
                          {Text(4000), {NtfsWrite::kHole, 2093152}, Text(4000)})}}},
        LayoutCase{"ntfs-streams",
                   {{"streams/gone.txt", "67", ""},
                    {"streams/gone.txt:thumb", "67-128-5", ""},
                    {"streams/gone.txt:Zone.Identifier", "67-128-4", ""},
                    {"streams/empty with stream.txt", "68", ""},
                    {"streams/empty with stream.txt:données", "68-128-4", ""},
                    {"streams/ünïcode 名前.txt:流れ", "69-128-4", ""},
                    {"streams/ünïcode 名前.txt:empty", "69-128-5", ""}}},
        LayoutCase{"ntfs-compressed",
                   {{"packed/tiny.txt", "65", ""},
                    {"packed/small.txt", "66", ""},
                    {"packed/several.txt", "67", ""},
                    {"packed/mixed.bin", "68", ""}}},
        // Freed as Windows frees them: the 41-name file's names and the 800-run file's $DATA
        // pieces and name lie in extension records. Only the records were freed: the $Bitmap
        // still has their clusters in use, so both are overwritten by the volume's word.
        LayoutCase{"ntfs-attrlist-freed",
                   {{"links/kept.txt another name 01", "65", ""}, {"frag/kept.bin", "82", ""}},
                   3}),
    [](const ::testing::TestParamInfo<LayoutCase>& p)
    {
        std::string name;
        for (const char ch : std::string(p.param.image))
            name += ch == '-' ? '_' : ch;
        return name;
    });
