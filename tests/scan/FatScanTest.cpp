// Whole scans of FAT12/16/32 volumes made by mkfs.fat and mtools, checked against golden
// listings and against The Sleuth Kit's fls; crafted damage to real volumes. The folder walk's
// own tests are in tests/fat/FatFolderWalkTest.cpp.
#include "scan/fat/FatScan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "disk/Faulty_RW.h"
#include "platform/ByteOrder.h"
#include "platform/Format.h"
#include "scan/FatScanSupport.h"
#include "support/TestImages.h"

namespace
{
struct ScanResult
{
    u32 status = 0;
    std::vector<std::string> listing; // path\name|attr|deleted|size|first
    std::vector<std::string> events;  // text|attr of every WM_SCAN_NOTIFY
    FoundItems items;
    std::vector<u32> dirIndex;
    std::vector<ClusterRun> runs; // the volume's assigned runs
};

std::string Line(const FoundItem& item)
{
    std::ostringstream s;
    s << item.path << "\\" << item.name << "|" << std::hex << std::uppercase << int(item.attr)
      << std::dec << "|" << item.deleted << "|" << item.size << "|" << item.first;
    return s.str();
}

ScanResult Scan(std::vector<u8> image)
{
    ScanResult result;
    CCatalog catalog;
    RecordingSink sink;
    catalog.m_sink = &sink;
    VolumeEntry volume;
    EXPECT_TRUE(OpenFatVolume(std::move(image), volume));
    g_bRunning = 1;
    result.status = ScanFatVolume(catalog, volume);
    for (const FoundItem& item : volume.items)
        result.listing.push_back(Line(item));
    for (const RecordingSink::Event& e : sink.events)
    {
        EXPECT_EQ(e.message, WM_SCAN_NOTIFY);
        EXPECT_EQ(e.code, 1u);
        result.events.push_back(e.text + "|" + std::to_string(e.extra));
    }
    result.items = volume.items;
    result.dirIndex = FatStateOf(volume)->dirIndex;
    result.runs = FatStateOf(volume)->assignedRuns;
    return result;
}

ScanResult ScanImage(const std::string& name)
{
    std::string path = TestImage(name);
    if (path.empty())
        return {};
    return Scan(ReadImage(path));
}

// The common tree of fat.sh, in the order of the breadth-first walk, with each volume's first
// clusters (mtools allocates them differently per cluster size).
struct GoldenRow
{
    const char* item;
    int attr;
    int deleted;
    int size;
};
const GoldenRow kCommonTree[] = {
    {"C:\\DOCS", 0x10, 0, 0},
    {"C:\\_ELROOT.TXT", 0x20, 1, 333},
    {"C:\\Deleted Long Name.txt", 0x20, 1, 1200},
    {"C:\\_LDDIR", 0x10, 1, 0},
    {"C:\\System Volume Information", 0x10, 0, 0},
    {"C:\\RECYCLER", 0x10, 0, 0},
    {"C:\\MANY", 0x10, 0, 0},
    {"C:\\DOCS\\SUB", 0x10, 0, 0},
    {"C:\\DOCS\\_ONE.TXT", 0x20, 1, 444},
    {"C:\\DOCS\\Same Name Thrice.txt", 0x20, 1, 350},
    {"C:\\DOCS\\Same Name Thrice_1_.txt", 0x20, 1, 250},
    {"C:\\DOCS\\Same Name Thrice_2_.txt", 0x20, 1, 150},
    {"C:\\_LDDIR\\_EEP1.TXT", 0x20, 1, 500},
    {"C:\\_LDDIR\\Old Long Name.txt", 0x20, 1, 600},
    {"C:\\_LDDIR\\_NNER", 0x10, 1, 0},
    {"C:\\System Volume Information\\_RACKING.LOG", 0x20, 1, 120},
    {"C:\\RECYCLER\\_C1.TXT", 0x20, 1, 130},
    {"C:\\RECYCLER\\Recycled Long Name.txt", 0x20, 1, 140},
    {"C:\\MANY\\_05.TXT", 0x20, 1, 105},
    {"C:\\MANY\\_17.TXT", 0x20, 1, 117},
    {"C:\\MANY\\_60.TXT", 0x20, 1, 160},
    {"C:\\MANY\\_65.TXT", 0x20, 1, 165},
    {"C:\\DOCS\\SUB\\Old Draft Notes.txt", 0x20, 1, 3000},
    {"C:\\_LDDIR\\_NNER\\_NNER.TXT", 0x20, 1, 700},
};

struct GoldenCase
{
    const char* image;
    std::vector<int> firsts;
};

std::vector<std::string> Golden(const GoldenRow* rows, size_t count, const std::vector<int>& firsts)
{
    std::vector<std::string> lines;
    for (size_t i = 0; i < count; ++i)
    {
        std::ostringstream s;
        s << rows[i].item << "|" << std::hex << std::uppercase << rows[i].attr << std::dec << "|"
          << rows[i].deleted << "|" << rows[i].size << "|" << (i < firsts.size() ? firsts[i] : -1);
        lines.push_back(s.str());
    }
    return lines;
}

// Deleted entries that fls -r -d -p reports, as "d PATH" or "r PATH" with '/' separators,
// without the $OrphanFiles entries (clusters TSK found no folder for).
std::multiset<std::string> FlsDeleted(const std::string& image)
{
    std::string out;
    int rc = RunCommand("fls -r -d -p '" + image + "' 2>&1", &out);
    EXPECT_EQ(rc, 0) << "fls failed (is sleuthkit installed?):\n" << out;
    std::multiset<std::string> found;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
    {
        size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find(" * ") == std::string::npos)
            continue;
        std::string path = line.substr(tab + 1);
        if (path.rfind("$OrphanFiles", 0) == 0)
            continue;
        found.insert(std::string(1, line[2] == 'd' ? 'd' : 'r') + " " + path);
    }
    return found;
}

// Our deleted items in the same form, with the "_N_" of repeated names taken out again.
std::multiset<std::string> OursDeleted(const FoundItems& items)
{
    static const std::regex kCounter("_[0-9]+_(?=\\.[^.]*$|$)");
    std::multiset<std::string> ours;
    for (const FoundItem& item : items)
    {
        if (!item.deleted)
            continue;
        std::string path = item.path.size() > 3 ? item.path.substr(3) + "/" : "";
        std::replace(path.begin(), path.end(), '\\', '/');
        std::string name = std::regex_replace(item.name.str(), kCounter, "");
        ours.insert(std::string(1, (item.attr & 0x10) ? 'd' : 'r') + " " + path + name);
    }
    return ours;
}

std::vector<std::string> Difference(const std::multiset<std::string>& a,
                                    const std::multiset<std::string>& b)
{
    std::vector<std::string> d;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(d));
    return d;
}

bool Contains(const std::vector<std::string>& listing, const std::string& prefix)
{
    return std::any_of(listing.begin(), listing.end(),
                       [&](const std::string& l) { return l.rfind(prefix + "|", 0) == 0; });
}

// FAT16 entry patching of an in-memory image.
void SetFat16Entry(std::vector<u8>& image, u32 cluster, u16 value)
{
    u32 bps = LoadLe16(&image[11]);
    u32 reserved = LoadLe16(&image[14]);
    StoreLe16(&image[static_cast<size_t>(reserved) * bps + cluster * 2], value);
}

u64 FirstOf(const ScanResult& r, const std::string& item)
{
    for (const FoundItem& i : r.items)
        if (i.path + "\\" + i.name == item)
            return i.first;
    ADD_FAILURE() << item << " not found";
    return 0;
}
} // namespace

class FatScanGolden : public ::testing::TestWithParam<GoldenCase>
{
};

TEST_P(FatScanGolden, FindsExactlyTheCommonTree)
{
    ScanResult r = ScanImage(GetParam().image);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.listing, Golden(kCommonTree, std::size(kCommonTree), GetParam().firsts));
    // One report per find, in the order found, with the attribute byte.
    std::vector<std::string> expected;
    for (const FoundItem& item : r.items)
        expected.push_back(item.path + "\\" + item.name + "|" + std::to_string(item.attr));
    EXPECT_EQ(r.events, expected);
}

TEST_P(FatScanGolden, AgreesWithFlsOnDeletedEntries)
{
    std::string image = TestImage(GetParam().image);
    ASSERT_FALSE(image.empty());
    ScanResult r = Scan(ReadImage(image));
    std::multiset<std::string> fls;
    for (const std::string& e : FlsDeleted(image))
        fls.insert(e);
    std::multiset<std::string> ours = OursDeleted(r.items);
    EXPECT_EQ(Difference(fls, ours), std::vector<std::string>{}) << "fls finds, we do not";
    EXPECT_EQ(Difference(ours, fls), std::vector<std::string>{}) << "we find, fls does not";
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, FatScanGolden,
    ::testing::Values(GoldenCase{"fat12", {10, 38, 39, 49, 54, 56, 59, 11, 43,  64,  76, 120,
                                           50, 51, 52, 55, 57, 58, 64, 76, 120, 126, 46, 53}},
                      GoldenCase{"fat16", {6,  23, 24, 32, 37, 39, 42, 7,  27,  47,  59, 102,
                                           33, 34, 35, 38, 40, 41, 47, 59, 102, 108, 30, 36}},
                      GoldenCase{"fat32", {23, 74, 75, 90, 97,  99,  102, 24,  81,  182, 181, 179,
                                           91, 92, 94, 98, 100, 101, 107, 120, 165, 171, 84,  95}}),
    [](const ::testing::TestParamInfo<GoldenCase>& p) { return std::string(p.param.image); });

TEST(FatScan, Fat32RootIsWalkedButNotListed)
{
    std::string image = TestImage("fat32");
    ASSERT_FALSE(image.empty());
    ScanResult r = Scan(ReadImage(image));
    u32 rootCluster = LoadLe32(&ReadImage(image)[0x2C]);
    ASSERT_FALSE(r.dirIndex.empty());
    EXPECT_EQ(r.dirIndex[0], rootCluster);
    for (const FoundItem& item : r.items)
        EXPECT_NE(item.first, rootCluster) << item.name;
    EXPECT_FALSE(Contains(r.listing, "C:\\C:"));
}

TEST(FatScan, ScanVolumeListing)
{
    ScanResult r = ScanImage("fatscan12");
    EXPECT_EQ(r.status, 0u);
    const std::vector<std::string> expected = {
        "C:\\lower case start.txt|20|1|70|3",
        "C:\\$Recycle.Bin|10|0|0|5",
        "C:\\DUPS|10|0|0|7",
        "C:\\DUPS2|10|0|0|8",
        "C:\\OTHER|10|0|0|9",
        "C:\\STRAD|10|0|0|10",
        "C:\\STRAD2|10|0|0|11",
        "C:\\_OARDIR|10|1|0|12",
        "C:\\_IGDEL|10|1|0|14",
        "C:\\$Recycle.Bin\\Old Thing.txt|20|1|90|7",
        "C:\\DUPS\\_EPORT.DOC|20|1|333|8",
        "C:\\DUPS\\_EPORT_1_.DOC|20|1|222|9",
        "C:\\DUPS\\_EPORT_2_.DOC|20|1|111|10",
        "C:\\DUPS2\\_EADME|20|1|55|9",
        "C:\\DUPS2\\_EADME_1_|20|1|44|10",
        "C:\\OTHER\\_EPORT.DOC|20|1|120|10",
        "C:\\STRAD\\Straddling Name Here.txt|20|1|300|28",
        "C:\\STRAD2\\Straddling Folder Name|10|0|0|42",
        "C:\\_OARDIR\\_OARCH2.TXT|0|1|90|13",
    };
    std::vector<std::string> all = expected;
    for (int i = 1; i <= 14; ++i)
        all.push_back(Format("C:\\_IGDEL\\_%02d.TXT|20|1|30|%d", i, 43 + i));
    // Not found: live files, NOARCH.TXT (deleted without the archive bit in a live folder),
    // and BIGDEL's entries in its second cluster (_15 to _20). "$Recycle.Bin" and the deleted
    // file in it are listed as any other folder and file.
    // Long names straddling a cluster boundary are read in full, for the deleted file of STRAD
    // and the live folder of STRAD2.
    EXPECT_EQ(r.listing, all);
    // "$Recycle.Bin" is catalogued with its first cluster, as every folder is.
    std::vector<u8> image = ReadImage(TestImage("fatscan12"));
    const char* shortName = "$RECYCLEBIN";
    auto at = std::search(image.begin(), image.end(), shortName, shortName + 11);
    ASSERT_NE(at, image.end());
    u32 recycleCluster = LoadLe16(&*(at + 26));
    EXPECT_NE(std::find(r.dirIndex.begin(), r.dirIndex.end(), recycleCluster), r.dirIndex.end());
}

TEST(FatScan, ScanVolumeAgreesWithFlsExceptTheArchiveRule)
{
    std::string image = TestImage("fatscan12");
    ASSERT_FALSE(image.empty());
    ScanResult r = Scan(ReadImage(image));
    std::multiset<std::string> fls;
    for (const std::string& e : FlsDeleted(image))
        fls.insert(e);
    EXPECT_EQ(Difference(fls, OursDeleted(r.items)), (std::vector<std::string>{"r _OARCH.TXT"}));
    EXPECT_EQ(Difference(OursDeleted(r.items), fls), std::vector<std::string>{});
}

TEST(FatScan, PathSeparatorsInNamesAreReplaced)
{
    std::vector<u8> image = ReadImage(TestImage("fatscan12"));
    // "lower case start.txt": characters 6 and 11 (the two spaces) of its first long-name part.
    const u8 needle[] = {'l', 0, 'o', 0, 'w', 0, 'e', 0, 'r', 0};
    auto at = std::search(image.begin(), image.end(), std::begin(needle), std::end(needle));
    ASSERT_NE(at, image.end());
    size_t part = static_cast<size_t>(at - image.begin()) - 1;
    image[part + 14] = '/';  // character 6
    image[part + 24] = '\\'; // character 11
    ScanResult r = Scan(image);
    EXPECT_TRUE(Contains(r.listing, "C:\\lower_case_start.txt"))
        << ::testing::PrintToString(r.listing);
}

TEST(FatScan, LiveFolderWithFreeFatEntryIsNotWalked)
{
    std::string path = TestImage("fat16");
    ASSERT_FALSE(path.empty());
    std::vector<u8> image = ReadImage(path);
    ScanResult plain = Scan(image);
    SetFat16Entry(image, static_cast<u32>(FirstOf(plain, "C:\\DOCS")), 0);
    ScanResult r = Scan(image);
    EXPECT_TRUE(Contains(r.listing, "C:\\DOCS"));
    for (const std::string& line : r.listing)
        EXPECT_NE(line.rfind("C:\\DOCS\\", 0), 0u) << line;
}

TEST(FatScan, FolderLoopThroughDeletedEntryIsCataloguedOnce)
{
    // Make the deleted folder OLDDIR point at the cluster of the live folder DOCS.
    std::string path = TestImage("fat12");
    ASSERT_FALSE(path.empty());
    std::vector<u8> image = ReadImage(path);
    ScanResult plain = Scan(image);
    u64 docs = FirstOf(plain, "C:\\DOCS");
    u64 olddir = FirstOf(plain, "C:\\_LDDIR");
    const u8 needle[11] = {0xE5, 'L', 'D', 'D', 'I', 'R', ' ', ' ', ' ', ' ', ' '};
    auto at = std::search(image.begin(), image.end(), needle, needle + 11);
    ASSERT_NE(at, image.end());
    ASSERT_EQ(LoadLe16(&*(at + 26)), olddir);
    StoreLe16(&*(at + 26), static_cast<u16>(docs));
    // With DOCS's times (bytes 13-25 hold the creation, access and write times) the deleted
    // entry is not newer, so DOCS keeps its name. The recipe makes both folders at the current
    // time, and a newer OLDDIR (made in a later 2-second step) would lend DOCS its name.
    const u8 docsName[11] = {'D', 'O', 'C', 'S', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    auto docsEntry = std::search(image.begin(), image.end(), docsName, docsName + 11);
    ASSERT_NE(docsEntry, image.end());
    std::copy(docsEntry + 13, docsEntry + 26, at + 13);
    StoreLe16(&*(at + 20), 0); // the high word of the first cluster (FAT12: 0)
    ScanResult r = Scan(image);
    EXPECT_TRUE(Contains(r.listing, "C:\\DOCS"));
    EXPECT_FALSE(Contains(r.listing, "C:\\_LDDIR"));
    EXPECT_EQ(std::count_if(r.items.begin(), r.items.end(),
                            [&](const FoundItem& i) { return i.first == docs && (i.attr & 0x10); }),
              1);
}

TEST(FatScan, ClearedRunFlagStopsAtOnce)
{
    for (const char* name : {"fat16", "fat32"})
    {
        CCatalog catalog;
        VolumeEntry volume;
        ASSERT_TRUE(OpenFatVolume(ReadImage(TestImage(name)), volume));
        g_bRunning = 0;
        EXPECT_EQ(ScanFatVolume(catalog, volume), 0u);
        EXPECT_TRUE(volume.items.empty()) << name;
    }
    g_bRunning = 1;
}

TEST(FatScan, FailingDeviceFindsNothing)
{
    CCatalog catalog;
    VolumeEntry volume;
    auto faulty = std::make_unique<CFaulty_RW>(ReadImage(TestImage("fat16")));
    CFaulty_RW& device = *faulty;
    // The FAT is read through the same device (opened while it still reads).
    ASSERT_TRUE(OpenFatVolume(std::move(faulty), volume));
    device.FailAfter(0);
    g_bRunning = 1;
    EXPECT_EQ(ScanFatVolume(catalog, volume), 0u);
    EXPECT_TRUE(volume.items.empty());
}

TEST(FatScan, InvalidBootSectorOrGeometryIsRefused)
{
    CCatalog catalog;
    VolumeEntry volume;
    NewFatState(volume)->boot = std::make_unique<FatBootSector>();
    EXPECT_EQ(ScanFatVolume(catalog, volume), kErrBadFatBoot);
    VolumeEntry none;
    EXPECT_EQ(ScanFatVolume(catalog, none), kErrBadFatBoot);

    VolumeEntry zero;
    ASSERT_TRUE(OpenFatVolume(ReadImage(TestImage("fat12")), zero));
    FatStateOf(zero)->bytesPerSector = 0;
    EXPECT_EQ(ScanFatVolume(catalog, zero), kErrBadFatBoot);
}

// The clusters each deleted file of fat_frag (frag.sh) was given, against where the recipe put
// them; Frag Four keeps its literal run, one cluster of it now a later live file's.
TEST(FatScan, DeletedFindsGetTheClustersTheyHad)
{
    struct Expected
    {
        const char* name;
        const char* runs;
        u32 overwritten;
    };
    const Expected expected[] = {
        {"Interleaved A.bin", "100,102,104", 0},
        {"Interleaved B.bin", "101,103,105", 0},
        {"Single.bin", "111", 0},
        {"Frag One.bin", "110,112-113", 0},
        {"Multi.bin", "121-122", 0},
        {"Frag Two.bin", "120,123-125", 0},
        {"Frag Three.bin", "130,133-134", 0},
        {"Frag Four.bin", "140-142", 1},
        {"Frag Five.bin", "151,153-154", 0},
    };
    ScanResult r = ScanImage("fat-frag");
    for (const Expected& e : expected)
    {
        SCOPED_TRACE(e.name);
        auto item = std::find_if(r.items.begin(), r.items.end(),
                                 [&](const FoundItem& i) { return i.name == e.name; });
        ASSERT_NE(item, r.items.end());
        ASSERT_LE(static_cast<u64>(item->runsAt) + item->runCount, r.runs.size());
        std::string runs;
        for (u32 k = 0; k < item->runCount; ++k)
        {
            const ClusterRun& run = r.runs[item->runsAt + k];
            runs += (runs.empty() ? "" : ",") + std::to_string(run.first) +
                    (run.length > 1 ? "-" + std::to_string(run.first + run.length - 1) : "");
        }
        EXPECT_EQ(runs, e.runs);
        EXPECT_EQ(item->overwritten, e.overwritten);
        EXPECT_EQ(item->inferred, item->runCount > 1 ? 1 : 0);
    }
}
