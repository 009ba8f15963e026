// CNtfs on crafted bytes: boot sector checks, the MFT extent, fixups, attributes, names, run
// lists, times and the data block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <type_traits>

#include "disk/Mem_RW.h"
#include "mempool/MemPool.h"
#include "ntfs/Ntfs.h"
#include "ntfs/NtfsRecordBuilder.h"
#include "platform/Status.h"

using namespace ntfstest;

namespace
{
// A device of any size: the image's bytes, then zeros as far as anyone reads.
class CEndless_RW final : public CDirectRW
{
public:
    explicit CEndless_RW(std::vector<u8> image) : m_image(std::move(image)) {}
    u32 Open(const std::string&, u32) override { return kOk; }
    u32 ReadSectors(void* buffer, u32 sectorCount, u32* bytesDone, u64 firstSector) override
    {
        const u64 bytes = u64{sectorCount} * 512;
        std::memset(buffer, 0, bytes);
        const u64 at = firstSector * 512;
        if (at < m_image.size())
            std::memcpy(buffer, m_image.data() + at, std::min<u64>(bytes, m_image.size() - at));
        *bytesDone = static_cast<u32>(bytes);
        return kOk;
    }

private:
    std::vector<u8> m_image;
};

std::unique_ptr<CNtfs> OpenImage(const std::vector<u8>& image, u32* rc, int keepOpen = 1)
{
    auto ntfs = std::make_unique<CNtfs>(std::make_unique<CMem_RW>(image));
    *rc = ntfs->Open("N:", keepOpen);
    return ntfs;
}

// A boot sector alone, for the geometry checks.
std::vector<u8> BootImage(u16 bps, u8 spc, u32 cpr, u64 total)
{
    std::vector<u8> img(512, 0);
    StoreLe16(&img[0x0B], bps);
    img[0x0D] = spc;
    StoreLe64(&img[0x28], total);
    StoreLe32(&img[0x40], cpr);
    return img;
}

// A volume of 8-sector clusters whose MFT record 0 (at cluster mftCluster) carries runs.
std::vector<u8> VolumeWithMftRuns(u64 mftCluster, const std::vector<u8>& runs, u64 total)
{
    std::vector<u8> img((mftCluster * 8 + 2) * 512, 0);
    StoreLe16(&img[0x0B], 512);
    img[0x0D] = 8;
    StoreLe64(&img[0x28], total);
    StoreLe64(&img[0x30], mftCluster);
    StoreLe32(&img[0x40], 0xF6);
    RecordLayout mft;
    mft.flags = 1;
    mft.data = RecordLayout::Data::NonResident;
    mft.runList = runs;
    mft.names.push_back(FileName{u"$MFT"});
    auto rec = BuildRecord(mft);
    std::memcpy(&img[mftCluster * 8 * 512], rec.data(), rec.size());
    return img;
}

class TzGuard
{
public:
    explicit TzGuard(const char* tz)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (m_had)
            m_old = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TzGuard()
    {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

// FILETIME of a UTC calendar time.
s64 FileTime(int y, int mo, int d, int h, int mi, int s)
{
    struct tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return (static_cast<s64>(timegm(&t)) + 11644473600LL) * 10000000LL;
}

FoundTime Time(s32 y, s32 mo, s32 d, s32 h, s32 mi, s32 s)
{
    return FoundTime{static_cast<s16>(y), static_cast<u8>(mo), static_cast<u8>(d),
                     static_cast<u8>(h),  static_cast<u8>(mi), static_cast<u8>(s)};
}

u32 Size(const std::vector<u8>& bytes)
{
    return static_cast<u32>(bytes.size());
}

// Parses the record laid out as given.
u32 Parse(const RecordLayout& layout, NtfsRecordInfo& info, CNtfs& ntfs)
{
    auto rec = BuildRecord(layout);
    return ntfs.ParseRecord(info, rec.data(), Size(rec));
}

RecordLayout DeletedFile(std::u16string name)
{
    RecordLayout s;
    s.flags = 0;
    s.names.push_back(FileName{std::move(name), 40, 3, 1});
    s.data = RecordLayout::Data::Resident;
    s.value.assign(20, 'x');
    return s;
}
} // namespace

struct BootCase
{
    u16 bps;
    u8 spc;
    u32 cpr;
    u64 total;
    u32 expected;
};

class NtfsBootTest : public ::testing::TestWithParam<BootCase>
{
};

TEST_P(NtfsBootTest, AcceptsEveryGeometryWindowsWrites)
{
    const BootCase& c = GetParam();
    // The boot sector alone: Open checks it, then finds no record 0.
    CNtfs ntfs(std::make_unique<CMem_RW>(BootImage(c.bps, c.spc, c.cpr, c.total)));
    EXPECT_EQ(ntfs.Open("N:", 1), kErrBadNtfs);
    EXPECT_EQ(ntfs.IsValid(), c.expected == 0 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Geometry, NtfsBootTest,
    ::testing::Values(BootCase{512, 8, 0xF6, 100000, kOk}, // 4 KiB clusters, 2^10 records
                      BootCase{512, 2, 1, 100000, kOk},    // 1 KiB clusters, 1 per record
                      BootCase{512, 1, 2, 100000, kOk},    // 512-byte clusters, 2 per record
                      BootCase{512, 1, 1, 100000, kOk},    // 512-byte records
                      BootCase{512, 1, 0xF8, 100000, kOk}, // 256-byte records
                      BootCase{512, 1, 0xF9, 100000, kErrBadNtfs}, // 128-byte records
                      BootCase{512, 1, 0xF6, 100000, kOk},         // 0xF6 counts as one cluster
                      BootCase{512, 3, 1, 100000, kErrBadNtfs},    // not a power of two
                      BootCase{512, 0, 1, 100000, kErrBadNtfs},
                      BootCase{520, 2, 1, 100000, kErrBadNtfs},
                      BootCase{1536, 1, 1, 100000, kErrBadNtfs},
                      BootCase{8192, 1, 0xF6, 100000, kErrBadNtfs}, // sectors up to 4 KiB
                      BootCase{0, 2, 1, 100000, kErrBadNtfs},       // no division by a zero sector
                      BootCase{512, 8, 1, 100000, kOk},             // records of one 4 KiB cluster
                      BootCase{512, 8, 0xF6, 256, kErrBadNtfs},     // too small for 32 records
                      BootCase{512, 8, 0xF6, 257, kOk}, BootCase{512, 2, 1, 64, kErrBadNtfs},
                      BootCase{512, 2, 1, 65, kOk},
                      BootCase{512, 2, 0xFFFFFFFF, ~0ull, kErrBadNtfs}, // no product overflow
                      BootCase{512, 0xF8, 0xF6, 100000, kOk},           // 128 KiB clusters
                      BootCase{512, 0xF4, 0xF6, 200000, kOk},           // 2 MiB clusters
                      BootCase{4096, 0xF7, 0xF6, 100000, kOk},          // 2 MiB of 4 KiB sectors
                      BootCase{4096, 0xF6, 0xF6, 100000, kErrBadNtfs},  // 4 MiB clusters
                      BootCase{512, 8, 0xF4, 100000, kOk},              // 4 KiB records
                      BootCase{512, 8, 0xF0, 100000, kOk},              // 64 KiB records
                      BootCase{512, 8, 0xEF, 100000, kErrBadNtfs},      // 128 KiB records
                      BootCase{512, 8, 0x1F6, 100000, kOk}, // unused upper bytes ignored
                      BootCase{4096, 1, 0xF6, 100000, kOk}, BootCase{4096, 1, 1, 100000, kOk}));

TEST(NtfsTest, MapsRecordsThroughTwoMftRuns)
{
    // {start 100, 8 clusters}, {start 5000, 8 clusters}: deltas 100 and 4900.
    auto ntfs = std::make_unique<CNtfs>(std::make_unique<CEndless_RW>(
        VolumeWithMftRuns(100, {0x11, 0x08, 0x64, 0x21, 0x08, 0x24, 0x13, 0x00}, 100000)));
    ASSERT_EQ(ntfs->Open("N:", 1), kOk);
    ASSERT_EQ(ntfs->MftRuns().size(), 2u);
    EXPECT_EQ(ntfs->RecordCount(), 64u);
    const std::pair<s64, s64> cases[] = {{0, 800}, {31, 862}, {32, 40000}, {63, 40062}};
    for (auto [record, sector] : cases)
    {
        s64 v = record;
        EXPECT_EQ(ntfs->RecordToSector(v), 1) << record;
        EXPECT_EQ(v, sector) << record;
    }
    s64 v = 64;
    EXPECT_EQ(ntfs->RecordToSector(v), 0);
    v = -1;
    EXPECT_EQ(ntfs->RecordToSector(v), 0);
}

TEST(NtfsTest, MftRunsHeldInAnExtensionRecordAreFollowed)
{
    // Record 0 maps VCNs 0-7 (clusters 100-107, records 0-31) and names, through its attribute
    // list, record 3 for VCNs 8-15 (clusters 5000-5007, records 32-63).
    std::vector<u8> img((100 * 8 + 8 * 8) * 512, 0);
    StoreLe16(&img[0x0B], 512);
    img[0x0D] = 8;
    StoreLe64(&img[0x28], 100000);
    StoreLe64(&img[0x30], 100);
    StoreLe32(&img[0x40], 0xF6);
    std::vector<u8> list;
    for (const auto& e : {ListEntry(0x10, 0, 0, 0), ListEntry(0x30, 0, 0, 2),
                          ListEntry(0x80, 0, 0, 3), ListEntry(0x80, 8, 3, 0)})
        list.insert(list.end(), e.begin(), e.end());
    std::vector<u8> base(kRecord, 0);
    u32 at = PutResident(base, 0x38, 0x10, std::vector<u8>(0x48, 0), 0);
    at = PutResident(base, at, 0x20, list, 1);
    at = PutResident(base, at, 0x30, FileNameValue(FileName{u"$MFT"}), 2);
    const u32 data = at;
    at = PutNonResident(base, at, 0x80, {0x11, 0x08, 0x64, 0x00}, 16 * 4096, 3);
    StoreLe64(&base[data + 0x18], 7); // highest VCN
    FinishRecord(base, at, 0);
    std::vector<u8> ext(kRecord, 0);
    // Clusters 5000-5007: each piece's run list counts its offsets from cluster 0.
    at = PutNonResident(ext, 0x38, 0x80, {0x21, 0x08, 0x88, 0x13, 0x00}, 0, 0);
    StoreLe64(&ext[0x38 + 0x10], 8);
    StoreLe64(&ext[0x38 + 0x18], 15);
    FinishRecord(ext, at, u64{1} << 48);
    std::memcpy(&img[100 * 8 * 512], base.data(), kRecord);
    std::memcpy(&img[100 * 8 * 512 + 3 * kRecord], ext.data(), kRecord);
    auto ntfs = std::make_unique<CNtfs>(std::make_unique<CEndless_RW>(img));
    ASSERT_EQ(ntfs->Open("N:", 1), kOk);
    EXPECT_EQ(ntfs->RecordCount(), 64u);
    const std::pair<s64, s64> cases[] = {{0, 800}, {31, 862}, {32, 40000}, {63, 40062}};
    for (auto [record, sector] : cases)
    {
        s64 v = record;
        EXPECT_EQ(ntfs->RecordToSector(v), 1) << record;
        EXPECT_EQ(v, sector) << record;
    }
    // An extension record that names another base adds nothing: the MFT ends with record 0's
    // own runs.
    StoreLe64(&img[100 * 8 * 512 + 3 * kRecord + 0x20], 7 | (u64{1} << 48));
    ntfs = std::make_unique<CNtfs>(std::make_unique<CEndless_RW>(img));
    ASSERT_EQ(ntfs->Open("N:", 1), kOk);
    EXPECT_EQ(ntfs->RecordCount(), 32u);
}

TEST(NtfsTest, DeletedFileSpreadOverExtensionRecords)
{
    // Record 20 (freed: sequence 2) keeps its name, a named stream "s" and the first piece of
    // its data (VCN 0, cluster 30); its attribute list names record 21 for VCN 1 (cluster 31)
    // and for the stream's second piece.
    VolumeBuilder vb(32);
    std::vector<u8> list;
    for (const auto& e : {ListEntry(0x10, 0, 20, 0), ListEntry(0x30, 0, 20, 2),
                          ListEntry(0x80, 0, 20, 3), ListEntry(0x80, 1, 21, 0)})
        list.insert(list.end(), e.begin(), e.end());
    std::vector<u8> base(kRecord, 0);
    u32 at = PutResident(base, 0x38, 0x10, std::vector<u8>(0x48, 0), 0);
    at = PutResident(base, at, 0x20, list, 1);
    at = PutResident(base, at, 0x30, FileNameValue(FileName{u"spread.bin", 5, 5, 1}), 2);
    at = PutNonResident(base, at, 0x80, {0x11, 0x01, 0x1E, 0x00}, 2048, 3);
    const u32 stream = at;
    at = PutResident(base, at, 0x80, std::vector<u8>(24, 0), 4);
    FinishRecord(base, at, 0);
    // The named stream: name "s" after the resident header, then its 10 bytes.
    base[stream + 9] = 1;
    StoreLe16(&base[stream + 0x0A], 0x18);
    StoreLe32(&base[stream + 0x10], 10);
    StoreLe16(&base[stream + 0x14], 0x20);
    StoreLe16(&base[stream + 0x18], u's');
    std::memcpy(&base[stream + 0x20], std::string(10, 's').data(), 10);
    StoreLe16(&base[0x10], 2);
    StoreLe16(&base[0x16], 0);
    std::vector<u8> ext(kRecord, 0);
    at = PutNonResident(ext, 0x38, 0x80, {0x11, 0x01, 0x1F, 0x00}, 0, 0);
    StoreLe64(&ext[0x38 + 0x10], 1);
    StoreLe64(&ext[0x38 + 0x18], 1);
    FinishRecord(ext, at, 20 | (u64{1} << 48));
    StoreLe16(&ext[0x16], 0);
    vb.SetRaw(20, base);
    vb.SetRaw(21, ext);
    std::vector<u8>& img = vb.Image();
    std::memset(&img[30 * 1024], 'A', 1024);
    std::memset(&img[31 * 1024], 'B', 1024);

    for (const bool belongs : {true, false})
    {
        if (!belongs)
            StoreLe64(&img[vb.RecordOffset(21) + 0x20], 22 | (u64{1} << 48));
        u32 rc = 0;
        auto ntfs = OpenImage(img, &rc);
        ASSERT_EQ(rc, kOk);
        NtfsRecordInfo info;
        ASSERT_EQ(ntfs->ReadRecord(info, 20), kOk) << belongs;
        g_MemPool.Free(&info.data);
        EXPECT_EQ(info.name, "spread.bin");
        EXPECT_EQ(info.size, 2048u);
        ASSERT_EQ(info.streams.size(), 1u);
        EXPECT_EQ(info.streams[0].name, "s");
        EXPECT_EQ(info.streams[0].size, 10u);
        NtfsStreamLayout layout;
        ASSERT_EQ(ntfs->DescribeData(20, "", &layout), kNtfsOk);
        // An extension record of another file is ignored: the data ends with the base's piece.
        ASSERT_EQ(layout.extents.size(), belongs ? 2u : 1u);
        EXPECT_EQ(layout.extents[0].lcn, 30u);
        if (belongs)
        {
            EXPECT_EQ(layout.extents[1].lcn, 31u);
        }
        ASSERT_EQ(ntfs->DescribeData(20, "s", &layout), kNtfsOk);
        EXPECT_TRUE(layout.resident);
        EXPECT_EQ(layout.value, std::vector<u8>(10, 's'));
        EXPECT_EQ(ntfs->DescribeData(20, "t", &layout), kNtfsNotFound);
    }
}

TEST(NtfsTest, FormsSectorsAndRecordCountIn64Bits)
{
    // MFT run at cluster 0x90000002 (sector 0x480000010, beyond 2 TiB) of 0x200000 clusters
    // (8 GiB, 8 Mi records): both products overflow 32 bits. The offset takes five bytes, as
    // writers store it: in four its top bit would make it negative.
    auto ntfs = std::make_unique<CNtfs>(std::make_unique<CEndless_RW>(VolumeWithMftRuns(
        2, {0x11, 0x08, 0x02, 0x53, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x90, 0x00, 0x00},
        ~0ull >> 1)));
    ASSERT_EQ(ntfs->Open("N:", 1), kOk);
    EXPECT_EQ(ntfs->RecordCount(), 32u + 0x200000ull * 4);
    s64 v = 32;
    ASSERT_EQ(ntfs->RecordToSector(v), 1);
    EXPECT_EQ(v, static_cast<s64>(0x90000002ull * 8));
}

TEST(NtfsTest, CountsOnlyRecordsOnTheVolumeAndDevice)
{
    // Record 0 claims 2^31 clusters of MFT; the device ends after 64 KiB of it.
    auto img = VolumeWithMftRuns(4, {0x14, 0x00, 0x00, 0x00, 0x80, 0x04, 0x00}, ~0ull >> 1);
    img.resize(img.size() + 64 * 1024 - 1024);
    u32 rc = 0;
    auto ntfs = OpenImage(img, &rc);
    ASSERT_EQ(rc, kOk);
    EXPECT_EQ(ntfs->RecordCount(), 64u);
    // The boot sector's total sectors bound it as well.
    auto small = std::make_unique<CNtfs>(std::make_unique<CEndless_RW>(
        VolumeWithMftRuns(4, {0x14, 0x00, 0x00, 0x00, 0x80, 0x04, 0x00}, 300)));
    ASSERT_EQ(small->Open("N:", 1), kOk);
    // Sectors 32 to 300 (the backup boot sector included): 33 whole clusters of 4 records.
    EXPECT_EQ(small->RecordCount(), 132u);
}

TEST(NtfsTest, CountsOnlyRecordsTheMftDataSizesHold)
{
    struct Case
    {
        const char* label;
        u32 runClusters; // 1 KiB clusters: one record each
        u64 allocated;   // bytes
        u64 dataSize;    // bytes
        u64 count;
        u64 claimed; // 0: the run list agrees with the sizes
    };
    const Case cases[] = {
        {"Agrees", 40, 40 * 1024, 40 * 1024, 40, 0},
        {"AllocationAheadOfTheData", 48, 48 * 1024, 40 * 1024, 48, 0},
        {"RunListOverstates", 0x1FF00000, 40 * 1024, 40 * 1024, 40, 0x1FF00000},
        {"DataSizeLost", 0x1FF00000, 48 * 1024, 0, 48, 0x1FF00000},
        {"AllocatedSizeLost", 0x1FF00000, 0, 40 * 1024, 40, 0x1FF00000},
        // Sizes too small for the metafile records are no MFT's: the device bounds the count.
        {"SizesDamaged", 100, 0, 4 * 1024, 100, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.label);
        VolumeBuilder vb(40);
        RecordLayout mft;
        mft.flags = 1;
        mft.names.push_back(FileName{u"$MFT", 5, 5, 3});
        mft.data = RecordLayout::Data::NonResident;
        mft.runList = {0x44, 0, 0, 0, 0, 4, 0, 0, 0, 0};
        StoreLe32(&mft.runList[1], c.runClusters);
        mft.dataSize = c.dataSize;
        mft.allocatedSize = c.allocated;
        vb.Set(0, mft);
        // A volume and a device without end: only the sizes can stop the count.
        StoreLe64(&vb.Image()[0x28], ~0ull >> 1);
        CNtfs ntfs(std::make_unique<CEndless_RW>(vb.Image()));
        ASSERT_EQ(ntfs.Open("N:", 1), kOk);
        EXPECT_EQ(ntfs.RecordCount(), c.count);
        EXPECT_EQ(ntfs.MftRecordsClaimed(), c.claimed);
        EXPECT_EQ(ntfs.MftRecordsHeld(), c.claimed != 0 ? c.count : 0);
    }
}

TEST(NtfsTest, OpenRefusesBadVolumes)
{
    u32 rc = 0;
    OpenImage(BootImage(512, 3, 1, 1000), &rc);
    EXPECT_EQ(rc, kErrBadNtfs);
    // Record 0 without "FILE".
    auto img = VolumeWithMftRuns(4, {0x11, 0x08, 0x04, 0x00}, 100000);
    img[4 * 8 * 512] = 'X';
    auto ntfs = OpenImage(img, &rc);
    EXPECT_EQ(rc, kErrBadNtfs);
    EXPECT_EQ(ntfs->IsValid(), 1u); // the boot sector itself was accepted
    // A resident $DATA in record 0.
    img = VolumeWithMftRuns(4, {}, 100000);
    RecordLayout mft;
    mft.flags = 1;
    mft.data = RecordLayout::Data::Resident;
    auto rec = BuildRecord(mft);
    std::memcpy(&img[4 * 8 * 512], rec.data(), rec.size());
    OpenImage(img, &rc);
    EXPECT_EQ(rc, kErrBadNtfs);
    // An empty device.
    OpenImage({}, &rc);
    EXPECT_EQ(rc, kErrBadNtfs);
}

TEST(NtfsTest, ReadRecordWithoutKeepOpenReopensAndCloses)
{
    VolumeBuilder vb(32);
    vb.Set(20, DeletedFile(u"a.txt"));
    u32 rc = 0;
    auto ntfs = OpenImage(vb.Image(), &rc, 0);
    ASSERT_EQ(rc, kOk);
    u8 byte = 0;
    u32 done = 0;
    EXPECT_EQ(ntfs->Reader()->ReadBytes(&byte, 1, &done, 0), kErrNotOpen);
    NtfsRecordInfo info;
    ASSERT_EQ(ntfs->ReadRecord(info, 20), kOk);
    EXPECT_EQ(info.name, "a.txt");
    EXPECT_EQ(info.record, 20u);
    g_MemPool.Free(&info.data);
    EXPECT_EQ(ntfs->Reader()->ReadBytes(&byte, 1, &done, 0), kErrNotOpen);
    EXPECT_EQ(ntfs->ReadRecord(info, 32), kErrTransfer);
    EXPECT_EQ(ntfs->ReadRecord(info, -1), kErrTransfer);
    CNtfs closed(std::make_unique<CMem_RW>(vb.Image()));
    EXPECT_EQ(closed.ReadRecord(info, 20), kErrNotOpen);
}

// A parser told to skip the modification time (a search shows the other two) gives the same
// creation and access times and leaves the modification time unset.
TEST(NtfsTest, SkippedModificationTimeLeavesTheOthersAlone)
{
    VolumeBuilder vb(32);
    RecordLayout file = DeletedFile(u"a.txt");
    file.created = static_cast<u64>(FileTime(2021, 3, 4, 5, 6, 7));
    file.accessed = static_cast<u64>(FileTime(2022, 3, 4, 5, 6, 7));
    file.modified = static_cast<u64>(FileTime(2023, 3, 4, 5, 6, 7));
    vb.Set(20, file);
    u32 rc = 0;
    auto ntfs = OpenImage(vb.Image(), &rc, 1);
    ASSERT_EQ(rc, kOk);
    NtfsRecordInfo all;
    NtfsRecordInfo two;
    ASSERT_EQ(ntfs->ReadRecord(all, 20), kOk);
    ntfs->SkipModifiedTime(true);
    ASSERT_EQ(ntfs->ReadRecord(two, 20), kOk);
    EXPECT_EQ(two.created, all.created);
    EXPECT_EQ(two.accessed, all.accessed);
    EXPECT_EQ(all.modified.year, 2023);
    EXPECT_EQ(two.modified, FoundTime{});
    g_MemPool.Free(&all.data);
    g_MemPool.Free(&two.data);
}

TEST(NtfsTest, FixupsRestoreStrideEndsAndUndoOnMismatch)
{
    RecordLayout layout = DeletedFile(u"f");
    auto rec = BuildRecord(layout);
    StoreLe16(&rec[0x32], 0x1111); // saved words
    StoreLe16(&rec[0x34], 0x2222);
    CNtfs ntfs(std::make_unique<CMem_RW>(std::vector<u8>{}));
    std::vector<u8> buffer = rec;
    const u16 usa[3] = {0x0A0B, 0x1111, 0x2222};
    EXPECT_EQ(CNtfs::ApplyFixups(usa, 1, 3, buffer.data(), Size(buffer)), 1);
    EXPECT_EQ(LoadLe16(buffer.data() + 510), 0x1111);
    EXPECT_EQ(LoadLe16(buffer.data() + 1022), 0x2222);
    EXPECT_EQ(CNtfs::ApplyFixups(usa, 0, 3, buffer.data(), Size(buffer)), 1);
    EXPECT_EQ(std::memcmp(buffer.data(), rec.data(), rec.size()), 0);

    // A torn record: the second stride does not end in the USN.
    StoreLe16(&rec[1022], 0x7777);
    buffer = rec;
    EXPECT_EQ(CNtfs::ApplyFixups(usa, 1, 3, buffer.data(), Size(buffer)), 0);
    EXPECT_EQ(std::memcmp(buffer.data(), rec.data(), rec.size()), 0);
    const u16 zero[3] = {0, 1, 2};
    EXPECT_EQ(CNtfs::ApplyFixups(zero, 1, 3, buffer.data(), Size(buffer)), 0);
    EXPECT_EQ(CNtfs::ApplyFixups(nullptr, 1, 3, buffer.data(), Size(buffer)), 1);
    // A count beyond the record's strides is held to them.
    const u16 many[6] = {0x0A0B, 1, 2, 3, 4, 5};
    StoreLe16(&rec[1022], 0x0A0B);
    buffer = rec;
    EXPECT_EQ(CNtfs::ApplyFixups(many, 1, 6, buffer.data(), Size(buffer)), 1);

    // A torn record still parses, as read.
    StoreLe16(&rec[1022], 0x7777);
    buffer = rec;
    NtfsRecordInfo info;
    EXPECT_EQ(ntfs.ParseRecord(info, buffer.data(), Size(buffer)), kOk);
    EXPECT_EQ(info.name, "f");
    EXPECT_EQ(std::memcmp(buffer.data(), rec.data(), rec.size()), 0);
    g_MemPool.Free(&info.data);
}

struct RunsCase
{
    const char* label;
    std::vector<u8> bytes;
    int limit;
    u32 rc;
    std::vector<std::pair<u32, u32>> runs;
};

class NtfsRunsTest : public ::testing::TestWithParam<RunsCase>
{
};

TEST_P(NtfsRunsTest, Decodes)
{
    const RunsCase& c = GetParam();
    std::vector<NtfsRun> runs;
    EXPECT_EQ(CNtfs::DecodeRuns(c.bytes.data(), c.limit, runs), c.rc);
    std::vector<std::pair<u32, u32>> got;
    for (const NtfsRun& r : runs)
        got.emplace_back(r.startCluster, r.clusterCount);
    EXPECT_EQ(got, c.runs);
}

INSTANTIATE_TEST_SUITE_P(
    RunLists, NtfsRunsTest,
    ::testing::Values(
        RunsCase{"OneRun", {0x21, 0x18, 0x34, 0x56, 0x00}, 5, kOk, {{0x5634, 0x18}}},
        // A pair without offset is a hole. Read as data at the previous run's place it put
        // another file's clusters in the zeros; an NtfsRun cannot mark a hole, so it ends here.
        RunsCase{"HoleEndsTheRuns",
                 {0x21, 0x10, 0x00, 0x01, 0x01, 0x08, 0x00},
                 7,
                 kErrBadNtfs,
                 {{0x100, 0x10}}},
        RunsCase{"LaterDeltaSigned",
                 {0x21, 0x10, 0x80, 0x00, 0x11, 0x08, 0xF0, 0x00},
                 8,
                 kOk,
                 {{0x80, 0x10}, {0x70, 8}}},
        // Offsets are signed in every pair: a first 0x80 is cluster -128, which no run has.
        // Taken as +128 it sent the copy to clusters of something else.
        RunsCase{"NegativeFirstClusterRefused",
                 {0x11, 0x10, 0x80, 0x11, 0x08, 0xF0, 0x00},
                 7,
                 kErrBadNtfs,
                 {}},
        // A five-byte field is valid. Skipped in place it moved every later run to the wrong
        // place; a length an NtfsRun cannot hold now ends the runs there.
        RunsCase{"WideLengthEndsTheRuns",
                 {0x11, 0x04, 0x10, 0x15, 1, 2, 3, 4, 5, 9, 0x11, 0x02, 0x01, 0x00},
                 14,
                 kErrBadNtfs,
                 {{0x10, 4}}},
        RunsCase{"WideFieldsThatFit",
                 {0x51, 0x08, 0x10, 0, 0, 0, 0, 0x15, 2, 0, 0, 0, 0, 1, 0x00},
                 15,
                 kOk,
                 {{0x10, 8}, {0x11, 2}}},
        RunsCase{"ClusterPast32BitsEndsTheRuns",
                 {0x11, 0x04, 0x10, 0x51, 0x02, 0, 0, 0, 0, 1, 0x11, 0x02, 0x01, 0x00},
                 14,
                 kErrBadNtfs,
                 {{0x10, 4}}},
        RunsCase{"StopsAtLimitKeepingRuns",
                 {0x11, 0x04, 0x10, 0x21, 0x08, 0x00},
                 5,
                 kErrBadNtfs,
                 {{0x10, 4}}},
        // The terminator lies at the limit: it is not read.
        RunsCase{"NoTerminatorInsideLimit", {0x11, 0x04, 0x10, 0x00}, 3, kErrBadNtfs, {{0x10, 4}}},
        RunsCase{"EmptyLimit", {0x00}, 0, kErrBadNtfs, {}}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(NtfsTest, DecodeRunsRefusesNull)
{
    std::vector<NtfsRun> runs{{1, 1}};
    EXPECT_EQ(CNtfs::DecodeRuns(nullptr, 10, runs), kErrTransfer);
    EXPECT_TRUE(runs.empty());
}

TEST(NtfsTest, PrefersTheLongNameAfterADosName)
{
    CNtfs ntfs(std::make_unique<CMem_RW>(std::vector<u8>{}));
    RecordLayout s = DeletedFile(u"");
    s.names = {FileName{u"FINALR~1.TXT", 40, 3, 2}, FileName{u"Final Report.txt", 41, 7, 1}};
    NtfsRecordInfo info;
    ASSERT_EQ(Parse(s, info, ntfs), kOk);
    EXPECT_EQ(info.name, "Final Report.txt");
    EXPECT_EQ(info.parent, 41);
    EXPECT_EQ(info.parentSequence, 7);
    g_MemPool.Free(&info.data);

    s.names = {FileName{u"posix:name", 42, 1, 0}};
    ASSERT_EQ(Parse(s, info, ntfs), kOk);
    EXPECT_EQ(info.name, "posix:name");
    EXPECT_EQ(info.parent, 42);
    g_MemPool.Free(&info.data);

    // A DOS name followed by a nameless $FILE_NAME keeps the DOS name.
    s.names = {FileName{u"SHORT.TXT", 43, 1, 2}, FileName{u"", 44, 1, 1}};
    ASSERT_EQ(Parse(s, info, ntfs), kOk);
    EXPECT_EQ(info.name, "SHORT.TXT");
    EXPECT_EQ(info.parent, 43);
    g_MemPool.Free(&info.data);

    s.names = {FileName{u"caf\u00e9 \U0001F600.txt", 5, 5, 1}};
    ASSERT_EQ(Parse(s, info, ntfs), kOk);
    EXPECT_EQ(info.name, "caf\xC3\xA9 \xF0\x9F\x98\x80.txt");
    g_MemPool.Free(&info.data);
}

TEST(NtfsTest, KeepsNamesOfUpTo255UnitsWhole)
{
    CNtfs ntfs(std::make_unique<CMem_RW>(std::vector<u8>{}));
    auto repeat = [](const auto& piece, int times)
    {
        std::remove_cvref_t<decltype(piece)> out;
        for (int i = 0; i < times; ++i)
            out += piece;
        return out;
    };
    struct Case
    {
        std::u16string name;
        std::string utf8;
    };
    const Case cases[] = {
        {std::u16string(200, u'n'), std::string(200, 'n')},
        {std::u16string(251, u'n') + u".txt", std::string(251, 'n') + ".txt"},
        // 255 CJK characters: 765 bytes of UTF-8.
        {std::u16string(255, u'\u6F22'), repeat(std::string("\xE6\xBC\xA2"), 255)},
        // 125 surrogate pairs and ".txt": 254 units.
        {repeat(std::u16string(u"\U0002000B"), 125) + u".txt",
         repeat(std::string("\xF0\xA0\x80\x8B"), 125) + ".txt"},
        // A high surrogate in the last unit has no partner.
        {std::u16string(254, u'n') + u'\xD840', std::string(254, 'n') + "\xEF\xBF\xBD"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.utf8);
        RecordLayout s = DeletedFile(c.name);
        NtfsRecordInfo info;
        ASSERT_EQ(Parse(s, info, ntfs), kOk);
        EXPECT_EQ(info.name, c.utf8);
        g_MemPool.Free(&info.data);

        // The pool copy that FindAttribute makes of the name (in the record with its fixups
        // applied) holds it whole as well.
        s.fixups = false;
        const std::vector<u8> rec = BuildRecord(s);
        NtfsAttr attr;
        u32 cursor = LoadLe16(&rec[0x14]);
        ASSERT_EQ(CNtfs::FindAttribute(attr, cursor, 0x30, rec.data(), Size(rec)), kOk);
        ASSERT_NE(attr.nameText, nullptr);
        EXPECT_EQ(std::string(attr.nameText), c.utf8);
        g_MemPool.Free(&attr.nameText);
    }
}

TEST(NtfsTest, ParsesDataForms)
{
    CNtfs ntfs(std::make_unique<CMem_RW>(std::vector<u8>{}));
    NtfsRecordInfo info;
    RecordLayout s = DeletedFile(u"r.txt");
    ASSERT_EQ(Parse(s, info, ntfs), kOk);
    EXPECT_EQ(info.size, 20u);
    EXPECT_EQ(info.resident, 1);
    EXPECT_EQ(info.attribute, 0x20);
    ASSERT_NE(info.data, nullptr);
    u16 offset = 0;
    ASSERT_TRUE(NtfsDataIsResident(info.data, &offset));
    EXPECT_EQ(info.data[0], 3);
    EXPECT_EQ(std::memcmp(BuildRecord(s).data() + offset, "xxxxxxxxxxxxxxxxxxxx", 20), 0);
    g_MemPool.Free(&info.data);

    // A deleted 5 GiB file keeps its whole size.
    s.data = RecordLayout::Data::NonResident;
    s.runList = {0x32, 0x00, 0x40, 0x00, 0x10, 0x00, 0x00};
    s.dataSize = 5ull << 30;
    ASSERT_EQ(Parse(s, info, ntfs), kOk);
    EXPECT_EQ(info.size, 5ull << 30);
    EXPECT_EQ(info.resident, 0);
    const u8* runs = nullptr;
    int limit = 0;
    ASSERT_TRUE(NtfsDataRunList(info.data, &runs, &limit));
    std::vector<NtfsRun> decoded;
    EXPECT_EQ(CNtfs::DecodeRuns(runs, limit, decoded), kOk);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0].startCluster, 0x1000u);
    EXPECT_EQ(decoded[0].clusterCount, 0x4000u);
    g_MemPool.Free(&info.data);

    // A folder: no data block, size 0.
    RecordLayout dir;
    dir.flags = 2;
    dir.names.push_back(FileName{u"gone", 5, 5, 1});
    ASSERT_EQ(Parse(dir, info, ntfs), kOk);
    EXPECT_EQ(info.attribute, 0x10);
    EXPECT_EQ(info.size, 0u);
    EXPECT_EQ(info.data, nullptr);
    dir.flags = 3; // in use folders are kept
    EXPECT_EQ(Parse(dir, info, ntfs), kOk);
    EXPECT_EQ(info.inUse, 1);
}

TEST(NtfsTest, KeepsLongRunListsWhole)
{
    // 220 one-cluster fragments: a run list of 661 bytes.
    RecordLayout s = DeletedFile(u"frag.bin");
    s.data = RecordLayout::Data::NonResident;
    for (int i = 0; i < 220; ++i)
        s.runList.insert(s.runList.end(), {0x11, 0x01, 0x02});
    s.runList.push_back(0);
    s.dataSize = 220 * 4096;
    CNtfs ntfs(std::make_unique<CMem_RW>(std::vector<u8>{}));
    NtfsRecordInfo info;
    ASSERT_EQ(Parse(s, info, ntfs), kOk);
    ASSERT_NE(info.data, nullptr);
    EXPECT_EQ(info.data[0], kDataBlockLongForm);
    const u8* runs = nullptr;
    int limit = 0;
    ASSERT_TRUE(NtfsDataRunList(info.data, &runs, &limit));
    std::vector<NtfsRun> decoded;
    EXPECT_EQ(CNtfs::DecodeRuns(runs, limit, decoded), kOk);
    ASSERT_EQ(decoded.size(), 220u);
    EXPECT_EQ(decoded.back().startCluster, 440u);
    g_MemPool.Free(&info.data);
}

struct RefusalCase
{
    const char* label;
    void (*mutate)(std::vector<u8>&);
    u32 rc;
};

class NtfsRefusalTest : public ::testing::TestWithParam<RefusalCase>
{
};

TEST_P(NtfsRefusalTest, RefusesRecord)
{
    auto rec = BuildRecord(DeletedFile(u"a.txt"));
    GetParam().mutate(rec);
    CNtfs ntfs(std::make_unique<CMem_RW>(std::vector<u8>{}));
    NtfsRecordInfo info;
    EXPECT_EQ(ntfs.ParseRecord(info, rec.data(), Size(rec)), GetParam().rc);
    EXPECT_EQ(info.data, nullptr); // nothing stranded in the pool
}

// Offsets in a record built from DeletedFile: $STANDARD_INFORMATION at 0x38 (0x60 bytes),
// $FILE_NAME at 0x98 (0x68 bytes), $DATA at 0x100.
INSTANTIATE_TEST_SUITE_P(
    Records, NtfsRefusalTest,
    ::testing::Values(
        RefusalCase{"NoSignature", [](std::vector<u8>& r) { r[0] = 'B'; }, kErrBadNtfs},
        RefusalCase{"InUseFile", [](std::vector<u8>& r) { r[0x16] = 1; }, kErrRecordInUse},
        RefusalCase{"NoStandardInfo", [](std::vector<u8>& r) { r[0x38] = 0x20; }, kErrTransfer},
        RefusalCase{"NoData", [](std::vector<u8>& r) { r[0x100] = 0x90; }, kErrTransfer},
        RefusalCase{"NoFileName", [](std::vector<u8>& r) { r[0x98] = 0x40; }, kErrTransfer},
        RefusalCase{"ZeroLengthEndsWalk", [](std::vector<u8>& r) { StoreLe32(&r[0x98 + 4], 0); },
                    kErrTransfer},
        RefusalCase{"LengthPastRecord",
                    [](std::vector<u8>& r) { StoreLe32(&r[0x38 + 4], 0x10000); }, kErrTransfer},
        RefusalCase{"ValueOffsetPastAttribute",
                    [](std::vector<u8>& r) { StoreLe16(&r[0x100 + 0x14], 0xFFF0); }, kErrTransfer},
        RefusalCase{"ValueLengthPastAttribute",
                    [](std::vector<u8>& r) { StoreLe32(&r[0x100 + 0x10], 0x7FFFFFFF); },
                    kErrTransfer},
        RefusalCase{"FirstAttributePastRecord",
                    [](std::vector<u8>& r) { StoreLe16(&r[0x14], 0xFFFE); }, kErrTransfer}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(NtfsTest, BoundsNamesAndRunListsToTheirAttribute)
{
    CNtfs ntfs(std::make_unique<CMem_RW>(std::vector<u8>{}));
    NtfsRecordInfo info;
    // A name length of 255 units in a value that holds 5: only the 5 are taken.
    auto rec = BuildRecord(DeletedFile(u"a.txt"));
    rec[0x98 + 0x18 + 0x40] = 255;
    ASSERT_EQ(ntfs.ParseRecord(info, rec.data(), Size(rec)), kOk);
    EXPECT_EQ(info.name, "a.txt");
    g_MemPool.Free(&info.data);

    // A run-list offset past the attribute ends the walk.
    RecordLayout s = DeletedFile(u"a.txt");
    s.data = RecordLayout::Data::NonResident;
    s.runList = {0x11, 0x01, 0x02, 0x00};
    rec = BuildRecord(s);
    StoreLe16(&rec[0x100 + 0x20], 0x200);
    EXPECT_EQ(ntfs.ParseRecord(info, rec.data(), Size(rec)), kErrTransfer);
}

TEST(NtfsTest, ConvertsFileTimesToLocalTime)
{
    {
        TzGuard tz("Asia/Shanghai");
        FoundTime t;
        CNtfs::FileTimeToFoundTime(FileTime(2024, 1, 15, 12, 34, 56), t);
        EXPECT_EQ(t, Time(2024, 1, 15, 20, 34, 56));
        CNtfs::FileTimeToFoundTime(FileTime(2023, 12, 31, 16, 0, 0), t);
        EXPECT_EQ(t, Time(2024, 1, 1, 0, 0, 0));
        CNtfs::FileTimeToFoundTime(FileTime(2024, 2, 28, 16, 0, 1), t);
        EXPECT_EQ(t, Time(2024, 2, 29, 0, 0, 1));
    }
    {
        // Before zones were standardised the zone database uses local mean time; a fixed
        // +8 zone gives the plain shift.
        TzGuard tz("CST-8");
        FoundTime t;
        CNtfs::FileTimeToFoundTime(0, t);
        EXPECT_EQ(t, Time(1601, 1, 1, 8, 0, 0));
        CNtfs::FileTimeToFoundTime(FileTime(1601, 12, 31, 16, 0, 0), t);
        EXPECT_EQ(t, Time(1602, 1, 1, 0, 0, 0));
        CNtfs::FileTimeToFoundTime(-5, t); // before 1601: held at the epoch
        EXPECT_EQ(t.year, 1601);
    }
    {
        // Daylight saving time follows the zone's rules for the instant itself.
        TzGuard tz("America/New_York");
        FoundTime t;
        CNtfs::FileTimeToFoundTime(FileTime(2024, 7, 1, 12, 0, 0), t);
        EXPECT_EQ(t, Time(2024, 7, 1, 8, 0, 0));
        CNtfs::FileTimeToFoundTime(FileTime(2024, 1, 1, 12, 0, 0), t);
        EXPECT_EQ(t, Time(2024, 1, 1, 7, 0, 0));
    }
    {
        TzGuard tz("UTC");
        FoundTime t;
        CNtfs::FileTimeToFoundTime(FileTime(2000, 2, 29, 23, 59, 59), t);
        EXPECT_EQ(t, Time(2000, 2, 29, 23, 59, 59));
        CNtfs::FileTimeToFoundTime(FileTime(2100, 12, 31, 0, 0, 0), t);
        EXPECT_EQ(t, Time(2100, 12, 31, 0, 0, 0));
    }
}

// Every day from 1601 to 2600, and every 97th day on to the last year a FILETIME reaches, has
// the date the C library gives for it: leap years of every kind, and the ends of months, years,
// centuries and 400-year cycles.
TEST(NtfsTest, DatesAgreeWithTheCLibraryThroughoutTheFileTimeRange)
{
    TzGuard tz("UTC");
    CNtfs::ZoneOffsets zones;
    constexpr s64 kDay = 86400;
    constexpr s64 kUnixEpochFrom1601 = 11644473600;
    constexpr s64 kDenseDays = 365243; // about 1000 years
    constexpr s64 kLastDay = 10675199; // the last whole day below the largest FILETIME
    for (s64 day = 0; day <= kLastDay; day += day < kDenseDays ? 1 : 97)
    {
        // A second late in the day, so that a day taken one off would show.
        const s64 seconds = day * kDay + 86399;
        FoundTime t;
        CNtfs::FileTimeToFoundTime(seconds * 10000000, t, &zones);
        const auto unixTime = static_cast<time_t>(seconds - kUnixEpochFrom1601);
        struct tm expected = {};
        ASSERT_NE(gmtime_r(&unixTime, &expected), nullptr);
        ASSERT_EQ(t,
                  Time(expected.tm_year + 1900, expected.tm_mon + 1, expected.tm_mday, 23, 59, 59))
            << "day " << day;
    }
}

// The offsets a parser learns by the hour give the same local times as a lookup per time,
// across changes of zone rule (whole hour, half hour, and a zone of quarter hours), both ways
// in time order.
TEST(NtfsTest, LearntZoneOffsetsAgreeWithTheLookup)
{
    struct Case
    {
        const char* zone;
        s64 around; // FILETIME near a change of rule
    };
    const Case cases[] = {
        {"America/New_York", FileTime(2024, 3, 10, 7, 0, 0)},
        {"America/New_York", FileTime(2024, 11, 3, 6, 0, 0)},
        {"Australia/Lord_Howe", FileTime(2024, 4, 6, 15, 0, 0)},
        {"Asia/Kathmandu", FileTime(1986, 1, 1, 0, 0, 0)},
        {"Europe/London", FileTime(1971, 10, 31, 2, 0, 0)},
    };
    constexpr s64 kMinute = 60 * 10000000LL;
    for (const Case& c : cases)
    {
        TzGuard tz(c.zone);
        CNtfs::ZoneOffsets zones;
        for (s64 step : {7 * kMinute, -7 * kMinute})
            for (s64 t = c.around - 600 * step; t != c.around + 600 * step; t += step)
            {
                FoundTime looked;
                FoundTime learnt;
                CNtfs::FileTimeToFoundTime(t, looked);
                CNtfs::FileTimeToFoundTime(t, learnt, &zones);
                ASSERT_EQ(learnt, looked) << c.zone << " at FILETIME " << t;
            }
    }
}

TEST(NtfsTest, ReportsVolumeFiguresInReaderSectors)
{
    VolumeBuilder vb(32);
    u32 rc = 0;
    auto ntfs = OpenImage(vb.Image(), &rc);
    ASSERT_EQ(rc, kOk);
    EXPECT_EQ(ntfs->GetSectorsPerCluster(), 2u);
    EXPECT_EQ(ntfs->GetBytesPerSector(), 512u);
    EXPECT_EQ(ntfs->GetRecordSize(), 1024u);
    CNtfs fresh(std::make_unique<CMem_RW>(std::vector<u8>{}));
    EXPECT_EQ(fresh.GetSectorsPerCluster(), 0u);
    EXPECT_EQ(fresh.GetBytesPerSector(), 512u);
}
