// The Recycle Bin's records as bytes: $I records of both versions, INFO2 files, the levels an
// original path gives below the made-up folder, and the names of the bin's files.
#include "scan/RecycleRecords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ByteOrder.h"

namespace
{
constexpr u64 kWhen = 0x01D710B9A1B2C3D4ull;

std::vector<u8> Utf16(const std::u16string& text)
{
    std::vector<u8> out;
    for (char16_t unit : text)
    {
        out.push_back(static_cast<u8>(unit & 0xFF));
        out.push_back(static_cast<u8>(unit >> 8));
    }
    return out;
}

// A $I record: version 1 pads the path (and its U+0000) to 260 units, version 2 counts them.
std::vector<u8> IndexRecord(u64 version, const std::u16string& path, u64 size = 3000)
{
    std::vector<u8> out(24);
    StoreLe64(&out[0], version);
    StoreLe64(&out[8], size);
    StoreLe64(&out[16], kWhen);
    std::vector<u8> text = Utf16(path + u'\0');
    if (version == 1)
    {
        text.resize(520, 0);
    }
    else
    {
        u8 units[4];
        StoreLe32(units, static_cast<u32>(text.size() / 2));
        out.insert(out.end(), units, units + 4);
    }
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

// An INFO2 record of recordSize bytes (800, or 280 without the UTF-16 path).
std::vector<u8> Info2Record(u32 recordSize, const std::string& ansi, u32 index, u32 drive,
                            const std::u16string& unicode)
{
    std::vector<u8> out(recordSize, 0);
    std::copy(ansi.begin(), ansi.end(), out.begin());
    StoreLe32(&out[0x104], index);
    StoreLe32(&out[0x108], drive);
    StoreLe64(&out[0x10C], kWhen);
    StoreLe32(&out[0x114], 800);
    if (recordSize >= 800)
    {
        std::vector<u8> text = Utf16(unicode);
        std::copy(text.begin(), text.end(), out.begin() + 0x118);
    }
    return out;
}

std::vector<u8> Info2(u32 recordSize, const std::vector<std::vector<u8>>& records)
{
    std::vector<u8> out(20, 0);
    StoreLe32(&out[0], 5);
    StoreLe32(&out[12], recordSize);
    for (const std::vector<u8>& record : records)
        out.insert(out.end(), record.begin(), record.end());
    return out;
}
} // namespace

TEST(RecycleRecords, IndexRecordsOfBothVersions)
{
    const std::u16string path = u"C:\\Users\\Alice\\Documents\\Quarterly Report \u00e9.txt";
    const std::string utf8 = "C:\\Users\\Alice\\Documents\\Quarterly Report \xc3\xa9.txt";
    std::vector<u8> shortV1 = IndexRecord(1, u"C:\\a.txt");
    shortV1.resize(24 + 2 * 8); // a writer that left the padding out
    std::vector<u8> overrun = IndexRecord(2, path);
    StoreLe32(&overrun[24], static_cast<u32>(path.size() + 2));
    std::vector<u8> huge = IndexRecord(2, path);
    StoreLe32(&huge[24], 0xFFFFFFFFu);
    std::vector<u8> zeroUnits = IndexRecord(2, path);
    StoreLe32(&zeroUnits[24], 0);
    std::vector<u8> truncated = IndexRecord(2, path);
    truncated.resize(26);
    struct Case
    {
        const char* what;
        std::vector<u8> bytes;
        bool valid;
        std::string path;
    };
    const Case cases[] = {
        {"version 2", IndexRecord(2, path), true, utf8},
        {"version 1", IndexRecord(1, path), true, utf8},
        {"version 1 without padding", shortV1, true, "C:\\a.txt"},
        {"unknown version", IndexRecord(3, path), false, ""},
        {"length past the bytes", overrun, false, ""},
        {"length past any path", huge, false, ""},
        {"length zero", zeroUnits, false, ""},
        {"empty path", IndexRecord(2, u""), false, ""},
        {"cut in the length", truncated, false, ""},
        {"header only", std::vector<u8>(24, 0), false, ""},
        {"nothing", {}, false, ""},
    };
    for (const Case& c : cases)
    {
        RecycledOrigin origin;
        ASSERT_EQ(ParseRecycleIndex(c.bytes, &origin), c.valid) << c.what;
        if (!c.valid)
            continue;
        EXPECT_EQ(origin.path, c.path) << c.what;
        EXPECT_EQ(origin.size, 3000u) << c.what;
        EXPECT_EQ(origin.deletedAt, kWhen) << c.what;
    }
}

TEST(RecycleRecords, Info2Records)
{
    const std::string budget = "C:\\Documents and Settings\\Bob\\Desktop\\budget.xls";
    const std::u16string budget16 = u"C:\\Documents and Settings\\Bob\\Desktop\\budget.xls";
    // A file taken out of the bin: the first byte of its ANSI path cleared, drive 3 (D:).
    std::string cleared = "D:\\old.txt";
    cleared[0] = '\0';
    struct Case
    {
        const char* what;
        std::vector<u8> bytes;
        std::vector<std::pair<u32, std::string>> records;
    };
    const Case cases[] = {
        {"two records",
         Info2(800, {Info2Record(800, budget, 1, 2, budget16),
                     Info2Record(800, "C:\\x.doc", 7, 2, u"C:\\x \u00fc.doc")}),
         {{1, budget}, {7, "C:\\x \xc3\xbc.doc"}}},
        {"ANSI paths only",
         Info2(280, {Info2Record(280, "C:\\a\xe9.txt", 2, 2, u"")}),
         {{2, "C:\\a\xc3\xa9.txt"}}},
        {"first byte cleared",
         Info2(280, {Info2Record(280, cleared, 4, 3, u"")}),
         {{4, "D:\\old.txt"}}},
        {"empty record left out",
         Info2(800, {Info2Record(800, "", 5, 2, u""), Info2Record(800, budget, 6, 2, budget16)}),
         {{6, budget}}},
        {"record cut short is left out",
         [&]
         {
             std::vector<u8> bytes = Info2(800, {Info2Record(800, budget, 1, 2, budget16)});
             bytes.resize(bytes.size() - 1);
             return bytes;
         }(),
         {}},
        {"record size too small", Info2(100, {std::vector<u8>(400, 'A')}), {}},
        {"record size too large", Info2(0x20000, {Info2Record(800, budget, 1, 2, budget16)}), {}},
        {"header cut short", std::vector<u8>(19, 0), {}},
    };
    for (const Case& c : cases)
    {
        std::vector<std::pair<u32, std::string>> got;
        for (const RecycledOrigin& origin : ParseInfo2(c.bytes))
            got.emplace_back(origin.index, origin.path);
        EXPECT_EQ(got, c.records) << c.what;
    }
}

TEST(RecycleRecords, LevelsBelowTheMadeUpFolder)
{
    struct Case
    {
        const char* path;
        std::vector<std::string> levels;
    };
    const Case cases[] = {
        {"C:\\Users\\Alice\\a.txt", {"Users", "Alice", "a.txt"}},
        {"d:\\a.txt", {"a.txt"}},
        {"\\\\server\\share\\x.doc", {"server", "share", "x.doc"}},
        {"C:\\..\\..\\etc\\passwd", {"_..", "_..", "etc", "passwd"}},
        {"C:\\a\\.\\b//c", {"a", "b", "c"}},
        {"C:\\Old Project", {"Old Project"}},
        {"C:\\", {}},
        {"C:", {}},
        {"", {}},
        {"\\\\..", {"_.."}},
    };
    for (const Case& c : cases)
    {
        std::vector<std::string> levels{"left over"};
        EXPECT_EQ(RecycledLevels(c.path, &levels), !c.levels.empty()) << c.path;
        EXPECT_EQ(levels, c.levels) << c.path;
    }
}

TEST(RecycleRecords, NamesOfTheBinsFiles)
{
    struct Case
    {
        const char* name;
        RecycleName kind;
        const char* suffix;
        u32 number;
    };
    const Case cases[] = {
        {"$IABC123.txt", RecycleName::kIndex, "ABC123.txt", 0},
        {"$RABC123.txt", RecycleName::kData, "ABC123.txt", 0},
        {"_IABC123.TXT", RecycleName::kIndex, "ABC123.TXT", 0},
        {"_rdef456", RecycleName::kData, "def456", 0},
        {"INFO2", RecycleName::kInfo2, "", 0},
        {"_NFO2", RecycleName::kInfo2, "", 0},
        {"Dc12.xls", RecycleName::kDc, "", 12},
        {"_C1.XLS", RecycleName::kDc, "", 1},
        {"DC7", RecycleName::kDc, "", 7},
        {"Dc4294967295.x", RecycleName::kDc, "", 4294967295u},
        {"Dc4294967296.x", RecycleName::kOther, "", 0},
        {"Dcx.txt", RecycleName::kOther, "", 0},
        {"Dc1x.txt", RecycleName::kOther, "", 0},
        {"Dc.txt", RecycleName::kOther, "", 0},
        {"$I", RecycleName::kOther, "", 0},
        {"$XABC", RecycleName::kOther, "", 0},
        {"README", RecycleName::kOther, "", 0},
    };
    for (const Case& c : cases)
    {
        std::string_view suffix = "left over";
        u32 number = 99;
        EXPECT_EQ(ClassifyRecycleName(c.name, &suffix, &number), c.kind) << c.name;
        EXPECT_EQ(suffix, c.suffix) << c.name;
        EXPECT_EQ(number, c.number) << c.name;
    }
}
