// RIFF files (AVI, WAV): the RIFF header's size and form, chunks nested in LIST chunks with their
// sizes padded to even, the chunks each form needs (WAV: fmt and data; AVI: the hdrl and movi
// lists) and, when an AVI has an idx1 index, every entry inside the movi list.
#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "carve/ContentCheck.h"
#include "carve/MediaRead.h"

namespace
{
constexpr u64 kRiffHeader = 12; // "RIFF", size, form type
constexpr u64 kChunkHeader = 8; // id, size
constexpr u64 kListHeader = 12; // "LIST", size, list type
constexpr u64 kIndexEntry = 16; // idx1: chunk id, flags, offset, size
constexpr u64 kMinFmt = 16;     // WAVEFORMAT and the PCM bit count
constexpr std::size_t kMaxDepth = 8;
constexpr std::size_t kIndexBlock = 1024;

bool Is(const u8* p, std::string_view name)
{
    return std::equal(name.begin(), name.end(), p);
}

class RiffWalk
{
public:
    explicit RiffWalk(IContentSource& source) : m_source(source) {}

    // Walks the chunks of [start, end); false at the first that breaks.
    bool Chunks(u64 start, u64 end, std::size_t depth);
    // True when every idx1 entry lies inside the movi list.
    bool Index();

    [[nodiscard]] u64 Break() const { return m_break; }

    bool m_fmt = false;
    bool m_data = false;
    bool m_hdrl = false;
    bool m_movi = false;

private:
    // A header that does not hold may be the first bytes of other data, or the chunk before it
    // may have been cut short by them: the break is placed at that chunk's start.
    bool Fail()
    {
        m_break = m_last;
        return false;
    }
    bool List(u64 at, u64 end, std::size_t depth);
    bool Entries(u64 base, u64 count);

    IContentSource& m_source;
    u64 m_break = 0;
    u64 m_last = kRiffHeader; // the start of the last chunk whose header held
    u64 m_moviType = 0;       // where the movi list's type "movi" lies
    u64 m_moviEnd = 0;
    u64 m_index = 0; // the idx1 chunk's start, 0 when none
    u64 m_indexSize = 0;
};

bool RiffWalk::Chunks(u64 start, u64 end, std::size_t depth)
{
    u64 at = start;
    // Every chunk takes at least eight bytes: the walk ends within (end - start) / 8 steps.
    while (at < end)
    {
        std::array<u8, kChunkHeader> head{};
        if (!media::Fits(at, kChunkHeader, end) || !media::ReadExact(m_source, at, head) ||
            !media::IsFourCc(head.data()))
            return Fail();
        const u64 size = LoadLe32(head.data() + 4);
        const u64 chunkEnd = at + kChunkHeader + size;
        if (chunkEnd > end)
            return Fail();
        m_last = at;
        if (Is(head.data(), "LIST") && !List(at, chunkEnd, depth))
            return false;
        if (depth == 0)
        {
            m_fmt = m_fmt || (Is(head.data(), "fmt ") && size >= kMinFmt);
            m_data = m_data || Is(head.data(), "data");
            if (Is(head.data(), "idx1"))
            {
                m_index = at;
                m_indexSize = size;
            }
        }
        // Sizes are padded to even; the last chunk of a list may leave the pad out.
        at = std::min(chunkEnd + (size & 1), end);
    }
    return true;
}

bool RiffWalk::List(u64 at, u64 end, std::size_t depth)
{
    std::array<u8, 4> type{};
    if (end - at < kListHeader || depth >= kMaxDepth ||
        !media::ReadExact(m_source, at + kChunkHeader, type) || !media::IsFourCc(type.data()))
        return Fail();
    if (depth == 0 && Is(type.data(), "hdrl"))
        m_hdrl = true;
    if (depth == 0 && Is(type.data(), "movi"))
    {
        m_movi = true;
        m_moviType = at + kChunkHeader;
        m_moviEnd = end;
    }
    return Chunks(at + kListHeader, end, depth + 1);
}

bool RiffWalk::Index()
{
    if (m_index == 0)
        return true;
    const u64 count = m_indexSize / kIndexEntry;
    if (count == 0)
        return true;
    // Entry offsets count from the movi list's type, or (some writers) from the file's start:
    // the first entry tells which.
    std::array<u8, kIndexEntry> first{};
    m_last = m_index;
    if (!media::ReadExact(m_source, m_index + kChunkHeader, first))
        return Fail();
    const u64 offset = LoadLe32(first.data() + 8);
    const u64 base = offset >= m_moviType ? 0 : m_moviType;
    return Entries(base, count) || Fail();
}

bool RiffWalk::Entries(u64 base, u64 count)
{
    std::vector<u8> raw;
    for (u64 i = 0; i < count; i += kIndexBlock)
    {
        const std::size_t n = static_cast<std::size_t>(std::min<u64>(kIndexBlock, count - i));
        raw.resize(n * kIndexEntry);
        if (!media::ReadExact(m_source, m_index + kChunkHeader + i * kIndexEntry, raw))
            return false;
        for (std::size_t k = 0; k < n; ++k)
        {
            const u8* e = raw.data() + k * kIndexEntry;
            const u64 at = base + LoadLe32(e + 8);
            const u64 size = LoadLe32(e + 12);
            if (at < m_moviType + 4 || !media::Fits(at, kChunkHeader + size, m_moviEnd))
                return false;
        }
    }
    return true;
}
} // namespace

ContentCheck CheckRiff(IContentSource& file)
{
    media::Window source(file);
    std::array<u8, kRiffHeader> head{};
    if (!media::ReadExact(source, 0, head) || !Is(head.data(), "RIFF"))
        return media::Damaged(CarveType::kAvi, 0);
    const bool wave = Is(head.data() + 8, "WAVE");
    const CarveType type = wave ? CarveType::kWav : CarveType::kAvi;
    const u64 end = kChunkHeader + LoadLe32(head.data() + 4);
    if (!wave && !Is(head.data() + 8, "AVI "))
        return media::Damaged(type, 0);
    RiffWalk walk(source);
    if (!walk.Chunks(kRiffHeader, std::min(end, source.Size()), 0))
        return media::Damaged(type, walk.Break());
    if (end > source.Size())
        return media::Damaged(type, source.Size());
    const bool whole = wave ? walk.m_fmt && walk.m_data : walk.m_hdrl && walk.m_movi;
    if (!whole)
        return media::Damaged(type, kRiffHeader);
    if (!walk.Index())
        return media::Damaged(type, walk.Break());
    return media::Valid(type, end);
}
