// Minimal JSON text helpers for the command-line program's --json output.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The text as a JSON string literal, quotes included. Control characters, quotes and
// backslashes are escaped, and every byte that is not part of valid UTF-8 becomes \ufffd.
std::string JsonQuote(std::string_view text);
// The same literal appended to out (the listings build their lines in one buffer).
void AppendJsonQuoted(std::string& out, std::string_view text);

// The room the literal of a text of bytes bytes needs: a byte becomes six at most ("\ufffd",
// "\u001f"), the quotes, and eight bytes more (its plain bytes are stored a word at a time).
[[nodiscard]] constexpr std::size_t JsonQuotedMost(std::size_t bytes)
{
    return 6 * bytes + 2 + 8;
}
// Writes the literal to p, which has room for JsonQuotedMost(text.size()) bytes, and returns
// the end of what it wrote.
char* WriteJsonQuoted(char* p, std::string_view text);
