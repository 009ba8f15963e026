#include "carve/Ole2Title.h"

#include <algorithm>

#include "carve/DocRead.h"
#include "platform/ByteOrder.h"

namespace
{
// Property set stream header and the summary information set's format identifier.
constexpr std::size_t kSetCount = 24; // number of property sets
constexpr std::size_t kFirstFmtid = 28;
constexpr std::size_t kFirstOffset = 44;
constexpr u8 kSummaryFmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                  0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
constexpr u32 kPidCodepage = 1;
constexpr u32 kPidTitle = 2;
constexpr u32 kVtLpstr = 0x1E;
constexpr u32 kVtLpwstr = 0x1F;
constexpr u32 kCodepageUtf16 = 1200;
constexpr u32 kCodepageUtf8 = 65001;
constexpr u32 kMaxProperties = 4096;

// Windows-1252 at 0x80-0x9F (0 where it has no character).
constexpr u16 kCp1252[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                             0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                             0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                             0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string Utf16Le(ByteView v, std::size_t at, u64 units)
{
    std::string out;
    for (u64 i = 0; i < units && v.Has(at + 2 * i, 2); ++i)
    {
        u32 cp = v.U16(at + 2 * i);
        if (cp == 0)
            break;
        const u32 lo = v.U16(at + 2 * i + 2);
        if (cp >= 0xD800 && cp <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF && i + 1 < units)
        {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
            ++i;
        }
        AppendUtf8(cp, &out);
    }
    return out;
}

std::string Ansi(ByteView v, std::size_t at, u64 bytes, u32 codepage)
{
    std::string out;
    for (u64 i = 0; i < bytes && v.Has(at + i, 1); ++i)
    {
        const u8 c = v.U8(at + i);
        if (c == 0)
            break;
        if (codepage == kCodepageUtf8 || c < 0x80)
            out.push_back(static_cast<char>(c));
        else if (c < 0xA0)
            AppendUtf8(kCp1252[c - 0x80], &out);
        else
            AppendUtf8(c, &out);
    }
    return out;
}
} // namespace

std::string Ole2SummaryTitle(std::span<const u8> stream)
{
    const ByteView v(stream.data(), stream.size());
    if (v.U16(0) != 0xFFFE || v.U32(kSetCount) == 0 || !v.Has(kFirstFmtid, 16) ||
        !std::equal(kSummaryFmtid, kSummaryFmtid + 16, stream.data() + kFirstFmtid))
        return {};
    const std::size_t set = v.U32(kFirstOffset);
    const u32 count = std::min(v.U32(set + 4), kMaxProperties);
    u32 codepage = 1252;
    std::size_t title = 0;
    for (u32 i = 0; i < count && v.Has(set + 8 + 8 * std::size_t{i}, 8); ++i)
    {
        const u32 id = v.U32(set + 8 + 8 * std::size_t{i});
        const std::size_t at = set + v.U32(set + 12 + 8 * std::size_t{i});
        if (id == kPidCodepage && v.Has(at, 6))
            codepage = v.U16(at + 4);
        else if (id == kPidTitle)
            title = at;
    }
    if (title == 0 || !v.Has(title, 8))
        return {};
    const u32 type = v.U32(title);
    const u64 len = v.U32(title + 4);
    if (type == kVtLpwstr || (type == kVtLpstr && codepage == kCodepageUtf16))
        return CleanTitle(Utf16Le(v, title + 8, type == kVtLpwstr ? len : len / 2));
    if (type == kVtLpstr)
        return CleanTitle(Ansi(v, title + 8, len, codepage));
    return {};
}
