// Files the media validators' tests build byte by byte: TIFF/EXIF blocks and camera raws, ISO
// boxes, RIFF chunks, MP3 frames and a tiny GIF with chosen LZW codes.
#include "MediaFiles.h"

#include <random>

namespace
{
struct TiffEntry
{
    u16 tag;
    u16 type;
    u32 count;
    u64 value;  // the value, or the offset of data
    Bytes data; // values over four bytes
};
void Put(Bytes& b, u64 value, std::size_t width, bool bigEndian)
{
    const std::size_t at = b.size();
    b.resize(at + width);
    for (std::size_t i = 0; i < width; ++i)
        b[at + i] = static_cast<u8>(value >> (8 * (bigEndian ? width - 1 - i : i)));
}
void Be32(Bytes& b, u64 v)
{
    Put(b, v, 4, true);
}
void Le32(Bytes& b, u64 v)
{
    Put(b, v, 4, false);
}
void Text(Bytes& b, std::string_view s)
{
    const std::size_t at = b.size();
    b.resize(at + s.size());
    for (std::size_t i = 0; i < s.size(); ++i)
        b[at + i] = static_cast<u8>(s[i]);
}
} // namespace

Bytes Noise(std::size_t n, u32 seed)
{
    std::mt19937 gen(seed);
    Bytes b(n);
    for (u8& x : b)
        x = static_cast<u8>(gen());
    return b;
}
Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// --- TIFF and EXIF ---------------------------------------------------------------------------

// A raw's first IFD: its maker, and a CR2's header or a DNG's version tag.
Bytes MakeRaw(bool bigEndian, const std::string& make, bool cr2, bool dng)
{
    TiffFields s;
    s.bigEndian = bigEndian;
    s.make = make;
    s.cr2 = cr2;
    s.dng = dng;
    return MakeTiff(s);
}

Bytes MakeTiff(const TiffFields& s)
{
    const bool be = s.bigEndian;
    const u64 header = s.cr2 ? 16 : 8;
    auto ascii = [](const std::string& t) { return Bytes(t.begin(), t.end() + 1); };
    std::vector<TiffEntry> e = {{256, 3, 1, 64, {}},
                                {257, 3, 1, s.stripBytes / 64, {}},
                                {258, 3, 1, 8, {}},
                                {259, 3, 1, 1, {}},
                                {262, 3, 1, 1, {}}};
    if (!s.make.empty())
        e.push_back({271, 2, static_cast<u32>(s.make.size() + 1), 0, ascii(s.make)});
    e.push_back({273, 4, 1, 0, {}}); // the strip's offset, set below
    e.push_back({279, 4, 1, s.stripBytes, {}});
    if (!s.dateTime.empty())
        e.push_back({306, 2, 20, 0, ascii(s.dateTime)});
    if (!s.dateOriginal.empty())
        e.push_back({34665, 4, 1, 0, {}});
    if (s.dng)
        e.push_back({50706, 1, 4, be ? 0x01040000u : 0x0401u, {}});
    u64 at = header + 2 + 12 * e.size() + 4;
    for (TiffEntry& x : e)
        if (!x.data.empty())
        {
            x.value = at;
            at += x.data.size();
        }
    const u64 exif = at;
    if (!s.dateOriginal.empty())
        at += 2 + 12 + 4 + 20;
    for (TiffEntry& x : e)
        x.value = x.tag == 273 ? at : x.tag == 34665 ? exif : x.value;
    Bytes b;
    Text(b, be ? "MM" : "II");
    Put(b, 42, 2, be);
    Put(b, header, 4, be);
    if (s.cr2)
        Text(b, std::string_view("CR\x02\x00\x00\x00\x00\x00", 8));
    Put(b, e.size(), 2, be);
    for (const TiffEntry& x : e)
    {
        Put(b, x.tag, 2, be);
        Put(b, x.type, 2, be);
        Put(b, x.count, 4, be);
        // A SHORT held in the value field sits in its first two bytes.
        if (x.type == 3)
            Put(b, x.value << (be ? 16 : 0), 4, be);
        else
            Put(b, x.value, 4, be);
    }
    Put(b, 0, 4, be);
    for (const TiffEntry& x : e)
        b.insert(b.end(), x.data.begin(), x.data.end());
    if (!s.dateOriginal.empty())
    {
        Put(b, 1, 2, be);
        Put(b, 36867, 2, be);
        Put(b, 2, 2, be);
        Put(b, 20, 4, be);
        Put(b, exif + 18, 4, be);
        Put(b, 0, 4, be);
        const Bytes d = ascii(s.dateOriginal);
        b.insert(b.end(), d.begin(), d.end());
    }
    const Bytes strip = Noise(s.stripBytes, 5);
    b.insert(b.end(), strip.begin(), strip.end());
    return b;
}

// --- ISO base media --------------------------------------------------------------------------

Bytes Box(std::string_view type, const Bytes& payload)
{
    Bytes b;
    Be32(b, 8 + payload.size());
    Text(b, type);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}
Bytes LargeBox(std::string_view type, const Bytes& payload)
{
    Bytes b;
    Be32(b, 1);
    Text(b, type);
    Put(b, 16 + payload.size(), 8, true);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}
Bytes Ftyp(std::string_view major)
{
    Bytes p;
    Text(p, major);
    Be32(p, 0x200);
    Text(p, major);
    Text(p, "isom");
    return Box("ftyp", p);
}

// ftyp, moov (a track whose stco points at three chunks of the mdat), mdat.
Bytes MakeMovie(std::string_view brand, bool largeMdat, u64 stcoShift)
{
    const Bytes ftyp = Ftyp(brand);
    const Bytes media = Noise(3000, 9);
    auto moov = [&](u64 mdatData)
    {
        Bytes stco = {0, 0, 0, 0};
        Be32(stco, 3);
        for (u64 k = 0; k < 3; ++k)
            Be32(stco, mdatData + k * 1000 + stcoShift);
        const Bytes stbl = Box("stbl", Cat({Box("stsd", Bytes(8)), Box("stco", stco)}));
        const Bytes minf = Box("minf", Cat({Box("vmhd", Bytes(12)), stbl}));
        const Bytes mdia = Box("mdia", Cat({Box("mdhd", Bytes(24)), Box("hdlr", Bytes(25)), minf}));
        const Bytes trak = Box("trak", Cat({Box("tkhd", Bytes(84)), mdia}));
        return Box("moov", Cat({Box("mvhd", Bytes(100)), trak}));
    };
    const u64 mdatAt = ftyp.size() + moov(0).size();
    const Bytes mdat = largeMdat ? LargeBox("mdat", media) : Box("mdat", media);
    return Cat({ftyp, moov(mdatAt + (largeMdat ? 16 : 8)), mdat});
}

Bytes MakeHeic()
{
    const Bytes meta =
        Box("meta",
            Cat({Bytes(4), Box("hdlr", Bytes(25)), Box("pitm", Bytes(6)), Box("iloc", Bytes(16))}));
    return Cat({Ftyp("heic"), meta, Box("mdat", Noise(2500, 4))});
}

// --- RIFF ------------------------------------------------------------------------------------

Bytes Chunk(std::string_view id, const Bytes& payload)
{
    Bytes b;
    Text(b, id);
    Le32(b, payload.size());
    b.insert(b.end(), payload.begin(), payload.end());
    if (payload.size() % 2 != 0)
        b.push_back(0);
    return b;
}
Bytes List(std::string_view type, const Bytes& chunks)
{
    Bytes p;
    Text(p, type);
    p.insert(p.end(), chunks.begin(), chunks.end());
    return Chunk("LIST", p);
}
Bytes Riff(std::string_view form, const Bytes& chunks)
{
    Bytes p;
    Text(p, form);
    p.insert(p.end(), chunks.begin(), chunks.end());
    return Chunk("RIFF", p);
}

Bytes MakeWav()
{
    Bytes fmt;
    Put(fmt, 1, 2, false);
    Put(fmt, 1, 2, false);
    Le32(fmt, 8000);
    Le32(fmt, 8000);
    Put(fmt, 1, 2, false);
    Put(fmt, 8, 2, false);
    return Riff("WAVE", Cat({Chunk("fmt ", fmt), Chunk("data", Noise(4001, 3)),
                             List("INFO", Chunk("ISFT", Bytes{'t', 'e', 's', 't', 0}))}));
}

// hdrl, a movi list of frames of odd and even sizes, and idx1 entries relative to "movi".
Bytes MakeAvi(u32 indexShift)
{
    const Bytes hdrl = List(
        "hdrl", Cat({Chunk("avih", Bytes(56)),
                     List("strl", Cat({Chunk("strh", Bytes(56)), Chunk("strf", Bytes(40))}))}));
    Bytes frames;
    Bytes index;
    u64 offset = 4; // from the list type "movi"
    for (u32 k = 0; k < 12; ++k)
    {
        const Bytes frame = Chunk("00dc", Noise(600 + 37 * k, k));
        Text(index, "00dc");
        Le32(index, 0x10);
        Le32(index, offset + indexShift);
        Le32(index, 600 + 37 * k);
        offset += frame.size();
        frames.insert(frames.end(), frame.begin(), frame.end());
    }
    return Riff("AVI ", Cat({hdrl, List("movi", frames), Chunk("idx1", index)}));
}

// --- MP3 -------------------------------------------------------------------------------------

// frames MPEG frames of header h (frame length n) with noise for audio.
Bytes Frames(u32 header, std::size_t n, std::size_t frames)
{
    Bytes b;
    for (std::size_t k = 0; k < frames; ++k)
    {
        Be32(b, header);
        const Bytes audio = Noise(n - 4, static_cast<u32>(k));
        b.insert(b.end(), audio.begin(), audio.end());
    }
    return b;
}
Bytes Id3v2()
{
    Bytes b = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 40};
    b.resize(b.size() + 40);
    return b;
}
Bytes ApeTag()
{
    Bytes b;
    for (const u32 flags : {0xA0000000u, 0x80000000u}) // header, then footer
    {
        Text(b, "APETAGEX");
        for (const u32 v : {2000u, 32u, 0u, flags, 0u, 0u})
            Le32(b, v);
    }
    return b;
}
Bytes Id3v1()
{
    Bytes b(128, ' ');
    b[0] = 'T';
    b[1] = 'A';
    b[2] = 'G';
    return b;
}
// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz: 417-byte frames.
// A 4x4 GIF with a two-colour local table whose LZW codes (three bits each) are the given ones.
Bytes TinyGif(u16 height, const std::vector<u32>& codes)
{
    Bytes b;
    Text(b, "GIF89a");
    Put(b, 4, 2, false);
    Put(b, 4, 2, false);
    b.insert(b.end(), {0, 0, 0, 0x2C, 0, 0, 0, 0, 4, 0});
    Put(b, height, 2, false);
    b.insert(b.end(), {0x80, 0, 0, 0, 255, 255, 255, 2});
    Bytes lzw;
    u32 bits = 0;
    u32 count = 0;
    for (const u32 code : codes)
    {
        bits |= code << count;
        count += 3;
        for (; count >= 8; count -= 8, bits >>= 8)
            lzw.push_back(static_cast<u8>(bits));
    }
    if (count != 0)
        lzw.push_back(static_cast<u8>(bits));
    b.push_back(static_cast<u8>(lzw.size()));
    b.insert(b.end(), lzw.begin(), lzw.end());
    b.insert(b.end(), {0, 0x3B});
    return b;
}
// Sixteen pixels, each a clear code (4) and a literal, then the end code (5).
std::vector<u32> SixteenPixels(u32 literal)
{
    std::vector<u32> codes;
    for (int k = 0; k < 16; ++k)
        codes.insert(codes.end(), {4, k == 9 ? literal : 1});
    codes.push_back(5);
    return codes;
}

Bytes Patched(Bytes b, std::size_t at, std::initializer_list<u8> bytes)
{
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return b;
}
Bytes FromEnd(const Bytes& b, std::size_t back)
{
    return Bytes(b.begin(), b.end() - static_cast<std::ptrdiff_t>(back));
}
