// Whole scans of exFAT volumes made by mkfs.exfat and written through exfat-fuse (4 KiB to
// 128 KiB clusters), checked against a golden listing and against The Sleuth Kit's fls; the
// backup boot region standing in for a damaged main one; the allocation bitmap.
#include "scan/exfat/ExfatScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "disk/Faulty_RW.h"
#include "exfat/ExfatVolume.h"
#include "scan/FatScanSupport.h"
#include "scan/exfat/ExfatEngine.h"
#include "scan/exfat/ExfatVolumeState.h"
#include "support/TestImages.h"

namespace
{
struct Scanned
{
    bool opened = false;
    bool fromBackup = false;
    std::vector<std::string> listing; // path\name|deleted|size
    FoundItems items;
    VolumeEntry volume;
};

void Scan(std::vector<u8> image, Scanned& out)
{
    CCatalog catalog;
    RecordingSink sink;
    catalog.m_sink = &sink;
    out.volume.name = "C:";
    out.volume.engine = &ExfatEngine();
    out.volume.reader = std::make_unique<CMem_RW>(std::move(image));
    out.opened = AttachExfatVolume(out.volume);
    if (!out.opened)
        return;
    out.fromBackup = ExfatStateOf(out.volume)->exfat.fromBackup;
    g_bRunning = 1;
    EXPECT_EQ(ScanExfatVolume(catalog, out.volume), 0u);
    EXPECT_EQ(sink.events.size(), out.volume.items.size());
    for (const FoundItem& item : out.volume.items)
        out.listing.push_back(item.path + "\\" + item.name + "|" + std::to_string(item.deleted) +
                              "|" + std::to_string(item.size));
    out.items = out.volume.items;
}

// The tree of exfat.sh in the order of the breadth-first walk.
const std::vector<std::string> kGolden = {
    "C:\\Docs|0|0",
    "C:\\Ünïcode Ordner ✓|0|0",
    "C:\\OldDir|1|0",
    "C:\\big.bin|1|1500000",
    "C:\\frag.bin|1|", // six clusters and 100 bytes: depends on the cluster size
    "C:\\Docs\\Sub|0|0",
    "C:\\Docs\\gone.txt|1|5000",
    "C:\\Ünïcode Ordner ✓\\Größe.bin|1|7000",
    "C:\\OldDir\\Inner|1|0",
    "C:\\OldDir\\old.txt|1|2500",
    "C:\\Docs\\Sub\\Ein sehr langer Dateiname mit Umlauten äöü – und noch mehr.txt|1|20000",
    "C:\\OldDir\\Inner\\inner.txt|1|900",
};

// Deleted entries that fls -r -d -p reports, as "d PATH" or "r PATH", without $OrphanFiles.
std::multiset<std::string> FlsDeleted(const std::string& image)
{
    std::string out;
    // fls and fsstat can loop on some exFAT volumes: every call is bounded.
    int rc = RunCommand("timeout 20 fls -r -d -p '" + image + "' 2>&1", &out);
    EXPECT_EQ(rc, 0) << "fls failed (is sleuthkit installed?):\n" << out;
    std::multiset<std::string> found;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
    {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find(" * ") == std::string::npos)
            continue;
        const std::string path = line.substr(tab + 1);
        if (path.rfind("$OrphanFiles", 0) != 0)
            found.insert(std::string(1, line[2] == 'd' ? 'd' : 'r') + " " + path);
    }
    return found;
}

std::multiset<std::string> OursDeleted(const FoundItems& items)
{
    std::multiset<std::string> ours;
    for (const FoundItem& item : items)
    {
        if (!item.deleted)
            continue;
        std::string path = item.path.size() > 2 ? item.path.substr(3) + "/" : "";
        std::replace(path.begin(), path.end(), '\\', '/');
        ours.insert(std::string(1, (item.attr & 0x10) ? 'd' : 'r') + " " + path + item.name);
    }
    return ours;
}

class ExfatScanImageTest : public ::testing::TestWithParam<const char*>
{
};

TEST_P(ExfatScanImageTest, ListsTheTreeAsFlsDoes)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    Scanned s;
    Scan(ReadImage(image), s);
    ASSERT_TRUE(s.opened);
    EXPECT_FALSE(s.fromBackup);
    EXPECT_EQ(s.volume.fsType, kFsExfat);
    const u64 cluster = ExfatStateOf(s.volume)->exfat.boot.ClusterBytes();
    std::vector<std::string> golden = kGolden;
    golden[4] += std::to_string(6 * cluster + 100);
    EXPECT_EQ(s.listing, golden);
    EXPECT_EQ(OursDeleted(s.items), FlsDeleted(image));

    // The bitmap: the root directory's cluster is allocated, a deleted file's first is not.
    bool inUse = false;
    ASSERT_EQ(s.volume.engine->ClusterInUse(s.volume,
                                            ExfatStateOf(s.volume)->exfat.boot.rootCluster, &inUse),
              0u);
    EXPECT_TRUE(inUse);
    const auto big = std::find_if(s.items.begin(), s.items.end(),
                                  [](const FoundItem& i) { return i.name == "big.bin"; });
    ASSERT_NE(big, s.items.end());
    ASSERT_EQ(s.volume.engine->ClusterInUse(s.volume, big->first, &inUse), 0u);
    EXPECT_FALSE(inUse);

    // A contiguous file is one extent of exactly its clusters; the fragmented one (its chain
    // gone) is given the three clusters of fraga.bin, then those behind the live pad.bin (two
    // clusters, written before it).
    for (const FoundItem& item : s.items)
    {
        if (item.attr & 0x10)
            continue;
        DataStream stream;
        ASSERT_EQ(s.volume.engine->DescribeStream(s.volume, item, &stream), 0u) << item.name;
        const u64 clusters = (item.size + cluster - 1) / cluster;
        if (item.name == "frag.bin")
        {
            ASSERT_EQ(stream.extents.size(), 2u);
            EXPECT_EQ(stream.extents[0].lcn, item.first);
            EXPECT_EQ(stream.extents[0].length, 3u);
            EXPECT_EQ(stream.extents[1].vcn, 3u);
            EXPECT_EQ(stream.extents[1].lcn, item.first + 5);
            EXPECT_EQ(stream.extents[1].length, clusters - 3);
            EXPECT_EQ(item.inferred, 1);
        }
        else
        {
            ASSERT_EQ(stream.extents.size(), 1u) << item.name;
            EXPECT_EQ(stream.extents[0].lcn, item.first);
            EXPECT_EQ(stream.extents[0].length, clusters);
        }
        EXPECT_EQ(stream.initializedSize, item.size) << item.name;
        EXPECT_EQ(stream.ReadableBytes(), item.size);
    }
}

TEST_P(ExfatScanImageTest, DamagedMainBootRegionFallsBackToTheBackup)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    Scanned whole;
    Scan(ReadImage(image), whole);
    for (std::size_t damage : {std::size_t{0x64}, std::size_t{0x6C}, std::size_t{0x1FE}})
    {
        SCOPED_TRACE(damage);
        std::vector<u8> bytes = ReadImage(image);
        bytes[damage] ^= 0x5A; // the serial number, the sector shift, the signature
        Scanned s;
        Scan(std::move(bytes), s);
        ASSERT_TRUE(s.opened);
        EXPECT_TRUE(s.fromBackup);
        EXPECT_EQ(s.listing, whole.listing);
    }
    // Both regions damaged: no volume.
    std::vector<u8> bytes = ReadImage(image);
    const u32 bps = 1u << bytes[0x6C];
    bytes[0x64] ^= 1;
    bytes[12 * bps + 0x64] ^= 1;
    Scanned none;
    Scan(std::move(bytes), none);
    EXPECT_FALSE(none.opened);
}

INSTANTIATE_TEST_SUITE_P(Volumes, ExfatScanImageTest,
                         ::testing::Values("exfat-4k", "exfat-32k", "exfat-128k"));
} // namespace

// A folder cluster the device does not deliver, of a live or a deleted folder, is named with
// the folder's path (code 4), and the rest of the volume is searched as before.
TEST(ExfatScanReadFailureTest, UnreadableFolderClusterIsNamed)
{
    const std::string image = TestImage("exfat-4k");
    ASSERT_FALSE(image.empty());
    Scanned whole;
    Scan(ReadImage(image), whole);
    ASSERT_TRUE(whole.opened);
    struct Case
    {
        const char* folder;
        const char* lost; // a find the folder holds, missing when its cluster is not read
        std::size_t lostCount;
    };
    for (const Case& c : {Case{"Docs", "C:\\Docs\\gone.txt", 3}, // Sub, gone.txt, what Sub held
                          Case{"OldDir", "C:\\OldDir\\Inner", 0}})
    {
        SCOPED_TRACE(c.folder);
        u64 first = 0;
        for (const FoundItem& item : whole.items)
            first = item.name == c.folder ? item.first : first;
        u64 at = 0;
        ASSERT_TRUE(ExfatStateOf(whole.volume)->exfat.boot.ClusterOffset(first, &at));

        CCatalog catalog;
        RecordingSink sink;
        catalog.m_sink = &sink;
        VolumeEntry volume;
        volume.name = "C:";
        volume.engine = &ExfatEngine();
        auto reader = std::make_unique<CFaulty_RW>(ReadImage(image));
        reader->FailSector(at / 512);
        volume.reader = std::move(reader);
        ASSERT_TRUE(AttachExfatVolume(volume));
        g_bRunning = 1;
        EXPECT_EQ(ScanExfatVolume(catalog, volume), 0u);
        std::vector<std::string> named;
        for (const RecordingSink::Event& e : sink.events)
            if (e.message == WM_SCAN_NOTIFY && e.code == 4)
                named.push_back(e.text);
        ASSERT_EQ(named.size(), 1u);
        const std::string prefix = std::string("C:\\") + c.folder + " could not be read: ";
        EXPECT_EQ(named[0].rfind(prefix, 0), 0u) << named[0];
        for (const FoundItem& item : volume.items)
            EXPECT_NE(item.path + "\\" + item.name, c.lost);
        if (c.lostCount != 0)
        {
            EXPECT_EQ(volume.items.size(), whole.items.size() - c.lostCount);
        }
    }
}
