// orlavent-cli on exFAT volumes made by mkfs.exfat and exfat-fuse: the drive list, the JSON
// listing, and recoveries compared with what the recipe wrote (also past the valid data length
// and beyond 4 GiB).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "CliProcess.h"
#include "platform/ByteOrder.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
// The files of exfat.sh that lie in one stretch, with their content tags and sizes.
struct Written
{
    const char* path;
    unsigned size;
};
const Written kContiguous[] = {
    {"big.bin", 1500000},
    {"Docs/gone.txt", 5000},
    {"Docs/Sub/Ein sehr langer Dateiname mit Umlauten äöü – und noch mehr.txt", 20000},
    {"Ünïcode Ordner ✓/Größe.bin", 7000},
    {"OldDir/old.txt", 2500},
    {"OldDir/Inner/inner.txt", 900},
};

class ExfatCliImageTest : public ::testing::TestWithParam<const char*>
{
};

TEST_P(ExfatCliImageTest, ListsAndRecoversWhatWasWritten)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    CliResult drives = RunCli({"drives", "C:=" + image});
    EXPECT_EQ(drives.status, 0) << drives.err;
    EXPECT_NE(drives.out.find("exFAT"), std::string::npos) << drives.out;
    CliResult scan = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.out.find("{\"volume\":\"C:\",\"fs\":\"exFAT\",\"path\":\"C:\",\"name\":"
                            "\"big.bin\",\"dir\":false,\"deleted\":1,\"size\":1500000,\"first\":"),
              std::string::npos)
        << scan.out;
    // What was written in one stretch and then deleted is intact.
    for (const Written& w : kContiguous)
    {
        const std::string name = std::string(w.path).substr(std::string(w.path).rfind('/') + 1);
        const std::size_t at = scan.out.find("\"name\":\"" + name + "\"");
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_EQ(scan.out.substr(scan.out.find("\"condition\":", at), 81),
                  "\"condition\":\"good\",\"overwritten_pct\":0,\"deep\":0,\"found_by\":\"search\","
                  "\"content\":\"\"}")
            << name;
    }

    const std::string dest = ScratchDir("exfat-recover");
    CliResult run = RunCli({"recover", "--to", dest, "C:=" + image});
    // The fragmented file's clusters were worked out around a live file's: inferred, and
    // copied whole.
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::size_t fragAt = scan.out.find("\"name\":\"frag.bin\"");
    ASSERT_NE(fragAt, std::string::npos);
    EXPECT_EQ(scan.out.substr(scan.out.find("\"condition\":", fragAt), 85),
              "\"condition\":\"inferred\",\"overwritten_pct\":0,\"deep\":0,\"found_by\":\"search\","
              "\"content\":\"\"}");
    for (const Written& w : kContiguous)
        EXPECT_EQ(ReadText(fs::path(dest) / w.path), FatContent(w.path, w.size)) << w.path;
    // Its chain gone, the fragmented file comes back as written: it steps over the live pad.bin,
    // written before it. The literal read from its first cluster takes pad.bin's clusters.
    const std::string frag = ReadText(fs::path(dest) / "frag.bin");
    EXPECT_EQ(frag, FatContent("frag.bin", static_cast<unsigned>(frag.size())));
    const std::string literal = ScratchDir("exfat-contiguous");
    CliResult old = RunCli(
        {"recover", "--contiguous", "--to", literal, "--item", "C:\\frag.bin", "C:=" + image});
    EXPECT_EQ(old.status, 0) << old.out << old.err;
    EXPECT_EQ(ReadText(fs::path(literal) / "frag.bin").size(), frag.size());
    EXPECT_NE(ReadText(fs::path(literal) / "frag.bin"), frag);
}

INSTANTIATE_TEST_SUITE_P(Volumes, ExfatCliImageTest,
                         ::testing::Values("exfat-4k", "exfat-32k", "exfat-128k"));

TEST(ExfatCliTest, ExfatPartitionOfADiskIsADrive)
{
    const std::string image = TestImage("exfat-mbr");
    ASSERT_FALSE(image.empty());
    CliResult drives = RunCli({"drives", "C:=" + image});
    EXPECT_EQ(drives.status, 0) << drives.err;
    EXPECT_NE(drives.out.find("exFAT        INSIDE"), std::string::npos) << drives.out;
    EXPECT_NE(drives.out.find("(partition 1)"), std::string::npos) << drives.out;
    CliResult scan = RunCli({"scan", "C:=" + image});
    EXPECT_EQ(scan.status, 0) << scan.out << scan.err;
    EXPECT_NE(scan.out.find("C: exFAT"), std::string::npos) << scan.out;
}

// Sets the ValidDataLength of the stream extension whose DataLength is dataLength.
bool SetValidLength(std::vector<u8>& image, u64 dataLength, u64 valid)
{
    for (std::size_t at = 0; at + 32 <= image.size(); at += 32)
        if ((image[at] == 0x40 || image[at] == 0xC0) && LoadLe64(&image[at + 0x18]) == dataLength)
        {
            StoreLe64(&image[at + 0x08], valid);
            return true;
        }
    return false;
}

TEST(ExfatCliTest, BytesPastTheValidDataLengthAreRecoveredAsZeros)
{
    const std::string image = TestImage("exfat-4k");
    ASSERT_FALSE(image.empty());
    std::vector<u8> bytes = ReadWholeFile(image);
    // The set checksum no longer matches: the set is listed all the same.
    ASSERT_TRUE(SetValidLength(bytes, 1500000, 70000));
    const std::string dir = ScratchDir("exfat-valid");
    const std::string patched = dir + "/valid.img";
    std::ofstream(patched, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    CliResult run =
        RunCli({"recover", "--to", dir + "/out", "--item", "C:\\big.bin", "C:=" + patched});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    std::string expected = FatContent("big.bin", 70000);
    expected.resize(1500000, '\0');
    EXPECT_TRUE(ReadText(dir + "/out/big.bin") == expected);
}

// Bytes of path at offset.
std::string At(const std::string& path, u64 offset, std::size_t count)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string s(count, '\0');
    in.read(s.data(), static_cast<std::streamsize>(count));
    return s;
}

TEST(ExfatCliSlowTest, FileOverFourGibibytesIsRecoveredWhole)
{
    const std::string image = TestImage("exfat-huge");
    ASSERT_FALSE(image.empty());
    constexpr u64 kSize = (4096ull + 4) << 20;
    CliResult scan = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.out.find("\"name\":\"huge.bin\",\"dir\":false,\"deleted\":1,\"size\":" +
                            std::to_string(kSize)),
              std::string::npos)
        << scan.out;
    const std::string dest = ScratchDir("exfat-huge");
    CliResult run = RunCli({"recover", "--to", dest, "C:=" + image});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::string file = dest + "/huge.bin";
    ASSERT_EQ(fs::file_size(file), kSize);
    // Zeros with three marks: the marks where they were written, and nothing else but zeros.
    struct Mark
    {
        u64 at;
        std::string text;
    };
    const Mark marks[] = {
        {0, "huge start"}, {2048ull << 20, "huge middle"}, {kSize - 8, "huge end"}};
    for (const Mark& m : marks)
        EXPECT_EQ(At(file, m.at, m.text.size()), m.text);
    std::ifstream in(file, std::ios::binary);
    std::vector<char> block(1 << 20);
    u64 nonZero = 0;
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0)
    {
        for (std::streamsize i = 0; i < in.gcount(); ++i)
            nonZero += block[static_cast<std::size_t>(i)] != 0;
        if (in.gcount() < static_cast<std::streamsize>(block.size()))
            break;
    }
    u64 markBytes = 0;
    for (const Mark& m : marks)
        for (char c : m.text)
            markBytes += c != 0;
    EXPECT_EQ(nonZero, markBytes);
    fs::remove(file);
}
} // namespace
