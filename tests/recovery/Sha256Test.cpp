// SHA-256 against sha256sum: lengths around the padding boundaries, data given in pieces of
// every size, and a message of a few MiB.
#include "recovery/Sha256.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "support/TestImages.h"

namespace
{
std::string Sha256Sum(const std::vector<u8>& data)
{
    const std::string path = ScratchDir("sha256") + "/data";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()),
               static_cast<std::streamsize>(data.size()));
    std::string out;
    EXPECT_EQ(RunCommand("sha256sum '" + path + "'", &out), 0) << out;
    return out.substr(0, 64);
}

std::vector<u8> Pattern(std::size_t size)
{
    std::vector<u8> data(size);
    u32 x = 12345;
    for (u8& b : data)
    {
        x = x * 1103515245 + 12345;
        b = static_cast<u8>(x >> 16);
    }
    return data;
}
} // namespace

TEST(Sha256, AgreesWithSha256sum)
{
    for (std::size_t size :
         {0u, 1u, 3u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u, 4u * 1024 * 1024 + 7})
    {
        const std::vector<u8> data = Pattern(size);
        const std::string expected = Sha256Sum(data);
        // Whole, and in pieces of 1, 7, 64 and 100 bytes.
        for (std::size_t piece :
             {size, std::size_t{1}, std::size_t{7}, std::size_t{64}, std::size_t{100}})
        {
            if (piece == 1 && size > 100000)
                continue;
            Sha256 sha;
            for (std::size_t at = 0; at < size; at += piece)
                sha.Update(data.data() + at, std::min(piece, size - at));
            EXPECT_EQ(sha.HexDigest(), expected) << size << " bytes in pieces of " << piece;
        }
    }
    // The digest of "abc" (FIPS 180-4).
    Sha256 abc;
    abc.Update(reinterpret_cast<const u8*>("abc"), 3);
    EXPECT_EQ(abc.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
