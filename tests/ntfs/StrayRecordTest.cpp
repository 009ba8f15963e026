// ParseStrayRecord on records found away from any MFT: what it takes from a good one, and every
// kind of record it turns away.
#include <gtest/gtest.h>

#include <functional>

#include "ntfs/NtfsRecordBuilder.h"
#include "ntfs/NtfsResult.h"
#include "ntfs/StrayRecord.h"

using namespace ntfstest;

namespace
{
RecordLayout Named(std::vector<FileName> names, RecordLayout::Data data)
{
    RecordLayout s;
    s.flags = 1;
    s.sequence = 7;
    s.created = 0x01D0000000000000;
    s.accessed = 0x01D0000000000001;
    s.names = std::move(names);
    s.data = data;
    s.value.assign(20, 'v');
    s.runList = {0x11, 0x03, 0x20, 0x00};
    s.dataSize = 9000;
    return s;
}

std::vector<u8> Numbered(const RecordLayout& layout, u32 number)
{
    std::vector<u8> r = BuildRecord(layout);
    StoreLe32(&r[0x2C], number);
    StoreLe64(&r[0x08], 0x1234);
    return r;
}
} // namespace

TEST(StrayRecordTest, TakesNamesTimesAndData)
{
    // A DOS name first gives way to the Win32 name after it, parent reference and all.
    std::vector<u8> r =
        Numbered(Named({FileName{u"LONGNA~1.TXT", 40, 2, 2}, FileName{u"long name.txt", 41, 3, 1}},
                       RecordLayout::Data::NonResident),
                 77);
    StrayRecord out;
    ASSERT_EQ(ParseStrayRecord(r.data(), r.size(), &out), kNtfsOk);
    EXPECT_EQ(out.number, 77u);
    EXPECT_EQ(out.sequence, 7u);
    EXPECT_EQ(out.lsn, 0x1234u);
    EXPECT_EQ(out.recordBytes, 1024u);
    EXPECT_TRUE(out.inUse);
    EXPECT_FALSE(out.folder);
    EXPECT_EQ(out.name, "long name.txt");
    EXPECT_EQ(out.parentReference, 41u | (u64{3} << 48));
    EXPECT_EQ(out.created, 0x01D0000000000000);
    EXPECT_EQ(out.accessed, 0x01D0000000000001);
    EXPECT_EQ(out.size, 9000u);
    EXPECT_FALSE(out.resident);
    EXPECT_EQ(out.runList.front(), 0x11);

    r = Numbered(Named({FileName{u"a.txt", 5, 5, 1}}, RecordLayout::Data::Resident), 78);
    ASSERT_EQ(ParseStrayRecord(r.data(), r.size(), &out), kNtfsOk);
    EXPECT_TRUE(out.resident);
    EXPECT_EQ(out.size, 20u);
    EXPECT_EQ(std::string(r.begin() + out.valueOffset, r.begin() + out.valueOffset + 20),
              std::string(20, 'v'));
}

TEST(StrayRecordTest, TurnsAwayWhatIsNoNamedBaseRecord)
{
    const std::vector<u8> good =
        Numbered(Named({FileName{u"a.txt", 5, 5, 1}}, RecordLayout::Data::Resident), 78);
    struct Case
    {
        const char* what;
        std::function<void(std::vector<u8>&)> damage;
        std::size_t size; // bytes handed in; 0: the whole record
    };
    const Case cases[] = {
        {"no FILE signature", [](std::vector<u8>& r) { r[0] = 'B'; }, 0},
        {"a torn stride", [](std::vector<u8>& r) { r[510] ^= 1; }, 0},
        {"an extension record", [](std::vector<u8>& r) { StoreLe64(&r[0x20], 16); }, 0},
        {"no room for its number", [](std::vector<u8>& r) { StoreLe16(&r[0x04], 0x2A); }, 0},
        {"more bytes allocated than read", [](std::vector<u8>&) {}, 512},
        {"bytes in use past the record", [](std::vector<u8>& r) { StoreLe32(&r[0x18], 4096); }, 0},
        {"no $FILE_NAME", [](std::vector<u8>& r) { StoreLe32(&r[0x38 + 0x60], 0x40); }, 0},
        {"a file without $DATA",
         [](std::vector<u8>& r)
         {
             // The $DATA attribute's type becomes the end marker.
             for (u32 at = 0x38; at < 0x200;)
             {
                 if (LoadLe32(&r[at]) == 0x80)
                 {
                     StoreLe32(&r[at], 0xFFFFFFFF);
                     break;
                 }
                 at += LoadLe32(&r[at + 4]);
             }
         },
         0},
    };
    for (const Case& c : cases)
    {
        std::vector<u8> r = good;
        c.damage(r);
        StrayRecord out;
        EXPECT_EQ(ParseStrayRecord(r.data(), c.size != 0 ? c.size : r.size(), &out), kNtfsCorrupt)
            << c.what;
    }
    // A folder needs no $DATA.
    RecordLayout folder = Named({FileName{u"dir", 5, 5, 1}}, RecordLayout::Data::None);
    folder.flags = 3;
    std::vector<u8> r = Numbered(folder, 90);
    StrayRecord out;
    ASSERT_EQ(ParseStrayRecord(r.data(), r.size(), &out), kNtfsOk);
    EXPECT_TRUE(out.folder);
    EXPECT_EQ(out.size, 0u);
    EXPECT_EQ(StrayRecordBytes(r.data(), r.size()), 1024u);
    EXPECT_EQ(StrayRecordBytes(r.data(), 16), 0u);
}
