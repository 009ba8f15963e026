// Minimal JSON text helpers for the command-line program's --json output.
#include "cli/Json.h"

#include <bit>
#include <cstring>

#include "cli/TextOut.h"
#include "platform/ByteOrder.h"
#include "platform/Types.h"

namespace
{
// How many of the eight bytes of v (read little-endian) lead it as plain ASCII, tested at once
// on the word. Each test sets the top bit of a byte that fails it; a carry or borrow can set it
// in the bytes above as well, but never below, so the lowest byte marked is the first one that
// fails.
unsigned PlainAsciiBytes(u64 v)
{
    constexpr u64 kOnes = 0x0101010101010101ULL;
    constexpr u64 kTops = 0x8080808080808080ULL;
    // A byte below n (n at most 0x80), above 0x7E, or equal to c.
    auto below = [v](u64 n) { return (v - kOnes * n) & ~v & kTops; };
    const u64 above = ((v + kOnes) | v) & kTops;
    auto equal = [v](u8 c)
    {
        const u64 x = v ^ (kOnes * c);
        return (x - kOnes) & ~x & kTops;
    };
    const u64 marked = below(0x20) | above | equal('"') | equal('\\');
    return marked == 0 ? 8 : static_cast<unsigned>(std::countr_zero(marked)) / 8;
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
    char room[256];
    if (JsonQuotedMost(text.size()) <= sizeof room)
    {
        out.append(room, WriteJsonQuoted(room, text));
        return;
    }
    std::string literal(JsonQuotedMost(text.size()), '\0');
    literal.resize(
        static_cast<std::size_t>(WriteJsonQuoted(literal.data(), text) - literal.data()));
    out += literal;
}

char* WriteJsonQuoted(char* p, std::string_view text)
{
    // Written straight into room known to be large enough: appending each piece to a string
    // cost most of a listing line's time.
    auto put = [&p](std::string_view piece)
    {
        std::memcpy(p, piece.data(), piece.size());
        p += piece.size();
    };
    *p++ = '"';
    for (std::size_t i = 0; i < text.size();)
    {
        // Plain ASCII (nearly every name) is copied as it is, eight bytes at a time: the word is
        // stored whole and the end moved on past its plain bytes. The text's last bytes are
        // read into a word ended by zeros, which are no plain bytes.
        u8 word[8] = {};
        const std::size_t left = text.size() - i;
        std::memcpy(word, text.data() + i, left < 8 ? left : 8);
        const unsigned plain = PlainAsciiBytes(LoadLe64(word));
        std::memcpy(p, word, 8);
        p += plain;
        i += plain;
        if (plain == 8 || i == text.size())
            continue;
        // The separators of a path, between every two of its parts.
        if (text[i] == '\\')
        {
            put("\\\\");
            ++i;
            continue;
        }
        u32 codePoint = 0;
        const std::size_t length = DecodeUtf8(text, i, &codePoint);
        if (length == 0)
        {
            // A byte that is no part of valid UTF-8: JSON text must be Unicode.
            put("\\ufffd");
            ++i;
            continue;
        }
        switch (codePoint)
        {
        case '"':
            put("\\\"");
            break;
        case '\n':
            put("\\n");
            break;
        case '\t':
            put("\\t");
            break;
        case '\r':
            put("\\r");
            break;
        default:
            if (codePoint < 0x20 || codePoint == 0x7F)
            {
                static constexpr char kHex[] = "0123456789abcdef";
                put("\\u00");
                *p++ = kHex[codePoint >> 4];
                *p++ = kHex[codePoint & 0xF];
            }
            else
                put(text.substr(i, length));
        }
        i += length;
    }
    *p++ = '"';
    return p;
}
