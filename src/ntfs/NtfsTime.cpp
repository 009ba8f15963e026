// FILETIME (UTC, 100 ns since 1601) to the local calendar time the catalogue shows.
#include <ctime>

#include "ntfs/Ntfs.h"
#include "platform/Unicode.h"

void CNtfs::FileTimeToFoundTime(s64 fileTime, FoundTime& out)
{
    constexpr s64 kUnixEpochFrom1601 = 11644473600; // seconds from 1601-01-01 to 1970-01-01
    s64 s = fileTime / 10000000;
    // FILETIME is UTC: shift it by the zone's offset at that instant (DST included).
    const time_t unixTime = static_cast<time_t>(s - kUnixEpochFrom1601);
    struct tm local = {};
    if (localtime_r(&unixTime, &local))
        s += local.tm_gmtoff;
    if (s < 0)
        s = 0;

    s64 days = s / 86400;
    out.hour = static_cast<s32>((s / 3600) % 24);
    out.minute = static_cast<s32>((s / 60) % 60);
    out.second = static_cast<s32>(s % 60);
    s64 year = 1601;
    year += days / 146097 * 400;
    days %= 146097;
    while (days > 365)
    {
        days -= IsLeapYear(year) ? 366 : 365;
        ++year;
    }
    if (days == 365 && !IsLeapYear(year))
    {
        out.year = static_cast<s32>(year + 1);
        out.month = 1;
        out.day = 1;
        return;
    }
    static constexpr s32 kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    s32 month = 0;
    while (month < 11)
    {
        const s64 len = kMonthDays[month] + (month == 1 && IsLeapYear(year) ? 1 : 0);
        if (days < len)
            break;
        days -= len;
        ++month;
    }
    out.year = static_cast<s32>(year);
    out.month = month + 1;
    out.day = static_cast<s32>(days + 1);
}
