// ISO base media files (MP4, MOV, 3GP, HEIC): top-level boxes chained by their sizes from the
// ftyp box, a moov (meta for HEIC) and an mdat present, the boxes inside moov nested whole, and
// every chunk offset (stco, co64) inside an mdat, which catches a moov that is not this file's.
#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "carve/ContentCheck.h"
#include "carve/MediaRead.h"

namespace
{
constexpr std::size_t kWindow = 4096;
constexpr u64 kBoxHeader = 8;    // size (32-bit) and type
constexpr u64 kLargeHeader = 16; // size 1: a 64-bit largesize follows the type
constexpr u64 kMaxFtyp = 4096;
constexpr std::size_t kMaxTopBoxes = 1u << 16;
constexpr std::size_t kMaxDepth = 8;
constexpr u64 kMaxBudget = 1u << 24; // boxes and chunk offsets read in all
constexpr std::size_t kOffsetBlock = 1024;

struct Box
{
    std::array<char, 4> type{};
    u64 start = 0;
    u64 payload = 0; // where the box's contents start
    u64 end = 0;

    [[nodiscard]] bool Is(std::string_view name) const
    {
        return std::equal(type.begin(), type.end(), name.begin(), name.end());
    }
};

// What lies at an offset: a box, a box header whose box runs past the limit, or no box.
enum class BoxRead
{
    kNotBox,
    kCut,
    kBox,
};

// Reads the box header at offset, whose box must end by limit.
BoxRead ReadBox(IContentSource& source, u64 offset, u64 limit, Box* box)
{
    std::array<u8, kLargeHeader> head{};
    if (!media::Fits(offset, kBoxHeader, limit) ||
        !media::ReadExact(source, offset, std::span<u8>(head.data(), kBoxHeader)) ||
        !media::IsFourCc(head.data() + 4))
        return BoxRead::kNotBox;
    std::copy(head.begin() + 4, head.begin() + 8, box->type.begin());
    box->start = offset;
    u64 size = media::LoadBe32(head.data());
    box->payload = offset + kBoxHeader;
    if (size == 1)
    {
        if (!media::Fits(offset, kLargeHeader, limit) || !media::ReadExact(source, offset, head))
            return BoxRead::kCut;
        size = media::LoadBe64(head.data() + 8);
        box->payload = offset + kLargeHeader;
    }
    else if (size == 0)
        size = limit - offset;
    if (size < box->payload - offset)
        return BoxRead::kNotBox;
    if (!media::Fits(offset, size, limit))
        return BoxRead::kCut;
    box->end = offset + size;
    return BoxRead::kBox;
}

bool IsContainer(const Box& box)
{
    for (const std::string_view name :
         {"moov", "trak", "mdia", "minf", "stbl", "edts", "dinf", "mvex", "moof", "traf"})
        if (box.Is(name))
            return true;
    return false;
}

// Top-level types a file may hold after its moov and mdat; anything else there (a second ftyp,
// text, random bytes) is where the file ends.
bool IsTrailingBox(const Box& box)
{
    for (const std::string_view name :
         {"moov", "mdat", "free", "skip", "wide", "udta", "meta", "moof", "mfra", "uuid", "styp",
          "sidx", "ssix", "prft", "emsg", "pdin", "Xtra", "junk", "pnot"})
        if (box.Is(name))
            return true;
    return false;
}

class BmffWalk
{
public:
    explicit BmffWalk(IContentSource& source) : m_source(source) {}

    // True when the boxes inside parent nest whole, down to kMaxDepth.
    bool Children(const Box& parent, std::size_t depth);
    // True when every chunk offset of the stco or co64 box lies in an mdat's contents.
    bool ChunkOffsets(const Box& box, u64 width);

    std::vector<Box> m_mdats;

private:
    IContentSource& m_source;
    u64 m_budget = 0;
};

bool BmffWalk::Children(const Box& parent, std::size_t depth)
{
    u64 at = parent.payload;
    while (at < parent.end)
    {
        Box child;
        if (++m_budget > kMaxBudget || ReadBox(m_source, at, parent.end, &child) != BoxRead::kBox)
        {
            // QuickTime may close a container with a 32-bit zero.
            std::array<u8, 4> tail{};
            return parent.end - at == 4 && media::ReadExact(m_source, at, tail) &&
                   media::LoadBe32(tail.data()) == 0;
        }
        if (child.Is("stco") && !ChunkOffsets(child, 4))
            return false;
        if (child.Is("co64") && !ChunkOffsets(child, 8))
            return false;
        if (IsContainer(child) && (depth >= kMaxDepth || !Children(child, depth + 1)))
            return false;
        at = child.end;
    }
    return true;
}

bool BmffWalk::ChunkOffsets(const Box& box, u64 width)
{
    std::array<u8, 8> head{}; // version and flags, entry_count
    if (!media::Fits(box.payload, 8, box.end) || !media::ReadExact(m_source, box.payload, head))
        return false;
    const u64 count = media::LoadBe32(head.data() + 4);
    if (!media::Fits(box.payload + 8, count * width, box.end))
        return false;
    std::vector<u8> raw;
    for (u64 i = 0; i < count; i += kOffsetBlock)
    {
        const std::size_t n = static_cast<std::size_t>(std::min<u64>(kOffsetBlock, count - i));
        m_budget += n;
        raw.resize(n * width);
        if (m_budget > kMaxBudget || !media::ReadExact(m_source, box.payload + 8 + i * width, raw))
            return false;
        for (std::size_t k = 0; k < n; ++k)
        {
            const u64 offset = width == 4 ? media::LoadBe32(raw.data() + k * 4)
                                          : media::LoadBe64(raw.data() + k * 8);
            // The mdats are in file order and do not overlap: the one before offset decides.
            const auto after =
                std::upper_bound(m_mdats.begin(), m_mdats.end(), offset,
                                 [](u64 value, const Box& m) { return value < m.start; });
            if (after == m_mdats.begin())
                return false;
            const Box& mdat = *(after - 1);
            if (offset < mdat.payload || offset >= mdat.end)
                return false;
        }
    }
    return true;
}

bool IsHeicBrand(const u8* brand)
{
    for (const std::string_view name :
         {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"})
        if (std::equal(name.begin(), name.end(), brand))
            return true;
    return false;
}

// The type the ftyp box's major brand names.
CarveType BrandType(const u8* brand)
{
    if (std::equal(brand, brand + 4, "qt  "))
        return CarveType::kMov;
    if (std::equal(brand, brand + 3, "3gp") || std::equal(brand, brand + 3, "3g2"))
        return CarveType::k3gp;
    if (IsHeicBrand(brand))
        return CarveType::kHeic;
    return CarveType::kMp4;
}

// The first box: ftyp, which names the type, or (old QuickTime files) a movie's own box.
bool FirstBox(IContentSource& source, const Box& box, CarveType* type)
{
    if (box.Is("ftyp"))
    {
        std::array<u8, 4> brand{};
        if (box.end - box.start > kMaxFtyp || !media::Fits(box.payload, 8, box.end) ||
            !media::ReadExact(source, box.payload, brand) || !media::IsFourCc(brand.data()))
            return false;
        *type = BrandType(brand.data());
        return true;
    }
    *type = CarveType::kMov;
    return box.Is("moov") || box.Is("mdat") || box.Is("wide") || box.Is("free") || box.Is("skip") ||
           box.Is("pnot");
}
} // namespace

ContentCheck CheckBmff(IContentSource& file)
{
    media::Window source(file, kWindow); // the walk jumps from box to box
    const u64 size = source.Size();
    BmffWalk walk(source);
    std::vector<Box> checked; // moov and meta boxes, checked once every mdat is known
    CarveType type = CarveType::kMp4;
    u64 at = 0;
    u64 last = 0; // the last box that held: a break after it may lie in its contents
    bool movie = false;
    while (at < size)
    {
        Box box;
        const BoxRead read = ReadBox(source, at, size, &box);
        const bool isBox = read == BoxRead::kBox;
        if (at == 0 && (!isBox || !FirstBox(source, box, &type)))
            return media::Damaged(CarveType::kMp4, 0);
        // What follows a whole movie and is not a box a movie has there (text, random bytes,
        // the next file's ftyp) is where the file ends; a movie's box cut short is a break.
        const bool complete = movie && !walk.m_mdats.empty();
        if (complete && (read == BoxRead::kNotBox || !IsTrailingBox(box)))
            break;
        if (!isBox || walk.m_mdats.size() + checked.size() > kMaxTopBoxes)
            return media::Damaged(type, last);
        if (box.Is("mdat"))
            walk.m_mdats.push_back(box);
        if (box.Is(type == CarveType::kHeic ? "meta" : "moov"))
        {
            checked.push_back(box);
            movie = true;
        }
        last = at;
        at = box.end;
    }
    if (!movie || walk.m_mdats.empty())
        return media::Damaged(type, at);
    for (const Box& box : checked)
    {
        Box inner = box;
        inner.payload += box.Is("meta") ? 4 : 0; // meta is a full box: version and flags first
        if (!walk.Children(inner, 0))
            return media::Damaged(type, box.start);
    }
    return media::Valid(type, at);
}
