// printf-style formatting into std::string.
#pragma once

#include <string>

[[gnu::format(printf, 1, 2)]] std::string Format(const char* fmt, ...);
