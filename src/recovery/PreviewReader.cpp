// The preview's read: a stream's first bytes, as its engine hands them out, into memory; and
// its text and hex renderings.
#include "recovery/PreviewReader.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "catalog/Catalog.h"
#include "catalog/FindStream.h"
#include "catalog/StreamReader.h"
#include "catalog/VolumeEngine.h"
#include "disk/DirectRW.h"
#include "platform/Status.h"

namespace
{
// Pulls pieces from reader into *out until it holds want bytes or the stream ends. False when a
// read failed (*out then holds the bytes before it).
bool Pull(IStreamReader& reader, u64 chunkBytes, u64 want, std::vector<u8>* out)
{
    const u64 room = std::max<u64>(chunkBytes, (1u << 20) / chunkBytes * chunkBytes);
    std::vector<u8> buffer(room);
    while (out->size() < want && !reader.AtEnd())
    {
        const StreamPiece piece = reader.Next(buffer.data(), room);
        if (piece.bytes == 0)
            break;
        const u64 take = std::min(piece.bytes, want - out->size());
        if (piece.hole || piece.data == nullptr)
        {
            out->resize(out->size() + take, u8{0});
            continue;
        }
        const u64 ready = std::min(take, piece.ready);
        out->insert(out->end(), piece.data, piece.data + ready);
        if (piece.ready < take)
            return false;
    }
    if (reader.AtEnd() && out->size() < want)
        out->resize(std::min(want, out->size() + reader.TailZeros()), u8{0});
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
    const u32 described = DescribeFind(volume, item, &stream);
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
    const u64 chunkBytes = volume.engine->ClusterBytes(volume);
    // No volume has clusters of more than a few MiB: a larger claim is not read.
    constexpr u64 kMaxChunkBytes = 16u << 20;
    if (reader == nullptr || stream.clusterBytes == 0 || chunkBytes == 0 ||
        chunkBytes > kMaxChunkBytes)
        return kStreamUnreadable;
    const std::unique_ptr<IStreamReader> pieces =
        volume.engine->OpenStream(reader, stream, chunkBytes);
    if (!pieces)
        return kStreamUnreadable;
    const bool read = Pull(*pieces, chunkBytes, want, out);
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
