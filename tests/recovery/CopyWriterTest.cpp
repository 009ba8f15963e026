#include "recovery/CopyWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace
{
struct TempFile
{
    std::string path;
    int fd = -1;

    TempFile()
    {
        std::string pattern = ::testing::TempDir() + "copywriterXXXXXX";
        fd = ::mkstemp(pattern.data());
        path = pattern;
    }
    ~TempFile() { ::unlink(path.c_str()); }
};

std::vector<u8> Contents(const std::string& path)
{
    std::vector<u8> bytes;
    const int fd = ::open(path.c_str(), O_RDONLY);
    u8 buffer[256];
    for (ssize_t n = 0; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    if (fd >= 0)
        ::close(fd);
    return bytes;
}
} // namespace

// Writes, holes and the length at the end: the file holds the bytes in order, zeros where
// holes and never-written tails stand, and its length counts every one of them.
TEST(CopyWriter, HolesAndTailsGiveTheFileItsLength)
{
    struct Step
    {
        char op; // 'w' write count bytes of 'a'+i, 'h' hole, 'f' finish with count tail zeros
        u64 count;
    };
    const std::vector<std::vector<Step>> cases = {
        {{'w', 5}, {'f', 0}},
        {{'w', 5}, {'h', 7}, {'f', 0}},
        {{'h', 7}, {'w', 5}, {'f', 0}},
        {{'w', 5}, {'f', 9}},
        {{'w', 5}, {'h', 3}, {'f', 4}},
        {{'h', 4}, {'h', 0}, {'f', 0}}, // an empty hole after a hole still ends in a hole
        {{'h', 4}, {'w', 0}, {'w', 2}, {'h', 1}, {'f', 0}},
        {{'f', 0}},
    };
    for (std::size_t c = 0; c < cases.size(); ++c)
    {
        TempFile file;
        ASSERT_GE(file.fd, 0);
        std::vector<std::string> warnings;
        CopyWriter out(file.fd, file.path,
                       [&](const std::string& text) { warnings.push_back(text); });
        std::vector<u8> want;
        u8 next = 'a';
        for (const Step& step : cases[c])
        {
            if (step.op == 'w')
            {
                const std::vector<u8> bytes(step.count, next++);
                EXPECT_TRUE(out.Write(bytes.data(), bytes.size())) << c;
                want.insert(want.end(), bytes.begin(), bytes.end());
            }
            else
            {
                EXPECT_TRUE(step.op == 'h' ? out.Hole(step.count) : out.Finish(step.count)) << c;
                want.insert(want.end(), step.count, u8{0});
            }
        }
        EXPECT_EQ(out.Written(), want.size()) << c;
        EXPECT_TRUE(out.Close(true)) << c;
        EXPECT_EQ(Contents(file.path), want) << c;
        EXPECT_TRUE(warnings.empty()) << c;
    }
}

// Every refusal of the system gives the one warning naming the file, and a failure.
TEST(CopyWriter, RefusalsAreWarnedOnce)
{
    TempFile file;
    ASSERT_GE(file.fd, 0);
    const int readOnly = ::open(file.path.c_str(), O_RDONLY);
    ASSERT_GE(readOnly, 0);
    std::vector<std::string> warnings;
    CopyWriter out(readOnly, "dest/x.bin",
                   [&](const std::string& text) { warnings.push_back(text); });
    const u8 byte = 1;
    EXPECT_FALSE(out.Write(&byte, 1));
    ASSERT_TRUE(out.Hole(3)); // positioning alone needs no write access
    EXPECT_FALSE(out.Finish(0));
    EXPECT_EQ(out.Written(), 3u);
    ASSERT_EQ(warnings.size(), 2u);
    for (const std::string& text : warnings)
        EXPECT_EQ(text.rfind("Failed to write dest/x.bin: ", 0), 0u) << text;
    EXPECT_TRUE(out.Close(true));

    // A descriptor the system does not know: closing it fails, warned only when asked.
    for (const bool report : {false, true})
    {
        warnings.clear();
        CopyWriter stale(1 << 20, "dest/y.bin",
                         [&](const std::string& text) { warnings.push_back(text); });
        EXPECT_FALSE(stale.Close(report));
        EXPECT_EQ(warnings.size(), report ? 1u : 0u);
    }
}
