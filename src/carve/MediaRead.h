// Reads for the picture, camera-raw, video and audio validators: exact reads through a content
// source (a short read is a break) and big- and little-endian loads from the bytes read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

#include "carve/ContentCheck.h"
#include "carve/ContentSource.h"
#include "platform/ByteOrder.h"
#include "platform/Types.h"

namespace media
{
// True when all of out was read at offset and lies within Size().
[[nodiscard]] inline bool ReadExact(IContentSource& source, u64 offset, std::span<u8> out)
{
    const u64 size = source.Size();
    if (offset > size || out.size() > size - offset)
        return false;
    return source.Read(offset, out) == out.size();
}

// True when [offset, offset + length) lies within Size() (no overflow).
[[nodiscard]] inline bool Fits(u64 offset, u64 length, u64 size)
{
    return offset <= size && length <= size - offset;
}

[[nodiscard]] inline u16 LoadBe16(const u8* p)
{
    return static_cast<u16>((p[0] << 8) | p[1]);
}

[[nodiscard]] inline u32 LoadBe32(const u8* p)
{
    return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) |
           (static_cast<u32>(p[2]) << 8) | static_cast<u32>(p[3]);
}

[[nodiscard]] inline u64 LoadBe64(const u8* p)
{
    return (static_cast<u64>(LoadBe32(p)) << 32) | LoadBe32(p + 4);
}

// A four-character code of printable ASCII (box, chunk and PNG chunk types).
[[nodiscard]] inline bool IsFourCc(const u8* p)
{
    for (std::size_t i = 0; i < 4; ++i)
        if (p[i] < 0x20 || p[i] > 0x7E)
            return false;
    return true;
}

// A read-ahead window over a source, for walks that read many small headers in file order
// (frames, sub-blocks, chunks): each read of the source brings up to the window's bytes at
// once (kWindowBytes; less for walks that jump), and none reaches past Size().
class Window final : public IContentSource
{
public:
    static constexpr std::size_t kWindowBytes = 64 * std::size_t{1024};

    explicit Window(IContentSource& inner, std::size_t bytes = kWindowBytes)
        : m_inner(inner), m_size(inner.Size()), m_window(bytes)
    {
    }
    [[nodiscard]] u64 Size() const override { return m_size; }
    [[nodiscard]] std::size_t Read(u64 offset, std::span<u8> out) override
    {
        if (offset >= m_size)
            return 0;
        if (out.size() > m_size - offset)
            out = out.first(static_cast<std::size_t>(m_size - offset));
        if (out.size() >= m_window)
            return m_inner.Read(offset, out);
        if (offset < m_at || offset - m_at > m_length || out.size() > m_length - (offset - m_at))
        {
            const u64 ahead = std::min<u64>(m_window, m_size - offset);
            if (m_buffer.size() < ahead)
                m_buffer.resize(static_cast<std::size_t>(ahead));
            m_at = offset;
            m_length = m_inner.Read(
                offset, std::span<u8>(m_buffer.data(), static_cast<std::size_t>(ahead)));
        }
        const std::size_t skip = static_cast<std::size_t>(offset - m_at);
        const std::size_t n = std::min(out.size(), m_length - skip);
        if (n != 0)
            std::memcpy(out.data(), m_buffer.data() + skip, n);
        return n;
    }

private:
    IContentSource& m_inner;
    u64 m_size;
    std::size_t m_window;
    std::vector<u8> m_buffer;
    u64 m_at = 0;
    std::size_t m_length = 0;
};

// A damaged verdict that vouches for the first validBytes bytes.
[[nodiscard]] inline ContentCheck Damaged(CarveType type, u64 validBytes)
{
    ContentCheck check;
    check.verdict = FindContent::kDamaged;
    check.validBytes = validBytes;
    check.type = type;
    return check;
}

// A valid verdict for a file whose structure ends at end.
[[nodiscard]] inline ContentCheck Valid(CarveType type, u64 end)
{
    ContentCheck check;
    check.verdict = FindContent::kValid;
    check.validBytes = end;
    check.end = end;
    check.type = type;
    return check;
}
} // namespace media
