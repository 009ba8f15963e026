// Little-endian loads and a bounds-checked byte view: the only way on-disk bytes are read.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/Types.h"

inline u16 LoadLe16(const void* p)
{
    u8 b[2];
    std::memcpy(b, p, 2);
    return static_cast<u16>(b[0] | (b[1] << 8));
}

inline u32 LoadLe32(const void* p)
{
    u8 b[4];
    std::memcpy(b, p, 4);
    return static_cast<u32>(b[0]) | (static_cast<u32>(b[1]) << 8) | (static_cast<u32>(b[2]) << 16) |
           (static_cast<u32>(b[3]) << 24);
}

inline u64 LoadLe64(const void* p)
{
    return static_cast<u64>(LoadLe32(p)) |
           (static_cast<u64>(LoadLe32(static_cast<const u8*>(p) + 4)) << 32);
}

inline void StoreLe16(void* p, u16 v)
{
    u8 b[2] = {static_cast<u8>(v), static_cast<u8>(v >> 8)};
    std::memcpy(p, b, 2);
}

inline void StoreLe32(void* p, u32 v)
{
    u8 b[4] = {static_cast<u8>(v), static_cast<u8>(v >> 8), static_cast<u8>(v >> 16),
               static_cast<u8>(v >> 24)};
    std::memcpy(p, b, 4);
}

inline void StoreLe64(void* p, u64 v)
{
    StoreLe32(p, static_cast<u32>(v));
    StoreLe32(static_cast<u8*>(p) + 4, static_cast<u32>(v >> 32));
}

// A read-only window over untrusted bytes. Every accessor checks that the whole field lies
// inside the view; a field that does not yields the fallback value and Has() tells callers
// before they trust a value.
class ByteView
{
public:
    ByteView() = default;
    ByteView(const void* data, std::size_t size)
        : m_data(static_cast<const u8*>(data)), m_size(size)
    {
    }

    [[nodiscard]] const u8* Data() const { return m_data; }
    [[nodiscard]] std::size_t Size() const { return m_size; }

    // True when [offset, offset + length) lies inside the view (no overflow).
    [[nodiscard]] bool Has(std::size_t offset, std::size_t length) const
    {
        return offset <= m_size && length <= m_size - offset;
    }

    [[nodiscard]] u8 U8(std::size_t offset, u8 fallback = 0) const
    {
        return Has(offset, 1) ? m_data[offset] : fallback;
    }
    [[nodiscard]] u16 U16(std::size_t offset, u16 fallback = 0) const
    {
        return Has(offset, 2) ? LoadLe16(m_data + offset) : fallback;
    }
    [[nodiscard]] u32 U32(std::size_t offset, u32 fallback = 0) const
    {
        return Has(offset, 4) ? LoadLe32(m_data + offset) : fallback;
    }
    [[nodiscard]] u64 U64(std::size_t offset, u64 fallback = 0) const
    {
        return Has(offset, 8) ? LoadLe64(m_data + offset) : fallback;
    }

    // Sub-view of [offset, offset + length), clipped to the view.
    [[nodiscard]] ByteView Sub(std::size_t offset, std::size_t length) const
    {
        if (offset > m_size)
            return {};
        std::size_t avail = m_size - offset;
        return {m_data + offset, length < avail ? length : avail};
    }

private:
    const u8* m_data = nullptr;
    std::size_t m_size = 0;
};
