// Minimal JSON text helpers for the command-line program's --json output.
#pragma once

#include <string>

// The text as a JSON string literal, quotes included. Control characters, quotes and
// backslashes are escaped, and every byte that is not part of valid UTF-8 becomes \ufffd.
std::string JsonQuote(std::string_view text);
// The same literal appended to out (the listings build their lines in one buffer).
void AppendJsonQuoted(std::string& out, std::string_view text);
