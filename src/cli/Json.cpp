// Minimal JSON text helpers for the command-line program's --json output.
#include "cli/Json.h"

#include <cstring>

#include "cli/TextOut.h"
#include "platform/Format.h"
#include "platform/Types.h"

namespace
{
// Printable ASCII other than the quote and the backslash: copied as it is.
bool IsPlainAscii(char c)
{
    return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
}

// Whether the eight bytes at p are all plain ASCII, tested at once on a 64-bit word.
bool EightPlainAscii(const char* p)
{
    constexpr u64 kOnes = 0x0101010101010101ULL;
    constexpr u64 kTops = 0x8080808080808080ULL;
    u64 v = 0;
    std::memcpy(&v, p, sizeof v);
    // A byte below n (n at most 0x80), above 0x7E, or equal to c.
    auto below = [v](u64 n) { return ((v - kOnes * n) & ~v & kTops) != 0; };
    const bool above = (((v + kOnes) | v) & kTops) != 0;
    auto equal = [v](u8 c)
    {
        const u64 x = v ^ (kOnes * c);
        return ((x - kOnes) & ~x & kTops) != 0;
    };
    return !below(0x20) && !above && !equal('"') && !equal('\\');
}
} // namespace

std::string JsonQuote(std::string_view text)
{
    std::string out;
    AppendJsonQuoted(out, text);
    return out;
}

void AppendJsonQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (std::size_t i = 0; i < text.size();)
    {
        // Runs of plain ASCII (nearly every name) are copied whole, without decoding.
        std::size_t plain = i;
        while (plain + 8 <= text.size() && EightPlainAscii(text.data() + plain))
            plain += 8;
        while (plain < text.size() && IsPlainAscii(text[plain]))
            ++plain;
        if (plain != i)
        {
            out.append(text, i, plain - i);
            i = plain;
            continue;
        }
        // The separators of a path, between every two of its parts.
        if (text[i] == '\\')
        {
            out += "\\\\";
            ++i;
            continue;
        }
        u32 codePoint = 0;
        std::size_t length = DecodeUtf8(text, i, &codePoint);
        if (length == 0)
        {
            // A byte that is no part of valid UTF-8: JSON text must be Unicode.
            out += "\\ufffd";
            ++i;
            continue;
        }
        switch (codePoint)
        {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (codePoint < 0x20 || codePoint == 0x7F)
                out += Format("\\u%04x", codePoint);
            else
                out.append(text, i, length);
        }
        i += length;
    }
    out += '"';
}
