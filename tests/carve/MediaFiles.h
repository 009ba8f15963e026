// Files the media validators' tests build byte by byte.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Types.h"

using Bytes = std::vector<u8>;

// n pseudo-random bytes from seed.
Bytes Noise(std::size_t n, u32 seed);
Bytes Cat(std::initializer_list<Bytes> parts);
// b with bytes written at at; b without its last back bytes.
Bytes Patched(Bytes b, std::size_t at, std::initializer_list<u8> bytes);
Bytes FromEnd(const Bytes& b, std::size_t back);

struct TiffFields
{
    bool bigEndian = false;
    bool cr2 = false;         // "CR" after the header, as Canon's raws have
    std::string make;         // IFD0 Make, none when empty
    bool dng = false;         // DNGVersion in IFD0
    std::string dateTime;     // IFD0 DateTime, none when empty
    std::string dateOriginal; // EXIF DateTimeOriginal (an EXIF IFD), none when empty
    u32 stripBytes = 2048;
};

// An 8-bit 64-pixel-wide TIFF: IFD0, its values, the EXIF IFD when a date original is given,
// then one strip of noise.
Bytes MakeTiff(const TiffFields& s);
// A raw's first IFD: its maker, and a CR2's header or a DNG's version tag.
Bytes MakeRaw(bool bigEndian, const std::string& make, bool cr2, bool dng);

// An ISO box with a 32-bit size; the ftyp box of a major brand.
Bytes Box(std::string_view type, const Bytes& payload);
Bytes Ftyp(std::string_view major);
// ftyp, moov (a track whose stco points at three chunks of the mdat, moved by stcoShift), mdat
// (with a 64-bit size when largeMdat).
Bytes MakeMovie(std::string_view brand, bool largeMdat, u64 stcoShift = 0);
// ftyp "heic", meta (hdlr, pitm, iloc), mdat.
Bytes MakeHeic();

// fmt, data of odd size, and a LIST INFO after it.
Bytes MakeWav();
// hdrl, a movi list of twelve frames of odd and even sizes, idx1 entries relative to "movi"
// (moved by indexShift).
Bytes MakeAvi(u32 indexShift = 0);

// frames MPEG audio frames of header h and length n, noise for their audio.
Bytes Frames(u32 header, std::size_t n, std::size_t frames);
Bytes Id3v2();  // ID3v2.3, 40 bytes of padding
Bytes Id3v1();  // "TAG" and 125 spaces
Bytes ApeTag(); // an APEv2 tag with no items: header and footer
// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz: 417-byte frames.
constexpr u32 kMpeg1L3 = 0xFFFB9000;
// MPEG-2 Layer III, 64 kbit/s, 22.05 kHz: 208-byte frames.
constexpr u32 kMpeg2L3 = 0xFFF38000;

// A 4x4 GIF with a two-colour local table whose LZW codes (three bits each) are codes.
Bytes TinyGif(u16 height, const std::vector<u32>& codes);
// Sixteen pixels, each a clear code (4) and a literal (the tenth is literal), then the end code.
std::vector<u32> SixteenPixels(u32 literal = 0);
