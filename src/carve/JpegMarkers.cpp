// The marker walk of a JPEG file. Every segment length is checked against the source's size
// before the walk moves past it; each step moves forward, so the walk ends within Size().
#include "carve/JpegMarkers.h"

#include <algorithm>
#include <array>
#include <vector>

#include "carve/ExifDate.h"

namespace
{
// Marker codes (the byte after 0xFF).
constexpr u8 kSoi = 0xD8;
constexpr u8 kEoi = 0xD9;
constexpr u8 kSos = 0xDA;
constexpr u8 kDri = 0xDD;
constexpr u8 kApp1 = 0xE1;
constexpr u8 kTem = 0x01;
constexpr u8 kRst0 = 0xD0;
constexpr u8 kRst7 = 0xD7;

// Reads the source forward through a small window.
class ForwardReader
{
public:
    explicit ForwardReader(IContentSource& source) : m_source(source), m_size(source.Size()) {}
    [[nodiscard]] u64 Size() const { return m_size; }

    // The byte at offset, or -1 past the source's end or where it could not be read.
    [[nodiscard]] int At(u64 offset)
    {
        if (offset < m_base || offset >= m_base + m_count)
        {
            if (offset >= m_size)
                return -1;
            m_base = offset;
            m_count = m_source.Read(offset, m_window);
            if (m_count == 0)
                return -1;
        }
        return m_window[static_cast<std::size_t>(offset - m_base)];
    }

    // Big-endian 16-bit value at offset, or -1.
    [[nodiscard]] int Be16(u64 offset)
    {
        const int hi = At(offset);
        const int lo = At(offset + 1);
        return hi < 0 || lo < 0 ? -1 : (hi << 8) | lo;
    }

    // length bytes at offset into out; false when not all of them could be read.
    [[nodiscard]] bool Bytes(u64 offset, std::size_t length, std::vector<u8>& out)
    {
        out.resize(length);
        return m_source.Read(offset, out) == length;
    }

private:
    IContentSource& m_source;
    u64 m_size;
    std::array<u8, 4096> m_window{};
    u64 m_base = 0;
    std::size_t m_count = 0;
};

bool IsFrameMarker(u8 m)
{
    // SOF0..SOF15 except DHT (C4), JPG (C8) and DAC (CC).
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// Offset of the marker that ends the entropy-coded data starting at offset (stuffed 0xFF00
// and RSTn belong to the data); the source's size when none comes before it.
u64 SkipEntropyData(ForwardReader& in, u64 offset)
{
    for (u64 at = offset; at < in.Size(); ++at)
    {
        if (in.At(at) != 0xFF)
        {
            if (in.At(at) < 0)
                return in.Size();
            continue;
        }
        const int next = in.At(at + 1);
        if (next < 0)
            return in.Size();
        if (next == 0x00 || (next >= kRst0 && next <= kRst7))
            ++at;
        else if (next != 0xFF)
            return at;
    }
    return in.Size();
}

void ReadFrame(ForwardReader& in, u64 payload, u8 marker, JpegWalk& walk)
{
    // P (1), Y (2), X (2), Nf (1).
    walk.hasFrame = true;
    walk.frame.height = static_cast<u32>(std::max(in.Be16(payload + 1), 0));
    walk.frame.width = static_cast<u32>(std::max(in.Be16(payload + 3), 0));
    walk.frame.components = static_cast<u32>(std::max(in.At(payload + 5), 0));
    const u8 kind = marker & 0x0F;
    walk.frame.progressive = kind == 2 || kind == 6 || kind == 10 || kind == 14;
    walk.frame.arithmetic = kind >= 9;
    walk.frame.decodable = kind == 0 || kind == 1 || kind == 2 || kind == 9 || kind == 10;
}

void ReadExif(ForwardReader& in, u64 payload, u64 length, JpegWalk& walk)
{
    constexpr std::array<u8, 6> kExif{'E', 'x', 'i', 'f', 0, 0};
    if (length <= kExif.size() || walk.taken.year != 0)
        return;
    std::vector<u8> bytes;
    if (!in.Bytes(payload, static_cast<std::size_t>(length), bytes))
        return;
    for (std::size_t i = 0; i < kExif.size(); ++i)
        if (bytes[i] != kExif[i])
            return;
    walk.taken = ExifDateTaken(std::span<const u8>(bytes).subspan(kExif.size()));
}
} // namespace

JpegWalk WalkJpegMarkers(IContentSource& source)
{
    ForwardReader in(source);
    JpegWalk walk;
    if (in.At(0) != 0xFF || in.At(1) != kSoi)
        return walk;
    u64 at = 2;
    // Each turn moves at forward by at least two bytes, so the walk ends within Size().
    while (at < in.Size())
    {
        walk.brokeAt = at;
        if (in.At(at) != 0xFF)
            return walk;
        int marker = in.At(at + 1);
        while (marker == 0xFF) // fill bytes before a marker
            marker = in.At(++at + 1);
        if (marker < 0 || marker == 0x00 || marker == kSoi)
            return walk;
        const u8 m = static_cast<u8>(marker);
        if (m == kEoi)
        {
            walk.reachedEoi = true;
            walk.end = at + 2;
            walk.brokeAt = 0;
            return walk;
        }
        if (m == kTem || (m >= kRst0 && m <= kRst7))
        {
            at += 2;
            continue;
        }
        const int length = in.Be16(at + 2);
        if (length < 2 || at + 2 + static_cast<u64>(length) > in.Size())
            return walk;
        const u64 payload = at + 4;
        const u64 payloadBytes = static_cast<u64>(length) - 2;
        if (IsFrameMarker(m) && !walk.hasFrame && payloadBytes >= 6)
            ReadFrame(in, payload, m, walk);
        else if (m == kDri && payloadBytes >= 2)
            walk.restartInterval = static_cast<u32>(std::max(in.Be16(payload), 0));
        else if (m == kApp1)
            ReadExif(in, payload, payloadBytes, walk);
        at = payload + payloadBytes;
        if (m == kSos)
        {
            ++walk.scans;
            walk.scanStarts.push_back(at - payloadBytes - 4);
            at = SkipEntropyData(in, at);
        }
    }
    walk.brokeAt = in.Size();
    return walk;
}
