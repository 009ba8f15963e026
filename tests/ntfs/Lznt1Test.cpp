// DecompressLznt1 on hand-made chunks (literals, overlapping references, the position-dependent
// split of a reference, stored chunks, short chunks, every fault) and on a unit libntfs-3g wrote.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "ntfs/Lznt1.h"
#include "ntfs/Lznt1Sample.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"

namespace
{
using Bytes = std::vector<u8>;

// One token of a compressed chunk: a literal, or a reference of offset and length.
struct Token
{
    u8 literal = 0;
    u32 offset = 0; // 0: a literal
    u32 length = 0;
};
Token Lit(char c)
{
    return Token{static_cast<u8>(c), 0, 0};
}
Token Ref(u32 offset, u32 length)
{
    return Token{0, offset, length};
}

// The data of a compressed chunk: tag bytes and tokens, each reference split for the position
// it lands at (the offset takes as many bits as position - 1 needs, at least 4).
Bytes Tokens(const std::vector<Token>& tokens)
{
    Bytes data;
    std::size_t pos = 0;
    std::size_t tag = 0;
    for (std::size_t t = 0; t < tokens.size(); ++t)
    {
        if (t % 8 == 0)
        {
            tag = data.size();
            data.push_back(0);
        }
        const Token& tk = tokens[t];
        if (tk.offset == 0)
        {
            data.push_back(tk.literal);
            ++pos;
            continue;
        }
        data[tag] = static_cast<u8>(data[tag] | (1u << (t % 8)));
        const int offsetBits =
            std::max(4, static_cast<int>(std::bit_width(pos == 0 ? pos : pos - 1)));
        const u32 raw = ((tk.offset - 1) << (16 - offsetBits)) | (tk.length - 3);
        data.push_back(static_cast<u8>(raw));
        data.push_back(static_cast<u8>(raw >> 8));
        pos += tk.length;
    }
    return data;
}

// A chunk: its header (signature 3 in bits 12-14, as written on disk) and data.
Bytes Chunk(const Bytes& data, bool compressed = true)
{
    const u16 header =
        static_cast<u16>((compressed ? 0xB000 : 0x3000) | ((data.size() - 1) & 0x0FFF));
    Bytes c(2 + data.size());
    StoreLe16(c.data(), header);
    std::copy(data.begin(), data.end(), c.begin() + 2);
    return c;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// size bytes that no short window repeats within 251 bytes.
Bytes Pattern(std::size_t size)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<u8>(i % 251);
    return b;
}

// The text of the libntfs-3g sample: words drawn by a linear congruential generator.
Bytes SampleText(std::size_t size)
{
    static const char* const kWords[] = {"alpha ", "beta ", "gamma ", "delta\n"};
    Bytes text;
    u32 x = 1;
    while (text.size() < size)
    {
        x = x * 1103515245u + 12345u;
        for (const char* w = kWords[(x >> 16) % 4]; *w && text.size() < size; ++w)
            text.push_back(static_cast<u8>(*w));
    }
    return text;
}

struct Lznt1Case
{
    const char* label;
    Bytes in;
    std::size_t outSize;
    u32 rc;
    Bytes out; // the bytes produced (on kNtfsCorrupt: before the fault)
};

void PrintTo(const Lznt1Case& c, std::ostream* os)
{
    *os << c.label;
}

class NtfsLznt1Test : public ::testing::TestWithParam<Lznt1Case>
{
};

Bytes Repeat(const std::string& s, std::size_t size)
{
    Bytes b;
    while (b.size() < size)
        b.push_back(static_cast<u8>(s[b.size() % s.size()]));
    return b;
}

Bytes StoredAndShort()
{
    Bytes out = Pattern(4096);
    const Bytes tail = Text("xyz");
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

Bytes ShortThenMore()
{
    Bytes out = Text("abc");
    out.resize(4096, 0);
    const Bytes tail = Text("xyz");
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}
} // namespace

TEST_P(NtfsLznt1Test, Decompresses)
{
    const Lznt1Case& c = GetParam();
    // Exact-size copies: a read or write past either is one past an allocation.
    const Bytes in = c.in;
    Bytes out(c.outSize, 0xEE);
    std::size_t produced = 12345;
    EXPECT_EQ(DecompressLznt1(in.data(), in.size(), out.data(), out.size(), &produced), c.rc);
    ASSERT_LE(produced, out.size());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(produced)), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, NtfsLznt1Test,
    ::testing::Values(
        Lznt1Case{"Empty", {}, 64, kNtfsOk, {}},
        Lznt1Case{"EndHeaderOnly", {0, 0, 0xB0, 0x03}, 64, kNtfsOk, {}},
        Lznt1Case{"LiteralsOnly",
                  Cat({Chunk(Tokens({Lit('a'), Lit('b'), Lit('c'), Lit('d'), Lit('e'), Lit('f'),
                                     Lit('g'), Lit('h'), Lit('i')})),
                       {0, 0}}),
                  64, kNtfsOk, Text("abcdefghi")},
        // A reference longer than its offset repeats what it is producing.
        Lznt1Case{"OverlappingPair", Chunk(Tokens({Lit('a'), Lit('b'), Ref(2, 10)})), 64, kNtfsOk,
                  Repeat("ab", 12)},
        Lznt1Case{"RunLength", Chunk(Tokens({Lit('x'), Ref(1, 40)})), 64, kNtfsOk, Repeat("x", 41)},
        Lznt1Case{"ReferenceToTheChunkEnd", Chunk(Tokens({Lit('x'), Ref(1, 4095)})), 8192, kNtfsOk,
                  Repeat("x", 4096)},
        Lznt1Case{"StoredChunkThenShortChunk",
                  Cat({Chunk(Pattern(4096), false), Chunk(Tokens({Lit('x'), Lit('y'), Lit('z')}))}),
                  16384, kNtfsOk, StoredAndShort()},
        // A short chunk followed by another leaves zeros up to the next 4096 bytes.
        Lznt1Case{"ShortChunkPadded",
                  Cat({Chunk(Tokens({Lit('a'), Lit('b'), Lit('c')})), Chunk(Text("xyz"), false)}),
                  16384, kNtfsOk, ShortThenMore()},
        Lznt1Case{"OutputEndsInLiterals", Chunk(Text("abcdef"), false), 4, kNtfsOk, Text("abcd")},
        Lznt1Case{"OutputEndsInReference", Chunk(Tokens({Lit('x'), Ref(1, 40)})), 10, kNtfsOk,
                  Repeat("x", 10)},
        Lznt1Case{"OutputEndsAtPadding",
                  Cat({Chunk(Tokens({Lit('a')})), Chunk(Text("xyz"), false)}), 100, kNtfsOk,
                  []
                  {
                      Bytes b = Text("a");
                      b.resize(100, 0);
                      return b;
                  }()},
        Lznt1Case{"OutputFullAtChunkBoundary", Cat({Chunk(Pattern(4096), false), {0x01, 0x01}}),
                  4096, kNtfsOk, Pattern(4096)},
        // Faults keep what came before.
        Lznt1Case{"TruncatedChunk",
                  []
                  {
                      Bytes b = Chunk(Text("abcdefghij"), false);
                      b.resize(7);
                      return b;
                  }(),
                  64, kNtfsCorrupt, Text("abcde")},
        Lznt1Case{"TruncatedCompressedChunk",
                  []
                  {
                      Bytes b = Chunk(Tokens({Lit('a'), Lit('b'), Lit('c'), Lit('d')}));
                      b[0] = static_cast<u8>(b[0] + 4);
                      return b;
                  }(),
                  64, kNtfsCorrupt, Text("abcd")},
        Lznt1Case{"TruncatedReference", Chunk({0x02, 'a', 0x00}), 64, kNtfsCorrupt, Text("a")},
        Lznt1Case{"CutHeader", Cat({Chunk(Text("ab"), false), {0x05}}), 64, kNtfsCorrupt,
                  Text("ab")},
        Lznt1Case{"ReferenceBeforeTheStart", Chunk(Tokens({Lit('a'), Lit('b'), Ref(3, 3)})), 64,
                  kNtfsCorrupt, Text("ab")},
        Lznt1Case{"ReferenceFirst", Chunk(Tokens({Ref(1, 3)})), 64, kNtfsCorrupt, {}},
        Lznt1Case{"ReferenceBeforeTheSecondChunk",
                  Cat({Chunk(Text("abc"), false), Chunk(Tokens({Lit('x'), Ref(2, 3)}))}), 16384,
                  kNtfsCorrupt,
                  []
                  {
                      Bytes b = Text("abc");
                      b.resize(4096, 0);
                      b.push_back('x');
                      return b;
                  }()},
        Lznt1Case{"ChunkPastItsSize", Chunk(Tokens({Lit('x'), Ref(1, 4095), Lit('y')})), 8192,
                  kNtfsCorrupt, Repeat("x", 4096)},
        Lznt1Case{"ReferencePastTheChunk", Chunk(Tokens({Lit('x'), Ref(1, 4090), Ref(1, 10)})),
                  8192, kNtfsCorrupt, Repeat("x", 4096)}),
    [](const ::testing::TestParamInfo<Lznt1Case>& p) { return std::string(p.param.label); });

// The split of a reference between offset and length at each position where it changes: the
// length field has 12 bits up to position 16 and one fewer after each power of two. The
// reference names the chunk's first byte, the farthest it may reach.
TEST(NtfsLznt1SplitTest, OffsetReachesTheChunkStartAtEveryPosition)
{
    const struct
    {
        u32 pos;
        u32 lengthBits;
    } kSplits[] = {{16, 12},  {17, 11},  {32, 11},  {33, 10}, {64, 10}, {65, 9},
                   {128, 9},  {129, 8},  {256, 8},  {257, 7}, {512, 7}, {513, 6},
                   {1024, 6}, {1025, 5}, {2048, 5}, {2049, 4}};
    for (const auto& s : kSplits)
    {
        SCOPED_TRACE(s.pos);
        const Bytes prefix = Pattern(s.pos);
        const u32 length = 3 + s.pos % 7;
        const u32 raw = ((s.pos - 1) << s.lengthBits) | (length - 3);
        // The prefix as literals, then the reference as the next token.
        Bytes data;
        std::size_t tag = 0;
        for (std::size_t i = 0; i <= prefix.size(); ++i)
        {
            if (i % 8 == 0)
            {
                tag = data.size();
                data.push_back(0);
            }
            if (i < prefix.size())
                data.push_back(prefix[i]);
        }
        data[tag] = static_cast<u8>(data[tag] | (1u << (prefix.size() % 8)));
        data.insert(data.end(), {static_cast<u8>(raw), static_cast<u8>(raw >> 8)});
        const Bytes in = Chunk(data);
        Bytes out(4096);
        std::size_t produced = 0;
        ASSERT_EQ(DecompressLznt1(in.data(), in.size(), out.data(), out.size(), &produced),
                  kNtfsOk);
        ASSERT_EQ(produced, s.pos + length);
        EXPECT_TRUE(std::equal(out.begin() + s.pos, out.begin() + s.pos + length, prefix.begin()));
    }
}

// A compression unit libntfs-3g wrote, whole, into a smaller buffer, and cut short.
TEST(NtfsLznt1SampleTest, DecompressesWhatNtfs3gWrote)
{
    const Bytes text = SampleText(8300);
    const Bytes sample(std::begin(ntfstest::kLznt1Sample), std::end(ntfstest::kLznt1Sample));
    Bytes out(65536, 0xEE);
    std::size_t produced = 0;
    ASSERT_EQ(DecompressLznt1(sample.data(), sample.size(), out.data(), out.size(), &produced),
              kNtfsOk);
    ASSERT_EQ(produced, text.size());
    EXPECT_TRUE(std::equal(text.begin(), text.end(), out.begin()));

    Bytes small(5000);
    ASSERT_EQ(DecompressLznt1(sample.data(), sample.size(), small.data(), small.size(), &produced),
              kNtfsOk);
    ASSERT_EQ(produced, small.size());
    EXPECT_TRUE(std::equal(small.begin(), small.end(), text.begin()));

    // Cut inside the second chunk: the first chunk and part of the second come out right.
    const Bytes cut(sample.begin(), sample.begin() + 800);
    ASSERT_EQ(DecompressLznt1(cut.data(), cut.size(), out.data(), out.size(), &produced),
              kNtfsCorrupt);
    EXPECT_GT(produced, 4096u);
    EXPECT_LT(produced, text.size());
    EXPECT_TRUE(
        std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(produced), text.begin()));
}
