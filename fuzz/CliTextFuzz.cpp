// Fuzzes how the command line writes names read from a volume: JSON string literals must be
// valid UTF-8 with every control character escaped, and the terminal form must hold no control
// character and no byte outside valid UTF-8.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cli/Json.h"
#include "cli/TextOut.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// True when text is valid UTF-8 holding no C0 control and no DEL, and, with noC1, no C1
// control either (those are valid JSON text, but a terminal may act on them).
bool CleanUtf8(const std::string& text, bool noC1)
{
    for (std::size_t i = 0; i < text.size();)
    {
        u32 codePoint = 0;
        std::size_t length = DecodeUtf8(text, i, &codePoint);
        if (length == 0 || codePoint < 0x20 || codePoint == 0x7F)
            return false;
        if (noC1 && codePoint >= 0x80 && codePoint <= 0x9F)
            return false;
        i += length;
    }
    return true;
}

// The literal JsonQuote must give, built one code point at a time.
std::string PlainQuote(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();)
    {
        u32 c = 0;
        const std::size_t length = DecodeUtf8(text, i, &c);
        static const char* const kHex = "0123456789abcdef";
        if (length == 0)
            out += "\\ufffd";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + static_cast<char>(c);
        else if (c == '\n' || c == '\t' || c == '\r')
            out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
        else if (c < 0x20 || c == 0x7F)
            out += std::string("\\u00") + kHex[c >> 4] + kHex[c & 0xF];
        else
            out.append(text, i, length);
        i += length == 0 ? 1 : length;
    }
    return out + "\"";
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string json = JsonQuote(text);
    Check(json == PlainQuote(text));
    Check(json.size() >= 2 && json.front() == '"' && json.back() == '"');
    Check(CleanUtf8(json, false));
    // Inside the literal, every quote is escaped.
    for (std::size_t i = 1; i + 1 < json.size(); ++i)
        if (json[i] == '\\')
            ++i;
        else
            Check(json[i] != '"');

    Check(CleanUtf8(PrintableText(text), true));
    return 0;
}
