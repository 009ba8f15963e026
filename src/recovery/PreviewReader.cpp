// The preview's read: a stream's first bytes, plain or in compression units, into memory; and
// its text and hex renderings.
#include "recovery/PreviewReader.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "catalog/Catalog.h"
#include "catalog/VolumeEngine.h"
#include "disk/DirectRW.h"
#include "platform/Status.h"

namespace
{
constexpr u64 kMaxUnitBytes = 16u << 20; // no LZNT1 writer makes larger units

// Reads count bytes at byte offset at of the volume into out. False when they cannot be.
bool ReadAt(CDirectRW& reader, const DataStream& stream, u64 lcn, u8* out, u64 count)
{
    if (lcn < stream.firstLcn || count > UINT32_MAX)
        return false;
    const u64 clusters = lcn - stream.firstLcn;
    if (stream.clusterBytes != 0 && clusters > (LLONG_MAX - stream.dataStart) / stream.clusterBytes)
        return false;
    u32 done = 0;
    return reader.ReadBytes(out, static_cast<u32>(count), &done,
                            static_cast<s64>(stream.ByteOf(lcn))) == kOk &&
           done == count;
}

// Fills out (the stream's first out->size() bytes) from the extents; bytes no extent covers
// stay zero. *good: bytes before the first read that failed.
bool ReadPlain(CDirectRW& reader, const DataStream& stream, std::vector<u8>* out, u64* good)
{
    const u64 cb = stream.clusterBytes;
    *good = out->size();
    for (const StreamExtent& e : stream.extents)
    {
        if (e.vcn >= out->size() / cb + 1)
            continue;
        const u64 at = e.vcn * cb;
        if (at >= out->size() || e.hole)
            continue;
        const u64 room = out->size() - at;
        const u64 take = e.length > room / cb ? room : std::min(room, e.length * cb);
        if (!ReadAt(reader, stream, e.lcn, out->data() + at, take))
        {
            *good = std::min(*good, at);
            return false;
        }
    }
    return true;
}

// Decodes the unit that starts at cluster first into unit (zeros where nothing decodes or
// nothing was stored). False when its stored clusters cannot be read.
bool LoadUnit(const IVolumeEngine& engine, CDirectRW& reader, const DataStream& stream, u64 first,
              std::vector<u8>* unit)
{
    const u64 cb = stream.clusterBytes;
    const u64 end = first + stream.compressionUnit;
    std::vector<u8> stored(unit->size());
    u64 filled = 0;
    u64 vcn = first;
    for (const StreamExtent& e : stream.extents)
    {
        if (vcn >= end || e.vcn > vcn || e.vcn + e.length <= vcn)
            continue;
        if (e.hole)
            break; // the stored clusters end at the unit's hole
        const u64 take = std::min(e.length - (vcn - e.vcn), end - vcn);
        if (!ReadAt(reader, stream, e.lcn + (vcn - e.vcn), stored.data() + filled, take * cb))
            return false;
        filled += take * cb;
        vcn += take;
    }
    std::fill(unit->begin(), unit->end(), u8{0});
    if (filled == unit->size())
        *unit = std::move(stored);
    else if (filled != 0)
    {
        u64 produced = 0;
        (void)engine.DecodeUnit(stored.data(), filled, unit->data(), unit->size(), &produced);
        std::fill(unit->begin() +
                      static_cast<std::ptrdiff_t>(std::min<u64>(produced, unit->size())),
                  unit->end(), u8{0});
    }
    return true;
}

bool ReadCompressed(const IVolumeEngine& engine, CDirectRW& reader, const DataStream& stream,
                    std::vector<u8>* out, u64* good)
{
    const u64 cb = stream.clusterBytes;
    *good = 0;
    if (stream.compressionUnit > kMaxUnitBytes / cb)
        return false;
    std::vector<u8> unit(stream.compressionUnit * cb);
    for (u64 first = 0; *good < out->size(); first += stream.compressionUnit)
    {
        if (!LoadUnit(engine, reader, stream, first, &unit))
            return false;
        const u64 take = std::min<u64>(unit.size(), out->size() - *good);
        std::copy_n(unit.begin(), take, out->begin() + static_cast<std::ptrdiff_t>(*good));
        *good += take;
    }
    return true;
}

// Length of the valid UTF-8 sequence at bytes[i], or 0.
std::size_t Utf8Length(const std::vector<u8>& bytes, std::size_t i)
{
    const u8 lead = bytes[i];
    const std::size_t length = lead < 0x80                             ? 1
                               : (lead & 0xE0) == 0xC0 && lead >= 0xC2 ? 2
                               : (lead & 0xF0) == 0xE0                 ? 3
                               : (lead & 0xF8) == 0xF0 && lead <= 0xF4 ? 4
                                                                       : 0;
    if (length == 0 || length > bytes.size() - i)
        return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((bytes[i + k] & 0xC0) != 0x80)
            return 0;
    return length;
}

// Valid UTF-8 up to a sequence the end cuts; *end: where that sequence starts.
bool IsUtf8(const std::vector<u8>& bytes, std::size_t* end)
{
    std::size_t i = 0;
    while (i < bytes.size())
    {
        const std::size_t length = Utf8Length(bytes, i);
        if (length == 0)
        {
            if (bytes.size() - i < 4 && bytes[i] >= 0xC2)
                break; // cut by the end of what was read
            return false;
        }
        i += length;
    }
    *end = i;
    return true;
}

bool IsControl(u8 c)
{
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || c == 0x7F;
}
} // namespace

u32 ReadPreview(VolumeEntry& volume, const FoundItem& item, u64 limit, std::vector<u8>* out)
{
    out->clear();
    if (item.attr & 0x10)
        return kOk;
    if (volume.engine == nullptr)
        return kStreamUnreadable;
    DataStream stream;
    const u32 described = volume.engine->DescribeStream(volume, item, &stream);
    if (described == kStreamUnreadable)
        return described;
    // Resident bytes past the size the find claims are not its data.
    const u64 want = std::min({limit, stream.ReadableBytes(), stream.size});
    if (stream.resident)
    {
        out->assign(stream.residentBytes.begin(),
                    stream.residentBytes.begin() + static_cast<std::ptrdiff_t>(want));
        return described;
    }
    CDirectRW* reader = volume.engine->DataReader(volume);
    if (reader == nullptr || stream.clusterBytes == 0)
        return kStreamUnreadable;
    out->assign(want, u8{0});
    u64 good = 0;
    const bool read = stream.compressionUnit != 0
                          ? ReadCompressed(*volume.engine, *reader, stream, out, &good)
                          : ReadPlain(*reader, stream, out, &good);
    out->resize(std::min<u64>(good, out->size()));
    if (stream.initializedSize < out->size())
        std::fill(out->begin() + static_cast<std::ptrdiff_t>(stream.initializedSize), out->end(),
                  u8{0});
    return read ? described : kPreviewReadFailed;
}

bool LooksLikeText(const std::vector<u8>& bytes)
{
    std::size_t end = 0;
    const bool utf8 = IsUtf8(bytes, &end);
    return std::none_of(bytes.begin(), bytes.end(), IsControl) &&
           (utf8 ||
            std::none_of(bytes.begin(), bytes.end(), [](u8 c) { return c >= 0x80 && c < 0xA0; }));
}

std::string PreviewText(const std::vector<u8>& bytes)
{
    std::size_t end = 0;
    if (IsUtf8(bytes, &end))
        return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const u8 c : bytes)
    {
        if (c < 0x80)
            text += static_cast<char>(c);
        else
        {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::string HexDump(const std::vector<u8>& bytes)
{
    std::string dump;
    char line[96];
    for (std::size_t at = 0; at < bytes.size(); at += 16)
    {
        int used = std::snprintf(line, sizeof line, "%08zx ", at);
        std::string ascii;
        for (std::size_t k = 0; k < 16; ++k)
        {
            if (at + k < bytes.size())
            {
                used += std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used),
                                      " %02x", bytes[at + k]);
                const u8 c = bytes[at + k];
                ascii += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
            }
            else
                used +=
                    std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used), "   ");
        }
        dump += line;
        dump += "  " + ascii + "\n";
    }
    return dump;
}
