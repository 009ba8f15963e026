// Text and calendar rules both file systems share: UTF-16LE names to UTF-8, leap years, and
// dates to day numbers and back.
#pragma once

#include "platform/Types.h"

// Appends the UTF-8 form of code point cp to out; returns its length (1 to 4 bytes).
u32 EncodeUtf8(u32 cp, u8 out[4]);

// Converts units UTF-16LE code units at src to UTF-8 in out (capacity bytes, capacity >= 1).
// Surrogate pairs give one character, an unpaired surrogate gives U+FFFD. Stops at a U+0000
// unit when stopAtNul is set (the padding of a FAT long name), and before a character that
// would not fit with its terminator, so the text is cut only between characters. Returns the
// text's length; out[length] is NUL. Three bytes of room per unit, plus one, always suffice.
u32 Utf16LeToUtf8(const u8* src, u32 units, char* out, u32 capacity, bool stopAtNul);

// The Gregorian rule.
[[nodiscard]] constexpr bool IsLeapYear(s64 year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days from 1 January 1970 of a proleptic Gregorian date (month 1 to 12).
[[nodiscard]] s64 DaysFromCivil(s64 year, s64 month, s64 day);

// The proleptic Gregorian date of a day counted from 1 January 1970: the inverse of
// DaysFromCivil, by whole 400-, 100- and 4-year cycles counted from 1 March, so that a leap day
// ends its year (no loop over the years).
void CivilFromDays(s64 days, s64* year, s64* month, s64* day);
