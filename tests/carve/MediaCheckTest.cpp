// The picture, camera-raw, video and audio validators over files made at test time: pictures
// drawn by ImageMagick, TIFF/EXIF blocks, ISO boxes, RIFF chunks and MP3 frames built here.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "carve/ContentCheck.h"
#include "carve/ExifDate.h"
#include "support/TestImages.h"

namespace
{
using Bytes = std::vector<u8>;

void Put(Bytes& b, u64 value, std::size_t width, bool bigEndian)
{
    for (std::size_t i = 0; i < width; ++i)
    {
        const std::size_t shift = 8 * (bigEndian ? width - 1 - i : i);
        b.push_back(static_cast<u8>(value >> shift));
    }
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
    b.insert(b.end(), s.begin(), s.end());
}
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

struct TiffSpec
{
    bool bigEndian = false;
    bool cr2 = false;         // "CR" after the header, as Canon's raws have
    std::string make;         // IFD0 Make, none when empty
    bool dng = false;         // DNGVersion in IFD0
    std::string dateTime;     // IFD0 DateTime, none when empty
    std::string dateOriginal; // EXIF DateTimeOriginal (an EXIF IFD), none when empty
    u32 stripBytes = 2048;
};

struct TiffEntry
{
    u16 tag;
    u16 type;
    u32 count;
    u64 value;  // the value, or the offset of data
    Bytes data; // values over four bytes
};

Bytes MakeTiff(const TiffSpec& s);

// A raw's first IFD: its maker, and a CR2's header or a DNG's version tag.
Bytes MakeRaw(bool bigEndian, const std::string& make, bool cr2, bool dng)
{
    TiffSpec s;
    s.bigEndian = bigEndian;
    s.make = make;
    s.cr2 = cr2;
    s.dng = dng;
    return MakeTiff(s);
}

Bytes MakeTiff(const TiffSpec& s)
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
Bytes MakeMovie(std::string_view brand, bool largeMdat, u64 stcoShift = 0)
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
Bytes MakeAvi(u32 indexShift = 0)
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
Bytes Id3v1()
{
    Bytes b(128, ' ');
    b[0] = 'T';
    b[1] = 'A';
    b[2] = 'G';
    return b;
}
// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz: 417-byte frames.
constexpr u32 kMpeg1L3 = 0xFFFB9000;
// MPEG-2 Layer III, 64 kbit/s, 22.05 kHz: 208-byte frames.
constexpr u32 kMpeg2L3 = 0xFFF38000;

Bytes Picture(const std::string& name)
{
    const std::string path = TestImage(name);
    return path.empty() ? Bytes{} : ReadWholeFile(path);
}

ContentCheck Validate(CarveType type, const Bytes& bytes)
{
    MemorySource source(bytes);
    return ValidateContent(type, source);
}

struct MediaCase
{
    const char* name;
    std::function<Bytes()> make;
    CarveType asked;
    CarveType type;       // the refined type
    bool endKnown = true; // false: the file's end is only known at Size() (an MP3 without tag)
    bool spliceTells = true;
};

const std::vector<MediaCase>& Cases()
{
    static const std::vector<MediaCase> cases = {
        {"png", [] { return Picture("media-png"); }, CarveType::kPng, CarveType::kPng},
        {"gif", [] { return Picture("media-gif"); }, CarveType::kGif, CarveType::kGif},
        // A BMP has no checksum: pixels written over cannot be told.
        {"bmp", [] { return Picture("media-bmp"); }, CarveType::kBmp, CarveType::kBmp, true, false},
        {"bmp3", [] { return Picture("media-bmp3"); }, CarveType::kBmp, CarveType::kBmp, true,
         false},
        // Uncompressed strips hold no check either; the tiled file's IFD lies mid-file.
        {"tiff", [] { return Picture("media-tiff"); }, CarveType::kTiff, CarveType::kTiff, true,
         false},
        {"tiff-tiled", [] { return Picture("media-tiff-tiled"); }, CarveType::kTiff,
         CarveType::kTiff, true, false},
        {"cr2", [] { return MakeRaw(false, "Canon", true, false); }, CarveType::kTiff,
         CarveType::kCr2, true, false},
        {"nef", [] { return MakeRaw(true, "NIKON CORPORATION", false, false); }, CarveType::kNef,
         CarveType::kNef, true, false},
        {"arw", [] { return MakeRaw(false, "SONY", false, false); }, CarveType::kTiff,
         CarveType::kArw, true, false},
        {"dng", [] { return MakeRaw(false, "NIKON CORPORATION", false, true); }, CarveType::kTiff,
         CarveType::kDng, true, false},
        // The media bytes of an mdat hold no check; the boxes around them do.
        {"mp4", [] { return MakeMovie("isom", false); }, CarveType::kMp4, CarveType::kMp4, true,
         false},
        {"mov", [] { return MakeMovie("qt  ", true); }, CarveType::kMp4, CarveType::kMov, true,
         false},
        {"3gp", [] { return MakeMovie("3gp4", false); }, CarveType::kMp4, CarveType::k3gp, true,
         false},
        {"heic", MakeHeic, CarveType::kHeic, CarveType::kHeic, true, false},
        // PCM samples hold no check.
        {"wav", [] { return MakeWav(); }, CarveType::kWav, CarveType::kWav, true, false},
        // Frames' bytes hold no check; their chunk headers do (see BrokenStructuresAreDamaged).
        {"avi", [] { return MakeAvi(); }, CarveType::kAvi, CarveType::kAvi, true, false},
        {"mp3",
         [] {
             return Cat({Id3v2(), Frames(kMpeg1L3, 417, 20), Id3v1()});
         },
         CarveType::kMp3, CarveType::kMp3},
        // Without a tag, an MP3 cut between two frames is a whole shorter one: the frame count
        // keeps the test's cuts inside frames.
        {"mp3-bare", [] { return Frames(kMpeg2L3, 208, 31); }, CarveType::kMp3, CarveType::kMp3,
         false},
    };
    return cases;
}

constexpr std::size_t kCluster = 512;
} // namespace

// Whole files are valid to their end, with the refined type; with bytes after them (a carved
// file's Size() runs to the next claimed cluster) the structure still gives the end.
TEST(MediaCheck, WholeFilesAreValidToTheirEnd)
{
    for (const MediaCase& c : Cases())
    {
        SCOPED_TRACE(c.name);
        const Bytes file = c.make();
        ASSERT_GT(file.size(), 3 * kCluster);
        const ContentCheck whole = Validate(c.asked, file);
        EXPECT_EQ(whole.verdict, FindContent::kValid);
        EXPECT_EQ(whole.end, file.size());
        EXPECT_EQ(whole.validBytes, file.size());
        EXPECT_EQ(whole.type, c.type);

        const ContentCheck carved = Validate(c.asked, Cat({file, Noise(3 * kCluster, 11)}));
        EXPECT_EQ(carved.verdict, c.endKnown ? FindContent::kValid : FindContent::kDamaged);
        // Without a structural end, the last frame is as far as the chain vouches for.
        EXPECT_LE(carved.validBytes, file.size());
        EXPECT_GT(carved.validBytes + (c.endKnown ? 1 : kCluster), file.size());
        EXPECT_EQ(carved.end, c.endKnown ? file.size() : 0);
    }
}

// A file cut short is damaged and vouches for no byte past the cut.
TEST(MediaCheck, TruncatedFilesAreDamaged)
{
    for (const MediaCase& c : Cases())
    {
        const Bytes file = c.make();
        for (const std::size_t cut : {std::size_t{10}, file.size() / 3, file.size() / 2,
                                      file.size() - kCluster, file.size() - 1})
        {
            SCOPED_TRACE(std::string(c.name) + " cut at " + std::to_string(cut));
            const ContentCheck check = Validate(c.asked, Bytes(file.begin(), file.begin() + cut));
            EXPECT_EQ(check.verdict, FindContent::kDamaged);
            EXPECT_LE(check.validBytes, cut);
            EXPECT_EQ(check.end, 0u);
        }
    }
}

// A cluster of random bytes in the middle is caught where the format can tell, and the break
// is placed no later than the cluster.
TEST(MediaCheck, ClusterOfOtherDataIsCaught)
{
    for (const MediaCase& c : Cases())
    {
        SCOPED_TRACE(c.name);
        Bytes file = c.make();
        const std::size_t at = file.size() / 2 / kCluster * kCluster;
        const Bytes noise = Noise(kCluster, 21);
        std::copy(noise.begin(), noise.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
        const ContentCheck check = Validate(c.asked, file);
        if (!c.spliceTells)
            continue;
        EXPECT_EQ(check.verdict, FindContent::kDamaged);
        EXPECT_LE(check.validBytes, at);
    }
}

namespace
{
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
std::vector<u32> SixteenPixels(u32 literal = 0)
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

struct StructureCase
{
    const char* name;
    CarveType asked;
    std::function<Bytes()> make;
    FindContent verdict;
    u64 validBytes; // kAny: not checked
};
constexpr u64 kAny = ~0ull;
} // namespace

// Structures that break while every byte lies within Size(): bad CRCs, pixel counts, sizes that
// disagree, offsets outside their data, loops. And the small whole files they are made from.
TEST(MediaCheck, BrokenStructuresAreDamaged)
{
    const std::vector<StructureCase> cases = {
        {"gif whole", CarveType::kGif, [] { return TinyGif(4, SixteenPixels()); },
         FindContent::kValid, kAny},
        {"gif pixels short", CarveType::kGif, [] { return TinyGif(5, SixteenPixels()); },
         FindContent::kDamaged, 13},
        {"gif code not yet in table", CarveType::kGif, [] { return TinyGif(4, SixteenPixels(7)); },
         FindContent::kDamaged, 13},
        {"gif no image", CarveType::kGif,
         [] { return Patched(TinyGif(4, SixteenPixels()), 13, {0x3B}); }, FindContent::kDamaged,
         13},
        {"png bad crc", CarveType::kPng, [] { return Patched(Picture("media-png"), 20, {0x55}); },
         FindContent::kDamaged, 8},
        {"bmp size field", CarveType::kBmp,
         [] { return Patched(Picture("media-bmp3"), 3, {0x7F}); }, FindContent::kDamaged, 0},
        {"bmp bit count", CarveType::kBmp, [] { return Patched(Picture("media-bmp3"), 28, {7}); },
         FindContent::kDamaged, 0},
        {"tiff loop", CarveType::kTiff,
         [] {
             return Patched(MakeTiff({}), 8 + 2 + 7 * 12, {8, 0, 0, 0});
         },
         FindContent::kDamaged, kAny},
        {"tiff strip past the end", CarveType::kTiff, [] { return FromEnd(MakeTiff({}), 1); },
         FindContent::kDamaged, 8},
        {"mp4 chunk outside mdat", CarveType::kMp4, [] { return MakeMovie("isom", false, 5000); },
         FindContent::kDamaged, kAny},
        {"mp4 without mdat", CarveType::kMp4,
         [] { return FromEnd(MakeMovie("isom", false), 3008); }, FindContent::kDamaged, kAny},
        {"avi index outside movi", CarveType::kAvi, [] { return MakeAvi(100000); },
         FindContent::kDamaged, kAny},
        {"wav without data", CarveType::kWav,
         [] {
             return Patched(MakeWav(), 36, {'d', 'a', 't', 'x'});
         },
         FindContent::kDamaged, 12},
        {"mp3 two frames", CarveType::kMp3, [] { return Frames(kMpeg1L3, 417, 2); },
         FindContent::kDamaged, 0},
        {"mp3 then other data", CarveType::kMp3,
         [] {
             return Cat({Frames(kMpeg1L3, 417, 5), Bytes(600, 'x')});
         },
         FindContent::kDamaged, 4 * 417},
        {"mp3 sample rate changes", CarveType::kMp3,
         [] {
             return Cat({Frames(kMpeg1L3, 417, 5), Frames(kMpeg2L3, 208, 5)});
         },
         FindContent::kDamaged, 4 * 417},
        // The third frame (at 1478, after frames of 608 and 646 bytes from 224) claims more
        // than the movi list holds: the break is placed at the second frame.
        {"avi frame size", CarveType::kAvi,
         [] {
             return Patched(MakeAvi(), 1482, {0xFF, 0xFF});
         },
         FindContent::kDamaged, 832},
    };
    for (const StructureCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Bytes file = c.make();
        const ContentCheck check = Validate(c.asked, file);
        EXPECT_EQ(check.verdict, c.verdict);
        if (c.validBytes != kAny)
        {
            EXPECT_EQ(check.validBytes, c.validBytes);
        }
        if (c.verdict == FindContent::kValid)
        {
            EXPECT_EQ(check.end, file.size());
        }
    }
}

// The date taken: EXIF DateTimeOriginal, else IFD0 DateTime, in either byte order; dates that
// do not parse and offsets outside the block give nothing.
TEST(MediaCheck, ExifDateTaken)
{
    const FoundTime original{2019, 7, 14, 9, 30, 5};
    const FoundTime plain{2020, 1, 2, 3, 4, 5};
    struct DateCase
    {
        bool bigEndian;
        const char* dateTime;
        const char* dateOriginal;
        FoundTime expected;
    };
    const std::vector<DateCase> cases = {
        {false, "2020:01:02 03:04:05", "2019:07:14 09:30:05", original},
        {true, "2020:01:02 03:04:05", "2019:07:14 09:30:05", original},
        {true, "", "2019:07:14 09:30:05", original},
        {false, "2020:01:02 03:04:05", "", plain},
        {true, "2020:01:02 03:04:05", "2019:13:14 09:30:05", plain},
        {false, "0000:00:00 00:00:00", "    :  :     :  :  ", {}},
        {true, "", "", {}},
    };
    for (const DateCase& c : cases)
    {
        SCOPED_TRACE(std::string(c.dateTime) + " / " + c.dateOriginal);
        TiffSpec spec;
        spec.bigEndian = c.bigEndian;
        spec.dateTime = c.dateTime;
        spec.dateOriginal = c.dateOriginal;
        const Bytes tiff = MakeTiff(spec);
        EXPECT_EQ(ExifDateTaken(tiff), c.expected);
        MemorySource source(tiff);
        EXPECT_EQ(CheckTiff(source).taken, c.expected);
        // The strings lie past a block cut after the IFDs: nothing, and no read outside it.
        const std::size_t cut = tiff.size() - 2048 - (c.dateOriginal[0] != 0 ? 30 : 0);
        const std::vector<u8> head(tiff.begin(), tiff.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(ExifDateTaken(std::span<const u8>(head).first(head.size() / 4)), FoundTime{});
    }
}
