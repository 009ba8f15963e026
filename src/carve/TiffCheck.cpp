// TIFF and the camera raws built on it (CR2, NEF, ARW, DNG): the header, the IFD chain with
// sub-IFDs and the EXIF, GPS and interoperability IFDs, every entry's values within Size(), and
// the strips, tiles and JPEG thumbnails the IFDs point at. A TIFF holds no checksum: valid
// means every structure lies within Size() and is consistent, and the file ends at the
// furthest byte any of them reaches.
#include <algorithm>
#include <array>
#include <set>
#include <vector>

#include "carve/ContentCheck.h"
#include "carve/ExifDate.h"
#include "carve/MediaRead.h"

namespace
{
constexpr std::size_t kWindow = 4096;
constexpr u64 kHeader = 8;
constexpr u64 kEntry = 12;
constexpr std::size_t kMaxIfds = 1024;
constexpr std::size_t kValueBlock = 1024; // array values read at a time
constexpr u64 kDateBytes = 1u << 20;      // the first bytes searched for the date taken
constexpr u64 kMaxValues = 1u << 24;      // entries and array values read in all
// Tags (TIFF 6.0, EXIF 2.3, DNG 1.4)
constexpr u16 kTagMake = 0x010F;
constexpr u16 kTagStripOffsets = 0x0111;
constexpr u16 kTagStripByteCounts = 0x0117;
constexpr u16 kTagTileOffsets = 0x0144;
constexpr u16 kTagTileByteCounts = 0x0145;
constexpr u16 kTagSubIfds = 0x014A;
constexpr u16 kTagJpegOffset = 0x0201; // JPEGInterchangeFormat
constexpr u16 kTagJpegLength = 0x0202; // JPEGInterchangeFormatLength
constexpr u16 kTagExifIfd = 0x8769;
constexpr u16 kTagGpsIfd = 0x8825;
constexpr u16 kTagInteropIfd = 0xA005;
constexpr u16 kTagDngVersion = 0xC612;

// Bytes per value of each field type (1 BYTE ... 13 IFD); 0 for types TIFF does not define.
constexpr std::array<u8, 14> kTypeBytes = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};

// An entry's values: where they lie and how they are read.
struct Field
{
    u16 type = 0;
    u64 count = 0;
    u64 at = 0; // the values' offset in the file (the entry's own value field when they fit)
    [[nodiscard]] bool Present() const { return count != 0; }
};

class TiffWalk
{
public:
    TiffWalk(IContentSource& source, bool bigEndian)
        : m_source(source), m_size(source.Size()), m_bigEndian(bigEndian)
    {
    }

    // Walks every IFD from the first; false at the first structure that breaks.
    bool Run(u64 firstIfd)
    {
        m_pending.push_back(firstIfd);
        bool first = true;
        while (!m_pending.empty())
        {
            const u64 ifd = m_pending.back();
            m_pending.pop_back();
            // An IFD reached twice is a loop (or IFDs sharing their entries): not a file's tree.
            if (!m_visited.insert(ifd).second || m_visited.size() > kMaxIfds || !Ifd(ifd, first))
            {
                m_break = std::min(ifd, m_size);
                return false;
            }
            first = false;
        }
        return true;
    }

    [[nodiscard]] u64 End() const { return m_end; }
    [[nodiscard]] u64 Break() const { return m_break; }
    [[nodiscard]] CarveType Refined(bool cr2) const
    {
        if (cr2)
            return CarveType::kCr2;
        if (m_dng)
            return CarveType::kDng;
        if (m_nikon)
            return CarveType::kNef;
        if (m_sony)
            return CarveType::kArw;
        return CarveType::kTiff;
    }

private:
    u16 U16(const u8* p) const { return m_bigEndian ? media::LoadBe16(p) : LoadLe16(p); }
    u32 U32(const u8* p) const { return m_bigEndian ? media::LoadBe32(p) : LoadLe32(p); }

    // Marks [offset, offset + length) as the file's; false when it is not within Size().
    bool Reach(u64 offset, u64 length)
    {
        if (!media::Fits(offset, length, m_size))
            return false;
        m_end = std::max(m_end, offset + length);
        return true;
    }

    bool Ifd(u64 offset, bool first);
    bool Entry(const u8* e, u64 entryAt, Field* fields);
    bool Values(const Field& field, u64 index, std::size_t n, std::vector<u64>* out);
    bool Pieces(const Field& offsets, const Field& counts);
    bool Pointers(const Field& field);
    void Make(const Field& field);

    IContentSource& m_source;
    u64 m_size;
    bool m_bigEndian;
    u64 m_end = kHeader;
    u64 m_break = 0;
    u64 m_values = 0; // bounds the time a hostile file's repeated arrays may take
    bool m_dng = false;
    bool m_nikon = false;
    bool m_sony = false;
    std::vector<u64> m_pending;
    std::set<u64> m_visited;
};

// The fields an IFD's checks need after its entries are read.
enum FieldSlot : std::size_t
{
    kStripOffsets,
    kStripCounts,
    kTileOffsets,
    kTileCounts,
    kJpegOffset,
    kJpegLength,
    kSlots,
};

bool TiffWalk::Ifd(u64 offset, bool first)
{
    std::array<u8, 2> countBytes{};
    if (offset < kHeader || !media::ReadExact(m_source, offset, countBytes))
        return false;
    const u64 count = U16(countBytes.data());
    m_values += count;
    if ((first && count == 0) || m_values > kMaxValues || !Reach(offset, 2 + count * kEntry + 4))
        return false;
    std::vector<u8> entries(static_cast<std::size_t>(count * kEntry + 4));
    if (!media::ReadExact(m_source, offset + 2, entries))
        return false;
    std::array<Field, kSlots> fields{};
    for (u64 i = 0; i < count; ++i)
        if (!Entry(entries.data() + i * kEntry, offset + 2 + i * kEntry, fields.data()))
            return false;
    if (!Pieces(fields[kStripOffsets], fields[kStripCounts]) ||
        !Pieces(fields[kTileOffsets], fields[kTileCounts]))
        return false;
    const Field& jpeg = fields[kJpegOffset];
    const Field& jpegLength = fields[kJpegLength];
    if (jpeg.Present() != jpegLength.Present() || (jpeg.Present() && !Pieces(jpeg, jpegLength)))
        return false;
    const u64 next = U32(entries.data() + count * kEntry);
    if (next != 0)
        m_pending.push_back(next);
    return true;
}

bool TiffWalk::Entry(const u8* e, u64 entryAt, Field* fields)
{
    const u16 tag = U16(e);
    Field field;
    field.type = U16(e + 2);
    field.count = U32(e + 4);
    if (field.type >= kTypeBytes.size() || kTypeBytes[field.type] == 0)
        return true; // a type TIFF does not define: readers skip the entry
    const u64 bytes = field.count * kTypeBytes[field.type];
    field.at = bytes <= 4 ? entryAt + 8 : U32(e + 8);
    if (bytes > 4 && !Reach(field.at, bytes))
        return false;
    switch (tag)
    {
    case kTagStripOffsets:
        fields[kStripOffsets] = field;
        break;
    case kTagStripByteCounts:
        fields[kStripCounts] = field;
        break;
    case kTagTileOffsets:
        fields[kTileOffsets] = field;
        break;
    case kTagTileByteCounts:
        fields[kTileCounts] = field;
        break;
    case kTagJpegOffset:
        fields[kJpegOffset] = field;
        break;
    case kTagJpegLength:
        fields[kJpegLength] = field;
        break;
    case kTagSubIfds:
    case kTagExifIfd:
    case kTagGpsIfd:
    case kTagInteropIfd:
        return Pointers(field);
    case kTagMake:
        Make(field);
        break;
    case kTagDngVersion:
        m_dng = true;
        break;
    default:
        break;
    }
    return true;
}

// Reads n values of field from index on, as unsigned numbers; false for a type that does not
// hold offsets or counts.
bool TiffWalk::Values(const Field& field, u64 index, std::size_t n, std::vector<u64>* out)
{
    const u64 width = field.type < kTypeBytes.size() ? kTypeBytes[field.type] : 0;
    m_values += n;
    if ((width != 2 && width != 4) || m_values > kMaxValues)
        return false;
    std::vector<u8> raw(n * width);
    if (!media::ReadExact(m_source, field.at + index * width, raw))
        return false;
    out->resize(n);
    for (std::size_t i = 0; i < n; ++i)
        (*out)[i] = width == 2 ? U16(raw.data() + i * 2) : U32(raw.data() + i * 4);
    return true;
}

// Strips, tiles or a thumbnail: offsets and byte counts pair up, and each piece lies within
// Size() after the header.
bool TiffWalk::Pieces(const Field& offsets, const Field& counts)
{
    if (offsets.count != counts.count)
        return false;
    std::vector<u64> at;
    std::vector<u64> length;
    for (u64 i = 0; i < offsets.count; i += kValueBlock)
    {
        const std::size_t n =
            static_cast<std::size_t>(std::min<u64>(kValueBlock, offsets.count - i));
        if (!Values(offsets, i, n, &at) || !Values(counts, i, n, &length))
            return false;
        for (std::size_t k = 0; k < n; ++k)
            if (length[k] != 0 && (at[k] < kHeader || !Reach(at[k], length[k])))
                return false;
    }
    return true;
}

// An entry that points at further IFDs: each is walked in its turn.
bool TiffWalk::Pointers(const Field& field)
{
    if (field.type != 4 && field.type != 13)
        return false; // IFD offsets are LONG or IFD values
    std::vector<u64> at;
    for (u64 i = 0; i < field.count; i += kValueBlock)
    {
        const std::size_t n = static_cast<std::size_t>(std::min<u64>(kValueBlock, field.count - i));
        if (!Values(field, i, n, &at))
            return false;
        for (const u64 ifd : at)
            m_pending.push_back(ifd);
        if (m_pending.size() > kMaxIfds)
            return false;
    }
    return true;
}

void TiffWalk::Make(const Field& field)
{
    if (field.type != 2 || field.count < 4)
        return;
    std::array<u8, 5> make{};
    const std::size_t n = static_cast<std::size_t>(std::min<u64>(field.count, make.size()));
    if (!media::ReadExact(m_source, field.at, std::span<u8>(make.data(), n)))
        return;
    m_nikon = n >= 5 && std::equal(make.begin(), make.begin() + 5, "NIKON");
    m_sony = std::equal(make.begin(), make.begin() + 4, "SONY");
}
} // namespace

ContentCheck CheckTiff(IContentSource& file)
{
    media::Window source(file, kWindow); // the walk jumps from IFD to IFD
    std::array<u8, 10> head{};
    if (!media::ReadExact(source, 0, std::span<u8>(head.data(), kHeader)))
        return media::Damaged(CarveType::kTiff, 0);
    const bool little = head[0] == 'I' && head[1] == 'I' && head[2] == 42 && head[3] == 0;
    const bool big = head[0] == 'M' && head[1] == 'M' && head[2] == 0 && head[3] == 42;
    if (!little && !big)
        return media::Damaged(CarveType::kTiff, 0);
    const bool cr2 = media::ReadExact(source, 0, head) && head[8] == 'C' && head[9] == 'R';
    TiffWalk walk(source, big);
    const u32 first = big ? media::LoadBe32(head.data() + 4) : LoadLe32(head.data() + 4);
    if (!walk.Run(first))
        return media::Damaged(walk.Refined(cr2), walk.Break());
    ContentCheck check = media::Valid(walk.Refined(cr2), walk.End());
    std::vector<u8> bytes(static_cast<std::size_t>(std::min(walk.End(), kDateBytes)));
    if (media::ReadExact(source, 0, bytes))
        check.taken = ExifDateTaken(bytes);
    return check;
}
