// Names from a volume made safe for output.
#include "cli/TextOut.h"

#include <charconv>

#include "platform/Format.h"

std::size_t DecodeUtf8(std::string_view text, std::size_t at, u32* codePoint)
{
    auto byte = [&](std::size_t i) { return static_cast<u8>(text[i]); };
    u8 lead = byte(at);
    if (lead < 0x80)
    {
        *codePoint = lead;
        return 1;
    }
    std::size_t length = 0;
    u32 value = 0;
    u32 minimum = 0;
    if ((lead & 0xE0) == 0xC0)
    {
        length = 2;
        value = lead & 0x1Fu;
        minimum = 0x80;
    }
    else if ((lead & 0xF0) == 0xE0)
    {
        length = 3;
        value = lead & 0x0Fu;
        minimum = 0x800;
    }
    else if ((lead & 0xF8) == 0xF0)
    {
        length = 4;
        value = lead & 0x07u;
        minimum = 0x10000;
    }
    else
    {
        return 0;
    }
    if (length > text.size() - at)
        return 0;
    for (std::size_t i = 1; i < length; ++i)
    {
        u8 next = byte(at + i);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

std::string PrintableText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
    {
        // Runs of printable ASCII are copied whole, without decoding.
        std::size_t plain = i;
        while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F)
            ++plain;
        if (plain != i)
        {
            out.append(text, i, plain - i);
            i = plain;
            continue;
        }
        u32 codePoint = 0;
        std::size_t length = DecodeUtf8(text, i, &codePoint);
        bool control = codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
        if (length == 0 || control)
        {
            // An invalid byte, or a control character written out byte by byte.
            std::size_t count = length == 0 ? 1 : length;
            for (std::size_t k = 0; k < count; ++k)
                out += Format("\\x%02X", static_cast<u8>(text[i + k]));
            i += count;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    return out;
}

void AppendDecimal(std::string& out, u64 value)
{
    char digits[20];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, end.ptr);
}
