// CFaulty_RW: failing sectors, sectors that end transfers short, and a transfer budget.
#include "disk/Faulty_RW.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
std::vector<u8> Image()
{
    std::vector<u8> v(std::size_t{8} * 512);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<u8>(i / 512 + 1);
    return v;
}

TEST(Faulty_RWTest, FailingSectorFailsOnlyTheTransfersThatTouchIt)
{
    CFaulty_RW rw(Image());
    rw.FailSector(2);
    rw.FailSector(5, kErrSeek);
    std::vector<u8> buf(std::size_t{4} * 512);
    u32 done = 0;
    EXPECT_EQ(rw.ReadSectors(buf.data(), 2, &done, 0), kOk);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 2, &done, 1), kErrTransfer);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 3), kOk);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 3, &done, 3), kErrSeek);
    // A byte range whose tail lies in sector 2 fails in its tail phase.
    EXPECT_EQ(rw.ReadBytes(buf.data(), 600, &done, 500), kErrTransfer);
    EXPECT_EQ(rw.WriteBytes(buf.data(), 10, &done, 1030), kErrTransfer);
    EXPECT_EQ(rw.FaultCount(), 4u);

    rw.Heal();
    EXPECT_EQ(rw.ReadSectors(buf.data(), 4, &done, 1), kOk);
    EXPECT_EQ(done, 4u * 512);
}

TEST(Faulty_RWTest, ShortSectorEndsTransfersBeforeIt)
{
    CFaulty_RW rw(Image());
    rw.ShortAtSector(3);
    std::vector<u8> buf(std::size_t{4} * 512);
    u32 done = 0;
    EXPECT_EQ(rw.ReadSectors(buf.data(), 4, &done, 1), kOk);
    EXPECT_EQ(done, 2u * 512);
    EXPECT_EQ(buf[0], 2);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 3), kOk);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 4), kOk);
    EXPECT_EQ(done, 512u);
    // A range from inside sector 2 into sector 3 delivers only the bytes of sector 2.
    EXPECT_EQ(rw.ReadBytes(buf.data(), 100, &done, 3 * 512 - 30), kOk);
    EXPECT_EQ(done, 30u);
}

TEST(Faulty_RWTest, BudgetFailsEveryTransferAfterIt)
{
    CFaulty_RW rw(Image());
    rw.FailAfter(2);
    std::vector<u8> buf(512);
    u32 done = 0;
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 0), kOk);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 1), kOk);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 2), kErrTransfer);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 0), kErrTransfer);
    EXPECT_EQ(done, 0u);
}
} // namespace
