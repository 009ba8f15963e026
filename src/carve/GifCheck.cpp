// GIF: the header and logical screen, the global colour table, then blocks to the trailer.
// Each image's LZW data is decoded (to nowhere: only the code stream's consistency and the
// pixel count are kept), so a splice inside it shows as a code that is not in the table yet
// or as a pixel count that differs from the image's size.
#include <algorithm>
#include <array>

#include "carve/ContentCheck.h"
#include "carve/MediaRead.h"

namespace
{
constexpr u64 kHeader = 13;     // "GIF87a"/"GIF89a" and the logical screen descriptor
constexpr u64 kLsdPacked = 10;  // packed fields: global colour table flag and size
constexpr u64 kDescriptor = 10; // image separator 0x2C and the image descriptor
constexpr u8 kImageSeparator = 0x2C;
constexpr u8 kExtension = 0x21;
constexpr u8 kTrailer = 0x3B;
constexpr u32 kMaxCodes = 4096;

u64 ColourTableBytes(u8 packed)
{
    return (packed & 0x80) != 0 ? 3ull << ((packed & 7) + 1) : 0;
}

// Follows an LZW code stream, keeping each table entry's length only.
class LzwWalk
{
public:
    LzwWalk(u32 minCodeSize, u64 pixels)
        : m_min(minCodeSize), m_clear(1u << minCodeSize), m_limit(pixels)
    {
        Reset();
        for (u32 i = 0; i < m_clear; ++i)
            m_length[i] = 1;
    }

    void Feed(const u8* data, std::size_t n)
    {
        for (std::size_t i = 0; i < n && !m_bad; ++i)
        {
            m_bits |= static_cast<u32>(data[i]) << m_bitCount;
            m_bitCount += 8;
            while (m_bitCount >= m_codeSize && !m_bad)
            {
                const u32 code = m_bits & ((1u << m_codeSize) - 1);
                m_bits >>= m_codeSize;
                m_bitCount -= m_codeSize;
                Take(code);
            }
        }
    }

    [[nodiscard]] bool Bad() const { return m_bad; }
    [[nodiscard]] bool Whole() const { return !m_bad && m_pixels == m_limit; }

private:
    void Reset()
    {
        m_codeSize = m_min + 1;
        m_next = m_clear + 2;
        m_prev = kMaxCodes;
    }

    void Take(u32 code)
    {
        if (m_done)
            return; // bytes after the end code are ignored, as decoders do
        if (code == m_clear)
            return Reset();
        if (code == m_clear + 1)
        {
            m_done = true;
            return;
        }
        u64 length = 0;
        if (m_prev == kMaxCodes)
            length = code < m_clear ? 1 : 0;
        else if (code < m_next)
            length = m_length[code];
        else if (code == m_next && m_next < kMaxCodes)
            length = u64{m_length[m_prev]} + 1;
        m_pixels += length;
        if (length == 0 || m_pixels > m_limit)
        {
            m_bad = true;
            return;
        }
        if (m_prev != kMaxCodes && m_next < kMaxCodes)
        {
            m_length[m_next] = m_length[m_prev] + 1;
            ++m_next;
            if (m_next == (1u << m_codeSize) && m_codeSize < 12)
                ++m_codeSize;
        }
        m_prev = code;
    }

    u32 m_min;
    u32 m_clear;
    u64 m_limit;
    u32 m_codeSize = 0;
    u32 m_next = 0;
    u32 m_prev = 0;
    u32 m_bits = 0;
    u32 m_bitCount = 0;
    u64 m_pixels = 0;
    bool m_done = false;
    bool m_bad = false;
    std::array<u32, kMaxCodes> m_length{};
};

// Walks the sub-blocks at *offset to their terminator (*offset then past it), feeding them to
// lzw when given.
bool WalkSubBlocks(IContentSource& source, u64* offset, LzwWalk* lzw)
{
    std::array<u8, 256> block{};
    // Every sub-block takes at least one byte, so the walk ends within Size() steps.
    while (true)
    {
        if (!media::ReadExact(source, *offset, std::span<u8>(block.data(), 1)))
            return false;
        const u8 n = block[0];
        if (n == 0)
        {
            *offset += 1;
            return true;
        }
        if (!media::ReadExact(source, *offset + 1, std::span<u8>(block.data(), n)))
            return false;
        if (lzw != nullptr)
        {
            lzw->Feed(block.data(), n);
            if (lzw->Bad())
                return false;
        }
        *offset += 1 + u64{n};
    }
}

// The image at *offset (its separator); on success *offset is past its data. A splice shows
// somewhere after it starts: with a full code table any code decodes, and only the pixel
// count tells, so the break is placed no later than the image's start.
bool WalkImage(IContentSource& source, u64* offset)
{
    std::array<u8, kDescriptor + 1> desc{};
    if (!media::ReadExact(source, *offset, desc))
        return false;
    const u64 width = LoadLe16(desc.data() + 5);
    const u64 height = LoadLe16(desc.data() + 7);
    const u8 packed = desc[9];
    const u64 dataAt = *offset + kDescriptor + ColourTableBytes(packed);
    std::array<u8, 1> minCode{};
    if (width == 0 || height == 0 || !media::ReadExact(source, dataAt, minCode) || minCode[0] < 1 ||
        minCode[0] > 11)
        return false;
    LzwWalk lzw(minCode[0], width * height);
    *offset = dataAt + 1;
    return WalkSubBlocks(source, offset, &lzw) && lzw.Whole();
}
} // namespace

ContentCheck CheckGif(IContentSource& file)
{
    media::Window source(file);
    std::array<u8, kHeader> head{};
    if (!media::ReadExact(source, 0, head) ||
        !(std::equal(head.begin(), head.begin() + 6, "GIF87a") ||
          std::equal(head.begin(), head.begin() + 6, "GIF89a")))
        return media::Damaged(CarveType::kGif, 0);
    u64 offset = kHeader + ColourTableBytes(head[kLsdPacked]);
    bool image = false;
    // The last block that held (at first, the blocks' start): a bad block after it may be its
    // bytes' fault.
    u64 last = std::min(offset, source.Size());
    // Every block takes at least two bytes: the walk ends within Size() / 2 steps.
    while (true)
    {
        std::array<u8, 2> intro{};
        const u64 blockAt = offset;
        if (!media::ReadExact(source, offset, std::span<u8>(intro.data(), 1)))
            return media::Damaged(CarveType::kGif, last);
        if (intro[0] == kTrailer)
        {
            if (!image)
                return media::Damaged(CarveType::kGif, last);
            return media::Valid(CarveType::kGif, offset + 1);
        }
        bool ok = false;
        const bool known = intro[0] == kImageSeparator || intro[0] == kExtension;
        if (intro[0] == kImageSeparator)
        {
            ok = WalkImage(source, &offset);
            image = true;
        }
        else if (intro[0] == kExtension)
        {
            offset += 2;
            ok = WalkSubBlocks(source, &offset, nullptr);
        }
        if (!ok)
            return media::Damaged(CarveType::kGif, known ? blockAt : last);
        last = blockAt;
    }
}
