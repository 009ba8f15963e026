// FILETIME (UTC, 100 ns since 1601) to the local calendar time the catalogue shows.
#include <ctime>
#include <iterator>

#include "ntfs/Ntfs.h"
#include "platform/Unicode.h"

namespace
{
constexpr s64 kUnixEpochFrom1601 = 11644473600; // seconds from 1601-01-01 to 1970-01-01

bool LookUpOffset(s64 unixTime, s64* offset)
{
    const auto t = static_cast<time_t>(unixTime);
    struct tm local = {};
    if (!localtime_r(&t, &local))
        return false;
    *offset = local.tm_gmtoff;
    return true;
}

// The date of a day counted from 1 January 1601 (proleptic Gregorian), by whole cycles: the
// 400-year cycle, then the year within it from the day's place in its 4-, 100- and 400-year
// cycles, counted from 1 March so that a leap day ends its year. (Walking the years one by one
// took a loop of up to 400 steps for every time of every record.)
void DateFromDays(s64 days, FoundTime& out)
{
    constexpr s64 kDaysFrom1600March = 306;  // 1 March 1600 to 1 January 1601
    const s64 z = days + kDaysFrom1600March; // never negative: days is
    const s64 era = z / 146097;
    const s64 dayOfEra = z % 146097;
    const s64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const s64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const s64 monthFromMarch = (5 * dayOfYear + 2) / 153;
    const s64 month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    out.year = static_cast<s32>(1600 + era * 400 + yearOfEra + (month <= 2 ? 1 : 0));
    out.month = static_cast<s32>(month);
    out.day = static_cast<s32>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
}
} // namespace

bool CNtfs::ZoneOffsets::At(s64 unixTime, s64* offset)
{
    const s64 hour = unixTime >= 0 ? unixTime / 3600 : -((-unixTime + 3599) / 3600);
    // Hours before 1970 are looked up each time (rare on a disk, and -1 marks an empty slot).
    if (hour < 0)
        return LookUpOffset(unixTime, offset);
    Hour& slot = m_hours[static_cast<u64>(hour) % std::size(m_hours)];
    if (slot.hour == hour)
    {
        *offset = slot.offset;
        return true;
    }
    s64 first = 0;
    s64 last = 0;
    if (LookUpOffset(hour * 3600, &first) && LookUpOffset(hour * 3600 + 3599, &last) &&
        first == last)
    {
        slot = Hour{hour, first};
        *offset = first;
        return true;
    }
    return LookUpOffset(unixTime, offset);
}

void CNtfs::FileTimeToFoundTime(s64 fileTime, FoundTime& out)
{
    FileTimeToFoundTime(fileTime, out, nullptr);
}

void CNtfs::FileTimeToFoundTime(s64 fileTime, FoundTime& out, ZoneOffsets* zones)
{
    s64 s = fileTime / 10000000;
    // FILETIME is UTC: shift it by the zone's offset at that instant (DST included).
    s64 offset = 0;
    const s64 unixTime = s - kUnixEpochFrom1601;
    if (zones ? zones->At(unixTime, &offset) : LookUpOffset(unixTime, &offset))
        s += offset;
    if (s < 0)
        s = 0;

    out.hour = static_cast<s32>((s / 3600) % 24);
    out.minute = static_cast<s32>((s / 60) % 60);
    out.second = static_cast<s32>(s % 60);
    DateFromDays(s / 86400, out);
}
