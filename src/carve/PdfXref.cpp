// Cross-reference streams: the rows of a /FlateDecode stream, PNG predictors undone, read as
// /W gives their fields.
#include <algorithm>
#include <cstdlib>

#include "carve/PdfLex.h"

namespace
{
constexpr std::size_t kMaxIndexPairs = 4096;

// The numbers of the array after /Key ("[a b c ...]"), at most max of them.
std::vector<u64> ArrayAfter(std::string_view dict, std::string_view key, std::size_t max)
{
    std::vector<u64> out;
    std::size_t i = dict.find(key);
    if (i == std::string_view::npos)
        return out;
    i += key.size();
    while (i < dict.size() && PdfIsSpace(dict[i]))
        ++i;
    if (i >= dict.size() || dict[i] != '[')
        return out;
    ++i;
    u64 v = 0;
    while (out.size() < max && PdfNumber(dict, &i, &v))
        out.push_back(v);
    return out;
}

// The key's value when a number, anywhere in dict (a nested /DecodeParms included).
u64 NumberAfter(std::string_view dict, std::string_view key, u64 fallback)
{
    u64 v = 0;
    return PdfDictNumber(dict, key, &v) ? v : fallback;
}

// Undoes the PNG predictor of one row (bytes after its filter byte) against the row above.
bool Unpredict(u8 filter, std::span<u8> row, std::span<const u8> up)
{
    for (std::size_t i = 0; i < row.size(); ++i)
    {
        const int a = i > 0 ? row[i - 1] : 0;
        const int b = up[i];
        const int c = i > 0 ? up[i - 1] : 0;
        int add = 0;
        switch (filter)
        {
        case 0:
            break;
        case 1:
            add = a;
            break;
        case 2:
            add = b;
            break;
        case 3:
            add = (a + b) / 2;
            break;
        case 4:
        {
            const int p = a + b - c;
            const int pa = std::abs(p - a);
            const int pb = std::abs(p - b);
            const int pc = std::abs(p - c);
            add = pa <= pb && pa <= pc ? a : (pb <= pc ? b : c);
            break;
        }
        default:
            return false;
        }
        row[i] = static_cast<u8>(row[i] + add);
    }
    return true;
}

u64 Field(const u8* p, u64 width)
{
    u64 v = 0;
    for (u64 k = 0; k < width; ++k)
        v = (v << 8) | p[k];
    return v;
}
} // namespace

PdfXrefDecode PdfDecodeXrefStream(IContentSource& src, u64 pos, std::string_view dict,
                                  u64 maxEntries, InflateBudget* budget,
                                  std::vector<PdfXrefEntry>* out)
{
    const std::vector<u64> w = ArrayAfter(dict, "/W", 3);
    if (w.size() != 3 || w[0] > 8 || w[1] > 8 || w[2] > 8 || w[1] == 0)
        return PdfXrefDecode::kBroken;
    std::vector<u64> index = ArrayAfter(dict, "/Index", 2 * kMaxIndexPairs);
    if (index.empty())
        index = {0, NumberAfter(dict, "/Size", 0)};
    u64 entries = 0;
    for (std::size_t k = 1; k < index.size(); k += 2)
        entries += std::min(index[k], maxEntries);
    const u64 width = w[0] + w[1] + w[2];
    const u64 predictor = NumberAfter(dict, "/Predictor", 1);
    const bool png = predictor >= 10;
    u64 length = 0;
    const std::size_t filter = dict.find("/Filter");
    if (index.size() % 2 != 0 || entries > maxEntries || (predictor != 1 && !png) ||
        (png && NumberAfter(dict, "/Columns", 1) != width) ||
        !PdfDictNumber(dict, "/Length", &length) ||
        (filter != std::string_view::npos &&
         dict.find("/FlateDecode", filter) == std::string_view::npos))
        return PdfXrefDecode::kUndecodable;
    const u64 rowLen = width + (png ? 1 : 0);
    const u64 want = entries * rowLen;
    const std::string eol = PdfBytesAt(src, pos + dict.size() + 6, 2);
    const u64 data = pos + dict.size() + 6 + (eol.starts_with("\r\n") ? 2 : (eol.empty() ? 0 : 1));
    std::string rows;
    if (filter != std::string_view::npos)
    {
        const InflateOutcome r = InflateRange(src, data, length, want + rowLen, 15, budget, &rows,
                                              static_cast<std::size_t>(want));
        if (!r.ended)
            return budget->exhausted ? PdfXrefDecode::kUndecodable : PdfXrefDecode::kBroken;
    }
    else
        rows = PdfBytesAt(src, data, static_cast<std::size_t>(std::min(want, length)));
    if (rows.size() < want)
        return PdfXrefDecode::kBroken;
    std::vector<u8> up(static_cast<std::size_t>(width), 0);
    u64 row = 0;
    for (std::size_t k = 0; k + 1 < index.size(); k += 2)
    {
        for (u64 n = 0; n < std::min(index[k + 1], maxEntries); ++n, ++row)
        {
            auto* p = reinterpret_cast<u8*>(rows.data() + row * rowLen);
            std::span<u8> fields(p + (png ? 1 : 0), static_cast<std::size_t>(width));
            if (png && !Unpredict(p[0], fields, up))
                return PdfXrefDecode::kBroken;
            std::copy(fields.begin(), fields.end(), up.begin());
            const u64 type = w[0] == 0 ? 1 : Field(fields.data(), w[0]);
            const u64 f2 = Field(fields.data() + w[0], w[1]);
            const u64 f3 = Field(fields.data() + w[0] + w[1], w[2]);
            if (type > 2)
                return PdfXrefDecode::kBroken;
            if (type == 1)
                out->push_back({index[k] + n, f2, f3});
        }
    }
    return PdfXrefDecode::kDecoded;
}
