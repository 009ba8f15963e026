// The Recycle Bin's records: $I files, INFO2 files, and the names of the files beside them.
#include "scan/RecycleRecords.h"

#include <algorithm>

#include "platform/ByteOrder.h"
#include "platform/Unicode.h"

namespace
{
// UTF-16 units at text (at most units, ended early by U+0000) as UTF-8.
std::string Utf16Text(const u8* text, std::size_t units)
{
    if (units == 0)
        return {};
    std::string out(units * 3 + 1, '\0');
    const u32 length = Utf16LeToUtf8(text, static_cast<u32>(units), out.data(),
                                     static_cast<u32>(out.size()), true);
    out.resize(length);
    return out;
}

// A path of single-byte characters (the system's code page, read as Latin-1), ended by 0.
std::string AnsiText(const u8* text, std::size_t bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes && text[i] != 0; ++i)
    {
        u8 utf8[4];
        const u32 length = EncodeUtf8(text[i], utf8);
        out.append(reinterpret_cast<const char*>(utf8), length);
    }
    return out;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

bool ParseRecycleIndex(std::span<const u8> bytes, RecycledOrigin* out)
{
    namespace L = RecycleIndexLayout;
    const ByteView view(bytes.data(), bytes.size());
    if (!view.Has(0, L::kPathV1))
        return false;
    RecycledOrigin origin;
    origin.size = view.U64(L::kSize);
    origin.deletedAt = view.U64(L::kDeletedAt);
    const u64 version = view.U64(L::kVersion);
    if (version == 1)
    {
        // Some writers leave the record shorter than its 260 units: read what it holds.
        const std::size_t units = std::min(L::kPathUnitsV1, (bytes.size() - L::kPathV1) / 2);
        origin.path = Utf16Text(view.Data() + L::kPathV1, units);
    }
    else if (version == 2)
    {
        if (!view.Has(L::kPathLengthV2, 4))
            return false;
        const u32 units = view.U32(L::kPathLengthV2);
        if (units == 0 || units > L::kMostPathUnits ||
            !view.Has(L::kPathV2, static_cast<std::size_t>(units) * 2))
            return false;
        origin.path = Utf16Text(view.Data() + L::kPathV2, units);
    }
    else
    {
        return false;
    }
    if (origin.path.empty())
        return false;
    *out = std::move(origin);
    return true;
}

std::vector<RecycledOrigin> ParseInfo2(std::span<const u8> bytes)
{
    namespace L = Info2Layout;
    std::vector<RecycledOrigin> records;
    const ByteView view(bytes.data(), bytes.size());
    if (!view.Has(0, L::kHeader))
        return records;
    const std::size_t recordSize = view.U32(L::kRecordSize);
    if (recordSize < L::kShortestRecord || recordSize > L::kLongestRecord)
        return records;
    // Each step moves on by recordSize (at least 280 bytes) and stops at the end of the bytes.
    for (std::size_t at = L::kHeader; view.Has(at, recordSize); at += recordSize)
    {
        const ByteView record = view.Sub(at, recordSize);
        RecycledOrigin origin;
        origin.index = record.U32(L::kIndex);
        origin.drive = record.U32(L::kDrive);
        origin.deletedAt = record.U64(L::kDeletedAt);
        origin.size = record.U32(L::kSize);
        if (record.Has(L::kUnicodePath, L::kUnicodePathUnits * 2))
            origin.path = Utf16Text(record.Data() + L::kUnicodePath, L::kUnicodePathUnits);
        if (origin.path.empty())
        {
            // A file taken out of the bin has the first byte of this path cleared; the drive
            // number still tells its letter.
            origin.path = AnsiText(record.Data() + L::kAnsiPath + 1, L::kAnsiPathBytes - 1);
            if (origin.path.empty())
                continue;
            const u8 first = record.U8(L::kAnsiPath);
            if (first != 0)
                origin.path.insert(origin.path.begin(), static_cast<char>(first & 0x7F));
            else if (origin.drive < 26)
                origin.path.insert(origin.path.begin(), static_cast<char>('A' + origin.drive));
        }
        records.push_back(std::move(origin));
    }
    return records;
}

bool RecycledLevels(std::string_view path, std::vector<std::string>* levels)
{
    levels->clear();
    // "C:" and the like: the drive the file was on is the volume it is found on.
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
        path.remove_prefix(2);
    std::size_t at = 0;
    while (at <= path.size())
    {
        std::size_t end = path.find_first_of("\\/", at);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view level = path.substr(at, end - at);
        at = end + 1;
        if (level.empty() || level == ".")
            continue;
        if (level == "..")
            levels->emplace_back("_..");
        else
            levels->emplace_back(level);
    }
    return !levels->empty();
}

RecycleName ClassifyRecycleName(std::string_view name, std::string_view* suffix, u32* number)
{
    *suffix = {};
    *number = 0;
    if (name.size() < 3)
        return RecycleName::kOther;
    const char lead = name[0];
    const char second = Lower(name[1]);
    if ((lead == '$' || lead == '_') && (second == 'i' || second == 'r'))
    {
        *suffix = name.substr(2);
        return second == 'i' ? RecycleName::kIndex : RecycleName::kData;
    }
    // Every name of a volume passes here: no copy is made of it.
    const auto equalsLower = [](std::string_view text, std::string_view lower)
    {
        return text.size() == lower.size() &&
               std::equal(text.begin(), text.end(), lower.begin(),
                          [](char c, char l) { return Lower(c) == l; });
    };
    if (equalsLower(name, "info2") || equalsLower(name, "_nfo2"))
        return RecycleName::kInfo2;
    if ((Lower(lead) == 'd' || lead == '_') && second == 'c')
    {
        u64 value = 0;
        std::size_t i = 2;
        for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i)
        {
            value = value * 10 + static_cast<u64>(name[i] - '0');
            if (value > 0xFFFFFFFFull)
                return RecycleName::kOther;
        }
        if (i == 2 || (i < name.size() && name[i] != '.'))
            return RecycleName::kOther;
        *number = static_cast<u32>(value);
        return RecycleName::kDc;
    }
    return RecycleName::kOther;
}
