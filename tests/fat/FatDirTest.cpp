// Directory entries and long names decoded from crafted directory blocks.
#include "fat/FatDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"

namespace
{
// Builds a directory block entry by entry, the way a FAT driver lays names out.
class DirBlock
{
public:
    // Appends a short entry; returns its byte offset.
    s32 Short(const char* name11, u8 attr, u32 cluster = 5, u32 size = 100)
    {
        u8 e[32] = {};
        std::memcpy(e, name11, 11);
        e[11] = attr;
        e[13] = 150;                                            // 10 ms count above 99: +1 s
        StoreLe16(e + 14, (10 << 11) | (20 << 5) | 15);         // 10:20:30
        StoreLe16(e + 16, ((2021 - 1980) << 9) | (3 << 5) | 4); // 2021-03-04
        StoreLe16(e + 18, ((2022 - 1980) << 9) | (6 << 5) | 7); // access 2022-06-07
        StoreLe16(e + 20, static_cast<u16>(cluster >> 16));
        StoreLe16(e + 22, (1 << 11));
        StoreLe16(e + 24, ((2020 - 1980) << 9) | (1 << 5) | 2);
        StoreLe16(e + 26, static_cast<u16>(cluster));
        StoreLe32(e + 28, size);
        bytes.insert(bytes.end(), e, e + 32);
        return static_cast<s32>(bytes.size() - 32);
    }

    // Appends the long-name parts of name for the short name name11 (the part holding the
    // first characters last, next to the short entry), then the short entry itself.
    s32 Long(const std::u16string& name, const char* name11, u8 attr, bool deleted = false)
    {
        u8 shortName[11];
        std::memcpy(shortName, name11, 11);
        u8 sum = ShortNameChecksum(shortName);
        std::u16string chars = name;
        if (chars.size() % 13 != 0)
            chars.push_back(0);
        while (chars.size() % 13 != 0)
            chars.push_back(0xFFFF);
        size_t parts = chars.size() / 13;
        static const int kPos[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (size_t n = parts; n >= 1; --n)
        {
            u8 e[32] = {};
            e[0] = deleted ? 0xE5 : static_cast<u8>(n | (n == parts ? 0x40 : 0));
            e[11] = 0x0F;
            e[13] = sum;
            for (int i = 0; i < 13; ++i)
                StoreLe16(e + kPos[i], chars[(n - 1) * 13 + i]);
            bytes.insert(bytes.end(), e, e + 32);
        }
        char stored[11];
        std::memcpy(stored, name11, 11);
        if (deleted)
            stored[0] = static_cast<char>(0xE5);
        return Short(stored, attr);
    }

    std::vector<u8> bytes;
};

std::string Decode(const DirBlock& block, s32 offset)
{
    FatDirBuffer buffer;
    buffer.Attach(block.bytes.data(), static_cast<u32>(block.bytes.size()));
    FatEntryInfo info;
    DecodeEntry(buffer, info, offset);
    return info.name;
}

std::u16string Repeat(char16_t c, size_t n)
{
    return std::u16string(n, c);
}
} // namespace

TEST(FatDir, ShortNameChecksumMatchesKnownValues)
{
    EXPECT_EQ(ShortNameChecksum(reinterpret_cast<const u8*>("FILE    TXT")), 0x19);
    EXPECT_EQ(ShortNameChecksum(reinterpret_cast<const u8*>("FINALR~1TXT")), 0xE9);
}

struct LongNameCase
{
    const char* scenario;
    std::u16string longName;
    const char* shortName;
    bool deleted;
    std::string expected;
};

class FatDirLongName : public ::testing::TestWithParam<LongNameCase>
{
};

TEST_P(FatDirLongName, DecodesName)
{
    const LongNameCase& c = GetParam();
    DirBlock block;
    block.Short("VOLUME     ", 0x08);
    s32 at = block.Long(c.longName, c.shortName, 0x20, c.deleted);
    block.Short("AFTER   TXT", 0x20);
    EXPECT_EQ(Decode(block, at), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FatDirLongName,
    ::testing::Values(
        LongNameCase{"ThirteenCharactersNoTerminator", u"Thirteen.char", "THIRTE~1CHA", false,
                     "Thirteen.char"},
        LongNameCase{"FourteenCharactersTwoParts", u"Fourteen.chars", "FOURTE~1CHA", false,
                     "Fourteen.chars"},
        LongNameCase{"DeletedLowerCaseFirstLetter", u"final report.txt", "FINALR~1TXT", true,
                     "final report.txt"},
        LongNameCase{"DeletedLongNameOfThreeParts", u"Deleted Long Name Over Two Parts.txt",
                     "DELETE~1TXT", true, "Deleted Long Name Over Two Parts.txt"},
        // The first byte rebuilt from the long name ('.') fails the checksum: the one byte that
        // gives it is found, and the long name kept.
        LongNameCase{"DeletedNameStartingWithDotKeepsLongName", u".profile backup", "PROFIL~1   ",
                     true, ".profile backup"},
        LongNameCase{"DeletedNonAsciiNameKeepsLongName",
                     u"\u043F\u0440\u0438\u0432\u0435\u0442.txt", "______~1TXT", true,
                     "\u043F\u0440\u0438\u0432\u0435\u0442.txt"},
        LongNameCase{"CharacterWithFFByteEndsName", u"ab\u00FFcd.txt", "ABCD~1  TXT", false, "ab"},
        LongNameCase{"NonLatinName", u"\u6587\u4EF6\u540D.txt", "6587~1  TXT", false,
                     "\u6587\u4EF6\u540D.txt"},
        LongNameCase{"SurrogatePair", u"x\U0001F600.txt", "X~1     TXT", false, "x\U0001F600.txt"},
        LongNameCase{"UnpairedSurrogateBecomesReplacement", u"a\xD800z.txt", "AZ~1    TXT", false,
                     "a\uFFFDz.txt"},
        LongNameCase{"NameOfOver128CharactersKeptWhole", Repeat(u'n', 140), "NNNNNN~1   ", false,
                     std::string(140, 'n')},
        LongNameCase{"NameOf255CharactersKeptWhole", Repeat(u'n', 255), "NNNNNN~1   ", true,
                     std::string(255, 'n')},
        LongNameCase{"NonLatinNameOf128CharactersKeptWhole", Repeat(u'\u4E2D', 128), "4E2D~1     ",
                     false,
                     []
                     {
                         std::string s;
                         for (int i = 0; i < 128; ++i)
                             s += "\u4E2D";
                         return s;
                     }()}),
    [](const ::testing::TestParamInfo<LongNameCase>& p) { return p.param.scenario; });

TEST(FatDir, ShortNameFallbacks)
{
    DirBlock block;
    s32 deleted = block.Short("\xE5ILE    TXT", 0x20);
    s32 oneLetterExt = block.Short("ABC     D  ", 0x20);
    s32 noExt = block.Short("README     ", 0x20);
    s32 oem = block.Short("M\x81LLER  TXT", 0x20);
    s32 dot = block.Short(".          ", 0x10);
    block.Short("LAST    TXT", 0x20);
    EXPECT_EQ(Decode(block, deleted), "_ILE.TXT");
    EXPECT_EQ(Decode(block, oneLetterExt), "ABC.D  ");
    EXPECT_EQ(Decode(block, noExt), "README");
    EXPECT_EQ(Decode(block, oem), "M\u00FCLLER.TXT");
    EXPECT_EQ(Decode(block, dot), ".");
}

TEST(FatDir, CaseFlagsOfShortNamesWithoutLongName)
{
    struct Case
    {
        const char* name11;
        u8 flags; // byte 12
        const char* expected;
    };
    const Case cases[] = {
        {"README  TXT", 0x18, "readme.txt"},  {"README  TXT", 0x08, "readme.TXT"},
        {"README  TXT", 0x10, "README.txt"},  {"README  TXT", 0x00, "README.TXT"},
        {"\xE5ONE    TXT", 0x18, "_one.txt"}, {"A1_B    C9 ", 0x18, "a1_b.c9 "},
        {"NOEXT      ", 0x08, "noext"},
    };
    for (const Case& c : cases)
    {
        DirBlock block;
        s32 at = block.Short(c.name11, 0x20);
        block.bytes[static_cast<std::size_t>(at) + 12] = c.flags;
        block.Short("LAST    TXT", 0x20);
        EXPECT_EQ(Decode(block, at), c.expected) << c.name11 << " " << int(c.flags);
    }
    // With a long name the flags do not count.
    DirBlock block;
    s32 at = block.Long(u"Mixed Case.txt", "MIXEDC~1TXT", 0x20);
    block.bytes[static_cast<std::size_t>(at) + 12] = 0x18;
    block.Short("LAST    TXT", 0x20);
    EXPECT_EQ(Decode(block, at), "Mixed Case.txt");
}

TEST(FatDir, LongNameWithOtherChecksumFallsBackToShortName)
{
    DirBlock block;
    block.Long(u"Some Long Name.txt", "SOMELO~1TXT", 0x20);
    block.bytes.resize(block.bytes.size() - 32);
    s32 at = block.Short("OTHER   TXT", 0x20);
    EXPECT_EQ(Decode(block, at), "OTHER.TXT");
}

TEST(FatDir, LongNamePartsBeforeBlockStartAreOutOfReach)
{
    DirBlock full;
    full.Long(u"Straddling Long Name.txt", "STRADD~1TXT", 0x20, true); // two parts
    full.Short("NEXT    TXT", 0x20);
    FatEntryInfo info;
    FatDirBuffer buffer;
    // Only the part with the first 13 characters lies in the block: the parts are read as far
    // as the block reaches.
    std::vector<u8> onepart(full.bytes.end() - 96, full.bytes.end());
    buffer.Attach(onepart.data(), static_cast<u32>(onepart.size()));
    DecodeEntry(buffer, info, 32);
    EXPECT_STREQ(info.name, "Straddling Lo");
    // The block starts at the short entry: nothing in front of it, so the 8.3 name is used.
    std::vector<u8> none(full.bytes.end() - 64, full.bytes.end());
    buffer.Attach(none.data(), static_cast<u32>(none.size()));
    DecodeEntry(buffer, info, 0);
    EXPECT_STREQ(info.name, "_TRADD~1.TXT");
}

TEST(FatDir, DecodesTimesClusterAndSize)
{
    DirBlock block;
    s32 at = block.Short("DATA    BIN", 0x20, 0x00120034, 123456);
    block.Short("LAST    TXT", 0x20);
    FatDirBuffer buffer;
    buffer.Attach(block.bytes.data(), static_cast<u32>(block.bytes.size()));
    FatEntryInfo info;
    DecodeEntry(buffer, info, at);
    EXPECT_EQ(info.attr, 0x20);
    EXPECT_EQ(info.firstCluster, 0x00120034u);
    EXPECT_EQ(info.size, 123456u);
    EXPECT_EQ(info.created, (FoundTime{2021, 3, 4, 10, 20, 31}));
    EXPECT_EQ(info.accessed, (FoundTime{2022, 6, 7, 10, 20, 30}));
    EXPECT_EQ(info.written, (FoundTime{2020, 1, 2, 1, 0, 0}));
}

TEST(FatDir, BadOffsetsLeaveInfoUntouched)
{
    DirBlock block;
    block.Short("DATA    BIN", 0x20);
    block.Short("LAST    TXT", 0x20);
    FatDirBuffer buffer;
    buffer.Attach(block.bytes.data(), static_cast<u32>(block.bytes.size()));
    for (s32 offset : {-32, 7, 64, 1 << 30})
    {
        FatEntryInfo info;
        std::strcpy(info.name, "untouched");
        info.size = 77;
        DecodeEntry(buffer, info, offset);
        EXPECT_STREQ(info.name, "untouched") << offset;
        EXPECT_EQ(info.size, 77u) << offset;
    }
}

TEST(FatDir, ReadLongNameCutsAtCharacterBoundaryOfSmallBuffer)
{
    DirBlock block;
    s32 at = block.Long(u"\u00E9\u00E9\u00E9.txt", "EEE~1   TXT", 0x20);
    FatDirBuffer buffer;
    buffer.Attach(block.bytes.data(), static_cast<u32>(block.bytes.size()));
    char out[6];
    std::memset(out, 'x', sizeof out);
    u32 size = sizeof out;
    int n = ReadLongName(buffer, out, size,
                         ShortNameChecksum(reinterpret_cast<const u8*>("EEE~1   TXT")), at - 32);
    EXPECT_EQ(n, 4);
    EXPECT_STREQ(out, "\u00E9\u00E9");
}

// A 0xFF byte anywhere among a part's 26 name bytes ends the name in front of it (a unit cut
// in half is dropped, and a name cut to nothing gives the short name); a part without one is
// read whole.
TEST(FatDir, PaddingByteAtEachPlaceOfAPartEndsTheName)
{
    static const int kNameBytes[26] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 14, 15, 16,
                                       17, 18, 19, 20, 21, 22, 23, 24, 25, 28, 29, 30, 31};
    const std::string chars = "ABCDEFGHIJKLM";
    for (int k = 0; k <= 26; ++k)
    {
        DirBlock block;
        s32 at = block.Long(u"ABCDEFGHIJKLM", "ABCDEF~1   ", 0x20);
        if (k < 26)
            block.bytes[static_cast<std::size_t>(at - 32 + kNameBytes[k])] = 0xFF;
        EXPECT_EQ(Decode(block, at),
                  k < 2 ? "ABCDEF~1" : chars.substr(0, static_cast<std::size_t>(k / 2)))
            << k;
    }
}

TEST(FatDir, AttachRecordsRealEntriesExceptTheLast)
{
    DirBlock block;
    block.Long(u"Long Name Here.txt", "LONGNA~1TXT", 0x20); // parts 0-1, short entry 2
    block.bytes.resize(block.bytes.size() + 32);            // entry 3: all zero
    block.Short("SECOND  TXT", 0x20);                       // entry 4
    block.Short("LAST    TXT", 0x20);                       // entry 5: the block's last
    FatDirBuffer buffer;
    buffer.Attach(block.bytes.data(), static_cast<u32>(block.bytes.size()));
    ASSERT_EQ(buffer.IndexCount(), 2u);
    EXPECT_EQ(buffer.Index(0), 2);
    EXPECT_EQ(buffer.Index(1), 4);
    EXPECT_EQ(buffer.Index(2), -1);
}

TEST(FatDir, AttachStopsAfterThousandEntries)
{
    std::vector<u8> bytes(1200 * 32, 0);
    for (size_t i = 0; i < 1200; ++i)
        std::memcpy(&bytes[i * 32], "ENTRY   TXT", 11);
    FatDirBuffer buffer;
    buffer.Attach(bytes.data(), static_cast<u32>(bytes.size()));
    EXPECT_EQ(buffer.IndexCount(), 1000u);
    EXPECT_EQ(buffer.Index(999), 999);
}

struct DosTimeCase
{
    const char* scenario;
    u32 year, month, day, hour, minute, seconds2;
    u8 tenMs;
    FoundTime expected;
};

class FatDirDosTime : public ::testing::TestWithParam<DosTimeCase>
{
};

TEST_P(FatDirDosTime, Decodes)
{
    const DosTimeCase& c = GetParam();
    u16 date = static_cast<u16>(((c.year - 1980) << 9) | (c.month << 5) | c.day);
    u16 time = static_cast<u16>((c.hour << 11) | (c.minute << 5) | c.seconds2);
    FoundTime t;
    DecodeDosTime(t, date, time, c.tenMs);
    EXPECT_EQ(t, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Times, FatDirDosTime,
    ::testing::Values(
        DosTimeCase{"TenMsAbove99AddsSecond", 2021, 3, 4, 5, 6, 4, 100, {2021, 3, 4, 5, 6, 9}},
        DosTimeCase{"MonthZeroBecomesOne", 2000, 0, 0, 0, 0, 0, 0, {2000, 1, 1, 0, 0, 0}},
        DosTimeCase{"MonthFifteenBecomesTwelve", 2000, 15, 10, 0, 0, 0, 0, {2000, 12, 10, 0, 0, 0}},
        DosTimeCase{"FebruaryLeapCappedAt29", 2024, 2, 31, 0, 0, 0, 0, {2024, 2, 29, 0, 0, 0}},
        DosTimeCase{"February2100NotLeap", 2100, 2, 29, 0, 0, 0, 0, {2100, 2, 28, 0, 0, 0}},
        DosTimeCase{"April31Becomes30", 2001, 4, 31, 0, 0, 0, 0, {2001, 4, 30, 0, 0, 0}},
        DosTimeCase{"Hour24AndMinute60Kept", 2001, 5, 1, 24, 60, 0, 0, {2001, 5, 1, 24, 60, 0}},
        DosTimeCase{
            "OutOfRangeTimeBecomesZero", 2001, 5, 1, 25, 61, 30, 150, {2001, 5, 1, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<DosTimeCase>& p) { return p.param.scenario; });
