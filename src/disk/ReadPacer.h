// Holds the reads of a volume (the recovery's copy, the deep search's pass) at or below a
// rate, to spare a failing disk.
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

    // Bytes the next read may take: most without a limit; under one, whole units of unit bytes
    // worth at most a tenth of a second at the rate, never less than one unit nor more than
    // most. The first read goes ahead of the pacing: with reads of that size, no second of the
    // copy reads much more than the rate, the first one included.
    [[nodiscard]] u64 Portion(u64 unit, u64 most) const;

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
