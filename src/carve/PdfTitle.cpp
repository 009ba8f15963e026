// The title of a PDF's document information dictionary, decoded to UTF-8.
#include "carve/PdfLex.h"

namespace
{
constexpr std::size_t kInfoWindow = 8192;
constexpr std::size_t kMaxRaw = 1024; // bytes of the string decoded at most

// PDFDocEncoding where it differs from Latin-1: 0x18-0x1F and 0x80-0xA0 (0 where undefined).
constexpr u16 kDocLow[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC};
constexpr u16 kDocHigh[33] = {
    0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039, 0x203A, 0x2212,
    0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x0141,
    0x0152, 0x0160, 0x0178, 0x017D, 0x0131, 0x0142, 0x0153, 0x0161, 0x017E, 0x0000, 0x20AC};

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes of the literal string whose '(' is at text[i].
std::string Literal(std::string_view text, std::size_t i)
{
    std::string out;
    int depth = 0;
    for (; i < text.size() && out.size() < kMaxRaw; ++i)
    {
        const char c = text[i];
        if (c == '(' && depth++ == 0)
            continue;
        if (c == ')' && --depth == 0)
            return out;
        if (c != '\\')
        {
            out.push_back(c);
            continue;
        }
        if (++i >= text.size())
            break;
        const char e = text[i];
        static constexpr std::string_view kFrom = "nrtbf()\\";
        static constexpr std::string_view kTo = "\n\r\t\b\f()\\";
        if (const std::size_t k = kFrom.find(e); k != std::string_view::npos)
            out.push_back(kTo[k]);
        else if (e >= '0' && e <= '7')
        {
            int v = 0;
            for (int n = 0; n < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7'; ++n)
                v = v * 8 + (text[i++] - '0');
            --i;
            out.push_back(static_cast<char>(v & 0xFF));
        }
        else if (e == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i; // a line continuation
        else if (e != '\n' && e != '\r')
            out.push_back(e);
    }
    return {}; // unterminated within the window
}

// The bytes of the hex string whose '<' is at text[i].
std::string Hex(std::string_view text, std::size_t i)
{
    std::string out;
    int high = -1;
    for (++i; i < text.size() && out.size() < kMaxRaw; ++i)
    {
        if (text[i] == '>')
        {
            if (high >= 0)
                out.push_back(static_cast<char>(high << 4));
            return out;
        }
        const int v = HexValue(text[i]);
        if (v < 0)
            continue; // white space
        if (high < 0)
            high = v;
        else
        {
            out.push_back(static_cast<char>((high << 4) | v));
            high = -1;
        }
    }
    return {};
}

std::string DecodeText(const std::string& raw)
{
    std::string out;
    if (raw.size() >= 2 && static_cast<u8>(raw[0]) == 0xFE && static_cast<u8>(raw[1]) == 0xFF)
    {
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2)
        {
            u32 cp = (static_cast<u32>(static_cast<u8>(raw[i])) << 8) | static_cast<u8>(raw[i + 1]);
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < raw.size())
            {
                const u32 lo = (static_cast<u32>(static_cast<u8>(raw[i + 2])) << 8) |
                               static_cast<u8>(raw[i + 3]);
                if (lo >= 0xDC00 && lo <= 0xDFFF)
                {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    i += 2;
                }
            }
            AppendUtf8(cp, &out);
        }
        return out;
    }
    if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return raw.substr(3);
    for (const char ch : raw)
    {
        const u8 c = static_cast<u8>(ch);
        u32 cp = c;
        if (c >= 0x18 && c <= 0x1F)
            cp = kDocLow[c - 0x18];
        else if (c >= 0x80 && c <= 0xA0)
            cp = kDocHigh[c - 0x80];
        if (cp != 0)
            AppendUtf8(cp, &out);
    }
    return out;
}
} // namespace

std::string PdfInfoTitle(IContentSource& src, u64 offset)
{
    const std::string text = PdfBytesAt(src, offset, kInfoWindow);
    const std::size_t endobj = text.find("endobj");
    const std::string_view obj = std::string_view(text).substr(0, endobj);
    for (std::size_t p = obj.find("/Title"); p != std::string_view::npos;
         p = obj.find("/Title", p + 1))
    {
        std::size_t i = p + 6;
        while (i < obj.size() && PdfIsSpace(obj[i]))
            ++i;
        if (i >= obj.size())
            return {};
        if (obj[i] == '(')
            return CleanTitle(DecodeText(Literal(obj, i)));
        if (obj[i] == '<' && (i + 1 >= obj.size() || obj[i + 1] != '<'))
            return CleanTitle(DecodeText(Hex(obj, i)));
    }
    return {};
}
