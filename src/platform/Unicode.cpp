// UTF-16LE to UTF-8, for FAT long names and NTFS names alike.
#include "platform/Unicode.h"

#include <cstring>

#include "platform/ByteOrder.h"

u32 EncodeUtf8(u32 cp, u8 out[4])
{
    if (cp < 0x80)
    {
        out[0] = static_cast<u8>(cp);
        return 1;
    }
    if (cp < 0x800)
    {
        out[0] = static_cast<u8>(0xC0 | (cp >> 6));
        out[1] = static_cast<u8>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000)
    {
        out[0] = static_cast<u8>(0xE0 | (cp >> 12));
        out[1] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<u8>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<u8>(0xF0 | (cp >> 18));
    out[1] = static_cast<u8>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<u8>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<u8>(0x80 | (cp & 0x3F));
    return 4;
}

u32 Utf16LeToUtf8(const u8* src, u32 units, char* out, u32 capacity, bool stopAtNul)
{
    u32 written = 0;
    for (u32 i = 0; i < units; ++i)
    {
        u32 cp = LoadLe16(src + static_cast<std::size_t>(2) * i);
        if (cp == 0 && stopAtNul)
            break;
        if (cp < 0x80)
        {
            // ASCII, nearly every unit of a name: one byte, without the general encoder.
            if (written + 2 > capacity)
                break;
            out[written++] = static_cast<char>(cp);
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units)
        {
            const u32 low = LoadLe16(src + static_cast<std::size_t>(2) * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF)
            {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD;
        u8 bytes[4];
        const u32 n = EncodeUtf8(cp, bytes);
        if (written + n + 1 > capacity)
            break;
        std::memcpy(out + written, bytes, n);
        written += n;
    }
    out[written] = '\0';
    return written;
}
