// The header search's cluster tests (text or not, the cap of each type) and the scan that notes
// candidates and text runs as the deep search's blocks pass.
#include "carve/HeaderSearch.h"

#include <algorithm>

namespace
{
constexpr u64 kMiB = u64{1024} * 1024;
constexpr u64 kGiB = 1024 * kMiB;

// Bytes below 0x20 that text holds: tab, line feed, form feed, carriage return.
constexpr bool TextControl(u8 c)
{
    return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D;
}

// The length of the UTF-8 sequence lead begins (0: not a lead byte), and the bounds its
// second byte must keep so that the sequence is neither overlong nor a surrogate nor past
// U+10FFFF.
struct Utf8Lead
{
    u8 length;
    u8 low;
    u8 high;
};

constexpr Utf8Lead LeadOf(u8 c)
{
    if (c >= 0xC2 && c <= 0xDF)
        return {2, 0x80, 0xBF};
    if (c == 0xE0)
        return {3, 0xA0, 0xBF};
    if (c == 0xED)
        return {3, 0x80, 0x9F};
    if (c >= 0xE1 && c <= 0xEF)
        return {3, 0x80, 0xBF};
    if (c == 0xF0)
        return {4, 0x90, 0xBF};
    if (c == 0xF4)
        return {4, 0x80, 0x8F};
    if (c >= 0xF1 && c <= 0xF3)
        return {4, 0x80, 0xBF};
    return {0, 0, 0};
}

// Checks the multi-byte sequence at bytes[i]; returns its length, 0 when it is not UTF-8. A
// sequence cut by the end of bytes is taken (the file's next cluster holds the rest).
std::size_t SequenceAt(std::span<const u8> bytes, std::size_t i)
{
    const Utf8Lead lead = LeadOf(bytes[i]);
    if (lead.length == 0)
        return 0;
    for (std::size_t k = 1; k < lead.length; ++k)
    {
        if (i + k >= bytes.size())
            return bytes.size() - i;
        const u8 c = bytes[i + k];
        const bool ok = k == 1 ? c >= lead.low && c <= lead.high : (c & 0xC0) == 0x80;
        if (!ok)
            return 0;
    }
    return lead.length;
}
} // namespace

bool IsTextCluster(std::span<const u8> bytes)
{
    std::size_t i = 0;
    // A cluster may begin inside a character the previous cluster began: up to three
    // continuation bytes.
    while (i < bytes.size() && i < 3 && (bytes[i] & 0xC0) == 0x80)
        ++i;
    if (i == bytes.size() || bytes[i] == 0)
        return false;
    while (i < bytes.size())
    {
        const u8 c = bytes[i];
        if (c >= 0x20 && c < 0x7F)
        {
            ++i;
            continue;
        }
        if (c == 0)
            break;
        if (c < 0x80)
        {
            if (!TextControl(c))
                return false;
            ++i;
            continue;
        }
        const std::size_t length = SequenceAt(bytes, i);
        if (length == 0)
            return false;
        i += length;
    }
    // The end of a file's last cluster: zeros to the end.
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.end(),
                       [](u8 c) { return c == 0; });
}

u64 CarveCap(CarveType type)
{
    switch (type)
    {
    case CarveType::kNone:
    case CarveType::kCount:
        return 0;
    case CarveType::kText:
        return 16 * kMiB;
    case CarveType::kJpeg:
    case CarveType::kPng:
    case CarveType::kGif:
    case CarveType::kHeic:
        return 64 * kMiB;
    case CarveType::kBmp:
    case CarveType::kTiff:
    case CarveType::kCr2:
    case CarveType::kNef:
    case CarveType::kArw:
    case CarveType::kDng:
    case CarveType::kMp3:
    case CarveType::kDoc:
    case CarveType::kXls:
    case CarveType::kPpt:
    case CarveType::kRtf:
        return 256 * kMiB;
    case CarveType::kMp4:
    case CarveType::kMov:
    case CarveType::k3gp:
    case CarveType::kAvi:
    case CarveType::kWav:
        return 4 * kGiB;
    default: // PDF, the ZIP family, SQLite, GZIP, 7z
        return kGiB;
    }
}

CarveScan::CarveScan(u64 origin, u64 firstCluster, u64 endCluster, u64 clusterBytes)
    : m_origin(origin), m_firstCluster(firstCluster), m_endCluster(endCluster),
      m_clusterBytes(clusterBytes)
{
}

void CarveScan::Scan(u64 offset, std::span<const u8> bytes)
{
    if (m_clusterBytes == 0 || bytes.empty() || m_firstCluster >= m_endCluster)
        return;
    const u64 spanEnd = offset + bytes.size();
    // The first cluster that begins at or after offset.
    u64 cluster = m_firstCluster;
    if (offset > m_origin)
    {
        const u64 into = (offset - m_origin + m_clusterBytes - 1) / m_clusterBytes;
        if (into >= m_endCluster - m_firstCluster)
            return;
        cluster = m_firstCluster + into;
    }
    const u64 headBytes = std::min<u64>(kHeaderBytes, m_clusterBytes);
    for (; cluster < m_endCluster; ++cluster)
    {
        const u64 start = m_origin + (cluster - m_firstCluster) * m_clusterBytes;
        if (start >= spanEnd || spanEnd - start < headBytes)
            break;
        // A call that starts again over clusters already seen notes nothing twice.
        if ((!m_candidates.empty() && m_candidates.back().cluster >= cluster) ||
            (!m_textRuns.empty() && m_textRuns.back().first + m_textRuns.back().length > cluster))
            continue;
        const std::span<const u8> rest = bytes.subspan(static_cast<std::size_t>(start - offset));
        const CarveType type = MatchHeader(rest.first(static_cast<std::size_t>(headBytes)));
        if (type != CarveType::kNone)
        {
            m_candidates.push_back({cluster, type});
            continue;
        }
        if (rest.size() < m_clusterBytes ||
            !IsTextCluster(rest.first(static_cast<std::size_t>(m_clusterBytes))))
            continue;
        if (!m_textRuns.empty() && m_textRuns.back().first + m_textRuns.back().length == cluster)
            ++m_textRuns.back().length;
        else
            m_textRuns.push_back({cluster, 1});
    }
}
