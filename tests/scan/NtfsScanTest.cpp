// ScanNtfsVolume and ResolveFolder on crafted in-memory volumes: paths through live and
// deleted folders, lost and reused parents, loops, clashing names, events and stopping.
#include <gtest/gtest.h>

#include "disk/Faulty_RW.h"
#include "disk/Mem_RW.h"
#include "mempool/MemPool.h"
#include "ntfs/NtfsRecordBuilder.h"
#include "scan/ntfs/NtfsEngine.h"
#include "scan/ntfs/NtfsScan.h"
#include "scan/ntfs/NtfsVolumeState.h"
#include "support/RecordingSink.h"

using namespace ntfstest;

namespace
{
using Event = RecordingSink::Event;

RecordLayout File(std::u16string name, u64 parent, u16 parentSeq, u16 flags = 0)
{
    RecordLayout s;
    s.flags = flags;
    s.names.push_back(FileName{std::move(name), parent, parentSeq, 1});
    s.data = RecordLayout::Data::Resident;
    s.value.assign(10, 'd');
    return s;
}

RecordLayout Folder(std::u16string name, u64 parent, u16 parentSeq, u16 flags, u16 sequence)
{
    RecordLayout s;
    s.flags = flags;
    s.sequence = sequence;
    s.names.push_back(FileName{std::move(name), parent, parentSeq, 1});
    return s;
}

class NtfsScanTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_bRunning = 1;
        m_catalog.m_sink = &m_sink;
    }
    void TearDown() override { g_bRunning = 0; }

    // Scans the volume as drive "C:" and returns "path\name" of every item in order.
    std::vector<std::string> Scan(const VolumeBuilder& vb)
    {
        m_catalog.ResetVolumes();
        VolumeEntry entry;
        entry.fsType = kFsNtfs;
        entry.engine = &NtfsEngine();
        entry.name = "C:";
        EXPECT_EQ(
            SetNtfsState(entry, std::make_unique<CNtfs>(std::make_unique<CMem_RW>(vb.Image())))
                ->ntfs->Open("C:", 1),
            kOk);
        EXPECT_EQ(ScanNtfsVolume(m_catalog, entry), kOk);
        std::vector<std::string> out;
        for (const FoundItem& item : entry.items)
            out.push_back(item.path + "\\" + item.name);
        m_catalog.m_volumes.push_back(std::move(entry));
        return out;
    }
    const FoundItems& Items() const { return m_catalog.m_volumes.back().items; }

    CCatalog m_catalog;
    RecordingSink m_sink;
};
} // namespace

TEST_F(NtfsScanTest, RebuildsPathsThroughLiveAndDeletedFolders)
{
    VolumeBuilder vb(40);
    vb.Set(15, File(u"meta.txt", 5, 5));      // below 16: never reported
    vb.Set(16, Folder(u"Users", 5, 5, 3, 1)); // live folder
    vb.Set(17, Folder(u"Bob", 16, 1, 3, 1));  // live folder
    vb.Set(18, File(u"letter.txt", 17, 1));   // deleted file in a live folder
    vb.Set(19, File(u"live.txt", 17, 1, 1));  // a live file: not reported
    vb.Set(20, File(u"top.txt", 5, 5));       // deleted file in the root
    vb.Set(21, File(u"deep.txt", 22, 3));     // in a deleted folder read ahead
    vb.Set(22, Folder(u"old", 23, 2, 2, 4));  // deleted: sequence one past the reference
    vb.Set(23, Folder(u"older", 5, 5, 2, 2));
    vb.Set(39, File(u"last.txt", 5, 5)); // the last record is read
    EXPECT_EQ(Scan(vb),
              (std::vector<std::string>{"C:\\Users", "C:\\Users\\Bob", "C:\\Users\\Bob\\letter.txt",
                                        "C:\\top.txt", "C:\\older\\old\\deep.txt", "C:\\older\\old",
                                        "C:\\older", "C:\\last.txt"}));
    const FoundItem& letter = Items()[2];
    EXPECT_EQ(letter.attr, 0x20);
    EXPECT_EQ(letter.deleted, 1u);
    EXPECT_EQ(letter.size, 10u);
    EXPECT_EQ(letter.first, vb.RecordOffset(18) / 512);
    ASSERT_NE(RecordDataOf(letter), nullptr);
    EXPECT_EQ(Items()[0].attr, 0x10);
    EXPECT_EQ(RecordDataOf(Items()[0]), nullptr);

    // One WM_SCAN_NOTIFY per item: the full text and the attribute byte.
    ASSERT_EQ(m_sink.events.size(), 8u);
    EXPECT_EQ(m_sink.events[0].message, WM_SCAN_NOTIFY);
    EXPECT_EQ(m_sink.events[0].code, 1u);
    EXPECT_EQ(m_sink.events[0].extra, 0x10u);
    EXPECT_EQ(m_sink.events[2].text, "C:\\Users\\Bob\\letter.txt");
    EXPECT_EQ(m_sink.events[2].extra, 0x20u);
}

TEST_F(NtfsScanTest, FilesLostParentsUnderNumberedFolders)
{
    VolumeBuilder vb(40);
    vb.Set(16, File(u"a.txt", 30, 1));  // 30: no record at all
    vb.Set(17, File(u"b.txt", 31, 1));  // 31: a deleted file, not a folder
    vb.Set(18, File(u"c.txt", 30, 1));  // same lost parent as a.txt
    vb.Set(19, File(u"d.txt", 999, 1)); // beyond the MFT
    vb.Set(31, File(u"notdir", 5, 5));
    EXPECT_EQ(Scan(vb), (std::vector<std::string>{"C:\\Folder_1_\\a.txt", "C:\\Folder_2_\\b.txt",
                                                  "C:\\Folder_1_\\c.txt", "C:\\Folder_3_\\d.txt",
                                                  "C:\\notdir"}));
}

TEST_F(NtfsScanTest, RefusesAReusedParentRecord)
{
    VolumeBuilder vb(40);
    // Folder A (record 20, sequence 1) held f.txt; A was deleted (sequence 2) and its record
    // reused by the live folder B. f.txt must not be filed under B.
    vb.Set(16, File(u"f.txt", 20, 1));
    vb.Set(17, File(u"g.txt", 20, 2)); // B's own deleted child
    vb.Set(20, Folder(u"B", 5, 5, 3, 2));
    // A deleted folder whose record was freed once: its child's reference is one behind.
    vb.Set(21, File(u"h.txt", 22, 6));
    vb.Set(22, Folder(u"D", 5, 5, 2, 7));
    // Two behind, or one behind on a live record, is a stranger.
    vb.Set(23, File(u"i.txt", 22, 5));
    vb.Set(24, File(u"j.txt", 20, 0)); // no sequence number: any record
    EXPECT_EQ(Scan(vb), (std::vector<std::string>{"C:\\Folder_1_\\f.txt", "C:\\B\\g.txt", "C:\\B",
                                                  "C:\\D\\h.txt", "C:\\D", "C:\\Folder_2_\\i.txt",
                                                  "C:\\B\\j.txt"}));
}

TEST_F(NtfsScanTest, EndsParentLoopsAsLostParents)
{
    VolumeBuilder vb(40);
    vb.Set(16, File(u"x.txt", 20, 1));
    vb.Set(20, Folder(u"P", 21, 1, 2, 1)); // P's parent is Q and Q's parent is P
    vb.Set(21, Folder(u"Q", 20, 1, 2, 1));
    vb.Set(22, Folder(u"Self", 22, 1, 2, 1));
    auto items = Scan(vb);
    // The walk from x.txt meets P again above Q: P's reference from Q becomes the lost parent.
    EXPECT_EQ(items, (std::vector<std::string>{"C:\\Folder_1_\\Q\\P\\x.txt", "C:\\Folder_1_\\Q\\P",
                                               "C:\\Folder_1_\\Q", "C:\\Folder_2_\\Self\\Self"}));
}

TEST_F(NtfsScanTest, ResolvesALongChainWithoutRecursion)
{
    constexpr u32 kDepth = 3000;
    VolumeBuilder vb(kDepth + 40);
    for (u32 i = 0; i < kDepth; ++i)
        vb.Set(kDepth + 30 - i, Folder(u"d", i == 0 ? 5 : kDepth + 31 - i, i == 0 ? 5 : 1, 2, 1));
    vb.Set(16, File(u"bottom.txt", 31, 1));
    auto items = Scan(vb);
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(items[0].size(), 2 + 2 * kDepth + 11);
}

TEST_F(NtfsScanTest, NumbersClashingNames)
{
    VolumeBuilder vb(40);
    vb.Set(16, File(u"report.doc", 5, 5));
    vb.Set(17, File(u"report.doc", 5, 5));
    vb.Set(18, File(u"report.doc", 5, 5));
    vb.Set(19, File(u"README", 5, 5));
    vb.Set(20, File(u"README", 5, 5));
    vb.Set(21, File(u"a.b.c", 5, 5));
    vb.Set(22, File(u"a.b.c", 5, 5));
    vb.Set(23, Folder(u"docs", 5, 5, 2, 1));
    vb.Set(24, Folder(u"docs", 5, 5, 2, 1));
    vb.Set(25, File(u"in.txt", 24, 1));       // filed under the renamed folder
    vb.Set(26, File(u"report_1_.doc", 5, 5)); // equals a suffixed name: numbered in turn
    vb.Set(27, File(u"x_1_.txt", 5, 5));
    vb.Set(28, File(u"x.txt", 5, 5));
    vb.Set(29, File(u"x.txt", 5, 5)); // x_1_.txt is taken: the counter moves on
    // Whole texts are compared: a '\' inside a name can give the text of a file elsewhere.
    vb.Set(30, File(u"a_long_name.txt", 23, 1));
    vb.Set(31, File(u"docs\\a_long_name.txt", 5, 5));
    EXPECT_EQ(Scan(vb),
              (std::vector<std::string>{
                  "C:\\report.doc", "C:\\report_1_.doc", "C:\\report_2_.doc", "C:\\README",
                  "C:\\README_1_", "C:\\a.b.c", "C:\\a.b_1_.c", "C:\\docs", "C:\\docs_1_",
                  "C:\\docs_1_\\in.txt", "C:\\report_1__1_.doc", "C:\\x_1_.txt", "C:\\x.txt",
                  "C:\\x_2_.txt", "C:\\docs\\a_long_name.txt", "C:\\docs\\a_long_name_1_.txt"}));
    EXPECT_EQ(Items()[2].name, "report_2_.doc");
}

TEST_F(NtfsScanTest, StopsWhenTheRunFlagClears)
{
    VolumeBuilder vb(40);
    for (u32 r = 16; r < 30; ++r)
        vb.Set(r, File(u"f" + std::u16string(1, static_cast<char16_t>(u'a' + r - 16)), 5, 5));
    m_sink.onPost = [this](const Event&)
    {
        if (m_sink.events.size() == 3)
            g_bRunning = 0;
    };
    auto items = Scan(vb);
    EXPECT_EQ(items.size(), 3u);
}

TEST_F(NtfsScanTest, SkipsUnreadableRecordsAndGoesOn)
{
    VolumeBuilder vb(40);
    vb.Set(16, File(u"ok1", 5, 5));
    auto bad = BuildRecord(File(u"bad", 5, 5));
    StoreLe32(&bad[0x38 + 4], 0); // zero attribute length
    vb.SetRaw(17, bad);
    vb.Set(18, File(u"ok2", 5, 5));
    EXPECT_EQ(Scan(vb), (std::vector<std::string>{"C:\\ok1", "C:\\ok2"}));
}

// Records the device does not deliver are named once per run of consecutive records (code 4),
// and the scan goes on behind them.
TEST_F(NtfsScanTest, NamesRecordsTheDeviceDoesNotDeliver)
{
    VolumeBuilder vb(40);
    for (s64 r = 16; r < 20; ++r)
        vb.Set(r, File(u"f" + std::u16string(1, static_cast<char16_t>(u'0' + r - 16)), 5, 5));
    auto reader = std::make_unique<CFaulty_RW>(vb.Image());
    {
        CNtfs probe(std::make_unique<CMem_RW>(vb.Image()));
        ASSERT_EQ(probe.Open("C:", 1), kOk);
        for (s64 r : {17, 18})
        {
            s64 sector = r;
            ASSERT_TRUE(probe.RecordToSector(sector));
            reader->FailSector(static_cast<u64>(sector));
        }
    }
    VolumeEntry entry;
    entry.fsType = kFsNtfs;
    entry.engine = &NtfsEngine();
    entry.name = "C:";
    ASSERT_EQ(SetNtfsState(entry, std::make_unique<CNtfs>(std::move(reader)))->ntfs->Open("C:", 1),
              kOk);
    EXPECT_EQ(ScanNtfsVolume(m_catalog, entry), kOk);
    std::vector<std::string> found;
    for (const FoundItem& item : entry.items)
        found.push_back(item.path + "\\" + item.name);
    EXPECT_EQ(found, (std::vector<std::string>{"C:\\f0", "C:\\f3"}));
    std::vector<std::string> named;
    for (const Event& e : m_sink.events)
        if (e.message == WM_SCAN_NOTIFY && e.code == 4)
            named.push_back(e.text);
    EXPECT_EQ(named, (std::vector<std::string>{
                         "C: MFT records 17 to 18 could not be read: the source gave no data for "
                         "them"}));
}

TEST_F(NtfsScanTest, ReadsTheMftInBatches)
{
    VolumeBuilder vb(600);
    for (u32 r = 16; r < 600; r += 2)
        vb.Set(r, File(u"f" + std::u16string(1, static_cast<char16_t>(u'a' + r % 26)), 5, 5));
    auto reader = std::make_unique<CMem_RW>(vb.Image());
    CMem_RW* raw = reader.get();
    VolumeEntry entry;
    entry.name = "C:";
    ASSERT_EQ(SetNtfsState(entry, std::make_unique<CNtfs>(std::move(reader)))->ntfs->Open("C:", 1),
              kOk);
    const u64 before = raw->ReadCount();
    ASSERT_EQ(ScanNtfsVolume(m_catalog, entry), kOk);
    EXPECT_EQ(entry.items.size(), 292u);
    EXPECT_LE(raw->ReadCount() - before, 4u); // 584 records in one run: one batch read
    NtfsEngine().ReleaseItems(entry);
}
