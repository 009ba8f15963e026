// The LZNT1 decompressor: chunk by chunk, each token bounded by the chunk's data before it is
// read and each back-reference by the chunk's output before it is copied.
#include "ntfs/Lznt1.h"

#include <algorithm>
#include <cstring>

#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"

namespace
{
constexpr u16 kChunkSizeMask = 0x0FFF;   // chunk header: data size - 1
constexpr u16 kChunkCompressed = 0x8000; // chunk header: the data is tag bytes and tokens
constexpr u32 kTokensPerTag = 8;
constexpr u32 kMinMatch = 3;

// Bits of a back-reference that hold the length at position pos (> 0) of the chunk's output:
// 12 up to position 16, one fewer each time the position passes a power of two, so that the
// offset field always reaches back to the chunk's start.
u32 LengthBits(std::size_t pos)
{
    u32 bits = 12;
    for (std::size_t p = pos - 1; p >= 0x10; p >>= 1)
        --bits;
    return bits;
}

// Decodes the tokens of one compressed chunk, src[0, srcSize), into dst[0, room) (room <= 4096).
// outputEnds says that room is where the caller's buffer ends (rather than the chunk's 4096
// bytes): filling it then ends the work cleanly. Sets *written either way.
u32 DecodeChunk(const u8* src, std::size_t srcSize, u8* dst, std::size_t room, bool outputEnds,
                std::size_t* written)
{
    std::size_t pos = 0;
    std::size_t i = 0;
    const u32 full = outputEnds ? kNtfsOk : kNtfsCorrupt; // more output than room
    u32 rc = kNtfsOk;
    // Each tag byte and each token takes at least one byte: the walk ends within srcSize steps.
    while (i < srcSize && rc == kNtfsOk)
    {
        const u8 tag = src[i++];
        for (u32 bit = 0; bit < kTokensPerTag && i < srcSize; ++bit)
        {
            if (pos == room)
            {
                rc = full;
                break;
            }
            if ((tag & (1u << bit)) == 0)
            {
                dst[pos++] = src[i++];
                continue;
            }
            if (srcSize - i < 2 || pos == 0)
            {
                rc = kNtfsCorrupt; // a truncated reference, or one with nothing before it
                break;
            }
            const u32 token = LoadLe16(src + i);
            i += 2;
            const u32 lengthBits = LengthBits(pos);
            const std::size_t offset = (token >> lengthBits) + 1;
            const std::size_t length = (token & ((1u << lengthBits) - 1)) + kMinMatch;
            if (offset > pos)
            {
                rc = kNtfsCorrupt; // before the chunk's start
                break;
            }
            // Byte by byte: a reference may overlap what it produces (a run of one pattern).
            const std::size_t n = std::min(length, room - pos);
            for (std::size_t k = 0; k < n; ++k, ++pos)
                dst[pos] = dst[pos - offset];
            if (n < length)
            {
                rc = full;
                break;
            }
        }
    }
    *written = pos;
    return rc;
}
} // namespace

u32 DecompressLznt1(const u8* in, std::size_t inSize, u8* out, std::size_t outSize,
                    std::size_t* produced)
{
    std::size_t i = 0;
    std::size_t outPos = 0;
    *produced = 0;
    // Each chunk takes at least three bytes of input: the walk ends within inSize / 3 chunks.
    for (;;)
    {
        if (inSize - i < 2)
            return i == inSize || in[i] == 0 ? kNtfsOk : kNtfsCorrupt; // a cut header
        const u16 header = LoadLe16(in + i);
        if (header == 0)
            return kNtfsOk;
        // Another chunk follows: a short one before it leaves zeros up to the chunk boundary.
        if (outPos % kLznt1ChunkSize != 0)
        {
            const std::size_t boundary =
                std::min(outSize, outPos - outPos % kLznt1ChunkSize + kLznt1ChunkSize);
            std::memset(out + outPos, 0, boundary - outPos);
            outPos = boundary;
            *produced = outPos;
        }
        if (outPos == outSize)
            return kNtfsOk;
        i += 2;
        const std::size_t size = (header & kChunkSizeMask) + 1u;
        const std::size_t avail = std::min(size, inSize - i);
        const std::size_t room = std::min(kLznt1ChunkSize, outSize - outPos);
        const bool outputEnds = room == outSize - outPos;
        std::size_t written = 0;
        u32 rc = kNtfsOk;
        if ((header & kChunkCompressed) != 0)
            rc = DecodeChunk(in + i, avail, out + outPos, room, outputEnds, &written);
        else
        {
            // Stored as is; the size field caps it at 4096.
            written = std::min(avail, room);
            std::memcpy(out + outPos, in + i, written);
        }
        outPos += written;
        *produced = outPos;
        if (rc != kNtfsOk || outPos == outSize)
            return rc;
        if (avail < size)
            return kNtfsCorrupt; // the chunk runs past the input
        i += size;
    }
}
