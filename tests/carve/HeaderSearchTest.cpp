// The header search: which type each header is taken for (and the near misses that are not),
// how rarely random bytes match, which clusters are text, and the scan over a volume's blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "carve/HeaderSearch.h"

namespace
{
std::vector<u8> Bytes(std::string_view text, std::size_t size = kHeaderBytes)
{
    std::vector<u8> out(text.begin(), text.end());
    if (out.size() < size)
        out.resize(size, 0);
    return out;
}

// A ZIP local file header whose first entry is name, its data data (stored).
std::string Zip(std::string_view name, std::string_view data, u16 version = 20, u16 method = 0)
{
    std::string h("PK\x03\x04", 4);
    h += static_cast<char>(version);
    h += std::string(3, '\0');
    h += static_cast<char>(method);
    h += std::string(17, '\0');
    h += static_cast<char>(name.size());
    h += std::string(3, '\0');
    return h + std::string(name) + std::string(data);
}

std::string Bmp(u32 fileSize, u32 pixels, u32 dib, u32 reserved = 0)
{
    std::string h = "BM";
    for (u32 v : {fileSize, reserved, pixels, dib})
        for (int i = 0; i < 4; ++i)
            h += static_cast<char>(v >> (8 * i) & 0xFF);
    h += std::string(dib == 12 ? 4 : 8, '\x10'); // width, height
    h += std::string("\x01\x00", 2);             // planes
    return h;
}

std::string Ftyp(std::string_view brand, u8 size = 24)
{
    return std::string("\0\0\0", 3) + static_cast<char>(size) + "ftyp" + std::string(brand) +
           std::string(12, '\0');
}

TEST(HeaderSearchTest, MatchHeaderTellsEachTypeAndRefusesNearMisses)
{
    using T = CarveType;
    const std::string z(1, '\0');
    const std::string ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    const std::string oleTail = std::string(20, '\0') + "\xFE\xFF\x09" + z;
    const struct
    {
        std::string head;
        CarveType type;
    } cases[] = {
        {"\xFF\xD8\xFF\xE0", T::kJpeg},
        {"\xFF\xD8\xFF\xE1", T::kJpeg},
        {"\xFF\xD8\xFF\xDB", T::kJpeg},
        {"\xFF\xD8\xFF\xFF", T::kNone},
        {std::string("\xFF\xD8\xFF\x00", 4), T::kNone},
        {std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16), T::kPng},
        {std::string("\x89PNG\r\n\x1A\n\0\0\0\x0EIHDR", 16), T::kNone},
        {"GIF87a", T::kGif},
        {"GIF89a", T::kGif},
        {"GIF88a", T::kNone},
        {Bmp(70000, 54, 40), T::kBmp},
        {Bmp(70000, 26, 12), T::kBmp},
        {Bmp(70000, 138, 124), T::kBmp},
        {Bmp(70000, 54, 41), T::kNone},
        {Bmp(70000, 54, 40, 1), T::kNone},
        {Bmp(70000, 20, 40), T::kNone},
        {Bmp(50, 54, 40), T::kNone},
        {std::string("II*\0\x08\0\0\0", 8), T::kTiff},
        {std::string("MM\0*\0\0\0\x08", 8), T::kTiff},
        {std::string("II*\0\x10\0\0\0CR\x02\0", 12), T::kCr2},
        {std::string("II*\0\x04\0\0\0", 8), T::kNone},
        {Ftyp("isom"), T::kMp4},
        {Ftyp("qt  "), T::kMov},
        {Ftyp("3gp5"), T::k3gp},
        {Ftyp("3g2a"), T::k3gp},
        {Ftyp("heic"), T::kHeic},
        {Ftyp("mif1"), T::kHeic},
        {Ftyp("isom", 7), T::kNone},
        {Ftyp("is\x01m"), T::kNone},
        {std::string("RIFF\x10\0\0\0AVI ", 12), T::kAvi},
        {std::string("RIFF\x10\0\0\0WAVE", 12), T::kWav},
        {std::string("RIFF\x10\0\0\0WEBP", 12), T::kNone},
        {std::string("ID3\x03\0\0\0\0\x10\x7F", 10), T::kMp3},
        {std::string("ID3\x04\0\x10\0\0\x10\x7F", 10), T::kMp3},
        {std::string("ID3\x05\0\0\0\0\x10\x7F", 10), T::kNone},
        {std::string("ID3\x03\0\x01\0\0\x10\x7F", 10), T::kNone},
        {std::string("ID3\x03\0\0\0\0\x80\x00", 10), T::kNone},
        {"%PDF-1.4\n", T::kPdf},
        {"%PDF-2.0\n", T::kPdf},
        {"%PDF-x.4\n", T::kNone},
        {Zip("hello.txt", "hi"), T::kZip},
        {Zip("mimetype", "application/epub+zip"), T::kEpub},
        {Zip("mimetype", "application/vnd.oasis.opendocument.text"), T::kOdt},
        {Zip("[Content_Types].xml", ""), T::kZip},
        {Zip("word/document.xml", ""), T::kDocx},
        {Zip("xl/workbook.xml", ""), T::kXlsx},
        {Zip("ppt/presentation.xml", ""), T::kPptx},
        {Zip("", ""), T::kNone},
        {Zip("a.txt", "", 200), T::kNone},
        {Zip("a.txt", "", 20, 7), T::kNone},
        {ole + oleTail, T::kDoc},
        {ole + std::string(20, '\0') + "\xFE\xFF\x0A" + z, T::kNone},
        {"{\\rtf1\\ansi", T::kRtf},
        {std::string("SQLite format 3\0", 16), T::kSqlite},
        {"SQLite format 3 ", T::kNone},
        {std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03", 10), T::kGzip},
        {std::string("\x1F\x8B\x08\x20\0\0\0\0\0\x03", 10), T::kNone},
        {std::string("\x1F\x8B\x08\0\0\0\0\0\x07\x03", 10), T::kNone},
        {std::string("7z\xBC\xAF\x27\x1C\0\x04", 8), T::k7z},
        {std::string("7z\xBC\xAF\x27\x1C\x01\x04", 8), T::kNone},
        {"Hello, world", T::kNone},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.head));
        EXPECT_EQ(MatchHeader(Bytes(c.head)), c.type);
        // A head cut short (the volume's last bytes) is judged on what it has, never read past.
        const std::vector<u8> cut(c.head.begin(), c.head.begin() + c.head.size() / 2);
        const CarveType cutType = MatchHeader(cut);
        EXPECT_TRUE(cutType == CarveType::kNone || CarveFamily(cutType) == CarveFamily(c.type));
    }
    EXPECT_EQ(MatchHeader({}), CarveType::kNone);
}

// Over 4 MiB of random bytes, at every offset, only the short magics may match, and rarely.
TEST(HeaderSearchTest, RandomBytesRarelyMatch)
{
    std::mt19937 random(2026);
    std::vector<u8> bytes(4u << 20);
    for (u8& b : bytes)
        b = static_cast<u8>(random());
    std::size_t matches = 0;
    std::size_t text = 0;
    for (std::size_t i = 0; i + kHeaderBytes <= bytes.size(); ++i)
        matches +=
            MatchHeader(std::span<const u8>(bytes).subspan(i, kHeaderBytes)) != CarveType::kNone;
    for (std::size_t i = 0; i + 4096 <= bytes.size(); i += 4096)
        text += IsTextCluster(std::span<const u8>(bytes).subspan(i, 4096));
    EXPECT_LE(matches, 2u);
    EXPECT_EQ(text, 0u);
}

TEST(HeaderSearchTest, TextClusters)
{
    const std::string body = "Dear reader,\r\n\tthe caf\xC3\xA9 opens at 8 \xE2\x82\xAC\f";
    const struct
    {
        std::string bytes;
        bool text;
    } cases[] = {
        {body, true},
        {body + std::string(100, '\0'), true},               // a last cluster
        {"\x82\xAC rest of a euro sign", true},              // begins inside a character
        {"ends inside a char \xF0\x9F\x98", true},           // the next cluster has the rest
        {std::string(64, '\0'), false},                      // zeros
        {std::string(1, '\0') + "text after a zero", false}, //
        {"text, a zero, text" + std::string(1, '\0') + "x", false},
        {"a bell \x07", false},
        {"an escape \x1B[0m", false},
        {"a delete \x7F", false},
        {"overlong \xC0\x80", false},
        {"surrogate \xED\xA0\x80", false},
        {"past U+10FFFF \xF4\x90\x80\x80", false},
        {"stray continuation in the middle \x80", false},
        {"\x80\x80\x80\x80 four continuations", false},
        {"lead without continuation \xC3x", false},
        {"\xFF\xD8\xFF\xE0", false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        const std::vector<u8> bytes(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(IsTextCluster(bytes), c.text);
    }
    EXPECT_FALSE(IsTextCluster({}));
}

TEST(HeaderSearchTest, CapsBoundEveryType)
{
    EXPECT_EQ(CarveCap(CarveType::kNone), 0u);
    EXPECT_EQ(CarveCap(CarveType::kJpeg), 64u << 20);
    EXPECT_EQ(CarveCap(CarveType::kText), 16u << 20);
    EXPECT_EQ(CarveCap(CarveType::kMp4), 4ull << 30);
    for (u8 t = 1; t < static_cast<u8>(CarveType::kCount); ++t)
        EXPECT_GE(CarveCap(static_cast<CarveType>(t)), 16u << 20) << int(t);
}

// A volume of 64 clusters: headers, text runs broken by a header and by binary data, read in
// blocks of every size the deep search may use, from a data start past the reader's origin.
TEST(HeaderSearchTest, ScanNotesCandidatesAndTextRuns)
{
    for (u64 cb : {512u, 4096u})
    {
        const u64 origin = 3 * cb; // cluster 2 begins here
        std::vector<u8> volume(static_cast<std::size_t>(origin + 64 * cb), 0xA5);
        auto at = [&](u64 cluster) { return volume.data() + origin + (cluster - 2) * cb; };
        std::memcpy(at(2), "\xFF\xD8\xFF\xE0", 4);
        std::memcpy(at(9), "%PDF-1.7", 8);
        for (u64 c : {5u, 6u, 7u, 11u, 12u, 13u, 14u, 20u})
            std::memset(at(c), 'x', static_cast<std::size_t>(cb));
        std::memset(at(14) + cb / 2, 0, static_cast<std::size_t>(cb / 2)); // a last cluster
        std::memcpy(at(12), "{\\rtf1", 6);                                 // a header, not text
        std::memcpy(at(65), "GIF89a", 6);
        for (u64 block : {cb, 4 * cb, 16 * cb, u64{1} << 20})
        {
            SCOPED_TRACE(testing::Message() << cb << " " << block);
            CarveScan scan(origin, 2, 66, cb);
            for (u64 off = 0; off < volume.size(); off += block)
            {
                const u64 n = std::min<u64>(block, volume.size() - off);
                scan.Scan(off, std::span<const u8>(volume).subspan(off, n));
                if (off == 8 * block) // a repeated block notes nothing twice
                    scan.Scan(off, std::span<const u8>(volume).subspan(off, n));
            }
            const std::vector<std::pair<u64, CarveType>> want = {{2, CarveType::kJpeg},
                                                                 {9, CarveType::kPdf},
                                                                 {12, CarveType::kRtf},
                                                                 {65, CarveType::kGif}};
            ASSERT_EQ(scan.Candidates().size(), want.size());
            for (std::size_t i = 0; i < want.size(); ++i)
            {
                EXPECT_EQ(scan.Candidates()[i].cluster, want[i].first);
                EXPECT_EQ(scan.Candidates()[i].type, want[i].second);
            }
            const std::vector<std::pair<u64, u64>> runs = {{5, 3}, {11, 1}, {13, 2}, {20, 1}};
            ASSERT_EQ(scan.TextRuns().size(), runs.size());
            for (std::size_t i = 0; i < runs.size(); ++i)
            {
                EXPECT_EQ(scan.TextRuns()[i].first, runs[i].first);
                EXPECT_EQ(scan.TextRuns()[i].length, runs[i].second);
            }
        }
    }
}

// Blocks that do not end on a cluster boundary: a cluster whose header is inside is matched
// once; clusters past the volume's last are never looked at.
TEST(HeaderSearchTest, ScanAcrossUnalignedBlocksAndVolumeEnd)
{
    const u64 cb = 4096;
    std::vector<u8> volume(10 * cb, 0xA5);
    std::memcpy(volume.data() + 1 * cb, "GIF89a", 6);
    std::memcpy(volume.data() + 3 * cb, "GIF87a", 6);
    std::memcpy(volume.data() + 8 * cb, "GIF87a", 6); // past the volume's clusters
    CarveScan scan(0, 0, 8, cb);
    scan.Scan(0, std::span<const u8>(volume).first(cb + 600));
    scan.Scan(cb + 600, std::span<const u8>(volume).subspan(cb + 600, 2 * cb + 100));
    scan.Scan(3 * cb + 700, std::span<const u8>(volume).subspan(3 * cb + 700));
    ASSERT_EQ(scan.Candidates().size(), 2u);
    EXPECT_EQ(scan.Candidates()[0].cluster, 1u);
    EXPECT_EQ(scan.Candidates()[1].cluster, 3u);
    CarveScan none(0, 0, 8, 0);
    none.Scan(0, volume);
    EXPECT_TRUE(none.Candidates().empty());
}
} // namespace
