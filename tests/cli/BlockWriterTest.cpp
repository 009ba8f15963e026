// The listing formatted on two threads: byte for byte the single-threaded output, whatever the
// number of items and blocks, and an exception from either thread reaches the caller.
#include "cli/BlockWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace
{
std::string Line(std::size_t i)
{
    return "item " + std::to_string(i) + "\n";
}

// Runs WriteInBlocks into a temporary file and returns what was written.
std::string Written(std::size_t count, std::size_t blockItems, std::size_t throwAt = SIZE_MAX)
{
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    WriteInBlocks(
        count, blockItems,
        [throwAt](std::string& out, std::size_t from, std::size_t to)
        {
            for (std::size_t i = from; i < to; ++i)
            {
                if (i == throwAt)
                    throw std::runtime_error("format failed");
                out += Line(i);
            }
        },
        file);
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char chunk[4096];
    for (std::size_t got = 0; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, got);
    std::fclose(file);
    return text;
}

TEST(BlockWriter, WritesTheItemsInOrder)
{
    const struct
    {
        std::size_t count;
        std::size_t blockItems;
    } cases[] = {{0, 4}, {1, 4},  {3, 4},  {4, 4},    {5, 4}, {8, 4},
                 {9, 4}, {12, 4}, {23, 4}, {1000, 7}, {5, 0}, {100000, 64}};
    for (const auto& c : cases)
    {
        std::string expected;
        for (std::size_t i = 0; i < c.count; ++i)
            expected += Line(i);
        EXPECT_EQ(Written(c.count, c.blockItems), expected)
            << c.count << " items in blocks of " << c.blockItems;
    }
}

TEST(BlockWriter, AFormattingErrorReachesTheCaller)
{
    // Item 5 lies in the helper's block (the second), item 9 in this thread's (the third), and
    // item 0 in the only block of a short listing.
    for (std::size_t throwAt : {5u, 9u})
        EXPECT_THROW((void)Written(40, 4, throwAt), std::runtime_error) << throwAt;
    EXPECT_THROW((void)Written(3, 4, 0), std::runtime_error);
}
} // namespace
