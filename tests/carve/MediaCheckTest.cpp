// The picture, camera-raw, video and audio validators over files made at test time: pictures
// drawn by ImageMagick, TIFF/EXIF blocks, ISO boxes, RIFF chunks and MP3 frames built here.
#include <gtest/gtest.h>

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MediaFiles.h"
#include "carve/ContentCheck.h"
#include "carve/ExifDate.h"
#include "support/TestImages.h"

namespace
{
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
        {"mp3-ape",
         [] {
             return Cat({Id3v2(), Bytes(100), Frames(kMpeg1L3, 417, 12), ApeTag(), Id3v1()});
         },
         CarveType::kMp3, CarveType::kMp3},
        // Without a tag, an MP3 cut between two frames is a whole shorter one: the frame count
        // keeps the test's cuts inside frames.
        {"mp3-bare", [] { return Frames(kMpeg2L3, 208, 31); }, CarveType::kMp3, CarveType::kMp3},
    };
    return cases;
}

constexpr std::size_t kCluster = 512;
} // namespace

// Whole files are valid to their end, with the refined type, and only as their own format; with
// bytes after them (a carved file's Size() runs to the next claimed cluster) the structure
// still gives the end.
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

        // No other family's validator takes it for one of its files.
        for (const MediaCase& other : Cases())
        {
            if (CarveFamily(other.asked) != CarveFamily(c.asked))
            {
                EXPECT_NE(Validate(other.asked, file).verdict, FindContent::kValid) << other.name;
            }
        }

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
            EXPECT_LE(check.validBytes, cut);
            // Frames give no length: an MP3 cut between two is a whole shorter stream.
            if (CarveFamily(c.asked) == CarveType::kMp3 && check.verdict == FindContent::kValid)
            {
                EXPECT_LE(check.end, cut);
                continue;
            }
            EXPECT_EQ(check.verdict, FindContent::kDamaged);
            EXPECT_EQ(check.end, 0u);
        }
    }
}

// A source whose medium cannot be read in [bad, bad + length): reads there come back short.
class UnreadableSource final : public IContentSource
{
public:
    UnreadableSource(const Bytes& bytes, u64 bad, u64 length)
        : m_inner(bytes), m_bad(bad), m_badEnd(bad + length)
    {
    }
    [[nodiscard]] u64 Size() const override { return m_inner.Size(); }
    [[nodiscard]] std::size_t Read(u64 offset, std::span<u8> out) override
    {
        if (offset >= m_bad && offset < m_badEnd)
            return 0;
        const u64 end = offset + out.size();
        if (offset < m_bad && end > m_bad)
            out = out.first(static_cast<std::size_t>(m_bad - offset));
        return m_inner.Read(offset, out);
    }

private:
    MemorySource m_inner;
    u64 m_bad;
    u64 m_badEnd;
};

// A cluster of random bytes in the middle, or one the medium cannot read, is caught where the
// format can tell, and the break is placed no later than the cluster.
TEST(MediaCheck, ClusterOfOtherDataIsCaught)
{
    for (const MediaCase& c : Cases())
    {
        SCOPED_TRACE(c.name);
        Bytes file = c.make();
        const std::size_t at = file.size() / 2 / kCluster * kCluster;
        UnreadableSource unreadable(file, at, kCluster);
        const ContentCheck unread = ValidateContent(c.asked, unreadable);
        const Bytes noise = Noise(kCluster, 21);
        std::copy(noise.begin(), noise.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
        const ContentCheck check = Validate(c.asked, file);
        if (!c.spliceTells)
            continue;
        if (CarveFamily(c.asked) == CarveType::kMp3)
        {
            // Frames give no length: the stream ends where its chain does, before the
            // cluster, and a find whose size goes on is judged damaged by that end.
            EXPECT_LT(check.end, at + kCluster); // the last frame may run into the cluster
            EXPECT_LT(check.end, file.size());
        }
        else
        {
            EXPECT_EQ(check.verdict, FindContent::kDamaged);
            EXPECT_LE(check.validBytes, at);
        }
        EXPECT_EQ(unread.verdict, FindContent::kDamaged);
        EXPECT_LE(unread.validBytes, at);
    }
}

namespace
{
struct StructureCase
{
    const char* name;
    CarveType asked;
    std::function<Bytes()> make;
    FindContent verdict;
    u64 validBytes; // on a valid file also its end; kAny: not checked (a valid file's size)
};
constexpr u64 kAny = ~0ull;

std::vector<StructureCase> StructureCases()
{
    return {
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
        // A movie's own box cut short is a break; the next file's ftyp is where it ends.
        {"mp4 free box cut", CarveType::kMp4,
         [] {
             return FromEnd(Cat({MakeMovie("isom", false), Box("free", Bytes(100))}), 50);
         },
         FindContent::kDamaged, kAny},
        {"mp4 then the next", CarveType::kMp4,
         [] {
             return Cat({MakeMovie("isom", false), Ftyp("isom"), Bytes(600)});
         },
         FindContent::kValid, MakeMovie("isom", false).size()},
        {"avi index outside movi", CarveType::kAvi, [] { return MakeAvi(100000); },
         FindContent::kDamaged, kAny},
        {"wav without data", CarveType::kWav,
         [] {
             return Patched(MakeWav(), 36, {'d', 'a', 't', 'x'});
         },
         FindContent::kDamaged, 12},
        {"mp3 two frames", CarveType::kMp3, [] { return Frames(kMpeg1L3, 417, 2); },
         FindContent::kDamaged, 0},
        {"mp3 then a cut frame", CarveType::kMp3,
         []
         {
             Bytes cut = Frames(kMpeg1L3, 417, 6);
             cut.resize(5 * 417 + 100);
             return cut;
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
}
} // namespace

// Structures that break while every byte lies within Size(): bad CRCs, pixel counts, sizes that
// disagree, offsets outside their data, loops. And the small whole files they are made from.
TEST(MediaCheck, BrokenStructuresAreDamaged)
{
    for (const StructureCase& c : StructureCases())
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
            EXPECT_EQ(check.end, c.validBytes == kAny ? file.size() : c.validBytes);
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
        TiffFields fields;
        fields.bigEndian = c.bigEndian;
        fields.dateTime = c.dateTime;
        fields.dateOriginal = c.dateOriginal;
        const Bytes tiff = MakeTiff(fields);
        EXPECT_EQ(ExifDateTaken(tiff), c.expected);
        MemorySource source(tiff);
        EXPECT_EQ(CheckTiff(source).taken, c.expected);
        // The strings lie past a block cut after the IFDs: nothing, and no read outside it.
        const std::size_t cut = tiff.size() - 2048 - (c.dateOriginal[0] != 0 ? 30 : 0);
        const std::vector<u8> head(tiff.begin(), tiff.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(ExifDateTaken(std::span<const u8>(head).first(head.size() / 4)), FoundTime{});
    }
}
