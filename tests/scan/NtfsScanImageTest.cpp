// ScanNtfsVolume on volumes made by mkntfs and libntfs-3g: the exact listing, the data each
// item points at (checked against The Sleuth Kit's icat), and agreement with fls.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <sstream>

#include "disk/File_RW.h"
#include "mempool/MemPool.h"
#include "platform/ByteOrder.h"
#include "platform/DriveTable.h"
#include "scan/ntfs/NtfsEngine.h"
#include "scan/ntfs/NtfsRecordFeed.h"
#include "scan/ntfs/NtfsScan.h"
#include "scan/ntfs/NtfsVolumeState.h"
#include "support/DriveSources.h"
#include "support/TestImages.h"

namespace
{
struct Expected
{
    const char* text;
    u8 attr;
    u64 size;
};

class NtfsScanImageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_image = TestImage("ntfs-scan");
        ASSERT_FALSE(m_image.empty());
        RegisterSource("N:", m_image);
        g_bRunning = 1;
        m_entry.fsType = kFsNtfs;
        m_entry.engine = &NtfsEngine();
        m_entry.name = "N:";
        ASSERT_EQ(SetNtfsState(m_entry, std::make_unique<CNtfs>())->ntfs->Open("N:", 1), kOk);
        ASSERT_EQ(ScanNtfsVolume(m_catalog, m_entry), kOk);
        g_bRunning = 0;
        // Record numbers of the items, through the record-to-sector map.
        for (s64 r = 0; r < static_cast<s64>(NtfsOf(m_entry)->RecordCount()); ++r)
        {
            s64 sector = r;
            if (NtfsOf(m_entry)->RecordToSector(sector))
                m_recordOfSector[static_cast<u64>(sector)] = r;
        }
    }
    void TearDown() override { NtfsEngine().ReleaseItems(m_entry); }

    // The item's bytes as recovery reads them: the resident value from the record (with its
    // update sequence fixups), or the clusters of the run list cut to the size.
    std::vector<u8> ItemData(const FoundItem& item)
    {
        CNtfs& ntfs = *NtfsOf(m_entry);
        std::vector<u8> out;
        u32 done = 0;
        u16 offset = 0;
        if (NtfsDataIsResident(RecordDataOf(item), &offset))
        {
            std::vector<u8> rec(1024);
            EXPECT_EQ(ntfs.Reader()->ReadSectors(rec.data(), 2, &done, item.first), kOk);
            const u16 usaOffset = LoadLe16(&rec[4]);
            StoreLe16(&rec[510], LoadLe16(&rec[usaOffset + 2]));
            StoreLe16(&rec[1022], LoadLe16(&rec[usaOffset + 4]));
            out.assign(rec.begin() + offset, rec.begin() + offset + static_cast<long>(item.size));
            return out;
        }
        const u8* runs = nullptr;
        int limit = 0;
        EXPECT_TRUE(NtfsDataRunList(RecordDataOf(item), &runs, &limit));
        std::vector<NtfsRun> decoded;
        EXPECT_EQ(CNtfs::DecodeRuns(runs, limit, decoded), kOk);
        const u32 spc = ntfs.GetSectorsPerCluster();
        for (const NtfsRun& run : decoded)
        {
            std::vector<u8> chunk(static_cast<std::size_t>(run.clusterCount) * spc * 512);
            EXPECT_EQ(ntfs.Reader()->ReadSectors(chunk.data(), run.clusterCount * spc, &done,
                                                 static_cast<u64>(run.startCluster) * spc),
                      kOk);
            out.insert(out.end(), chunk.begin(), chunk.end());
        }
        out.resize(static_cast<std::size_t>(item.size));
        return out;
    }

    std::string m_image;
    CCatalog m_catalog;
    VolumeEntry m_entry;
    std::map<u64, s64> m_recordOfSector;
};

std::string Strip(const std::string& name)
{
    static const std::regex suffix("_[0-9]+_(?=\\.[^.]*$|$)");
    return std::regex_replace(name, suffix, "");
}
} // namespace

TEST_F(NtfsScanImageTest, ListsDeletedItemsUnderRebuiltPaths)
{
    const Expected expected[] = {
        {"N:\\B", 0x10, 0},
        {"N:\\Folder_1_\\f.txt", 0x20, 100}, // its folder A's record now holds B
        {"N:\\docs", 0x10, 0},
        {"N:\\docs\\deleted.txt", 0x20, 200},
        {"N:\\docs\\big.bin", 0x20, 100000},
        {"N:\\docs\\sub", 0x10, 0},
        {"N:\\docs\\sub\\nested.txt", 0x20, 5000},
        {"N:\\old", 0x10, 0},
        {"N:\\old\\inner", 0x10, 0},
        {"N:\\old\\inner\\deep.txt", 0x20, 700},
        {"N:\\old\\gone.txt", 0x20, 9000},
        {"N:\\frag.bin", 0x20, 32768},
        {"N:\\docs\\report.doc", 0x20, 120},
        {"N:\\docs\\report_1_.doc", 0x20, 130},
        {"N:\\docs\\report_2_.doc", 0x20, 140},
        {"N:\\docs\\README", 0x20, 50},
        {"N:\\docs\\README_1_", 0x20, 60},
        {"N:\\docs\\Final Report 2024.txt", 0x20, 400},
        {"N:\\docs\\caf\xC3\xA9 \xC3\xBC.txt", 0x20, 33},
        {"N:\\docs\\huge.iso", 0x20, 5ull << 30}, // the whole 64-bit size
    };
    std::vector<std::string> got;
    for (const FoundItem& item : m_entry.items)
        got.push_back(item.path + "\\" + item.name);
    ASSERT_EQ(got.size(), std::size(expected)) << ::testing::PrintToString(got);
    for (std::size_t i = 0; i < got.size(); ++i)
    {
        const FoundItem& item = m_entry.items[i];
        EXPECT_EQ(got[i], expected[i].text);
        EXPECT_EQ(item.attr, expected[i].attr) << got[i];
        EXPECT_EQ(item.size, expected[i].size) << got[i];
        // Only the folders still in use read as not deleted.
        const bool live = got[i] == "N:\\B" || got[i] == "N:\\docs" || got[i] == "N:\\docs\\sub";
        EXPECT_EQ(item.deleted, live ? 0u : 1u) << got[i];
        EXPECT_EQ(RecordDataOf(item) == nullptr, item.attr == 0x10) << got[i];
        EXPECT_TRUE(m_recordOfSector.contains(item.first)) << got[i];
    }

    // B really took over the record of f.txt's folder A, with a new sequence number.
    NtfsRecordInfo f;
    NtfsRecordInfo b;
    ASSERT_EQ(NtfsOf(m_entry)->ReadRecord(f, m_recordOfSector.at(m_entry.items[1].first)), kOk);
    g_MemPool.Free(&f.data);
    ASSERT_EQ(NtfsOf(m_entry)->ReadRecord(b, m_recordOfSector.at(m_entry.items[0].first)), kOk);
    EXPECT_EQ(f.parent, m_recordOfSector.at(m_entry.items[0].first));
    EXPECT_NE(f.parentSequence, b.sequence);
    EXPECT_EQ(b.inUse, 1);
}

TEST_F(NtfsScanImageTest, DataAgreesWithIcat)
{
    int checked = 0;
    for (const FoundItem& item : m_entry.items)
    {
        if ((item.attr & 0x10) || item.size > (1u << 20))
            continue;
        const s64 record = m_recordOfSector.at(item.first);
        std::string icat;
        ASSERT_EQ(RunCommand("icat '" + m_image + "' " + std::to_string(record), &icat), 0);
        const std::vector<u8> ours = ItemData(item);
        EXPECT_EQ(std::string(ours.begin(), ours.end()), icat) << item.name;
        ++checked;
    }
    EXPECT_EQ(checked, 14);
}

TEST_F(NtfsScanImageTest, AgreesWithFlsWhereBothResolveTheParent)
{
    // fls -r -d -p lists deleted entries by path; orphans (a parent it cannot place) go to
    // $OrphanFiles, where this scan files them under Folder_N_.
    std::string listing;
    ASSERT_EQ(RunCommand("fls -r -d -p '" + m_image + "'", &listing), 0);
    std::map<s64, std::string> fls;
    std::istringstream lines(listing);
    std::string line;
    static const std::regex entry("^[-a-z]/[-a-z] \\* ([0-9]+)(-[0-9]+-[0-9]+)?:\t(.*)$");
    while (std::getline(lines, line))
    {
        std::smatch m;
        if (!std::regex_match(line, m, entry) || m[3].str().starts_with("$OrphanFiles"))
            continue;
        std::string path = "N:\\" + m[3].str();
        std::replace(path.begin(), path.end(), '/', '\\');
        fls[std::stoll(m[1].str())] = path;
    }
    std::map<s64, std::string> ours;
    for (const FoundItem& item : m_entry.items)
    {
        // fls refuses a record whose (sparse) run is longer than the volume; this scan lists it.
        if (item.path.find("Folder_") != std::string::npos || item.size > (1u << 30))
            continue;
        const s64 record = m_recordOfSector.at(item.first);
        // Live folders are reported too, for orientation; fls lists only deleted entries.
        if (item.attr & 0x10)
        {
            NtfsRecordInfo info;
            ASSERT_EQ(NtfsOf(m_entry)->ReadRecord(info, record), kOk);
            if (info.inUse)
                continue;
        }
        ours[record] = item.path + "\\" + Strip(item.name.str());
    }
    EXPECT_EQ(ours, fls);
}

TEST(NtfsScanDemoTest, ListsTheDemoVolume)
{
    const std::string image = TestImage("demo-ntfs");
    ASSERT_FALSE(image.empty());
    RegisterSource("D:", image);
    CCatalog catalog;
    VolumeEntry entry;
    entry.name = "D:";
    ASSERT_EQ(SetNtfsState(entry, std::make_unique<CNtfs>())->ntfs->Open("D:", 1), kOk);
    g_bRunning = 1;
    ASSERT_EQ(ScanNtfsVolume(catalog, entry), kOk);
    g_bRunning = 0;
    int files = 0;
    int folders = 0;
    for (const FoundItem& item : entry.items)
        (item.attr & 0x10) ? ++folders : ++files;
    NtfsEngine().ReleaseItems(entry);
    EXPECT_EQ(files, 16);  // four notes, three photos, eight letters and the readme
    EXPECT_EQ(folders, 4); // Projects, Orlavent, Photos and the deleted Letters
    EXPECT_EQ(entry.items.back().path + "\\" + entry.items.back().name, "D:\\readme.txt");
}

// Records decoded on a second thread give the same finds, field for field and data block for
// data block, as one thread reading the records itself.
class NtfsScanThreadsTest : public ::testing::TestWithParam<const char*>
{
protected:
    static VolumeEntry Scan(bool oneThread)
    {
        VolumeEntry entry;
        entry.name = "T:";
        entry.fsType = kFsNtfs;
        entry.engine = &NtfsEngine();
        EXPECT_EQ(SetNtfsState(entry, std::make_unique<CNtfs>())->ntfs->Open("T:", 1), kOk);
        CCatalog catalog;
        g_bRunning = 1;
        EXPECT_EQ(ScanNtfsVolume(catalog, entry, oneThread), kOk);
        g_bRunning = 0;
        return entry;
    }

    static std::vector<u8> Block(const void* data)
    {
        const auto* block = static_cast<const u8*>(data);
        if (block == nullptr)
            return {};
        return {block, block + (block[0] == kDataBlockLongForm ? 1024 : block[0] + 1)};
    }
};

TEST_P(NtfsScanThreadsTest, SecondThreadGivesTheSameFinds)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    RegisterSource("T:", image);
    VolumeEntry two = Scan(false);
    VolumeEntry one = Scan(true);
    ASSERT_FALSE(one.items.empty());
    ASSERT_EQ(two.items.size(), one.items.size());
    EXPECT_EQ(NtfsStateOf(two)->streamNames, NtfsStateOf(one)->streamNames);
    for (std::size_t i = 0; i < one.items.size(); ++i)
    {
        const FoundItem& a = two.items[i];
        const FoundItem& b = one.items[i];
        SCOPED_TRACE(b.path + "\\" + b.name);
        EXPECT_EQ(a.path, b.path);
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(std::tie(a.size, a.first, a.record, a.stream, a.deleted, a.attr),
                  std::tie(b.size, b.first, b.record, b.stream, b.deleted, b.attr));
        EXPECT_EQ(a.created, b.created);
        EXPECT_EQ(a.accessed, b.accessed);
        EXPECT_EQ(Block(RecordDataOf(a)), Block(RecordDataOf(b)));
    }
    for (VolumeEntry* entry : {&two, &one})
        NtfsEngine().ReleaseItems(*entry);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsScanThreadsTest,
                         ::testing::Values("ntfs-scan", "ntfs-streams", "ntfs-attrlist",
                                           "ntfs-attrlist-freed", "ntfs-4k-sector",
                                           "ntfs-compressed", "cond-ntfs", "ntfs-scan-ambiguous"));

// The record feed hands over every record that decodes, in record order and decoded as one
// parser reading them in turn decodes it, whichever of its two threads decoded the batch: in
// batches of one record, of a few, and of more than the MFT holds. A search stopped halfway
// ends the feed without a hang.
TEST(NtfsRecordFeedTest, HandsOverEveryRecordInOrder)
{
    const std::string image = TestImage("ntfs-scan");
    ASSERT_FALSE(image.empty());
    RegisterSource("F:", image);
    CNtfs ntfs;
    ASSERT_EQ(ntfs.Open("F:", 1), kOk);
    const auto end = static_cast<s64>(ntfs.RecordCount());
    ASSERT_GT(end, 40);
    g_bRunning = 1;
    std::vector<std::pair<s64, std::string>> expected;
    for (s64 r = 0; r < end; ++r)
    {
        NtfsRecordInfo info;
        if (ntfs.ReadRecord(info, r) == kOk)
            expected.emplace_back(r, info.name.str());
        g_MemPool.Free(&info.data);
    }
    ASSERT_GT(expected.size(), 12u);

    for (const std::size_t batch : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20})
    {
        SCOPED_TRACE(batch);
        for (const bool stop : {false, true})
        {
            g_bRunning = 1;
            CNtfsRecordFeed feed;
            ASSERT_TRUE(feed.Start(ntfs, "F:", 0, end, batch));
            std::vector<std::pair<s64, std::string>> handed;
            std::vector<CNtfsRecordFeed::Decoded> records;
            while (feed.Next(&records))
                for (CNtfsRecordFeed::Decoded& d : records)
                {
                    handed.emplace_back(d.record, d.info.name.str());
                    g_MemPool.Free(&d.info.data);
                    if (stop && handed.size() == expected.size() / 2)
                        g_bRunning = 0;
                }
            feed.Stop();
            if (stop)
            {
                EXPECT_LE(handed.size(), expected.size());
                handed.resize(std::min(handed.size(), expected.size() / 2));
                EXPECT_TRUE(std::equal(handed.begin(), handed.end(), expected.begin()));
            }
            else
                EXPECT_EQ(handed, expected);
        }
    }
    g_bRunning = 0;
}
