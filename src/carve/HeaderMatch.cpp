// Which file type's header begins at the start of a cluster: each format's magic, and the fields
// right after it checked for values a real file has, so that random bytes rarely match.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "carve/HeaderSearch.h"
#include "platform/ByteOrder.h"

namespace
{
bool Starts(std::span<const u8> head, std::string_view magic, std::size_t at = 0)
{
    return head.size() >= at + magic.size() &&
           std::memcmp(head.data() + at, magic.data(), magic.size()) == 0;
}

u32 LoadBe32(const u8* p)
{
    return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) |
           (static_cast<u32>(p[2]) << 8) | static_cast<u32>(p[3]);
}

// JPEG: start of image (FF D8) followed by the first marker segment (FF C0..FE: APPn, DQT,
// DHT, SOFn...).
CarveType MatchJpeg(std::span<const u8> head)
{
    if (head.size() < 4 || head[1] != 0xD8 || head[2] != 0xFF)
        return CarveType::kNone;
    return head[3] >= 0xC0 && head[3] <= 0xFE ? CarveType::kJpeg : CarveType::kNone;
}

// PNG: the 8-byte signature and the IHDR chunk, always first and always 13 bytes long.
CarveType MatchPng(std::span<const u8> head)
{
    static constexpr u8 kSignature[16] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                                          0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    return head.size() >= 16 && std::memcmp(head.data(), kSignature, 16) == 0 ? CarveType::kPng
                                                                              : CarveType::kNone;
}

// BMP: "BM", the file size, two reserved words of zero, the pixel data offset past the headers
// and inside the file, a known DIB header size and one colour plane.
CarveType MatchBmp(std::span<const u8> head)
{
    if (head.size() < 30 || head[1] != 'M')
        return CarveType::kNone;
    const ByteView v(head.data(), head.size());
    const u32 fileSize = v.U32(0x02); // bfSize
    const u32 reserved = v.U32(0x06); // bfReserved1, bfReserved2
    const u32 pixels = v.U32(0x0A);   // bfOffBits
    const u32 dib = v.U32(0x0E);      // biSize
    static constexpr u32 kDibSizes[] = {12, 40, 52, 56, 64, 108, 124};
    if (reserved != 0 ||
        std::find(std::begin(kDibSizes), std::end(kDibSizes), dib) == std::end(kDibSizes))
        return CarveType::kNone;
    if (static_cast<u64>(pixels) < 14u + dib || pixels >= fileSize)
        return CarveType::kNone;
    // biPlanes: after two 16-bit dimensions in the old core header, two 32-bit ones otherwise.
    const u16 planes = dib == 12 ? v.U16(0x16) : v.U16(0x1A);
    return planes == 1 ? CarveType::kBmp : CarveType::kNone;
}

// TIFF: byte order mark, 42, and the first IFD's offset past the header. Canon's CR2 says "CR"
// right after it; the other raws are told apart by the validator.
CarveType MatchTiff(std::span<const u8> head)
{
    if (head.size() < 8)
        return CarveType::kNone;
    u32 ifd = 0;
    if (Starts(head, std::string_view("II*\0", 4)))
        ifd = LoadLe32(head.data() + 4);
    else if (Starts(head, std::string_view("MM\0*", 4)))
        ifd = LoadBe32(head.data() + 4);
    else
        return CarveType::kNone;
    if (ifd < 8)
        return CarveType::kNone;
    return Starts(head, "CR", 8) ? CarveType::kCr2 : CarveType::kTiff;
}

bool PrintableBrand(const u8* p)
{
    return std::all_of(p, p + 4, [](u8 c) { return c >= 0x20 && c < 0x7F; });
}

// ISO base media: a first box "ftyp" of a sane size holding the major brand, the minor version
// and whole compatible brands.
CarveType MatchBmff(std::span<const u8> head)
{
    if (head.size() < 16 || !Starts(head, "ftyp", 4))
        return CarveType::kNone;
    const u32 size = LoadBe32(head.data());
    if (size < 16 || size > 4096 || size % 4 != 0 || !PrintableBrand(head.data() + 8))
        return CarveType::kNone;
    const std::string_view brand(reinterpret_cast<const char*>(head.data() + 8), 4);
    if (brand == "qt  ")
        return CarveType::kMov;
    if (brand.starts_with("3gp") || brand.starts_with("3g2"))
        return CarveType::k3gp;
    if (brand == "heic" || brand == "heix" || brand == "mif1" || brand == "msf1")
        return CarveType::kHeic;
    return CarveType::kMp4;
}

CarveType MatchRiff(std::span<const u8> head)
{
    if (head.size() < 12 || !Starts(head, "RIFF") || LoadLe32(head.data() + 4) < 4)
        return CarveType::kNone;
    if (Starts(head, "AVI ", 8))
        return CarveType::kAvi;
    return Starts(head, "WAVE", 8) ? CarveType::kWav : CarveType::kNone;
}

// ID3v2 tag before MP3 frames: version 2..4, no undefined flag bits, a syncsafe size.
CarveType MatchId3(std::span<const u8> head)
{
    if (head.size() < 10 || !Starts(head, "ID3"))
        return CarveType::kNone;
    const u8 version = head[3];
    if (version < 2 || version > 4 || head[4] == 0xFF)
        return CarveType::kNone;
    const u8 undefinedFlags = version == 2 ? 0x3F : version == 3 ? 0x1F : 0x0F;
    if ((head[5] & undefinedFlags) != 0)
        return CarveType::kNone;
    for (std::size_t i = 6; i < 10; ++i)
        if (head[i] >= 0x80)
            return CarveType::kNone;
    return CarveType::kMp3;
}

CarveType MatchPdf(std::span<const u8> head)
{
    if (head.size() < 8 || !Starts(head, "%PDF-"))
        return CarveType::kNone;
    const bool digits =
        head[5] >= '1' && head[5] <= '2' && head[6] == '.' && head[7] >= '0' && head[7] <= '9';
    return digits ? CarveType::kPdf : CarveType::kNone;
}

// The ZIP family as its first entry shows it: an OpenDocument or EPUB container stores its
// "mimetype" first and uncompressed; an Office Open XML package whose first entry lies in
// word/, xl/ or ppt/ tells which it is. Anything else is left kZip for the validator.
CarveType RefineZip(std::span<const u8> head, std::string_view name, std::size_t dataAt, u16 method)
{
    if (name == "mimetype" && method == 0)
    {
        const std::size_t avail = head.size() > dataAt ? head.size() - dataAt : 0;
        const std::string_view data(reinterpret_cast<const char*>(head.data() + dataAt),
                                    std::min<std::size_t>(avail, 64));
        if (data.starts_with("application/epub+zip"))
            return CarveType::kEpub;
        if (data.starts_with("application/vnd.oasis.opendocument."))
            return CarveType::kOdt;
        return CarveType::kZip;
    }
    if (name.starts_with("word/"))
        return CarveType::kDocx;
    if (name.starts_with("xl/"))
        return CarveType::kXlsx;
    if (name.starts_with("ppt/"))
        return CarveType::kPptx;
    return CarveType::kZip;
}

// ZIP: a local file header with a version a writer uses, a known compression method and a
// name of sane length.
CarveType MatchZip(std::span<const u8> head)
{
    if (head.size() < 30 || !Starts(head, "PK\x03\x04"))
        return CarveType::kNone;
    const ByteView v(head.data(), head.size());
    const u16 version = v.U16(0x04);    // version needed to extract
    const u16 method = v.U16(0x08);     // compression method
    const u16 nameLength = v.U16(0x1A); // file name length
    const u16 extraLength = v.U16(0x1C);
    static constexpr u16 kMethods[] = {0, 1, 6, 8, 9, 12, 14, 93, 95, 98, 99};
    if ((version & 0xFF) > 100 || nameLength == 0 || nameLength > 1024 ||
        std::find(std::begin(kMethods), std::end(kMethods), method) == std::end(kMethods))
        return CarveType::kNone;
    const std::size_t nameAvail = std::min<std::size_t>(nameLength, head.size() - 30);
    const std::string_view name(reinterpret_cast<const char*>(head.data() + 30), nameAvail);
    return RefineZip(head, name, 30u + nameLength + extraLength, method);
}

// OLE2 compound file: the signature, the little-endian byte order mark and a sector size of
// 512 or 4,096 bytes.
CarveType MatchOle2(std::span<const u8> head)
{
    static constexpr u8 kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (head.size() < 32 || std::memcmp(head.data(), kSignature, 8) != 0)
        return CarveType::kNone;
    const u16 byteOrder = LoadLe16(head.data() + 0x1C);   // _uByteOrder
    const u16 sectorShift = LoadLe16(head.data() + 0x1E); // _uSectorShift
    return byteOrder == 0xFFFE && (sectorShift == 9 || sectorShift == 12) ? CarveType::kDoc
                                                                          : CarveType::kNone;
}

// GZIP: deflate, no reserved flag bits, an extra-flags value and an OS a compressor writes.
CarveType MatchGzip(std::span<const u8> head)
{
    if (head.size() < 10 || head[1] != 0x8B || head[2] != 0x08 || (head[3] & 0xE0) != 0)
        return CarveType::kNone;
    const bool xfl = head[8] == 0 || head[8] == 2 || head[8] == 4;
    const bool os = head[9] <= 13 || head[9] == 255;
    return xfl && os ? CarveType::kGzip : CarveType::kNone;
}

CarveType Match7z(std::span<const u8> head)
{
    static constexpr u8 kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
    // The archive format's major version is 0.
    return head.size() >= 8 && std::memcmp(head.data(), kSignature, 6) == 0 && head[6] == 0
               ? CarveType::k7z
               : CarveType::kNone;
}
} // namespace

CarveType MatchHeader(std::span<const u8> head)
{
    if (head.empty())
        return CarveType::kNone;
    head = head.first(std::min(head.size(), kHeaderBytes));
    // One look at the first byte sends most clusters away at once.
    switch (head[0])
    {
    case 0xFF:
        return MatchJpeg(head);
    case 0x89:
        return MatchPng(head);
    case 'G':
        return Starts(head, "GIF87a") || Starts(head, "GIF89a") ? CarveType::kGif
                                                                : CarveType::kNone;
    case 'B':
        return MatchBmp(head);
    case 0x00:
        return MatchBmff(head); // a box size below 16 MiB
    case 'I':
        return head.size() >= 3 && head[1] == 'D' ? MatchId3(head) : MatchTiff(head);
    case 'M':
        return MatchTiff(head);
    case 'R':
        return MatchRiff(head);
    case '%':
        return MatchPdf(head);
    case 'P':
        return MatchZip(head);
    case 0xD0:
        return MatchOle2(head);
    case '{':
        return Starts(head, "{\\rtf") ? CarveType::kRtf : CarveType::kNone;
    case 'S':
        return Starts(head, std::string_view("SQLite format 3\0", 16)) ? CarveType::kSqlite
                                                                       : CarveType::kNone;
    case 0x1F:
        return MatchGzip(head);
    case '7':
        return Match7z(head);
    default:
        return CarveType::kNone;
    }
}
