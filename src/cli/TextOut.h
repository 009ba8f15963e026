// Names from a volume made safe for output: valid UTF-8 decoding, and a terminal-safe form for
// the plain-text listings and messages.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Types.h"

// Decodes the UTF-8 sequence at text[at]: returns its length (1 to 4) and sets *codePoint, or
// returns 0 when the bytes there are no well-formed sequence (stray continuation byte,
// truncated or overlong sequence, surrogate, or above U+10FFFF).
std::size_t DecodeUtf8(std::string_view text, std::size_t at, u32* codePoint);

// text with every control character (C0, DEL, C1) and every byte that is not part of valid
// UTF-8 written as \xNN, so that a hostile name cannot drive the terminal.
std::string PrintableText(const std::string& text);

// value in decimal appended to out (what "%llu" prints, without printf's format parsing).
void AppendDecimal(std::string& out, u64 value);
