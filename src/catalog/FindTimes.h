// A find's times as a timeline reads them: Unix seconds (UTC), 0 where the volume keeps none.
#pragma once

#include "platform/Types.h"
#include "records/FoundItem.h"

struct FindTimes
{
    s64 accessed = 0; // last access
    s64 modified = 0; // last write of the data
    s64 changed = 0;  // last change of the metadata (NTFS: of the MFT record)
    s64 created = 0;
};

// A local time as the search decoded it, in Unix seconds by the machine's time zone; 0 for a
// time never set (year 0) or one before 1970.
[[nodiscard]] s64 LocalTimeToUnix(const FoundTime& time);
// A FILETIME (UTC, 100 ns since 1601) in whole Unix seconds; 0 for one before 1970.
[[nodiscard]] s64 FileTimeToUnix(s64 fileTime);
// What the find's own record holds: its creation and access times; no write or change time.
[[nodiscard]] FindTimes NotedTimes(const FoundItem& item);
