// UTF-16LE to UTF-8, for FAT long names and NTFS names alike.
#include "platform/Unicode.h"

#include <cstring>

#include "platform/ByteOrder.h"

u32 EncodeUtf8(u32 cp, u8 out[4])
{
    if (cp < 0x80)
    {
        out[0] = static_cast<u8>(cp);
        return 1;
    }
    if (cp < 0x800)
    {
        out[0] = static_cast<u8>(0xC0 | (cp >> 6));
        out[1] = static_cast<u8>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000)
    {
        out[0] = static_cast<u8>(0xE0 | (cp >> 12));
        out[1] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<u8>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<u8>(0xF0 | (cp >> 18));
    out[1] = static_cast<u8>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<u8>(0x80 | (cp & 0x3F));
    return 4;
}

u32 Utf16LeToUtf8(const u8* src, u32 units, char* out, u32 capacity, bool stopAtNul)
{
    u32 written = 0;
    u32 i = 0;
    // Four ASCII units at a time while they and the terminator fit: most names are ASCII
    // throughout. A group with another unit (or a NUL to stop at) goes to the loop below.
    constexpr u64 kHighBits = 0xFF80FF80FF80FF80ULL; // set in a unit of 0x80 or above
    constexpr u64 kLaneOnes = 0x0001000100010001ULL;
    constexpr u64 kLaneTops = 0x8000800080008000ULL;
    while (i + 4 <= units && written + 5 <= capacity)
    {
        const u64 group = LoadLe64(src + static_cast<std::size_t>(2) * i);
        if ((group & kHighBits) != 0 || (stopAtNul && ((group - kLaneOnes) & ~group & kLaneTops)))
            break;
        const u32 four =
            static_cast<u32>((group & 0xFF) | ((group >> 8) & 0xFF00) | ((group >> 16) & 0xFF0000) |
                             ((group >> 24) & 0xFF000000));
        StoreLe32(out + written, four);
        written += 4;
        i += 4;
    }
    for (; i < units; ++i)
    {
        u32 cp = LoadLe16(src + static_cast<std::size_t>(2) * i);
        if (cp == 0 && stopAtNul)
            break;
        if (cp < 0x80)
        {
            // ASCII, nearly every unit of a name: one byte, without the general encoder.
            if (written + 2 > capacity)
                break;
            out[written++] = static_cast<char>(cp);
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units)
        {
            const u32 low = LoadLe16(src + static_cast<std::size_t>(2) * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF)
            {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD;
        u8 bytes[4];
        const u32 n = EncodeUtf8(cp, bytes);
        if (written + n + 1 > capacity)
            break;
        std::memcpy(out + written, bytes, n);
        written += n;
    }
    out[written] = '\0';
    return written;
}

// Both directions count from 1 March of year 0, whose 400-year eras start with a March and end
// with a leap day (or none), and shift to 1970 by the 719,468 days between.
s64 DaysFromCivil(s64 year, s64 month, s64 day)
{
    year -= month <= 2 ? 1 : 0;
    const s64 era = (year >= 0 ? year : year - 399) / 400;
    const s64 yearOfEra = year - era * 400;
    const s64 dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const s64 dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(s64 days, s64* year, s64* month, s64* day)
{
    const s64 z = days + 719468;
    const s64 era = (z >= 0 ? z : z - 146096) / 146097;
    const s64 dayOfEra = z - era * 146097;
    const s64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const s64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const s64 monthFromMarch = (5 * dayOfYear + 2) / 153;
    *month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    *year = era * 400 + yearOfEra + (*month <= 2 ? 1 : 0);
    *day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
}
