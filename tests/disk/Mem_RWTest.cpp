// CMem_RW: the byte-range phases it shares with the device reader, counted in transfers, and
// read-modify-write of partial sectors.
#include "disk/Mem_RW.h"

#include <gtest/gtest.h>

#include <ostream>

#include <numeric>
#include <vector>

namespace
{
std::vector<u8> Numbered(std::size_t size)
{
    std::vector<u8> v(size);
    for (std::size_t i = 0; i < size; ++i)
        v[i] = static_cast<u8>(i * 31 + (i >> 9));
    return v;
}

struct PhaseCase
{
    const char* name;
    s64 offset;
    u32 count;
    u64 transfers; // positioned reads: head, middle and tail each count one
};

void PrintTo(const PhaseCase& c, std::ostream* os)
{
    *os << c.name;
}

class Mem_RWPhaseTest : public ::testing::TestWithParam<PhaseCase>
{
};

TEST_P(Mem_RWPhaseTest, ReadBytesUsesOneTransferPerPhase)
{
    const PhaseCase& c = GetParam();
    std::vector<u8> image = Numbered(std::size_t{8} * 512);
    CMem_RW rw(image);
    std::vector<u8> buf(c.count);
    u32 done = 0;
    ASSERT_EQ(rw.ReadBytes(buf.data(), c.count, &done, c.offset), kOk);
    EXPECT_EQ(done, c.count);
    EXPECT_EQ(rw.ReadCount(), c.transfers);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), image.begin() + c.offset));
}

INSTANTIATE_TEST_SUITE_P(Phases, Mem_RWPhaseTest,
                         ::testing::Values(PhaseCase{"OneAlignedSectorIsMiddleOnly", 512, 512, 1},
                                           PhaseCase{"LargeAlignedRangeIsOneTransfer", 0, 4096, 1},
                                           PhaseCase{"InsideOneSectorIsHeadOnly", 1000, 10, 1},
                                           PhaseCase{"HeadMiddleTail", 500, 1034, 3},
                                           PhaseCase{"HeadAndTailWithoutMiddle", 500, 100, 2},
                                           PhaseCase{"AlignedShortIsTailOnly", 1024, 100, 1},
                                           PhaseCase{"MiddleAndTail", 1024, 600, 2}),
                         [](const auto& p) { return std::string(p.param.name); });

struct WriteCase
{
    const char* name;
    s64 offset;
    u32 count;
};

void PrintTo(const WriteCase& c, std::ostream* os)
{
    *os << c.name;
}

class Mem_RWWriteTest : public ::testing::TestWithParam<WriteCase>
{
};

TEST_P(Mem_RWWriteTest, WriteBytesChangesOnlyTheRange)
{
    const WriteCase& c = GetParam();
    std::vector<u8> image = Numbered(std::size_t{8} * 512);
    CMem_RW rw(image);
    std::vector<u8> data(c.count);
    std::iota(data.begin(), data.end(), static_cast<u8>(0x80));
    u32 done = 0;
    ASSERT_EQ(rw.WriteBytes(data.data(), c.count, &done, c.offset), kOk);
    EXPECT_EQ(done, c.count);
    std::vector<u8> want = image;
    std::copy(data.begin(), data.end(), want.begin() + c.offset);
    EXPECT_EQ(rw.Image(), want);
}

INSTANTIATE_TEST_SUITE_P(Ranges, Mem_RWWriteTest,
                         ::testing::Values(WriteCase{"ThreeBytesAtFive", 5, 3},
                                           WriteCase{"AlignedSector", 1024, 512},
                                           WriteCase{"HeadMiddleTail", 500, 1034},
                                           WriteCase{"HeadAndTail", 300, 400},
                                           WriteCase{"TailOnly", 2048, 7}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Mem_RWTest, ReadBytesAndWriteBytesUseTheSectorSize)
{
    std::vector<u8> image = Numbered(std::size_t{4} * 4096);
    CMem_RW rw(image, 4096);
    std::vector<u8> buf(5000);
    u32 done = 0;
    ASSERT_EQ(rw.ReadBytes(buf.data(), 5000, &done, 3000), kOk);
    EXPECT_EQ(done, 5000u);
    EXPECT_EQ(rw.ReadCount(), 2u); // head of sector 0, tail in sector 1
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), image.begin() + 3000));
    ASSERT_EQ(rw.ReadSectors(buf.data(), 1, &done, 2), kOk);
    EXPECT_EQ(done, 4096u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 4096, image.begin() + 8192));
}

TEST(Mem_RWTest, ViewOfCallerBytesRefusesWrites)
{
    std::vector<u8> image = Numbered(1024);
    CMem_RW rw(image.data(), image.size());
    u8 byte = 0;
    u32 done = 0;
    EXPECT_EQ(rw.WriteBytes(&byte, 1, &done, 10), kErrTransfer);
    EXPECT_EQ(rw.WriteSectors(image.data(), 1, &done, 0), kErrTransfer);
    EXPECT_EQ(image, Numbered(1024));
}

TEST(Mem_RWTest, EmptyViewReadsNothing)
{
    CMem_RW rw(nullptr, 0);
    std::vector<u8> buf(512, 0xEE);
    u32 done = 1;
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 0), kOk);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(rw.ReadBytes(buf.data(), 10, &done, 3), kOk);
    EXPECT_EQ(done, 0u);
}

TEST(Mem_RWTest, OpenClosesAndReopens)
{
    CMem_RW rw(Numbered(1024));
    std::vector<u8> buf(512);
    u32 done = 0;
    EXPECT_EQ(rw.Open("", 512), kErrTransfer);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 0), kErrUnsupported);
    EXPECT_EQ(rw.ReadBytes(buf.data(), 1, &done, 0), kErrNotOpen);
    EXPECT_EQ(rw.Open("C:", 0), kErrNoMemory);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 0), kErrUnsupported);
    EXPECT_EQ(rw.Open("C:", 512), kOk);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 1), kOk);
    EXPECT_EQ(done, 512u);
}

TEST(Mem_RWTest, ZeroSectorSizeLeavesTheReaderClosed)
{
    CMem_RW rw(Numbered(1024), 0);
    std::vector<u8> buf(512);
    u32 done = 0;
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 0), kErrUnsupported);
}
} // namespace
