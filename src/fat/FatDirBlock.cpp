// One block of FAT directory entries: the directory check, the walk to the next entry worth
// reporting, and the lookup of an entry by its index.
#include "fat/FatDirBlock.h"

#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/Status.h"

using namespace FatDirLayout;

std::string TrimRight(const char* text)
{
    std::string s(text);
    std::size_t end = s.find_last_not_of(" \t\r\n\v\f");
    s.erase(end == std::string::npos ? 0 : end + 1);
    return s;
}

bool IsDotName(const std::string& trimmed)
{
    return trimmed == "." || trimmed == "..";
}

bool CheckDirBlock(const u8* block, u32 valid, u32 limit)
{
    if (block == nullptr || valid < kEntrySize)
        return false;
    for (u32 offset = 0; offset + kEntrySize <= valid; offset += kEntrySize)
    {
        const u8* entry = block + offset;
        if (entry[kName] == 0x00)
            return offset != 0;
        u8 attr = entry[kAttr];
        if (attr & 0xC0)
            return false;
        if ((attr & kAttrLongNameMask) == kAttrLongName)
            continue;
        u32 cluster =
            (static_cast<u32>(LoadLe16(entry + kFstClusHi)) << 16) | LoadLe16(entry + kFstClusLo);
        if (cluster > limit)
            return false;
    }
    return true;
}

namespace
{
// Bytes that no short name holds (besides those below 0x20).
bool BadShortNameByte(u8 b)
{
    switch (b)
    {
    case 0x22:
    case 0x2A:
    case 0x2B:
    case 0x2C:
    case 0x2E:
    case 0x2F:
    case 0x3A:
    case 0x3B:
    case 0x3C:
    case 0x3D:
    case 0x3E:
    case 0x3F:
    case 0x5B:
    case 0x5C:
    case 0x5D:
    case 0x7C:
        return true;
    default:
        return b < 0x20;
    }
}

bool PlausibleShortName(const u8* entry)
{
    if (std::memcmp(entry, ".          ", 11) == 0 || std::memcmp(entry, "..         ", 11) == 0)
        return true;
    // The first byte may hold the deleted mark or 0x05 (a name starting with the byte 0xE5).
    if (entry[0] != kDeletedMark && entry[0] != 0x05 && BadShortNameByte(entry[0]))
        return false;
    for (u32 i = 1; i < 11; ++i)
        if (BadShortNameByte(entry[i]))
            return false;
    return true;
}

// A DOS time (hh:5 mm:6 ss/2:5) inside the day, and a DOS date that is 0 or names a month and a
// day.
bool PlausibleDosTime(u16 date, u16 time)
{
    if ((time >> 11) > 23 || ((time >> 5) & 63) > 59 || (time & 31) > 29)
        return false;
    if (date == 0)
        return true;
    const u32 month = (date >> 5) & 15;
    return month >= 1 && month <= 12 && (date & 31) != 0;
}

bool PlausibleEntry(const u8* entry, u32 limit)
{
    const u8 attr = entry[kAttr];
    if ((attr & kAttrLongNameMask) == kAttrLongName)
    {
        // A long-name part: attribute exactly 0x0F, type 0, cluster field 0, and an order byte
        // of 1 to 20 (0x40 on the last part), or the deleted mark.
        if (attr != kAttrLongName || entry[kLfnType] != 0 || LoadLe16(entry + kFstClusLo) != 0)
            return false;
        const u8 ord = entry[kLfnOrd];
        return ord == kDeletedMark ||
               ((ord & 0xA0) == 0 && (ord & 0x1F) >= 1 && (ord & 0x1F) <= 20);
    }
    if ((attr & 0xC0) != 0 || entry[kCrtTimeTenth] > 199 || !PlausibleShortName(entry))
        return false;
    if (!PlausibleDosTime(LoadLe16(entry + kWrtDate), LoadLe16(entry + kWrtTime)))
        return false;
    const u32 cluster =
        (static_cast<u32>(LoadLe16(entry + kFstClusHi)) << 16) | LoadLe16(entry + kFstClusLo);
    return cluster <= limit;
}
} // namespace

bool CheckDirContinuation(const u8* block, u32 size, u32 limit)
{
    if (block == nullptr || size < kEntrySize || block[kName] == 0x00)
        return false;
    bool ended = false;
    for (u32 offset = 0; offset + kEntrySize <= size; offset += kEntrySize)
    {
        const u8* entry = block + offset;
        if (entry[kName] == 0x00)
            ended = true;
        else if (ended || !PlausibleEntry(entry, limit))
            return false;
    }
    return true;
}

bool HasDirEnd(const u8* block, u32 size)
{
    if (block == nullptr)
        return false;
    for (u32 offset = 0; offset + kEntrySize <= size; offset += kEntrySize)
        if (block[offset + kName] == 0x00)
            return true;
    return false;
}

bool NextDirEntry(const FatDirBuffer& buffer, FatEntryInfo& info, u32& entryNumber, u32& deleted,
                  u32 carriedEntries)
{
    const u32 size = buffer.Size();
    const u8* data = buffer.Data();
    if (data == nullptr || size < kEntrySize ||
        static_cast<u64>(entryNumber) * kEntrySize > size - kEntrySize)
    {
        entryNumber = 0;
        return false;
    }
    for (u64 offset = static_cast<u64>(entryNumber) * kEntrySize; offset + kEntrySize <= size;
         offset += kEntrySize)
    {
        ++entryNumber;
        const u8* entry = data + offset;
        u8 attr = entry[kAttr];
        if ((attr & (kAttrDirectory | kAttrArchive)) == 0)
            continue; // long-name parts, volume labels, files without the archive bit
        if ((attr & kAttrDirectory) == 0)
        {
            if (entry[kName] != kDeletedMark)
                continue;
            DecodeEntry(buffer, info, static_cast<s32>(offset));
            deleted = 1;
            return true;
        }
        DecodeEntry(buffer, info, static_cast<s32>(offset));
        deleted = entry[kName] == kDeletedMark ? 1 : 0;
        if (!IsDotName(TrimRight(info.name)))
            return true;
    }
    // A block that ends on a deleted entry or on a long-name part may hold the first parts of
    // a name whose short entry lies in the next block: ask for the carry.
    const u8* last = data + static_cast<std::size_t>(size / kEntrySize - 1) * kEntrySize;
    bool carry = last[kName] == kDeletedMark || (last[kAttr] & kAttrLongNameMask) == kAttrLongName;
    entryNumber = carry ? carriedEntries : 0;
    return false;
}

u32 GetEntryByIndex(const FatDirBuffer& buffer, FatEntryInfo& info, u32 n)
{
    const u8* data = buffer.Data();
    if (data == nullptr)
        return kErrTransfer;
    const u32 size = buffer.Size();
    if (n > size / kEntrySize)
        return kErrTransfer;
    const u32 k = buffer.IndexCount();
    s64 offset = -1;
    if (n < k)
    {
        offset = static_cast<s64>(buffer.Index(n)) * kEntrySize;
    }
    else if (k > 0)
    {
        // Beyond the recorded slots: count on from the entry after the last recorded one.
        u32 count = k - 1;
        for (u64 at = (static_cast<u64>(buffer.Index(k - 1)) + 1) * kEntrySize;
             at + kEntrySize <= size; at += kEntrySize)
        {
            const u8* entry = data + at;
            if ((entry[kAttr] & kAttrLongNameMask) == kAttrLongName)
                continue;
            bool used = false;
            for (u32 i = 0; i < kEntrySize && !used; ++i)
                used = entry[i] != 0;
            if (!used)
                continue;
            if (++count == n)
            {
                offset = static_cast<s64>(at);
                break;
            }
        }
    }
    if (offset < 0)
        return kErrTransfer;
    DecodeEntry(buffer, info, static_cast<s32>(offset));
    return kOk;
}
