// Validators of formats read as one stream from the start: RTF's groups, GZIP's members, 7z's
// start header and UTF-8 text.
#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include <zlib.h>

#include "carve/ContentCheck.h"
#include "carve/DocRead.h"
#include "platform/ByteOrder.h"

namespace
{
constexpr std::size_t kChunk = std::size_t{64} * 1024;

// Reads a source forward a chunk at a time.
class ForwardReader
{
public:
    explicit ForwardReader(IContentSource& src)
        : m_src(src), m_buf(std::make_unique_for_overwrite<u8[]>(kChunk))
    {
    }
    // The byte at pos, or -1 past what can be read.
    int At(u64 pos)
    {
        if (pos < m_base || pos >= m_base + m_len)
        {
            m_base = pos;
            m_len = pos < m_src.Size() ? m_src.Read(pos, std::span<u8>(m_buf.get(), kChunk)) : 0;
            if (m_len == 0)
                return -1;
        }
        return m_buf[static_cast<std::size_t>(pos - m_base)];
    }

private:
    IContentSource& m_src;
    std::unique_ptr<u8[]> m_buf;
    u64 m_base = 0;
    std::size_t m_len = 0;
};

bool IsLetter(int c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A byte RTF never holds outside \bin data.
bool IsBinary(int c)
{
    return c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f';
}
} // namespace

ContentCheck CheckRtf(IContentSource& source)
{
    ContentCheck check;
    check.type = CarveType::kRtf;
    check.verdict = FindContent::kDamaged;
    std::array<u8, 5> head{};
    if (!ReadExact(source, 0, head) ||
        std::string_view(reinterpret_cast<char*>(head.data()), 5) != "{\\rtf")
        return check;
    ForwardReader r(source);
    u64 depth = 0;
    u64 pos = 0;
    // Every pass moves pos forward: bounded by Size().
    for (int c = r.At(pos); c >= 0; c = r.At(pos))
    {
        if (c == '{')
            ++depth;
        else if (c == '}')
        {
            if (--depth == 0)
            {
                check.verdict = FindContent::kValid;
                check.end = check.validBytes = pos + 1;
                return check;
            }
        }
        else if (c == '\\')
        {
            const u64 word = pos + 1;
            u64 q = word;
            while (IsLetter(r.At(q)) && q - word < 32)
                ++q;
            if (q == word)
            {
                const int e = r.At(q);
                if (e < 0 || IsBinary(e))
                    break;
                pos = q + 1; // a control symbol: \{ \} \\ \' and the like
                continue;
            }
            const bool bin = q - word == 3 && r.At(word) == 'b' && r.At(word + 1) == 'i' &&
                             r.At(word + 2) == 'n';
            u64 param = 0;
            if (r.At(q) == '-')
                ++q;
            for (int d = r.At(q); d >= '0' && d <= '9' && param < (u64{1} << 40); d = r.At(++q))
                param = param * 10 + static_cast<u64>(d - '0');
            if (r.At(q) == ' ')
                ++q;
            pos = q + (bin ? param : 0);
            continue;
        }
        else if (IsBinary(c))
            break;
        ++pos;
    }
    check.validBytes = std::min(pos, source.Size());
    return check;
}

namespace
{
constexpr u8 kFhcrc = 0x02;
constexpr u8 kFextra = 0x04;
constexpr u8 kFname = 0x08;
constexpr u8 kFcomment = 0x10;

// Offset past the zero-terminated field at pos (bounded by Size()); 0 when it has no end.
u64 SkipZeroTerminated(ForwardReader& r, u64 pos)
{
    for (int c = r.At(pos); c >= 0; c = r.At(++pos))
        if (c == 0)
            return pos + 1;
    return 0;
}

// Checks one GZIP member at off; returns the offset past it, 0 when it does not hold.
u64 CheckGzipMember(IContentSource& src, u64 off, InflateBudget* budget)
{
    std::array<u8, 10> h{};
    if (!ReadExact(src, off, h) || h[0] != 0x1F || h[1] != 0x8B || h[2] != 8 || (h[3] & 0xE0) != 0)
        return 0;
    ForwardReader r(src);
    u64 p = off + 10;
    if ((h[3] & kFextra) != 0)
    {
        std::array<u8, 2> x{};
        if (!ReadExact(src, p, x))
            return 0;
        p += 2 + LoadLe16(x.data());
    }
    if ((h[3] & kFname) != 0 && (p = SkipZeroTerminated(r, p)) == 0)
        return 0;
    if ((h[3] & kFcomment) != 0 && (p = SkipZeroTerminated(r, p)) == 0)
        return 0;
    if ((h[3] & kFhcrc) != 0)
    {
        u32 crc = 0;
        std::array<u8, 2> x{};
        if (!Crc32Range(src, off, p - off, &crc) || !ReadExact(src, p, x) ||
            LoadLe16(x.data()) != static_cast<u16>(crc))
            return 0;
        p += 2;
    }
    const InflateOutcome d = InflateRange(src, p, src.Size(), ~u64{0}, -15, budget);
    std::array<u8, 8> t{};
    if (!d.ended || !ReadExact(src, p + d.consumed, t) || LoadLe32(t.data()) != d.crc ||
        LoadLe32(t.data() + 4) != static_cast<u32>(d.produced))
        return 0;
    return p + d.consumed + 8;
}
} // namespace

ContentCheck CheckGzip(IContentSource& source)
{
    ContentCheck check;
    check.type = CarveType::kGzip;
    check.verdict = FindContent::kDamaged;
    InflateBudget budget = MakeInflateBudget(source.Size());
    u64 pos = 0;
    // Members chained: each one moves pos forward.
    for (;;)
    {
        std::array<u8, 3> magic{};
        if (pos != 0 && (!ReadExact(source, pos, magic) || magic[0] != 0x1F || magic[1] != 0x8B ||
                         magic[2] != 8))
            break;
        const u64 next = CheckGzipMember(source, pos, &budget);
        if (next == 0)
        {
            check.validBytes = pos;
            if (budget.exhausted)
                check.verdict = FindContent::kNone; // too big to check, not known broken
            return check;
        }
        pos = next;
    }
    check.verdict = FindContent::kValid;
    check.end = check.validBytes = pos;
    return check;
}

ContentCheck Check7z(IContentSource& source)
{
    static constexpr u8 kSig[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
    ContentCheck check;
    check.type = CarveType::k7z;
    check.verdict = FindContent::kDamaged;
    std::array<u8, 32> h{};
    if (!ReadExact(source, 0, h) || !std::equal(h.begin(), h.begin() + 6, kSig) || h[6] != 0)
        return check;
    // Start header: CRC at 0x08 over the next header's offset (0x0C), size (0x14), CRC (0x1C).
    if (static_cast<u32>(crc32(0L, h.data() + 12, 20)) != LoadLe32(h.data() + 8))
        return check;
    const u64 offset = LoadLe64(h.data() + 12);
    const u64 size = LoadLe64(h.data() + 20);
    const u64 total = source.Size();
    check.validBytes = 32;
    if (offset > total || size > total - offset || 32 > total - offset - size)
        return check; // the next header lies past what the file may hold
    check.end = 32 + offset + size;
    u32 crc = 0;
    if (!Crc32Range(source, 32 + offset, size, &crc) || crc != LoadLe32(h.data() + 28))
        return check;
    if (size != 0)
    {
        std::array<u8, 1> id{};
        // The next header is a header (0x01) or an encoded one (0x17).
        if (!ReadExact(source, 32 + offset, id) || (id[0] != 0x01 && id[0] != 0x17))
            return check;
    }
    check.verdict = FindContent::kValid;
    check.validBytes = check.end;
    return check;
}

ContentCheck CheckText(IContentSource& source)
{
    ContentCheck check;
    check.type = CarveType::kText;
    const u64 size = source.Size();
    std::vector<u8> buf(kChunk + 4);
    u64 pos = 0;
    std::size_t carry = 0; // bytes of a sequence cut by the chunk, kept at the buffer's start
    bool stop = false;
    while (!stop && pos + carry < size)
    {
        const std::size_t want =
            static_cast<std::size_t>(std::min<u64>(kChunk, size - pos - carry));
        const std::size_t got = source.Read(pos + carry, std::span<u8>(buf.data() + carry, want));
        if (got == 0)
            break;
        const std::size_t have = carry + got;
        std::size_t i = 0;
        while (i < have)
        {
            const u8 c = buf[i];
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f')
            {
                stop = true;
                break;
            }
            const int len = Utf8SequenceLength(std::span<const u8>(buf.data() + i, have - i));
            if (len < 0 && pos + have < size)
                break; // cut by the chunk: read on
            if (len <= 0 || c == 0x7F)
            {
                stop = true;
                break;
            }
            i += static_cast<std::size_t>(len);
        }
        carry = stop ? 0 : have - i;
        std::memmove(buf.data(), buf.data() + i, carry);
        pos += i;
    }
    check.end = check.validBytes = pos;
    bool zerosToEnd = true;
    for (u64 z = pos; zerosToEnd && z < size; z += kChunk)
    {
        const std::size_t n = static_cast<std::size_t>(std::min<u64>(kChunk, size - z));
        zerosToEnd = ReadExact(source, z, std::span<u8>(buf.data(), n)) &&
                     std::all_of(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n),
                                 [](u8 b) { return b == 0; });
    }
    check.verdict = zerosToEnd ? FindContent::kValid : FindContent::kDamaged;
    return check;
}
