// The date a photo was taken, from the TIFF structure of its EXIF block: DateTimeOriginal in the
// EXIF IFD, else DateTime in IFD0, each "YYYY:MM:DD HH:MM:SS".
#include "carve/ExifDate.h"

#include <cstddef>

#include "carve/MediaRead.h"

namespace
{
constexpr u16 kTagDateTime = 0x0132;
constexpr u16 kTagExifIfd = 0x8769;
constexpr u16 kTagDateTimeOriginal = 0x9003;
constexpr u16 kTypeAscii = 2;
constexpr u16 kTypeLong = 4;
constexpr u16 kTypeIfd = 13;
constexpr std::size_t kEntry = 12;
constexpr std::size_t kDateLength = 19; // "YYYY:MM:DD HH:MM:SS"

// The TIFF block with its byte order.
struct TiffBytes
{
    std::span<const u8> bytes;
    bool bigEndian = false;

    [[nodiscard]] bool Has(u64 offset, u64 length) const
    {
        return media::Fits(offset, length, bytes.size());
    }
    [[nodiscard]] u16 U16(std::size_t at) const
    {
        return bigEndian ? media::LoadBe16(bytes.data() + at) : LoadLe16(bytes.data() + at);
    }
    [[nodiscard]] u32 U32(std::size_t at) const
    {
        return bigEndian ? media::LoadBe32(bytes.data() + at) : LoadLe32(bytes.data() + at);
    }
};

// Reads count digits at p as a number; false when one is not a digit.
bool Digits(const u8* p, std::size_t count, u32* value)
{
    *value = 0;
    for (std::size_t i = 0; i < count; ++i)
    {
        if (p[i] < '0' || p[i] > '9')
            return false;
        *value = *value * 10 + (p[i] - '0');
    }
    return true;
}

bool ParseDate(const u8* p, FoundTime* time)
{
    u32 year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!Digits(p, 4, &year) || p[4] != ':' || !Digits(p + 5, 2, &month) || p[7] != ':' ||
        !Digits(p + 8, 2, &day) || p[10] != ' ' || !Digits(p + 11, 2, &hour) || p[13] != ':' ||
        !Digits(p + 14, 2, &minute) || p[16] != ':' || !Digits(p + 17, 2, &second))
        return false;
    if (year == 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60)
        return false;
    time->year = static_cast<s16>(year);
    time->month = static_cast<u8>(month);
    time->day = static_cast<u8>(day);
    time->hour = static_cast<u8>(hour);
    time->minute = static_cast<u8>(minute);
    time->second = static_cast<u8>(second);
    return true;
}

// Looks through the IFD at offset for a date tag and the EXIF IFD's offset.
void ScanIfd(const TiffBytes& tiff, u64 offset, u16 dateTag, FoundTime* date, u64* exifIfd)
{
    if (!tiff.Has(offset, 2))
        return;
    const std::size_t at = static_cast<std::size_t>(offset);
    const std::size_t count = tiff.U16(at);
    for (std::size_t i = 0; i < count; ++i)
    {
        const u64 entry = offset + 2 + u64{i} * kEntry;
        if (!tiff.Has(entry, kEntry))
            return;
        const std::size_t e = static_cast<std::size_t>(entry);
        const u16 tag = tiff.U16(e);
        const u16 type = tiff.U16(e + 2);
        const u32 n = tiff.U32(e + 4);
        const u32 value = tiff.U32(e + 8);
        if (tag == dateTag && type == kTypeAscii && n >= kDateLength &&
            tiff.Has(value, kDateLength))
            ParseDate(tiff.bytes.data() + value, date);
        else if (tag == kTagExifIfd && exifIfd != nullptr && n == 1 &&
                 (type == kTypeLong || type == kTypeIfd))
            *exifIfd = value;
    }
}
} // namespace

FoundTime ExifDateTaken(std::span<const u8> bytes)
{
    if (bytes.size() < 8)
        return {};
    TiffBytes tiff{bytes, bytes[0] == 'M'};
    const bool order = (bytes[0] == 'I' && bytes[1] == 'I') || (bytes[0] == 'M' && bytes[1] == 'M');
    if (!order || tiff.U16(2) != 42)
        return {};
    FoundTime original;
    FoundTime plain;
    u64 exifIfd = 0;
    ScanIfd(tiff, tiff.U32(4), kTagDateTime, &plain, &exifIfd);
    if (exifIfd != 0)
        ScanIfd(tiff, exifIfd, kTagDateTimeOriginal, &original, nullptr);
    return original.year != 0 ? original : plain;
}
