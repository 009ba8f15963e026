#include "carve/DocRead.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <zlib.h>

namespace
{
constexpr std::size_t kChunk = std::size_t{64} * 1024;
// The inflated bytes one validation may produce: a floor for small files, then a ratio to the
// bytes it reads well past what documents and archives compress to.
constexpr u64 kInflateFloor = u64{1} << 30;
constexpr u64 kInflateRatio = 32;
} // namespace

bool ReadExact(IContentSource& source, u64 offset, std::span<u8> out)
{
    const u64 size = source.Size();
    if (offset > size || out.size() > size - offset)
        return false;
    return out.empty() || source.Read(offset, out) == out.size();
}

bool Crc32Range(IContentSource& source, u64 offset, u64 length, u32* crc)
{
    std::vector<u8> buf(static_cast<std::size_t>(std::min<u64>(length, kChunk)));
    uLong c = crc32(0L, Z_NULL, 0);
    u64 done = 0;
    while (done < length)
    {
        const std::size_t n = static_cast<std::size_t>(std::min<u64>(length - done, kChunk));
        if (!ReadExact(source, offset + done, std::span<u8>(buf.data(), n)))
            return false;
        c = crc32(c, buf.data(), static_cast<uInt>(n));
        done += n;
    }
    *crc = static_cast<u32>(c);
    return true;
}

InflateBudget MakeInflateBudget(u64 sourceSize)
{
    InflateBudget budget;
    const u64 ratio =
        sourceSize > UINT64_MAX / kInflateRatio ? UINT64_MAX : sourceSize * kInflateRatio;
    budget.left = std::max(kInflateFloor, ratio);
    return budget;
}

namespace
{
// zlib state released on every return.
struct ZStream
{
    z_stream z{};
    bool open = false;
    explicit ZStream(int windowBits) { open = inflateInit2(&z, windowBits) == Z_OK; }
    ~ZStream()
    {
        if (open)
            inflateEnd(&z);
    }
    ZStream(const ZStream&) = delete;
    ZStream& operator=(const ZStream&) = delete;
};
} // namespace

InflateOutcome InflateRange(IContentSource& source, u64 offset, u64 maxIn, u64 maxOut,
                            int windowBits, InflateBudget* budget, std::string* keep,
                            std::size_t keepMax)
{
    InflateOutcome out;
    ZStream zs(windowBits);
    if (!zs.open)
        return out;
    const u64 size = source.Size();
    maxIn = offset > size ? 0 : std::min(maxIn, size - offset);
    // Left uninitialised: a file of many small members or entries inflates each on its own.
    const auto in = std::make_unique_for_overwrite<u8[]>(kChunk);
    const auto buf = std::make_unique_for_overwrite<u8[]>(kChunk);
    uLong crc = crc32(0L, Z_NULL, 0);
    u64 fed = 0;
    // Each pass either takes input or gives output (or stops): bounded by maxIn + maxOut.
    for (;;)
    {
        if (zs.z.avail_in == 0 && fed < maxIn)
        {
            const std::size_t want = static_cast<std::size_t>(std::min<u64>(maxIn - fed, kChunk));
            if (want > budget->left)
            {
                budget->exhausted = true;
                return out;
            }
            const std::size_t got = source.Read(offset + fed, std::span<u8>(in.get(), want));
            if (got == 0)
                return out;
            budget->left -= got; // input counts too: entries may share their bytes
            zs.z.next_in = in.get();
            zs.z.avail_in = static_cast<uInt>(got);
            fed += got;
        }
        zs.z.next_out = buf.get();
        zs.z.avail_out = static_cast<uInt>(kChunk);
        const uInt inBefore = zs.z.avail_in;
        const int rc = inflate(&zs.z, Z_NO_FLUSH);
        const std::size_t made = kChunk - zs.z.avail_out;
        if (made > maxOut - out.produced || made > budget->left)
        {
            budget->exhausted = made > budget->left;
            return out;
        }
        budget->left -= made;
        out.produced += made;
        crc = crc32(crc, buf.get(), static_cast<uInt>(made));
        if (keep != nullptr && keep->size() < keepMax)
            keep->append(reinterpret_cast<const char*>(buf.get()),
                         std::min(made, keepMax - keep->size()));
        if (rc == Z_STREAM_END)
        {
            out.ended = true;
            out.consumed = fed - zs.z.avail_in;
            out.crc = static_cast<u32>(crc);
            return out;
        }
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            return out;
        if (made == 0 && inBefore == zs.z.avail_in && (zs.z.avail_in != 0 || fed >= maxIn))
            return out; // no progress and nothing more to give it
    }
}

void AppendUtf8(u32 cp, std::string* out)
{
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        return;
    if (cp < 0x80)
    {
        out->push_back(static_cast<char>(cp));
        return;
    }
    if (cp < 0x800)
    {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    }
    else if (cp < 0x10000)
    {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    }
    else
    {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    }
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
}

int Utf8SequenceLength(std::span<const u8> b)
{
    if (b.empty())
        return -1;
    const u8 c = b[0];
    if (c < 0x80)
        return 1;
    int len = 0;
    u8 lo = 0x80;
    u8 hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        len = 2;
    else if (c >= 0xE0 && c <= 0xEF)
    {
        len = 3;
        lo = c == 0xE0 ? 0xA0 : 0x80; // no overlongs
        hi = c == 0xED ? 0x9F : 0xBF; // no surrogates
    }
    else if (c >= 0xF0 && c <= 0xF4)
    {
        len = 4;
        lo = c == 0xF0 ? 0x90 : 0x80;
        hi = c == 0xF4 ? 0x8F : 0xBF; // at most U+10FFFF
    }
    else
        return 0;
    for (int i = 1; i < len; ++i)
    {
        if (static_cast<std::size_t>(i) >= b.size())
            return -1;
        const u8 lim0 = i == 1 ? lo : 0x80;
        const u8 lim1 = i == 1 ? hi : 0xBF;
        if (b[static_cast<std::size_t>(i)] < lim0 || b[static_cast<std::size_t>(i)] > lim1)
            return 0;
    }
    return len;
}

std::string CleanTitle(std::string_view text)
{
    std::string out;
    bool space = false;
    const auto* p = reinterpret_cast<const u8*>(text.data());
    std::size_t i = 0;
    while (i < text.size())
    {
        const int len = Utf8SequenceLength(std::span<const u8>(p + i, text.size() - i));
        if (len <= 0)
        {
            ++i; // an invalid byte is dropped
            continue;
        }
        const auto n = static_cast<std::size_t>(len);
        const bool control = (n == 1 && (p[i] < 0x20 || p[i] == 0x7F)) ||
                             (n == 2 && p[i] == 0xC2 && p[i + 1] < 0xA0);
        const bool white = n == 1 && (p[i] == ' ' || p[i] == '\t' || p[i] == '\n' || p[i] == '\r');
        if (white)
            space = !out.empty();
        else if (!control)
        {
            if (out.size() + (space ? 1 : 0) + n > kMaxTitleBytes)
                break;
            if (space)
                out.push_back(' ');
            space = false;
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}
