#include "disk/ReadPacer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}
} // namespace

TEST(ParseRate, AcceptsBytesAndBinaryMultiples)
{
    const std::pair<const char*, u64> good[] = {
        {"1", 1},
        {"4096", 4096},
        {"750K", 750ull << 10},
        {"20M", 20ull << 20},
        {"20m", 20ull << 20},
        {"2G", 2ull << 30},
        {"20MB", 20ull << 20},
        {"20M/s", 20ull << 20},
        {"512B", 512},
        {"1024b/s", 1024},
        {"1048576G", 1ull << 50},
    };
    for (const auto& [text, want] : good)
    {
        u64 rate = 0;
        EXPECT_TRUE(ParseRate(text, &rate)) << text;
        EXPECT_EQ(rate, want) << text;
    }
    for (const char* text : {"", "0", "0M", "M", "-5M", "5 M", "5T", "5MM", "1.5M", "5M/", "x",
                             "1048577G", "99999999999999999999999", "18446744073709551617"})
    {
        u64 rate = 77;
        EXPECT_FALSE(ParseRate(text, &rate)) << text;
        EXPECT_EQ(rate, 77u) << text;
    }
}

TEST(ReadPacer, HoldsTheReadsToTheRate)
{
    // 64 KiB a second: 16 KiB four times is due one second after the start; the first call
    // only starts the clock's count at 0.25 s. Only lower bounds are checked (a busy machine
    // may sleep longer, never shorter).
    CReadPacer pacer(64 * 1024);
    const auto start = Clock::now();
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(pacer.Pace(16 * 1024, [] { return true; }));
    EXPECT_GE(SecondsSince(start), 0.99);
}

TEST(ReadPacer, NoLimitNeverWaits)
{
    CReadPacer pacer(0);
    const auto start = Clock::now();
    for (int i = 0; i < 1000; ++i)
        EXPECT_TRUE(pacer.Pace(u64{1} << 40, [] { return false; }));
    EXPECT_LT(SecondsSince(start), 5.0);
}

TEST(ReadPacer, StopEndsTheWaitEarly)
{
    // 1 byte a second and a 100-byte read: due in 100 s. A stop after 50 ms must end the wait
    // within a few of the pacer's 20 ms sleeps.
    CReadPacer pacer(1);
    std::atomic<bool> running{true};
    std::thread stopper(
        [&running]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            running = false;
        });
    const auto start = Clock::now();
    EXPECT_FALSE(pacer.Pace(100, [&running] { return running.load(); }));
    stopper.join();
    EXPECT_LT(SecondsSince(start), 10.0);
}

TEST(ReadPacer, HugeCountsDoNotOverflowIntoNoWait)
{
    // 2^62 bytes at 1 GiB a second is centuries away; the due time must not wrap into the
    // past (the pacer would then stop pacing). A stop ends the wait.
    CReadPacer pacer(1ull << 30);
    int asked = 0;
    EXPECT_FALSE(pacer.Pace(1ull << 62, [&asked] { return ++asked < 3; }));
    EXPECT_EQ(asked, 3);
}

TEST(ReadPacer, PortionIsATenthOfASecondInWholeUnits)
{
    const struct
    {
        u64 rate, unit, most, portion;
    } cases[] = {
        {0, 16384, 1 << 20, 1 << 20},              // no limit: the whole batch
        {100 << 10, 16384, 1 << 20, 16384},        // 100 KiB/s: one unit, not 1 MiB
        {1024, 16384, 1 << 20, 16384},             // below one unit a second: still one unit
        {5 << 20, 16384, 1 << 20, 524288},         // 5 MiB/s: 32 units
        {1ull << 40, 16384, 1 << 20, 1 << 20},     // a high rate: the whole batch
        {100 << 10, 16384, 4096, 4096},            // a batch below one unit
        {1ull << 50, 1, ~0ull, (1ull << 50) / 10}, // no overflow
    };
    for (const auto& c : cases)
        EXPECT_EQ(CReadPacer(c.rate).Portion(c.unit, c.most), c.portion)
            << c.rate << " " << c.unit << " " << c.most;
}

TEST(ReadPacer, FirstReadsKeepToTheRate)
{
    // 100 KiB a second, each read of a portion paced after it as the copy does: at no moment
    // have more bytes been read than the rate allows since the start, plus the one portion
    // read ahead (not the 1 MiB batch of a copy without a limit). A busy machine only reads
    // fewer.
    constexpr u64 kRate = 100 << 10;
    CReadPacer pacer(kRate);
    const auto start = Clock::now();
    u64 taken = 0;
    while (SecondsSince(start) < 0.5)
    {
        const u64 portion = pacer.Portion(16384, 1 << 20);
        EXPECT_LE(static_cast<double>(taken + portion), kRate * SecondsSince(start) + 16384.0 + 1.0)
            << taken;
        taken += portion;
        ASSERT_TRUE(pacer.Pace(portion, [] { return true; }));
    }
    EXPECT_GT(taken, 16384u);
}
