// Holds the recovery's reads from a volume at or below a rate, to spare a failing disk.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/Types.h"

class CReadPacer
{
public:
    using Clock = std::chrono::steady_clock;

    // bytesPerSecond 0: no limit, Pace returns at once.
    explicit CReadPacer(u64 bytesPerSecond) : m_rate(bytesPerSecond) {}

    // Counts bytes read and waits until all bytes counted so far are due at the rate. The wait
    // is cut into short sleeps and ends early once running() turns false. False when it was
    // cut short.
    bool Pace(u64 bytes, const std::function<bool()>& running);

private:
    u64 m_rate;
    u64 m_bytes = 0;
    Clock::time_point m_start{};
    bool m_started = false;
};

// Parses a rate such as "750K", "20M" or "1G" (bytes a second; the suffixes are powers of
// 1024, an optional trailing "B" or "/s" is accepted) into *bytesPerSecond. False for anything
// else, for 0 and for values above 2^50.
[[nodiscard]] bool ParseRate(const std::string& text, u64* bytesPerSecond);
