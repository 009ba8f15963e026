// Helpers the document and archive validators share: exact reads through a content source, the
// CRC-32 of a byte range, a bounded inflate, and the cleaning of a title a file holds.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "carve/ContentSource.h"
#include "platform/Types.h"

// True when all of out could be read at offset (the range lies within Size() and was readable).
[[nodiscard]] bool ReadExact(IContentSource& source, u64 offset, std::span<u8> out);

// Big-endian loads (SQLite keeps its numbers so).
[[nodiscard]] inline u16 LoadBe16(const u8* p)
{
    return static_cast<u16>((p[0] << 8) | p[1]);
}
[[nodiscard]] inline u32 LoadBe32(const u8* p)
{
    return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) |
           (static_cast<u32>(p[2]) << 8) | static_cast<u32>(p[3]);
}

// CRC-32 (the ZIP and GZIP one) of length bytes at offset; false when they cannot all be read.
[[nodiscard]] bool Crc32Range(IContentSource& source, u64 offset, u64 length, u32* crc);

// What a bounded inflate of a deflate stream found.
struct InflateOutcome
{
    bool ended = false; // the stream reached its end marker whole
    u64 consumed = 0;   // compressed bytes the stream took (to its end when ended)
    u64 produced = 0;   // bytes it gave
    u32 crc = 0;        // CRC-32 of those bytes
};

// The budget of inflated bytes one validation may produce, whatever the headers claim: a
// compression bomb stops at it.
struct InflateBudget
{
    u64 left = 0;
    bool exhausted = false;
};
[[nodiscard]] InflateBudget MakeInflateBudget(u64 sourceSize);

// Inflates the stream at offset, reading at most maxIn bytes and producing at most maxOut (and
// no more than the budget holds). windowBits as zlib takes them (-15 raw deflate, 15 zlib).
// Up to keepMax bytes of the output are kept in keep when it is not null.
[[nodiscard]] InflateOutcome InflateRange(IContentSource& source, u64 offset, u64 maxIn, u64 maxOut,
                                          int windowBits, InflateBudget* budget,
                                          std::string* keep = nullptr, std::size_t keepMax = 0);

// The most bytes a title keeps.
inline constexpr std::size_t kMaxTitleBytes = 100;

// A title as a file name may use it: UTF-8 with invalid sequences and control characters
// dropped, runs of white space made one space, trimmed, cut at a character boundary to at most
// kMaxTitleBytes bytes.
[[nodiscard]] std::string CleanTitle(std::string_view text);

// Appends code point cp to out as UTF-8 (nothing for a surrogate or one past U+10FFFF).
void AppendUtf8(u32 cp, std::string* out);

// Length of the well-formed UTF-8 sequence at the start of bytes (1 to 4), 0 when it is not one
// (overlong, surrogate, past U+10FFFF), -1 when bytes end inside a sequence that could still
// be well-formed.
[[nodiscard]] int Utf8SequenceLength(std::span<const u8> bytes);
