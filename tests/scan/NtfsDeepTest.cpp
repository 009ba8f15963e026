// The NTFS deep search on crafted in-memory volumes: records found past the current MFT rebuilt
// into the old tree (lost parents, parent loops, copies of one record, records the normal search
// has), and the names of index records resolved against the current MFT.
#include <gtest/gtest.h>

#include "disk/Mem_RW.h"
#include "ntfs/NtfsRecordBuilder.h"
#include "scan/FindConditions.h"
#include "scan/ntfs/NtfsDeep.h"
#include "scan/ntfs/NtfsEngine.h"
#include "scan/ntfs/NtfsScan.h"
#include "scan/ntfs/NtfsVolumeState.h"
#include "support/RecordingSink.h"

using namespace ntfstest;

namespace
{
RecordLayout File(std::u16string name, u64 parent, u16 parentSeq, u16 flags = 0, u16 seq = 1)
{
    RecordLayout s;
    s.flags = flags;
    s.sequence = seq;
    s.names.push_back(FileName{std::move(name), parent, parentSeq, 1});
    s.data = RecordLayout::Data::Resident;
    s.value.assign(10, 'd');
    return s;
}

RecordLayout Folder(std::u16string name, u64 parent, u16 parentSeq, u16 flags = 3)
{
    RecordLayout s;
    s.flags = flags;
    s.names.push_back(FileName{std::move(name), parent, parentSeq, 1});
    return s;
}

// The record as it lies on disk, its header naming it number, with the LSN given.
std::vector<u8> Numbered(const RecordLayout& layout, u32 number, u64 lsn = 0)
{
    std::vector<u8> r = BuildRecord(layout);
    StoreLe32(&r[0x2C], number);
    StoreLe64(&r[0x08], lsn);
    return r;
}

// A record of the other size a volume may use (4096 bytes, where the boot sector says 1024)
// whose resident value, letters, spans strides.
std::vector<u8> BigRecord(u32 number, const std::u16string& name, std::size_t valueBytes)
{
    std::vector<u8> r(4096, 0);
    std::memcpy(r.data(), "FILE", 4);
    StoreLe16(&r[0x04], 0x30);
    StoreLe16(&r[0x06], 9); // USN + eight strides
    StoreLe16(&r[0x10], 1);
    StoreLe16(&r[0x14], 0x48);
    StoreLe16(&r[0x16], 1);
    StoreLe32(&r[0x1C], 4096);
    StoreLe32(&r[0x2C], number);
    u32 at = 0x48;
    auto put = [&](u32 type, const std::vector<u8>& value)
    {
        const u32 length = (0x18 + static_cast<u32>(value.size()) + 7) & ~7u;
        StoreLe32(&r[at], type);
        StoreLe32(&r[at + 4], length);
        StoreLe32(&r[at + 0x10], static_cast<u32>(value.size()));
        StoreLe16(&r[at + 0x14], 0x18);
        std::copy(value.begin(), value.end(), r.begin() + at + 0x18);
        at += length;
    };
    put(0x10, std::vector<u8>(0x48, 0));
    put(0x30, FileNameValue(FileName{name, 5, 5, 1}));
    std::vector<u8> value(valueBytes);
    for (std::size_t i = 0; i < valueBytes; ++i)
        value[i] = static_cast<u8>('a' + i % 26);
    put(0x80, value);
    StoreLe32(&r[at], 0xFFFFFFFF);
    StoreLe32(&r[0x18], at + 8);
    StoreLe16(&r[0x30], 0x0C0D);
    for (u32 k = 1; k <= 8; ++k)
    {
        std::memcpy(&r[0x30 + 2 * k], &r[k * 512 - 2], 2);
        StoreLe16(&r[k * 512 - 2], 0x0C0D);
    }
    return r;
}

u64 Ref(u64 record, u16 sequence)
{
    return record | (u64{sequence} << 48);
}

class NtfsDeepTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_bRunning = 1;
        m_catalog.m_sink = &m_sink;
    }
    void TearDown() override
    {
        NtfsEngine().ReleaseItems(m_entry);
        g_bRunning = 0;
    }

    // Opens image as drive "C:" and runs the normal search; returns the number of its finds.
    std::size_t Open(std::vector<u8> image)
    {
        m_entry.fsType = kFsNtfs;
        m_entry.engine = &NtfsEngine();
        m_entry.name = "C:";
        EXPECT_EQ(SetNtfsState(m_entry, std::make_unique<CNtfs>(std::make_unique<CMem_RW>(image)))
                      ->ntfs->Open("C:", 1),
                  kOk);
        EXPECT_EQ(ScanNtfsVolume(m_catalog, m_entry), kOk);
        return m_entry.items.size();
    }
    // "path\name" of the finds from index first on.
    std::vector<std::string> Texts(std::size_t first) const
    {
        std::vector<std::string> out;
        for (std::size_t i = first; i < m_entry.items.size(); ++i)
            out.push_back(m_entry.items[i].path + "\\" + m_entry.items[i].name);
        return out;
    }

    CCatalog m_catalog;
    RecordingSink m_sink;
    VolumeEntry m_entry;
};
} // namespace

// Records past the MFT (an earlier format's) are read in the one pass and rebuilt into their
// tree; a record slot of the current MFT is the normal search's whatever number its header says.
TEST_F(NtfsDeepTest, RebuildsTheOldTreeFromRecordsPastTheMft)
{
    VolumeBuilder vb(24);
    vb.Set(20, File(u"cur.txt", 5, 5));
    vb.Set(21, File(u"now.txt", 5, 5));
    vb.SetRaw(22, Numbered(File(u"inside.txt", 5, 5), 50)); // a slot of the current MFT
    std::vector<u8>& image = vb.Image();
    const std::size_t stray = image.size();
    image.resize(stray + 17 * 1024); // the last sector is past the volume
    StoreLe64(&image[0x28], image.size() / 512 - 1);
    auto put = [&](std::size_t slot, const std::vector<u8>& record)
    { std::memcpy(&image[stray + slot * 1024], record.data(), record.size()); };
    RecordLayout img = File(u"IMG_0001.JPG", 41, 1, 1);
    img.data = RecordLayout::Data::NonResident;
    img.runList = {0x11, 0x02, 0x28, 0x00}; // clusters 40 and 41
    img.dataSize = 2000;
    put(0, Numbered(Folder(u"DCIM", 5, 5), 40));
    put(1, Numbered(Folder(u"100CAM01", 40, 1), 41));
    put(2, Numbered(img, 42));
    put(3, Numbered(File(u"note.txt", 44, 1), 43));
    put(4, Numbered(Folder(u"A", 45, 1), 44)); // A and B name each other as parent
    put(5, Numbered(Folder(u"B", 44, 1), 45));
    put(6, Numbered(File(u"new name.txt", 5, 5), 46, 9));
    put(7, Numbered(File(u"old name.txt", 5, 5), 46, 5)); // an older copy of 46
    put(8, Numbered(File(u"cur.txt", 5, 5), 20));         // the current MFT's record 20
    put(9, Numbered(File(u"far.txt", 0xFFFFFFFFFFFF, 7), 0xFFFFFFFF));
    std::vector<u8> torn = Numbered(File(u"torn.txt", 5, 5), 47);
    torn[1022] ^= 1; // a stride without the update sequence number
    put(10, torn);
    put(11, BigRecord(49, u"big record.txt", 1500));
    put(15, Numbered(File(u"other.txt", 5, 5), 21)); // not the current MFT's record 21

    const std::size_t normal = Open(image);

    NtfsDeepHarvest harvest;
    ASSERT_TRUE(HarvestNtfsVolume(m_catalog, m_entry, &harvest));
    AddNtfsDeepFinds(m_catalog, m_entry, harvest);
    EXPECT_EQ(Texts(normal),
              (std::vector<std::string>{"C:\\other.txt", "C:\\DCIM", "C:\\DCIM\\100CAM01",
                                        "C:\\DCIM\\100CAM01\\IMG_0001.JPG", "C:\\Folder_1_\\B",
                                        "C:\\Folder_1_\\B\\A", "C:\\Folder_1_\\B\\A\\note.txt",
                                        "C:\\new name.txt", "C:\\big record.txt",
                                        "C:\\Folder_2_\\far.txt"}));
    for (std::size_t i = normal; i < m_entry.items.size(); ++i)
    {
        EXPECT_EQ(m_entry.items[i].deep, 1u) << i;
        EXPECT_EQ(m_entry.items[i].deleted, 1u) << i;
        EXPECT_EQ(m_entry.items[i].record, 0u) << i;
    }
    const FoundItem& photo = m_entry.items[normal + 3];
    EXPECT_EQ(photo.size, 2000u);
    EXPECT_EQ(photo.first, (stray + 2 * 1024) / 512);
    DataStream stream;
    ASSERT_EQ(NtfsEngine().DescribeStream(m_entry, photo, &stream), kOk);
    ASSERT_EQ(stream.extents.size(), 1u);
    EXPECT_EQ(stream.extents[0].lcn, 40u);
    EXPECT_EQ(stream.extents[0].length, 2u);
    // Resident data is read again from the stray record, fixups applied.
    const FoundItem& note = m_entry.items[normal + 6];
    ASSERT_EQ(NtfsEngine().DescribeStream(m_entry, note, &stream), kOk);
    EXPECT_EQ(std::string(stream.residentBytes.begin(), stream.residentBytes.end()),
              std::string(10, 'd'));
    // So is the value of a record of the other size, over its strides.
    ASSERT_EQ(NtfsEngine().DescribeStream(m_entry, m_entry.items[normal + 8], &stream), kOk);
    ASSERT_EQ(stream.residentBytes.size(), 1500u);
    for (std::size_t i = 0; i < 1500; ++i)
        ASSERT_EQ(stream.residentBytes[i], 'a' + i % 26) << i;
}

// Every name an index record gives, resolved against the current MFT: gone or reused records
// give data-less overwritten finds, a record that lost its name but keeps data gives its data,
// and names whose files are there (live, or found by the normal search) are not repeated.
TEST_F(NtfsDeepTest, ResolvesIndexNamesAgainstTheCurrentMft)
{
    VolumeBuilder vb(40);
    vb.Set(16, Folder(u"Photos", 5, 5));
    vb.Set(20, File(u"new.txt", 16, 1, 1, 2)); // in use, reused
    RecordLayout nameless = File(u"", 5, 5, 0, 2);
    nameless.names.clear();
    vb.Set(21, nameless); // freed, its $FILE_NAME gone, its data kept
    vb.Set(22, File(u"listed.txt", 16, 1, 0, 2));
    vb.Set(23, File(u"live.txt", 16, 1, 1, 1));
    vb.Set(24, File(u"orphan.txt", 35, 1)); // the normal search's lost parent Folder_1_
    const std::size_t normal = Open(vb.Image());
    ASSERT_EQ(Texts(0), (std::vector<std::string>{"C:\\Photos", "C:\\Photos\\listed.txt",
                                                  "C:\\Folder_1_\\orphan.txt"}));

    struct NameCase
    {
        u64 file;
        u64 parent;
        const char* name;
        u8 nameSpace;
        const char* text; // empty: no find
        bool overwritten;
        u64 record;
        u64 size;
    };
    const NameCase cases[] = {
        {Ref(20, 1), Ref(16, 1), "old.txt", 1, "C:\\Photos\\old.txt", true, 0, 1234},
        {Ref(21, 1), Ref(16, 1), "kept.txt", 1, "C:\\Photos\\kept.txt", false, 21, 10},
        {Ref(22, 1), Ref(16, 1), "listed.txt", 1, "", false, 0, 0},
        {Ref(23, 1), Ref(16, 1), "live.txt", 3, "", false, 0, 0},
        {Ref(300, 1), Ref(77, 3), "gone.txt", 1, "C:\\Folder_2_\\gone.txt", true, 0, 1234},
        {Ref(20, 1), Ref(16, 1), "old.txt", 1, "", false, 0, 0},   // the same name again
        {Ref(20, 1), Ref(16, 1), "OLD~1.TXT", 2, "", false, 0, 0}, // its DOS twin
        {Ref(21, 5), Ref(16, 1), "other.txt", 1, "C:\\Photos\\other.txt", true, 0, 1234},
        {Ref(3, 3), Ref(5, 5), "$LogFile", 3, "", false, 0, 0},
    };
    NtfsDeepHarvest harvest;
    for (const NameCase& c : cases)
    {
        IndexNameEntry e;
        e.fileReference = c.file;
        e.parentReference = c.parent;
        e.name = c.name;
        e.nameSpace = c.nameSpace;
        e.realSize = 1234;
        e.inSlack = true;
        harvest.names.push_back(e);
    }
    AddNtfsDeepFinds(m_catalog, m_entry, harvest);
    AssessConditions(m_entry);
    std::size_t at = normal;
    for (const NameCase& c : cases)
    {
        if (std::string(c.text).empty())
            continue;
        ASSERT_LT(at, m_entry.items.size()) << c.name;
        const FoundItem& item = m_entry.items[at++];
        EXPECT_EQ(item.path + "\\" + item.name, c.text);
        EXPECT_EQ(item.condition == FindCondition::kOverwritten, c.overwritten) << c.name;
        EXPECT_EQ(item.record, c.record) << c.name;
        EXPECT_EQ(item.size, c.size) << c.name;
        EXPECT_EQ(item.deep, 1u) << c.name;
    }
    EXPECT_EQ(at, m_entry.items.size());
    // The kept record's data is the find's.
    DataStream stream;
    ASSERT_EQ(NtfsEngine().DescribeStream(m_entry, m_entry.items[normal + 1], &stream), kOk);
    EXPECT_EQ(std::string(stream.residentBytes.begin(), stream.residentBytes.end()),
              std::string(10, 'd'));
}
