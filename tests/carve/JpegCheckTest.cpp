// The JPEG validator over photos ImageMagick and cjpeg write at test time: whole files valid
// with their end, and truncated, spliced and interleaved ones damaged no later than where their
// bytes stop being their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "carve/ContentCheck.h"
#include "carve/ExifDate.h"
#include "support/TestImages.h"

namespace
{
constexpr u64 kCluster = 4096;

struct Photo
{
    const char* name;
    const char* command; // writes the file named by $OUT
};

// The photos every case draws on. "cam" pairs come from one "camera": same size, quality and
// tables, different scenes.
const std::vector<Photo>& Photos()
{
    static const std::vector<Photo> photos{
        {"grad16", "convert -size 16x16 gradient:red-blue -quality 90 \"$OUT\""},
        {"rose97", "convert rose: -resize 97x61! -quality 75 -sampling-factor 1x1 \"$OUT\""},
        {"logo", "convert logo: -quality 85 \"$OUT\""},
        {"logogrey", "convert logo: -colorspace gray -quality 85 \"$OUT\""},
        {"noise", "convert -size 320x240 xc:gray50 +noise Random -quality 80 \"$OUT\""},
        {"plasmaprog", "convert -size 640x480 plasma: -quality 80 -interlace JPEG \"$OUT\""},
        {"gradrst", "convert -size 640x480 gradient:black-white ppm:- | cjpeg -restart 1 "
                    "-quality 85 > \"$OUT\""},
        {"roseprogrst", "convert rose: -resize 800x600! ppm:- | cjpeg -restart 3B -progressive "
                        "-quality 92 > \"$OUT\""},
        {"big", "convert -size 2000x1500 gradient:navy-orange -swirl 90 -quality 85 "
                "-sampling-factor 2x2 \"$OUT\""},
        {"cam1", "convert -seed 11 -size 1024x768 plasma: -quality 90 \"$OUT\""},
        {"cam2", "convert -seed 12 -size 1024x768 plasma: -quality 90 \"$OUT\""},
        {"camrst1", "convert -seed 13 -size 1024x768 plasma: ppm:- | cjpeg -restart 2 -sample "
                    "2x2 -quality 88 > \"$OUT\""},
        {"camrst2", "convert -seed 14 -size 1024x768 plasma: ppm:- | cjpeg -restart 2 -sample "
                    "2x2 -quality 88 > \"$OUT\""},
        {"bars", "convert -size 800x600 xc:white -fill black -draw 'rectangle 0,0 800,37' -fill "
                 "gray30 -draw 'rectangle 0,300 800,600' -quality 90 \"$OUT\""},
        {"flag", "convert -size 300x200 xc:red -fill blue -draw 'rectangle 0,100 300,200' "
                 "\"$OUT\""},
        {"prog5", "convert -seed 5 -size 1024x768 plasma: -quality 90 -interlace JPEG \"$OUT\""},
        {"arith", "convert rose: ppm:- | cjpeg -arithmetic > \"$OUT\""},
        {"camprog", "convert -seed 15 -size 1024x768 plasma: -quality 90 -interlace JPEG "
                    "\"$OUT\""},
        {"small1", "convert -seed 16 -size 200x150 plasma: -quality 90 \"$OUT\""},
        {"small2", "convert -seed 17 -size 200x150 plasma: -quality 90 \"$OUT\""},
    };
    return photos;
}

// The bytes of the named photo, written once per run.
const std::vector<u8>& PhotoBytes(const std::string& name)
{
    static std::map<std::string, std::vector<u8>> made;
    auto found = made.find(name);
    if (found != made.end())
        return found->second;
    static const std::string dir = ScratchDir("jpegcheck");
    for (const Photo& photo : Photos())
    {
        if (name != photo.name)
            continue;
        const std::string path = dir + "/" + name + ".jpg";
        const int status = RunCommand("OUT='" + path + "'; " + photo.command);
        EXPECT_EQ(status, 0) << photo.command;
        return made[name] = ReadWholeFile(path);
    }
    ADD_FAILURE() << "no photo " << name;
    return made[name];
}

ContentCheck Check(const std::vector<u8>& bytes)
{
    MemorySource source(bytes);
    return CheckJpeg(source);
}

// A damaged verdict whose break lies at or before splice and, when near, no more than two
// clusters before.
void ExpectBreakAt(const std::vector<u8>& bytes, u64 splice, const std::string& what,
                   std::vector<u64>& distances, bool near = true)
{
    const ContentCheck check = Check(bytes);
    EXPECT_EQ(check.verdict, FindContent::kDamaged) << what;
    EXPECT_LE(check.validBytes, splice) << what;
    EXPECT_FALSE(check.ranOut) << what; // the bytes go on past the break: they broke
    if (near)
    {
        EXPECT_GE(check.validBytes + 2 * kCluster, splice) << what;
    }
    if (check.validBytes <= splice)
        distances.push_back(splice - check.validBytes);
}

std::string Distribution(std::vector<u64> distances)
{
    if (distances.empty())
        return "none";
    std::sort(distances.begin(), distances.end());
    return "median " + std::to_string(distances[distances.size() / 2]) + " max " +
           std::to_string(distances.back()) + " over " + std::to_string(distances.size());
}
} // namespace

TEST(JpegCheckTest, WholePhotosAreValidToTheirEndWithTrailingBytesAllowed)
{
    for (const Photo& photo : Photos())
    {
        if (std::string(photo.name) == "arith")
            continue; // below
        const std::vector<u8>& bytes = PhotoBytes(photo.name);
        ASSERT_GT(bytes.size(), 100u) << photo.name;
        ContentCheck check = Check(bytes);
        EXPECT_EQ(check.verdict, FindContent::kValid) << photo.name;
        EXPECT_EQ(check.end, bytes.size()) << photo.name;
        EXPECT_EQ(check.validBytes, bytes.size()) << photo.name;
        EXPECT_EQ(check.type, CarveType::kJpeg) << photo.name;
        std::vector<u8> trailing = bytes;
        trailing.insert(trailing.end(), 3000, 0x5A);
        check = Check(trailing);
        EXPECT_EQ(check.verdict, FindContent::kValid) << photo.name << " with trailing bytes";
        EXPECT_EQ(check.end, bytes.size()) << photo.name << " with trailing bytes";
    }
}

TEST(JpegCheckTest, TruncatedPhotosAreDamagedBeforeTheCut)
{
    for (const char* name : {"rose97", "logo", "plasmaprog", "gradrst", "roseprogrst", "cam1"})
    {
        const std::vector<u8>& bytes = PhotoBytes(name);
        for (u64 cut = 1; cut < bytes.size(); cut += std::max<u64>(bytes.size() / 23, 1))
        {
            for (const u64 at : {cut, bytes.size() - 1 - cut % 3})
            {
                const std::vector<u8> head(bytes.begin(), bytes.begin() + static_cast<long>(at));
                const ContentCheck check = Check(head);
                EXPECT_EQ(check.verdict, FindContent::kDamaged) << name << " cut at " << at;
                EXPECT_LE(check.validBytes, at) << name << " cut at " << at;
                EXPECT_EQ(check.end, 0u) << name << " cut at " << at;
            }
        }
    }
}

TEST(JpegCheckTest, ClusterOverwrittenIsDamagedAtThatCluster)
{
    struct Case
    {
        const char* name;
        const char* other; // the photo whose middle is written over it
        std::vector<std::string> fillers;
        bool near;      // the break found within two clusters of the overwritten one
        u64 stride = 3; // clusters from one overwritten cluster to the next tried
    };
    // A progressive file's break is placed at the start of the scan it was found in; foreign
    // entropy data of a progressive photo may keep in step with a scan, and is left out.
    const std::vector<Case> cases{
        {"cam1", "cam2", {"random", "zeros", "other"}, true},
        {"camrst1", "camrst2", {"random", "zeros", "other"}, true},
        {"big", "cam1", {"random", "zeros", "other"}, true},
        {"camprog", "cam1", {"random", "zeros"}, false},
        // Zero bits end the blocks of this one's scans: a cluster of zeros decodes in step.
        {"prog5", "cam1", {"zeros"}, false, 1},
    };
    std::mt19937 random(30);
    std::vector<u64> distances;
    for (const Case& c : cases)
    {
        const std::vector<u8>& bytes = PhotoBytes(c.name);
        const std::vector<u8>& other = PhotoBytes(c.other);
        for (u64 at = kCluster; at + kCluster < bytes.size(); at += c.stride * kCluster)
        {
            for (const std::string& filler : c.fillers)
            {
                std::vector<u8> spliced = bytes;
                for (u64 i = at; i < at + kCluster; ++i)
                    spliced[i] = filler == "zeros"    ? 0
                                 : filler == "random" ? static_cast<u8>(random())
                                                      : other[i % other.size()];
                const std::string what =
                    std::string(c.name) + " " + filler + " at " + std::to_string(at);
                std::vector<u64> far;
                ExpectBreakAt(spliced, at, what, c.near ? distances : far, c.near);
            }
        }
    }
    std::cout << "bytes from the break to the overwritten cluster: " << Distribution(distances)
              << "\n";
}

TEST(JpegCheckTest, InterleavedPairIsDamagedAtEachOnesFirstForeignCluster)
{
    std::vector<u64> distances;
    for (const auto& [first, second] : {std::pair{"cam1", "cam2"}, std::pair{"camrst1", "camrst2"}})
    {
        const std::vector<u8>& a = PhotoBytes(first);
        const std::vector<u8>& b = PhotoBytes(second);
        std::vector<u8> laid;
        for (u64 at = 0; at < std::max(a.size(), b.size()); at += kCluster)
        {
            for (const std::vector<u8>* photo : {&a, &b})
            {
                const u64 from = std::min<u64>(at, photo->size());
                const u64 to = std::min<u64>(at + kCluster, photo->size());
                laid.insert(laid.end(), photo->begin() + static_cast<long>(from),
                            photo->begin() + static_cast<long>(to));
                laid.resize((laid.size() + kCluster - 1) / kCluster * kCluster, 0);
            }
        }
        ExpectBreakAt(laid, kCluster, std::string(first) + " interleaved", distances);
        const std::vector<u8> fromSecond(laid.begin() + kCluster, laid.end());
        ExpectBreakAt(fromSecond, kCluster, std::string(second) + " interleaved", distances);
    }
}

// The layouts the cluster assignment infers in its tables (tests/scan/ClusterAssignmentTest.cpp
// and the fragment recipe, tests/images/recipes/frag.sh): each wrong for a photo that lies on
// the plain read from its first cluster instead, and the plain read wrong for one that lies on
// the layout inferred. The clusters a layout takes that are not the photo's hold a photo of the
// same camera, as where two files were written side by side: the wrong layout is damaged.
TEST(JpegCheckTest, WrongLayoutsOfTheAssignmentTablesAreDamaged)
{
    const std::vector<std::vector<u64>> inferred = {
        {17, 20},        {4, 5, 8},       {2, 4, 6},
        {3, 5, 7},       {2, 3, 6, 7},    {16, 18},
        {100, 102, 104}, {110, 112, 113}, {120, 123, 124, 125},
        {130, 133, 134}, {151, 153, 154}};
    for (const auto& [name, other] : {std::pair{"cam1", "cam2"}, std::pair{"camrst1", "camrst2"},
                                      std::pair{"small1", "small2"}})
    {
        const std::vector<u8>& photo = PhotoBytes(name);
        const std::vector<u8>& filler = PhotoBytes(other);
        for (const std::vector<u64>& layout : inferred)
        {
            const u64 n = layout.size();
            std::vector<u64> plain;
            for (u64 k = 0; k < n; ++k)
                plain.push_back(layout[0] + k);
            const u64 cb = (photo.size() / n + 1 + 511) / 512 * 512;
            for (const auto& [truth, guess] : {std::pair{plain, layout}, std::pair{layout, plain}})
            {
                // Every cluster either layout takes holds the other photo's bytes there, but
                // for the photo's own.
                std::map<u64, std::vector<u8>> volume;
                for (const std::vector<u64>* side : {&truth, &guess})
                    for (const u64 c : *side)
                    {
                        const u64 from = c * cb % (filler.size() - cb);
                        volume[c].assign(filler.begin() + static_cast<long>(from),
                                         filler.begin() + static_cast<long>(from + cb));
                    }
                for (u64 k = 0; k < n; ++k)
                {
                    const u64 from = std::min<u64>(k * cb, photo.size());
                    const u64 to = std::min<u64>(from + cb, photo.size());
                    std::fill(volume[truth[k]].begin(), volume[truth[k]].end(), 0);
                    std::copy(photo.begin() + static_cast<long>(from),
                              photo.begin() + static_cast<long>(to), volume[truth[k]].begin());
                }
                for (const std::vector<u64>* side : {&truth, &guess})
                {
                    std::vector<u8> read;
                    for (const u64 c : *side)
                        read.insert(read.end(), volume[c].begin(), volume[c].end());
                    read.resize(photo.size());
                    const bool right = side == &truth;
                    EXPECT_EQ(Check(read).verdict,
                              right ? FindContent::kValid : FindContent::kDamaged)
                        << name << " on " << (right ? "its clusters" : "a wrong layout") << " from "
                        << layout[0] << ", " << n << " clusters of " << cb;
                }
            }
        }
    }
}

TEST(JpegCheckTest, ExifBlockGoesToTheDateReaderAndTheSegmentIsSkipped)
{
    // A little-endian TIFF block: IFD0 at 8 with one entry, DateTime (0x0132, ASCII, 20
    // bytes at 26).
    std::vector<u8> tiff{'I', 'I', 42, 0, 8, 0,  0, 0, 1, 0, 0x32, 0x01, 2,
                         0,   20,  0,  0, 0, 26, 0, 0, 0, 0, 0,    0,    0};
    const std::string date = "2024:05:06 07:08:09";
    tiff.insert(tiff.end(), date.begin(), date.end());
    tiff.push_back(0);
    std::vector<u8> segment{0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    segment.insert(segment.end(), tiff.begin(), tiff.end());
    segment[2] = static_cast<u8>((segment.size() - 2) >> 8);
    segment[3] = static_cast<u8>(segment.size() - 2);
    std::vector<u8> bytes = PhotoBytes("rose97");
    bytes.insert(bytes.begin() + 2, segment.begin(), segment.end());
    const ContentCheck check = Check(bytes);
    EXPECT_EQ(check.verdict, FindContent::kValid);
    EXPECT_EQ(check.end, bytes.size());
    EXPECT_EQ(check.taken, ExifDateTaken(tiff));
}

TEST(JpegCheckTest, ArithmeticCodedPhotosAreNeverVouchedFor)
{
    // libjpeg decodes the zero bits after a marker met too soon without a warning.
    const std::vector<u8>& bytes = PhotoBytes("arith");
    ASSERT_GT(bytes.size(), 100u);
    EXPECT_EQ(Check(bytes).verdict, FindContent::kNone);
    for (u64 cut = 200; cut < bytes.size(); cut += bytes.size() / 7)
    {
        std::vector<u8> head(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        head.push_back(0xFF);
        head.push_back(0xD9);
        EXPECT_NE(Check(head).verdict, FindContent::kValid) << "cut at " << cut;
    }
}

TEST(JpegCheckTest, HostileAndForeignBytesAreDamagedWithoutAnEnd)
{
    std::vector<u8> hostile = PhotoBytes("grad16");
    // The frame header's height and width: 65500 by 65500 pixels on a few hundred bytes.
    for (std::size_t i = 0; i + 8 < hostile.size(); ++i)
    {
        if (hostile[i] == 0xFF && hostile[i + 1] == 0xC0)
        {
            hostile[i + 5] = hostile[i + 7] = 0xFF;
            hostile[i + 6] = hostile[i + 8] = 0xDC;
        }
    }
    const std::vector<std::vector<u8>> cases{
        {},     {0xFF}, {0xFF, 0xD8}, {0xFF, 0xD8, 0xFF, 0xD9}, {'G', 'I', 'F', '8', '9', 'a'},
        hostile};
    for (std::size_t i = 0; i < cases.size(); ++i)
    {
        const ContentCheck check = Check(cases[i]);
        EXPECT_NE(check.verdict, FindContent::kValid) << "case " << i;
        EXPECT_LE(check.validBytes, cases[i].size()) << "case " << i;
    }
}
