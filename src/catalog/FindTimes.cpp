// A find's times in Unix seconds.
#include "catalog/FindTimes.h"

#include <ctime>

s64 LocalTimeToUnix(const FoundTime& time)
{
    if (time.year < 1970 || time.month < 1 || time.month > 12 || time.day < 1)
        return 0;
    std::tm local{};
    local.tm_year = time.year - 1900;
    local.tm_mon = time.month - 1;
    local.tm_mday = time.day;
    local.tm_hour = time.hour;
    local.tm_min = time.minute;
    local.tm_sec = time.second;
    // The zone's rule decides whether daylight saving time was in force.
    local.tm_isdst = -1;
    const std::time_t unix = std::mktime(&local);
    return unix < 0 ? 0 : static_cast<s64>(unix);
}

s64 FileTimeToUnix(s64 fileTime)
{
    // 100-nanosecond intervals from 1601-01-01 to 1970-01-01.
    constexpr s64 kUnixEpoch = 116444736000000000LL;
    constexpr s64 kPerSecond = 10000000LL;
    return fileTime < kUnixEpoch ? 0 : (fileTime - kUnixEpoch) / kPerSecond;
}

FindTimes NotedTimes(const FoundItem& item)
{
    FindTimes times;
    times.created = LocalTimeToUnix(item.created);
    times.accessed = LocalTimeToUnix(item.accessed);
    return times;
}
