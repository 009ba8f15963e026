// MP3: an optional ID3v2 tag (and zero padding after it), then MPEG audio frames chained by the
// lengths their headers give (version, layer, bitrate, sample rate, padding), then an optional
// APEv2 tag and an optional 128-byte ID3v1 tag. The frames' audio holds no checksum a
// validator could use: a splice shows where the chain of headers breaks.
#include <algorithm>
#include <array>

#include "carve/ContentCheck.h"
#include "carve/MediaRead.h"

namespace
{
constexpr u64 kId3v2Header = 10;
constexpr u64 kId3v2Footer = 10;
constexpr u8 kId3v2FooterFlag = 0x10;
constexpr u64 kId3v1 = 128;
constexpr u64 kMinFrames = 3;
constexpr std::size_t kFrameHeader = 4;
constexpr std::size_t kApeHeader = 32; // "APETAGEX", version, size, item count, flags
constexpr u64 kMaxPadding = u64{64} * 1024;

// kbit/s by [MPEG-1?][layer index 1..3][bitrate index]; layer index 3 is Layer I.
constexpr u16 kBitrates[2][4][16] = {
    {{0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}},
    {{0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}},
};
// Hz by version bits (0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1) and sample-rate index.
constexpr u32 kSampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

struct Frame
{
    u32 version = 0; // the version bits
    u32 layer = 0;   // the layer bits: 1 Layer III, 2 Layer II, 3 Layer I
    u32 rate = 0;
    u64 length = 0;
};

// Decodes a frame header; length 0 when the bytes are not one.
Frame DecodeFrame(const u8* h)
{
    Frame f;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return f;
    f.version = (h[1] >> 3) & 3;
    f.layer = (h[1] >> 1) & 3;
    const u32 bitrateIndex = h[2] >> 4;
    const u32 rateIndex = (h[2] >> 2) & 3;
    const u32 padding = (h[2] >> 1) & 1;
    if (f.version == 1 || f.layer == 0 || rateIndex == 3)
        return f;
    const u64 bitrate = u64{kBitrates[f.version == 3 ? 1 : 0][f.layer][bitrateIndex]} * 1000;
    f.rate = kSampleRates[f.version][rateIndex];
    if (bitrate == 0) // free format or a bad index: no length to chain by
        return f;
    if (f.layer == 3)
        f.length = (12 * bitrate / f.rate + padding) * 4;
    else if (f.layer == 1 && f.version != 3)
        f.length = 72 * bitrate / f.rate + padding;
    else
        f.length = 144 * bitrate / f.rate + padding;
    return f;
}

// The ID3v2 tag's length at the start, 0 when there is none; false when one is malformed.
bool Id3v2Length(IContentSource& source, u64* length)
{
    std::array<u8, kId3v2Header> h{};
    *length = 0;
    if (!media::ReadExact(source, 0, h) || h[0] != 'I' || h[1] != 'D' || h[2] != '3')
        return true;
    if (h[3] < 2 || h[3] > 4 || h[4] == 0xFF)
        return false;
    u64 size = 0;
    for (std::size_t i = 6; i < 10; ++i)
    {
        if ((h[i] & 0x80) != 0)
            return false;
        size = (size << 7) | h[i];
    }
    *length = kId3v2Header + size + ((h[5] & kId3v2FooterFlag) != 0 ? kId3v2Footer : 0);
    return true;
}

// Zero bytes some taggers leave between the ID3v2 tag and the first frame: at skips them.
void SkipPadding(IContentSource& source, u64* at)
{
    std::array<u8, 1> b{};
    for (u64 n = 0; n < kMaxPadding && media::ReadExact(source, *at, b) && b[0] == 0; ++n)
        ++*at;
}

// The frames chained from *at: *at ends after the last, *last is its start.
u64 ChainFrames(IContentSource& source, u64* at, u64* last)
{
    const u64 size = source.Size();
    Frame first;
    u64 frames = 0;
    // Every frame takes at least 24 bytes: the chain ends within Size() / 24 steps.
    while (true)
    {
        std::array<u8, kFrameHeader> h{};
        if (!media::ReadExact(source, *at, h))
            return frames;
        const Frame f = DecodeFrame(h.data());
        if (f.length == 0 || !media::Fits(*at, f.length, size))
            return frames;
        if (frames == 0)
            first = f;
        else if (f.version != first.version || f.layer != first.layer || f.rate != first.rate)
            return frames;
        *last = *at;
        *at += f.length;
        ++frames;
    }
}

// The end of an APEv2 tag with its header at offset (which players put before ID3v1); offset
// itself when there is none.
u64 SkipApeTag(IContentSource& source, u64 offset)
{
    std::array<u8, kApeHeader> h{};
    if (!media::ReadExact(source, offset, h) || !std::equal(h.begin(), h.begin() + 8, "APETAGEX"))
        return offset;
    const u64 end = offset + kApeHeader + LoadLe32(h.data() + 12); // items and footer
    return media::Fits(offset, end - offset, source.Size()) ? end : offset;
}
} // namespace

ContentCheck CheckMp3(IContentSource& file)
{
    media::Window source(file);
    const u64 size = source.Size();
    u64 at = 0;
    if (!Id3v2Length(source, &at) || at > size)
        return media::Damaged(CarveType::kMp3, 0);
    if (at != 0)
        SkipPadding(source, &at);
    const u64 audio = at;
    u64 last = audio; // the last frame chained: its audio is what a break after it may be in
    if (ChainFrames(source, &at, &last) < kMinFrames)
        return media::Damaged(CarveType::kMp3, audio);
    at = SkipApeTag(source, at);
    if (at == size)
        return media::Valid(CarveType::kMp3, at);
    std::array<u8, 3> tag{};
    if (media::Fits(at, kId3v1, size) && media::ReadExact(source, at, tag) && tag[0] == 'T' &&
        tag[1] == 'A' && tag[2] == 'G')
        return media::Valid(CarveType::kMp3, at + kId3v1);
    // A frame header the bytes cannot hold: the file was cut short.
    std::array<u8, 4> next{};
    if (!media::ReadExact(source, at, next) || DecodeFrame(next.data()).rate != 0)
        return media::Damaged(CarveType::kMp3, last);
    // The chain ends in other data: a stream gives no length, and the last frame is its end
    // (a carved file stops there; a find whose size goes on is judged by that).
    return media::Valid(CarveType::kMp3, at);
}
