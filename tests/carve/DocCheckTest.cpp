// The document, archive, database and text validators over files Python's zipfile, sqlite3 and
// gzip (and the sample script's own PDF, 7z, RTF and compound-file writers) make at test time:
// whole, cut short, and with a cluster overwritten by random bytes.
#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "carve/ContentCheck.h"
#include "support/TestImages.h"

namespace
{
struct Sample
{
    std::string file;
    CarveType type = CarveType::kNone;
    u64 end = 0;
    u64 spoil = 0; // a 4 KiB cluster inside the structure
    bool cutDamages = true;
    std::string title;
    std::vector<u8> bytes;
};

std::vector<Sample> MakeSamples()
{
    const std::string dir = ScratchDir("doc-samples");
    const std::string script = std::string(ORL_SOURCE_DIR) + "/tests/carve/doc-samples.py";
    std::string out;
    if (RunCommand("python3 '" + script + "' '" + dir + "' 2>&1", &out) != 0)
    {
        ADD_FAILURE() << "the sample script failed: " << out;
        return {};
    }
    std::vector<Sample> samples;
    std::ifstream manifest(dir + "/manifest.txt");
    std::string line;
    while (std::getline(manifest, line))
    {
        std::istringstream in(line);
        Sample s;
        std::string ext;
        std::string cut;
        std::getline(in, s.file, '\t');
        std::getline(in, ext, '\t');
        in >> s.end >> s.spoil >> cut;
        in.ignore(1);
        std::getline(in, s.title);
        s.cutDamages = cut == "1";
        s.type = CarveTypeOfExtension(ext);
        s.bytes = ReadWholeFile(dir + "/" + s.file);
        samples.push_back(std::move(s));
    }
    EXPECT_EQ(samples.size(), 18U) << "the manifest lists fewer samples than the script writes";
    return samples;
}

const std::vector<Sample>& Samples()
{
    static const std::vector<Sample> samples = MakeSamples();
    return samples;
}

ContentCheck Check(const Sample& s, std::span<const u8> bytes)
{
    MemorySource src(bytes);
    return ValidateContent(s.type, src);
}
} // namespace

TEST(DocCheck, WholeFilesAreValidToTheirEndWithTypeAndTitle)
{
    for (const Sample& s : Samples())
    {
        SCOPED_TRACE(s.file);
        const ContentCheck c = Check(s, s.bytes);
        EXPECT_EQ(c.verdict, FindContent::kValid);
        EXPECT_EQ(c.end, s.end);
        EXPECT_EQ(c.validBytes, s.end);
        EXPECT_EQ(c.type, s.type);
        EXPECT_EQ(c.title, s.title);
    }
}

TEST(DocCheck, CutFilesAreDamagedAndVouchNoFurtherThanTheCut)
{
    for (const Sample& s : Samples())
    {
        if (!s.cutDamages)
            continue; // text has no length of its own: any cut is text
        for (const u64 cut : {s.end * 2 / 3, s.end - 7})
        {
            SCOPED_TRACE(s.file + " cut at " + std::to_string(cut));
            const ContentCheck c = Check(s, std::span<const u8>(s.bytes).first(cut));
            // A PDF cut inside its last update is the whole revision before it.
            EXPECT_TRUE(c.verdict == FindContent::kDamaged ||
                        (c.verdict == FindContent::kValid && c.end <= cut && c.end < s.end));
            EXPECT_LE(c.validBytes, cut);
        }
    }
}

TEST(DocCheck, AClusterOfRandomBytesMakesTheFileDamaged)
{
    std::mt19937 rng(30);
    for (const Sample& s : Samples())
    {
        SCOPED_TRACE(s.file);
        std::vector<u8> spoilt = s.bytes;
        const std::size_t from = static_cast<std::size_t>(s.spoil);
        const std::size_t to = std::min<std::size_t>(spoilt.size(), from + 4096);
        for (std::size_t i = from; i < to; ++i)
            spoilt[i] = static_cast<u8>(rng());
        const ContentCheck c = Check(s, spoilt);
        EXPECT_EQ(c.verdict, FindContent::kDamaged);
        // RTF and text read a few random bytes as their own before they break.
        EXPECT_LE(c.validBytes, s.spoil + 64);
    }
}

TEST(DocCheck, FilesFollowedByOtherBytesEndWhereTheirStructureDoes)
{
    // Carving hands a validator more bytes than the file: its structure tells where it ends.
    std::mt19937 rng(29);
    for (const Sample& s : Samples())
    {
        SCOPED_TRACE(s.file);
        std::vector<u8> longer = s.bytes;
        longer.push_back(0xFF); // no UTF-8 text holds it: where text stops is known
        for (int i = 1; i < 8192; ++i)
            longer.push_back(static_cast<u8>(rng()));
        const ContentCheck c = Check(s, longer);
        EXPECT_EQ(c.end, s.end);
        // Text has no structure to end it: what follows is not text, so it is damaged there.
        EXPECT_EQ(c.verdict, s.cutDamages ? FindContent::kValid : FindContent::kDamaged);
        EXPECT_EQ(c.title, s.title);
    }
}

// A memory source that counts the bytes read from it.
class CountingSource final : public IContentSource
{
public:
    explicit CountingSource(std::span<const u8> bytes) : m_inner(bytes) {}
    [[nodiscard]] u64 Size() const override { return m_inner.Size(); }
    [[nodiscard]] std::size_t Read(u64 offset, std::span<u8> out) override
    {
        const std::size_t got = m_inner.Read(offset, out);
        read += got;
        return got;
    }
    u64 read = 0;

private:
    MemorySource m_inner;
};

TEST(DocCheck, FreeSpaceAfterAFileIsNotReadThrough)
{
    // A carved file's first layout runs on over the free clusters up to its type's cap: on a
    // fresh card, megabytes of zeros, and then maybe a file made the same way, whose offsets
    // land where this one's do. A validator stops where the file's structure ends.
    for (const Sample& s : Samples())
    {
        if (!s.cutDamages)
            continue; // text: it ends where the zeros begin
        SCOPED_TRACE(s.file);
        std::vector<u8> longer = s.bytes;
        longer.resize(longer.size() + (u64{4} << 20), 0);
        longer.insert(longer.end(), s.bytes.begin(), s.bytes.end());
        CountingSource src(longer);
        const ContentCheck c = ValidateContent(s.type, src);
        EXPECT_EQ(c.verdict, FindContent::kValid);
        EXPECT_EQ(c.end, s.end);
        EXPECT_LT(src.read, 4 * s.bytes.size() + (u64{1} << 20));
    }
}

TEST(DocCheck, StructuresThatLoopOrPointAwayAreDamaged)
{
    struct Patch
    {
        const char* file;
        std::string_view after; // the patch lands this far past the first match ("" = start)
        std::size_t offset;
        std::string_view bytes;
    };
    static constexpr Patch kPatches[] = {
        // The document stream's last FAT entry (sector 39) points back to its first: a loop.
        {"memo.doc", "", 512 + 40 * 512 + 39 * 4, std::string_view("\0\0\0\0", 4)},
        // The first central entry's local header offset points into the first entry's data.
        {"plain.zip", "PK\x01\x02", 42, std::string_view("\x01\0\0\0", 4)},
        // startxref points past the cross-reference table.
        {"annual.pdf", "startxref\n", 10, "9"},
        // The table's root page (page 2) holds a page type no b-tree page has.
        {"data.sqlite", "", 4096, "\x07"},
    };
    for (const Patch& p : kPatches)
    {
        SCOPED_TRACE(p.file);
        const auto s = std::find_if(Samples().begin(), Samples().end(),
                                    [&](const Sample& x) { return x.file == p.file; });
        ASSERT_NE(s, Samples().end());
        std::vector<u8> bytes = s->bytes;
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const std::size_t at = text.find(p.after) + p.offset;
        ASSERT_LE(at + p.bytes.size(), bytes.size());
        std::copy(p.bytes.begin(), p.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
        const ContentCheck c = Check(*s, bytes);
        EXPECT_EQ(c.verdict, FindContent::kDamaged);
        EXPECT_LT(c.validBytes, s->end);
    }
}
