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
    s64 year = 0;
    s64 month = 0;
    s64 day = 0;
    CivilFromDays(s / 86400 - kUnixEpochFrom1601 / 86400, &year, &month, &day);
    out.year = static_cast<s32>(year);
    out.month = static_cast<s32>(month);
    out.day = static_cast<s32>(day);
}
