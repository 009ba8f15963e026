#include "disk/ReadPacer.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <thread>

namespace
{
// Longest single sleep: a stop is noticed within this time.
constexpr auto kSlice = std::chrono::milliseconds(20);
// Under a limit, one read takes at most the bytes of this share of a second.
constexpr u64 kPortionsPerSecond = 10;
} // namespace

u64 CReadPacer::Portion(u64 unit, u64 most) const
{
    if (m_rate == 0 || unit == 0 || most <= unit)
        return most;
    const u64 units = std::max<u64>(1, m_rate / kPortionsPerSecond / unit);
    return std::min(most, units > most / unit ? most : units * unit);
}

bool CReadPacer::Pace(u64 bytes, const std::function<bool()>& running)
{
    if (m_rate == 0)
        return true;
    if (!m_started)
    {
        m_start = Clock::now();
        m_started = true;
    }
    m_bytes += bytes;
    // When the bytes read so far are due, in nanoseconds after the start (in long double:
    // bytes * 1e9 overflows 64 bits from 18 GB on).
    const long double dueNs = static_cast<long double>(m_bytes) * 1e9L / m_rate;
    const auto due =
        m_start + std::chrono::nanoseconds(static_cast<s64>(std::min<long double>(dueNs, 9.0e18L)));
    for (;;)
    {
        if (!running())
            return false;
        const auto now = Clock::now();
        if (now >= due)
            return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(due - now, kSlice));
    }
}

bool ParseRate(const std::string& text, u64* bytesPerSecond)
{
    std::size_t i = 0;
    u64 value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
    {
        if (value > (u64{1} << 50))
            return false;
        value = value * 10 + static_cast<u64>(text[i] - '0');
        ++i;
    }
    if (i == 0)
        return false;
    std::string unit = text.substr(i);
    for (char& c : unit)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (unit.ends_with("/S"))
        unit.resize(unit.size() - 2);
    if (unit.size() > 1 && unit.back() == 'B')
        unit.pop_back();
    else if (unit == "B")
        unit.clear();
    int shift = 0;
    if (unit == "K")
        shift = 10;
    else if (unit == "M")
        shift = 20;
    else if (unit == "G")
        shift = 30;
    else if (!unit.empty())
        return false;
    if (value == 0 || value > ((u64{1} << 50) >> shift))
        return false;
    *bytesPerSecond = value << shift;
    return true;
}
