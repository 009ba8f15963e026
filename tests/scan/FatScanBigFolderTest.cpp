// Deleted FAT folders whose entries fill several clusters (fatbigdel16, fatbigdel32 of
// fatscan.sh): the walk reads on past the first cluster while the clusters are free and hold
// directory entries, and stops at the first that does not; The Sleuth Kit knows the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>

#include "disk/Faulty_RW.h"
#include "fat/FatDirBlock.h"
#include "platform/ByteOrder.h"
#include "platform/Format.h"
#include "scan/FatScanSupport.h"
#include "scan/fat/FatScan.h"
#include "support/TestImages.h"

namespace
{
struct Found
{
    FoundItems items;
    u32 folderFirst = 0; // first cluster of the deleted folder CAM
};

Found ScanBytes(std::vector<u8> image)
{
    Found found;
    CCatalog catalog;
    RecordingSink sink;
    catalog.m_sink = &sink;
    VolumeEntry volume;
    EXPECT_TRUE(OpenFatVolume(std::move(image), volume));
    g_bRunning = 1;
    EXPECT_EQ(ScanFatVolume(catalog, volume), 0u);
    found.items = volume.items;
    for (const FoundItem& item : found.items)
        if (item.path == "C:" && item.name == "_AM")
            found.folderFirst = static_cast<u32>(item.first);
    return found;
}

// "name|attr|size" of the files found in CAM, in the order found.
std::vector<std::string> FolderFiles(const Found& found)
{
    std::vector<std::string> lines;
    for (const FoundItem& item : found.items)
        if (item.path == "C:\\_AM")
            lines.push_back(Format("%s|%X|%llu", item.name.c_str(), unsigned(item.attr),
                                   static_cast<unsigned long long>(item.size)));
    return lines;
}

// The recipe's files in folder order: IMG_0001.JPG .. IMG_0200.JPG, then "Holiday Photo
// 001.jpg" .. "Holiday Photo 100.jpg"; file i holds 100 + i bytes. The first count of them.
std::vector<std::string> RecipeFiles(std::size_t count = 300)
{
    std::vector<std::string> lines;
    for (unsigned i = 1; i <= 300 && lines.size() < count; ++i)
        lines.push_back(i <= 200 ? Format("_MG_0%03u.JPG|20|%u", i, 100 + i)
                                 : Format("Holiday Photo %03u.jpg|20|%u", i - 200, 100 + i));
    return lines;
}

// Sizes of the deleted files fls -r -d -l reports (the folder's own and its orphans).
std::multiset<u64> FlsDeletedSizes(const std::string& image)
{
    std::string out;
    EXPECT_EQ(RunCommand("fls -r -d -l -p '" + image + "' 2>&1", &out), 0) << out;
    std::multiset<u64> sizes;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
    {
        // Orphans (entries TSK found no folder for) come as "-/r".
        if (line.rfind("r/r * ", 0) != 0 && line.rfind("-/r * ", 0) != 0)
            continue;
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string f; std::getline(split, f, '\t');)
            fields.push_back(f);
        if (fields.size() > 6)
            sizes.insert(std::stoull(fields[6]));
    }
    return sizes;
}
} // namespace

class FatScanBigFolder : public ::testing::TestWithParam<const char*>
{
};

TEST_P(FatScanBigFolder, EveryClusterOfTheDeletedFolderIsRead)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    Found found = ScanBytes(ReadImage(image));
    ASSERT_NE(found.folderFirst, 0u);
    // The long names straddling cluster boundaries come whole.
    EXPECT_EQ(FolderFiles(found), RecipeFiles());

    // fls reads a deleted folder's first cluster only and lists the other files as orphans;
    // the sizes (all different) say that it knows the same 300 files.
    std::multiset<u64> ours;
    for (const FoundItem& item : found.items)
        if (item.path == "C:\\_AM")
            ours.insert(item.size);
    EXPECT_EQ(FlsDeletedSizes(image), ours);
}

// The walk stops at the first cluster that is in use, that does not hold directory entries,
// or that begins with the end-of-directory mark; what came before stays found.
TEST_P(FatScanBigFolder, WalkStopsAtTheFirstClusterThatIsNoFreeFolderCluster)
{
    const std::vector<u8> plain = ReadImage(TestImage(GetParam()));
    ASSERT_FALSE(plain.empty());
    VolumeEntry volume;
    ASSERT_TRUE(OpenFatVolume(plain, volume));
    const FatVolumeState& state = *FatStateOf(volume);
    const u32 first = ScanBytes(plain).folderFirst;
    ASSERT_NE(first, 0u);
    const u32 bps = state.bytesPerSector;
    const u32 clusterBytes = bps * state.sectorsPerCluster;
    const u32 slots = clusterBytes / 32;
    const bool fat32 = volume.fsType == kFsFat32;
    const std::size_t fatStart = static_cast<std::size_t>(LoadLe16(&plain[14])) * bps;
    auto clusterAt = [&](u32 cluster)
    {
        s64 sector = cluster;
        EXPECT_TRUE(state.boot->ClusterToSector(&sector));
        return static_cast<std::size_t>(sector) * bps;
    };
    // Damage to the folder's third cluster: the first two clusters' files stay (less "." and
    // "..").
    const u32 third = first + 2;
    const std::size_t kept = 2 * slots - 2;
    struct Damage
    {
        const char* what;
        void (*apply)(std::vector<u8>&, std::size_t at, std::size_t fatEntry, bool fat32);
    };
    const Damage damages[] = {
        {"cluster in use",
         [](std::vector<u8>& img, std::size_t, std::size_t fatEntry, bool is32)
         {
             if (is32)
                 StoreLe32(&img[fatEntry], 0x0FFFFFFF);
             else
                 StoreLe16(&img[fatEntry], 0xFFFF);
         }},
        {"attribute bit 0x40", [](std::vector<u8>& img, std::size_t at, std::size_t, bool)
         { img[at + 5 * 32 + 11] |= 0x40; }},
        {"control byte in a short name", [](std::vector<u8>& img, std::size_t at, std::size_t, bool)
         { img[at + 3 * 32 + 4] = 0x01; }},
        {"write time past 23 h", [](std::vector<u8>& img, std::size_t at, std::size_t, bool)
         { StoreLe16(&img[at + 7 * 32 + 22], 0xC000); }},
        {"first cluster past the volume", [](std::vector<u8>& img, std::size_t at, std::size_t,
                                             bool) { StoreLe16(&img[at + 20], 0xFFFF); }},
        {"end mark first", [](std::vector<u8>& img, std::size_t at, std::size_t, bool)
         { std::fill_n(img.begin() + static_cast<std::ptrdiff_t>(at), 32, 0); }},
    };
    for (const Damage& damage : damages)
    {
        std::vector<u8> image = plain;
        damage.apply(image, clusterAt(third), fatStart + third * (fat32 ? 4u : 2u), fat32);
        EXPECT_EQ(FolderFiles(ScanBytes(image)), RecipeFiles(kept)) << damage.what;
    }
}

// The folder made live again (its name and its chain of clusters restored): its clusters follow
// one another, so the walk reads them in stretches. A sector that cannot be read ends the walk
// at its cluster, as a chain ending there would, and keeps what came before.
TEST_P(FatScanBigFolder, ALiveFolderReadsAsItsClustersOneByOne)
{
    std::vector<u8> image = ReadImage(TestImage(GetParam()));
    ASSERT_FALSE(image.empty());
    VolumeEntry volume;
    ASSERT_TRUE(OpenFatVolume(image, volume));
    const FatVolumeState& state = *FatStateOf(volume);
    const u32 first = ScanBytes(image).folderFirst;
    ASSERT_NE(first, 0u);
    const u32 bps = state.bytesPerSector;
    const u32 clusters = 502 * 32 / (bps * state.sectorsPerCluster) + 1;
    const bool fat32 = volume.fsType == kFsFat32;
    const std::size_t fatStart = static_cast<std::size_t>(LoadLe16(&image[14])) * bps;
    auto link = [&](std::vector<u8>& img, u32 cluster, u32 next)
    {
        if (fat32)
            StoreLe32(&img[fatStart + cluster * 4u], next);
        else
            StoreLe16(&img[fatStart + cluster * 2u], static_cast<u16>(next));
    };
    for (u32 c = first; c + 1 < first + clusters; ++c)
        link(image, c, c + 1);
    link(image, first + clusters - 1, fat32 ? 0x0FFFFFFF : 0xFFFF);
    // The folder's entry in the root: "\xE5AM" back to "CAM".
    const u8 entry[12] = {0xE5, 'A', 'M', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0x10};
    const auto at = std::search(image.begin(), image.end(), std::begin(entry), std::end(entry));
    ASSERT_NE(at, image.end());
    *at = 'C';
    auto camFiles = [](const FoundItems& items)
    {
        std::vector<std::string> lines;
        for (const FoundItem& item : items)
            if (item.path == "C:\\CAM")
                lines.push_back(Format("%s|%X|%llu", item.name.c_str(), unsigned(item.attr),
                                       static_cast<unsigned long long>(item.size)));
        return lines;
    };
    EXPECT_EQ(camFiles(ScanBytes(image).items), RecipeFiles());

    // The chain cut after the second cluster, against a failed read of the third.
    std::vector<u8> cut = image;
    link(cut, first + 1, fat32 ? 0x0FFFFFFF : 0xFFFF);
    const std::vector<std::string> expected = camFiles(ScanBytes(cut).items);
    ASSERT_FALSE(expected.empty());
    ASSERT_LT(expected.size(), 300u);
    s64 third = first + 2;
    ASSERT_TRUE(state.boot->ClusterToSector(&third));
    CCatalog catalog;
    VolumeEntry faulty;
    auto reader = std::make_unique<CFaulty_RW>(std::move(image));
    reader->FailSector(static_cast<u64>(third) + state.sectorsPerCluster - 1);
    ASSERT_TRUE(OpenFatVolume(std::move(reader), faulty));
    g_bRunning = 1;
    EXPECT_EQ(ScanFatVolume(catalog, faulty), 0u);
    EXPECT_EQ(camFiles(faulty.items), expected);
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatScanBigFolder, ::testing::Values("fatbigdel16", "fatbigdel32"),
                         [](const ::testing::TestParamInfo<const char*>& p)
                         { return std::string(p.param); });
