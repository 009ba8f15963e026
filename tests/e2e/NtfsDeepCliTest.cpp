// orlavent-cli's deep search on an NTFS volume filled through libntfs-3g and formatted again
// with mkntfs -f: the old MFT's records bring every file back under its full path, byte-exact,
// while the search without --deep finds nothing of them.
#include <gtest/gtest.h>

#include <filesystem>

#include "CliProcess.h"
#include "support/NtfsContent.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
struct Written
{
    const char* path;              // in the volume, as the recipe wrote it
    std::vector<NtfsWrite> writes; // what it wrote there
};

NtfsWrite Text(std::uint64_t n)
{
    return {NtfsWrite::kText, n};
}

// The JSON text of a volume path: '\' doubled.
std::string JsonPath(const std::string& path)
{
    std::string out;
    for (const char c : path)
        out += c == '/' ? std::string("\\\\") : std::string(1, c);
    return out;
}
} // namespace

TEST(NtfsDeepCliTest, BringsBackTheTreeOfAFormattedVolume)
{
    const std::string image = TestImage("ntfs-formatted");
    ASSERT_FALSE(image.empty());
    const std::vector<Written> files = {
        {"/DCIM/100CAM01/IMG_0001.JPG", {Text(70000)}},
        {"/DCIM/100CAM01/IMG_0002.JPG", {Text(91000)}},
        {"/DCIM/100CAM01/IMG_0003.JPG", {Text(123456)}},
        {"/Documents/letter.txt", {Text(5000)}},
        {"/Documents/Sub/notes.txt", {Text(20000)}},
        {"/small.txt", {Text(300)}},                         // resident in its record
        {"/frag.bin", {Text(8192), Text(8192), Text(8192)}}, // three runs
    };

    const CliResult plain = RunCli({"scan", "--json", image});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out.find("\"deep\":1"), std::string::npos);
    for (const Written& f : files)
        EXPECT_EQ(plain.out.find(JsonPath(f.path)), std::string::npos) << f.path;

    const CliResult deep = RunCli({"scan", "--deep", "--json", image});
    ASSERT_EQ(deep.status, 0) << deep.err;
    for (const Written& f : files)
    {
        const std::string path(f.path);
        const std::size_t slash = path.rfind('/');
        const std::string line = "\"path\":\"C:" + JsonPath(path.substr(0, slash)) +
                                 "\",\"name\":\"" + path.substr(slash + 1) + "\"";
        const std::size_t at = deep.out.find(line);
        ASSERT_NE(at, std::string::npos) << f.path;
        const std::string row = deep.out.substr(at, deep.out.find('\n', at) - at);
        EXPECT_NE(row.find("\"condition\":\"good\""), std::string::npos) << row;
        EXPECT_NE(row.find("\"deep\":1"), std::string::npos) << row;
        EXPECT_NE(row.find("\"deleted\":1"), std::string::npos) << row;
    }
    for (const char* folder : {"\"path\":\"C:\",\"name\":\"DCIM\",\"dir\":true",
                               "\"path\":\"C:\\\\Documents\",\"name\":\"Sub\",\"dir\":true"})
        EXPECT_NE(deep.out.find(folder), std::string::npos) << folder;

    const std::string dest = ScratchDir("ntfs-deep-formatted");
    const CliResult recover = RunCli({"recover", "--deep", image, "--to", dest});
    // The .JPG files hold text: each is damaged, copied as it is with a warning.
    const bool damaged = deep.out.find("\"content\":\"damaged\"") != std::string::npos;
    EXPECT_EQ(recover.status, damaged ? 3 : 0) << recover.out << recover.err;
    for (const Written& f : files)
        EXPECT_EQ(ReadText((fs::path(dest) / (std::string(f.path).substr(1))).string()),
                  NtfsContent(f.path, f.writes))
            << f.path;
}
