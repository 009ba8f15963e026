// Minimal JSON text helpers for the command-line program's --json output.
#include "cli/Json.h"

#include "platform/Format.h"

std::string JsonQuote(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
    {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c)
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
            if (u < 0x20 || u == 0x7F)
                out += Format("\\u%04x", u);
            else
                out += c;
        }
    }
    out += '"';
    return out;
}
