#include "carve/PdfLex.h"

#include <algorithm>
#include <cctype>

namespace
{
constexpr std::size_t kChunk = std::size_t{64} * 1024;
constexpr std::size_t kDictWindow = 4096; // an object's dictionary is read this far
} // namespace

std::string PdfBytesAt(IContentSource& src, u64 offset, std::size_t n)
{
    std::string out(n, '\0');
    const std::size_t got =
        offset < src.Size() ? src.Read(offset, std::span<u8>(reinterpret_cast<u8*>(out.data()), n))
                            : 0;
    out.resize(got);
    return out;
}

u64 PdfFind(IContentSource& src, u64 from, u64 limit, std::string_view token)
{
    limit = std::min(limit, src.Size());
    // Chunks overlap by the token's length less one: every step moves forward.
    for (u64 p = from; p < limit && token.size() <= limit - p;)
    {
        const std::size_t n = static_cast<std::size_t>(std::min<u64>(kChunk, limit - p));
        const std::string buf = PdfBytesAt(src, p, n);
        const std::size_t hit = buf.find(token);
        if (hit != std::string::npos)
            return p + hit;
        if (buf.size() < n || buf.size() < token.size())
            return kPdfNone;
        p += buf.size() - token.size() + 1;
    }
    return kPdfNone;
}

bool PdfNumber(std::string_view text, std::size_t* i, u64* value)
{
    while (*i < text.size() && PdfIsSpace(text[*i]))
        ++*i;
    const std::size_t start = *i;
    u64 v = 0;
    while (*i < text.size() && text[*i] >= '0' && text[*i] <= '9' && *i - start < 19)
        v = v * 10 + static_cast<u64>(text[(*i)++] - '0');
    *value = v;
    return *i > start;
}

bool PdfObjectHeader(std::string_view text, u64 num, u64 gen, std::size_t* headerLen)
{
    std::size_t i = 0;
    while (i < 2 && i < text.size() && PdfIsSpace(text[i]))
        ++i;
    u64 n = 0;
    u64 g = 0;
    if (i < text.size() && PdfIsSpace(text[i]))
        return false;
    if (!PdfNumber(text, &i, &n) || i >= text.size() || !PdfIsSpace(text[i]) ||
        !PdfNumber(text, &i, &g) || n != num || g != gen)
        return false;
    while (i < text.size() && PdfIsSpace(text[i]))
        ++i;
    if (text.substr(i, 3) != "obj")
        return false;
    *headerLen = i + 3;
    return true;
}

namespace
{
// Offset just past /Key as a whole name in dict; npos when absent.
std::size_t KeyEnd(std::string_view dict, std::string_view key)
{
    for (std::size_t p = dict.find(key); p != std::string_view::npos; p = dict.find(key, p + 1))
    {
        const std::size_t e = p + key.size();
        if (e >= dict.size())
            return std::string_view::npos;
        const char c = dict[e];
        if (PdfIsSpace(c) || c == '/' || c == '(' || c == '<' || c == '[' || (c >= '0' && c <= '9'))
            return e;
    }
    return std::string_view::npos;
}

// True when text at i (after white space) is "<gen> R".
bool IsRefTail(std::string_view text, std::size_t i)
{
    u64 gen = 0;
    if (i >= text.size() || !PdfIsSpace(text[i]) || !PdfNumber(text, &i, &gen))
        return false;
    while (i < text.size() && PdfIsSpace(text[i]))
        ++i;
    return i < text.size() && text[i] == 'R';
}
} // namespace

bool PdfDictNumber(std::string_view dict, std::string_view key, u64* value)
{
    std::size_t i = KeyEnd(dict, key);
    return i != std::string_view::npos && PdfNumber(dict, &i, value) && !IsRefTail(dict, i);
}

bool PdfDictRef(std::string_view dict, std::string_view key, u64* num)
{
    std::size_t i = KeyEnd(dict, key);
    return i != std::string_view::npos && PdfNumber(dict, &i, num) && IsRefTail(dict, i);
}

namespace
{
// Skips the end of line after "stream" or before "endstream".
u64 SkipEol(std::string_view text, std::size_t i)
{
    if (i < text.size() && text[i] == '\r')
        ++i;
    if (i < text.size() && text[i] == '\n')
        ++i;
    return i;
}

bool EndsWithDictClose(std::string_view text)
{
    std::size_t e = text.size();
    while (e > 0 && PdfIsSpace(text[e - 1]))
        --e;
    return e >= 2 && text.substr(e - 2, 2) == ">>";
}

// Checks a stream whose keyword "stream" is at offset s, with dictionary dict.
bool StreamHolds(IContentSource& src, u64 s, std::string_view dict, u64 limit,
                 InflateBudget* budget)
{
    const std::string after = PdfBytesAt(src, s + 6, 2);
    const u64 data = s + 6 + SkipEol(after, 0);
    u64 length = 0;
    if (!PdfDictNumber(dict, "/Length", &length))
        return PdfFind(src, data, limit, "endstream") != kPdfNone; // an indirect length
    if (data > limit || length > limit - data)
        return false;
    const std::string tail = PdfBytesAt(src, data + length, 32);
    const std::size_t k = SkipEol(tail, 0);
    if (tail.substr(k, 9) != "endstream")
        return false;
    const std::size_t f = KeyEnd(dict, "/Filter");
    if (f != std::string_view::npos)
    {
        std::size_t i = f;
        while (i < dict.size() && PdfIsSpace(dict[i]))
            ++i;
        const std::string_view flate = "/FlateDecode";
        if (dict.substr(i, flate.size()) == flate &&
            (i + flate.size() == dict.size() ||
             !std::isalnum(static_cast<u8>(dict[i + flate.size()]))))
        {
            const InflateOutcome r = InflateRange(src, data, length, ~u64{0}, 15, budget);
            if (!r.ended && !budget->exhausted)
                return false;
        }
    }
    const u64 ep = data + length + k + 9;
    const std::string close = PdfBytesAt(src, ep, 16);
    std::size_t j = 0;
    while (j < close.size() && PdfIsSpace(close[j]))
        ++j;
    return close.substr(j, 6) == "endobj";
}
} // namespace

bool PdfObjectBodyHolds(IContentSource& src, u64 offset, u64 limit, InflateBudget* budget)
{
    if (limit <= offset)
        return false;
    const std::size_t window = static_cast<std::size_t>(std::min<u64>(limit - offset, kDictWindow));
    const std::string head = PdfBytesAt(src, offset, window);
    const std::size_t endobj = head.find("endobj");
    std::size_t stream = head.find("stream");
    while (stream != std::string::npos && stream >= 3 && head.compare(stream - 3, 3, "end") == 0)
        stream = head.find("stream", stream + 1);
    if (stream != std::string::npos && (endobj == std::string::npos || stream < endobj) &&
        EndsWithDictClose(std::string_view(head).substr(0, stream)))
        return StreamHolds(src, offset + stream, std::string_view(head).substr(0, stream), limit,
                           budget);
    if (endobj != std::string::npos)
        return true;
    return PdfFind(src, offset, limit, "endobj") != kPdfNone;
}
