// BMP: the file header's size and pixel offset against the DIB header (width, height, bit
// count, compression, image size). A BMP holds no checksum: pixel bytes written over by other
// data cannot be told, so a valid BMP is one whose headers are consistent and whose pixels lie
// whole within Size().
#include <algorithm>
#include <array>

#include "carve/ContentCheck.h"
#include "carve/MediaRead.h"

namespace
{
// BITMAPFILEHEADER
constexpr std::size_t kFileSize = 0x02;    // bfSize
constexpr std::size_t kPixelOffset = 0x0A; // bfOffBits
constexpr std::size_t kFileHeader = 14;
// BITMAPINFOHEADER and its later versions, from the file header's end
constexpr std::size_t kDibSize = 0x0E;     // biSize
constexpr std::size_t kWidth = 0x12;       // biWidth (bcWidth, 16 bits, in the core header)
constexpr std::size_t kHeight = 0x16;      // biHeight
constexpr std::size_t kPlanes = 0x1A;      // biPlanes
constexpr std::size_t kBitCount = 0x1C;    // biBitCount
constexpr std::size_t kCompression = 0x1E; // biCompression
constexpr std::size_t kImageSize = 0x22;   // biSizeImage
constexpr std::size_t kColoursUsed = 0x2E; // biClrUsed
constexpr std::size_t kProfileData = 0x7E; // bV5ProfileData, from the DIB header's start
constexpr std::size_t kProfileSize = 0x82; // bV5ProfileSize
constexpr u32 kCoreHeader = 12;
constexpr u32 kV5Header = 124;
constexpr u64 kMaxDimension = 1u << 16;
constexpr u64 kMaxTrailing = 4; // writers that pad the file to a multiple of four

enum Compression : u32
{
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitFields = 3,
    kJpeg = 4,
    kPngData = 5,
    kAlphaBitFields = 6,
};

struct BmpHeader
{
    u64 fileSize = 0;
    u64 pixelOffset = 0;
    u32 dibSize = 0;
    u64 width = 0;
    u64 height = 0;
    u32 planes = 0;
    u32 bitCount = 0;
    u32 compression = 0;
    u64 imageSize = 0;
    u64 coloursUsed = 0;
    u64 profileEnd = 0; // the end of an embedded colour profile (V5 headers), 0 when none
};

bool KnownDibSize(u32 size)
{
    return size == kCoreHeader || size == 40 || size == 52 || size == 56 || size == 64 ||
           size == 108 || size == kV5Header;
}

BmpHeader Decode(const std::array<u8, kFileHeader + 124>& b)
{
    BmpHeader h;
    h.fileSize = LoadLe32(b.data() + kFileSize);
    h.pixelOffset = LoadLe32(b.data() + kPixelOffset);
    h.dibSize = LoadLe32(b.data() + kDibSize);
    if (h.dibSize == kCoreHeader)
    {
        h.width = LoadLe16(b.data() + kWidth);
        h.height = LoadLe16(b.data() + kWidth + 2);
        h.planes = LoadLe16(b.data() + kWidth + 4);
        h.bitCount = LoadLe16(b.data() + kWidth + 6);
        return h;
    }
    const s32 width = static_cast<s32>(LoadLe32(b.data() + kWidth));
    const s32 height = static_cast<s32>(LoadLe32(b.data() + kHeight));
    h.width = width < 0 ? 0 : static_cast<u64>(width);
    h.height =
        height < 0 ? 0 - static_cast<u64>(static_cast<s64>(height)) : static_cast<u64>(height);
    h.planes = LoadLe16(b.data() + kPlanes);
    h.bitCount = LoadLe16(b.data() + kBitCount);
    h.compression = LoadLe32(b.data() + kCompression);
    h.imageSize = LoadLe32(b.data() + kImageSize);
    h.coloursUsed = LoadLe32(b.data() + kColoursUsed);
    const u64 profileSize = LoadLe32(b.data() + kProfileSize);
    if (h.dibSize == kV5Header && profileSize != 0)
        h.profileEnd = kFileHeader + u64{LoadLe32(b.data() + kProfileData)} + profileSize;
    return h;
}

bool KnownBitCount(u32 bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The pixel bytes the header calls for; 0 when the header is inconsistent.
u64 PixelBytes(const BmpHeader& h)
{
    if (h.width == 0 || h.height == 0 || h.width > kMaxDimension || h.height > kMaxDimension ||
        h.planes != 1)
        return 0;
    switch (h.compression)
    {
    case kRgb:
    case kBitFields:
    case kAlphaBitFields:
    {
        if (!KnownBitCount(h.bitCount) || (h.compression != kRgb && h.bitCount < 16))
            return 0;
        const u64 row = (h.width * h.bitCount + 31) / 32 * 4;
        const u64 bytes = row * h.height;
        return h.imageSize == 0 || h.imageSize >= bytes ? bytes : 0;
    }
    case kRle8:
    case kRle4:
        return h.bitCount == (h.compression == kRle8 ? 8u : 4u) ? h.imageSize : 0;
    case kJpeg:
    case kPngData:
        return h.bitCount == 0 ? h.imageSize : 0;
    default:
        return 0;
    }
}

// The bytes the colour table and bit masks take between the headers and the pixels at least.
u64 TableBytes(const BmpHeader& h)
{
    const u64 entry = h.dibSize == kCoreHeader ? 3 : 4;
    u64 colours = h.coloursUsed;
    if (colours == 0 && h.bitCount <= 8)
        colours = u64{1} << h.bitCount;
    const u64 masks = h.dibSize == 40 && h.compression == kBitFields        ? 12
                      : h.dibSize == 40 && h.compression == kAlphaBitFields ? 16
                                                                            : 0;
    return (h.bitCount <= 8 ? colours * entry : 0) + masks;
}
} // namespace

ContentCheck CheckBmp(IContentSource& source)
{
    std::array<u8, kFileHeader + kV5Header> b{};
    if (!media::ReadExact(source, 0, std::span<u8>(b.data(), kFileHeader + 4)) || b[0] != 'B' ||
        b[1] != 'M')
        return media::Damaged(CarveType::kBmp, 0);
    const u32 dibSize = LoadLe32(b.data() + kDibSize);
    if (!KnownDibSize(dibSize) ||
        !media::ReadExact(source, 0, std::span<u8>(b.data(), kFileHeader + dibSize)))
        return media::Damaged(CarveType::kBmp, 0);
    const BmpHeader h = Decode(b);
    const u64 pixels = PixelBytes(h);
    const u64 dataEnd = std::max(h.pixelOffset + pixels, h.profileEnd);
    const bool palette = h.bitCount <= 8 && h.coloursUsed > (u64{1} << h.bitCount);
    if (pixels == 0 || palette || h.pixelOffset < kFileHeader + h.dibSize + TableBytes(h) ||
        h.fileSize < dataEnd || h.fileSize - dataEnd > kMaxTrailing)
        return media::Damaged(CarveType::kBmp, 0);
    if (h.fileSize > source.Size())
        return media::Damaged(CarveType::kBmp, std::min(h.pixelOffset, source.Size()));
    return media::Valid(CarveType::kBmp, h.fileSize);
}
