// exFAT entry sets: the bounded decoder of File, Stream Extension and File Name entries, the
// set checksum, and the times.
#include "exfat/ExfatEntrySet.h"

#include <algorithm>
#include <ctime>

#include "exfat/ExfatLayout.h"
#include "platform/Unicode.h"

using namespace ExfatLayout;

bool ExfatEntrySet::NoFatChain() const
{
    return (flags & kFlagNoFatChain) != 0;
}

u16 ExfatSetChecksum(ByteView set, u32 count, bool restoreInUse)
{
    const std::size_t length = static_cast<std::size_t>(count) * kEntrySize;
    if (!set.Has(0, length))
        return 0;
    const u8* p = set.Data();
    u16 sum = 0;
    for (std::size_t i = 0; i < length; ++i)
    {
        if (i == kSetChecksum || i == kSetChecksum + 1)
            continue;
        u8 byte = p[i];
        if (restoreInUse && i % kEntrySize == kEntryType)
            byte |= kInUse;
        sum = static_cast<u16>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + byte);
    }
    return sum;
}

namespace
{
ExfatTime TimeAt(ByteView file, std::size_t stamp, std::size_t tenMs, std::size_t offset)
{
    ExfatTime t;
    t.timestamp = file.U32(stamp);
    t.tenMs = tenMs != 0 ? file.U8(tenMs) : 0;
    t.utcOffset = file.U8(offset);
    return t;
}

// The type byte a secondary entry of the set must carry: the in-use bit as the File entry's.
bool IsType(u8 type, u8 liveType, bool deleted)
{
    return type == (deleted ? static_cast<u8>(liveType & ~kInUse) : liveType);
}
} // namespace

ExfatSetResult DecodeExfatEntrySet(ByteView entries, ExfatEntrySet* out)
{
    *out = ExfatEntrySet{};
    const u8 type = entries.U8(kEntryType);
    if (!entries.Has(0, kEntrySize) ||
        (type != kTypeFile && type != static_cast<u8>(kTypeFile & ~kInUse)))
        return ExfatSetResult::kNotFile;
    ExfatEntrySet set;
    set.deleted = type != kTypeFile;
    set.secondaryCount = entries.U8(kSecondaryCount);
    if (set.secondaryCount < kMinSecondaryCount || set.secondaryCount > kMaxSecondaryCount)
        return ExfatSetResult::kInconsistent;
    const u32 count = set.secondaryCount + 1;
    if (!entries.Has(0, static_cast<std::size_t>(count) * kEntrySize))
        return ExfatSetResult::kShort;

    const ByteView file = entries.Sub(0, kEntrySize);
    const ByteView stream = entries.Sub(kEntrySize, kEntrySize);
    if (!IsType(stream.U8(kEntryType), kTypeStream, set.deleted))
        return ExfatSetResult::kInconsistent;
    const u32 nameLength = stream.U8(kNameLength);
    const u32 nameEntries = (nameLength + kNameUnitsPerEntry - 1) / kNameUnitsPerEntry;
    if (nameLength == 0 || 1 + nameEntries > set.secondaryCount)
        return ExfatSetResult::kInconsistent;

    // The name: 15 units per File Name entry, in order, right behind the Stream Extension.
    u8 units[kNameUnitsPerEntry * 18 * 2] = {};
    for (u32 i = 0; i < nameEntries; ++i)
    {
        const ByteView name =
            entries.Sub((2 + static_cast<std::size_t>(i)) * kEntrySize, kEntrySize);
        if (!IsType(name.U8(kEntryType), kTypeFileName, set.deleted))
            return ExfatSetResult::kInconsistent;
        const u32 take = std::min<u32>(kNameUnitsPerEntry, nameLength - i * kNameUnitsPerEntry);
        for (u32 u = 0; u < take * 2; ++u)
            units[i * kNameUnitsPerEntry * 2 + u] = name.U8(kFileName + u);
    }
    char text[255 * 3 + 1] = {};
    const u32 textLength = Utf16LeToUtf8(units, nameLength, text, sizeof text, true);
    if (textLength == 0)
        return ExfatSetResult::kInconsistent;
    set.name.assign(text, textLength);

    // Further secondary entries (vendor extensions) belong to the set as long as they carry
    // its in-use state; one that does not was taken by a later set, which starts there.
    set.entries = 2 + nameEntries;
    for (u32 i = set.entries; i < count; ++i)
    {
        const u8 t = entries.U8(static_cast<std::size_t>(i) * kEntrySize);
        const bool secondary = (t & kSecondaryFlag) != 0;
        if (!secondary || ((t & kInUse) != 0) == set.deleted)
            break;
        set.entries = i + 1;
    }

    set.attributes = file.U16(kFileAttributes);
    set.created = TimeAt(file, kCreateTimestamp, kCreate10ms, kCreateUtcOffset);
    set.modified = TimeAt(file, kModifiedTimestamp, kModified10ms, kModifiedUtcOffset);
    set.accessed = TimeAt(file, kAccessedTimestamp, 0, kAccessedUtcOffset);
    set.flags = stream.U8(kGeneralFlags);
    set.firstCluster = stream.U32(kFirstClusterField);
    set.dataLength = stream.U64(kDataLength);
    set.validDataLength = stream.U64(kValidDataLength);
    set.checksumOk = ExfatSetChecksum(entries, count, set.deleted) == file.U16(kSetChecksum);
    *out = set;
    return ExfatSetResult::kDecoded;
}

namespace
{
// Entry types without their in-use bit: allocation bitmap, up-case table, volume label, file,
// volume GUID, padding, access control, stream extension, file name, vendor extension and
// vendor allocation.
bool KnownEntryType(u8 type)
{
    switch (type & static_cast<u8>(~kInUse))
    {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x05:
    case 0x20:
    case 0x21:
    case 0x22:
    case 0x40:
    case 0x41:
    case 0x60:
    case 0x61:
        return true;
    default:
        return false;
    }
}
} // namespace

bool HoldsExfatEntries(ByteView cluster, bool* ends)
{
    *ends = false;
    if (!cluster.Has(0, kEntrySize) || cluster.U8(kEntryType) == kTypeEndOfDirectory)
        return false;
    for (std::size_t at = 0; cluster.Has(at, kEntrySize); at += kEntrySize)
    {
        const u8 type = cluster.U8(at + kEntryType);
        if (type == kTypeEndOfDirectory)
            *ends = true;
        else if (*ends || !KnownEntryType(type))
            return false;
    }
    return true;
}

bool FindExfatBitmap(ByteView directory, u32* firstCluster, u64* length)
{
    for (std::size_t at = 0; directory.Has(at, kEntrySize); at += kEntrySize)
    {
        const u8 type = directory.U8(at + kEntryType);
        if (type == kTypeEndOfDirectory)
            return false;
        // Bit 0 of BitmapFlags names the FAT the bitmap goes with; the first one is read.
        if (type == kTypeBitmap && (directory.U8(at + kBitmapFlags) & 1) == 0)
        {
            *firstCluster = directory.U32(at + kBitmapFirstCluster);
            *length = directory.U64(at + kBitmapDataLength);
            return true;
        }
    }
    return false;
}

FoundTime ExfatTimeToFoundTime(const ExfatTime& time)
{
    const u32 date = time.timestamp >> 16;
    const u32 clock = time.timestamp & 0xFFFF;
    std::tm t{};
    t.tm_year = static_cast<int>((date >> 9) + 1980 - 1900);
    t.tm_mon = static_cast<int>(std::clamp<u32>((date >> 5) & 15, 1, 12) - 1);
    t.tm_mday = static_cast<int>(std::max<u32>(date & 31, 1));
    t.tm_hour = static_cast<int>(std::min<u32>(clock >> 11, 23));
    t.tm_min = static_cast<int>(std::min<u32>((clock >> 5) & 63, 59));
    // Two-second steps, and a second more from the 10 ms increments of 100 .. 199.
    t.tm_sec = static_cast<int>(std::min<u32>((clock & 31) * 2 + (time.tenMs >= 100 ? 1 : 0), 59));
    if (time.utcOffset & kUtcOffsetValid)
    {
        // Sign-extend the 7-bit count of 15 minutes.
        const int quarters =
            (time.utcOffset & 0x40) ? (time.utcOffset & 0x7F) - 128 : (time.utcOffset & 0x7F);
        const std::time_t utc = timegm(&t) - static_cast<std::time_t>(quarters) * 15 * 60;
        std::tm local{};
        if (localtime_r(&utc, &local) != nullptr)
            t = local;
    }
    else
    {
        // timegm normalises the fields (a 31st of a shorter month moves on a day).
        std::time_t whole = timegm(&t);
        std::tm fixed{};
        if (gmtime_r(&whole, &fixed) != nullptr)
            t = fixed;
    }
    FoundTime out;
    out.year = t.tm_year + 1900;
    out.month = t.tm_mon + 1;
    out.day = t.tm_mday;
    out.hour = t.tm_hour;
    out.minute = t.tm_min;
    out.second = t.tm_sec;
    return out;
}
