// PNG: the signature, then chunks (length, type, data, CRC-32 over type and data) from IHDR to
// IEND. Every chunk's CRC is checked, which catches a splice anywhere in the file; the IDAT
// stream is not inflated.
#include <algorithm>
#include <array>
#include <vector>

#include <zlib.h>

#include "carve/ContentCheck.h"
#include "carve/MediaRead.h"

namespace
{
constexpr std::array<u8, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr u64 kChunkHeader = 8;    // length (4, big-endian) and type (4)
constexpr u64 kChunkOverhead = 12; // header and CRC
constexpr u32 kMaxChunkLength = 0x7FFFFFFFu;
constexpr u32 kIhdrLength = 13;
constexpr std::size_t kCrcBlock = std::size_t{64} * 1024;

bool IsChunkType(const u8* p)
{
    for (std::size_t i = 0; i < 4; ++i)
    {
        const u8 c = static_cast<u8>(p[i] | 0x20);
        if (c < 'a' || c > 'z')
            return false;
    }
    return true;
}

// The CRC-32 of the chunk at offset (type and data), read in blocks; false on a short read.
bool ChunkCrc(IContentSource& source, u64 offset, u32 length, u32* crc)
{
    std::vector<u8> block(kCrcBlock);
    uLong value = crc32(0, nullptr, 0);
    u64 at = offset + 4;
    u64 left = u64{length} + 4;
    while (left != 0)
    {
        const std::size_t n = left < kCrcBlock ? static_cast<std::size_t>(left) : kCrcBlock;
        if (!media::ReadExact(source, at, std::span<u8>(block.data(), n)))
            return false;
        value = crc32(value, block.data(), static_cast<uInt>(n));
        at += n;
        left -= n;
    }
    *crc = static_cast<u32>(value);
    return true;
}
} // namespace

ContentCheck CheckPng(IContentSource& file)
{
    media::Window source(file);
    const u64 size = source.Size();
    std::array<u8, 8> sig{};
    if (!media::ReadExact(source, 0, sig) || sig != kPngSignature)
        return media::Damaged(CarveType::kPng, 0);
    u64 offset = sig.size();
    bool first = true;
    // Each chunk takes at least 12 bytes, so the walk ends within Size() / 12 steps.
    while (true)
    {
        std::array<u8, kChunkOverhead> head{};
        if (!media::ReadExact(source, offset, std::span<u8>(head.data(), kChunkHeader)))
            return media::Damaged(CarveType::kPng, offset);
        const u32 length = media::LoadBe32(head.data());
        const u8* type = head.data() + 4;
        const bool ihdr = std::equal(type, type + 4, "IHDR");
        if (length > kMaxChunkLength || !IsChunkType(type) || first != ihdr ||
            (ihdr && length != kIhdrLength) || !media::Fits(offset, kChunkOverhead + length, size))
            return media::Damaged(CarveType::kPng, offset);
        u32 crc = 0;
        std::array<u8, 4> stored{};
        if (!ChunkCrc(source, offset, length, &crc) ||
            !media::ReadExact(source, offset + kChunkHeader + length, stored) ||
            media::LoadBe32(stored.data()) != crc)
            return media::Damaged(CarveType::kPng, offset);
        offset += kChunkOverhead + length;
        first = false;
        if (std::equal(type, type + 4, "IEND"))
            return media::Valid(CarveType::kPng, offset);
    }
}
