// SHA-256 against sha256sum: lengths around the padding boundaries, data given in pieces of
// every size, and a message of a few MiB; the digest of a file with holes.
#include "recovery/Sha256.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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
    // The processor's SHA instructions (where it has them), then the portable rounds.
    for (const bool portable : {false, true})
    {
        SCOPED_TRACE(portable ? "portable rounds" : "SHA instructions");
        Sha256PortableRoundsOnly(portable);
        for (std::size_t size : {0u, 1u, 3u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u,
                                 4u * 1024 * 1024 + 7})
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
    }
    Sha256PortableRoundsOnly(false);
    // The digest of "abc" (FIPS 180-4).
    Sha256 abc;
    abc.Update(reinterpret_cast<const u8*>("abc"), 3);
    EXPECT_EQ(abc.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// A file with holes: the digest is that of its bytes, zeros of the holes included, and the
// holes are not read.
TEST(Sha256, FileDigestFeedsHolesWithoutReadingThem)
{
    const std::string path = ScratchDir("sha256") + "/holes";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    const std::vector<u8> head = Pattern(5000);
    const std::vector<u8> middle = Pattern(70000);
    constexpr u64 kMiddleAt = 12ull << 20;
    constexpr u64 kSize = 20ull << 20; // a hole at the end too
    ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    ASSERT_EQ(::pwrite(fd, middle.data(), middle.size(), kMiddleAt),
              static_cast<ssize_t>(middle.size()));
    ASSERT_EQ(::ftruncate(fd, kSize), 0);
    std::vector<u8> whole(kSize);
    std::copy(head.begin(), head.end(), whole.begin());
    std::copy(middle.begin(), middle.end(), whole.begin() + kMiddleAt);
    Sha256 sha;
    sha.Update(whole.data(), whole.size());
    const std::string expected = sha.HexDigest();
    for (const u64 room : {u64{4096}, u64{1} << 20})
    {
        std::vector<u8> buffer(room);
        u64 read = 0;
        EXPECT_EQ(DigestOfFile(fd, buffer.data(), room, &read), expected) << room;
        EXPECT_GE(read, head.size() + middle.size());
        EXPECT_LT(read, u64{1} << 20) << "the holes were read";
    }
    ::close(fd);
}
