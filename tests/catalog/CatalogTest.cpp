// The catalogue's adding of finds (by the rule of the volume's engine), its time comparison, its
// reset, and its place below the engines.
#include "catalog/Catalog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "disk/Mem_RW.h"
#include "mempool/MemPool.h"
#include "scan/fat/FatEngine.h"
#include "scan/fat/FatVolumeState.h"
#include "scan/ntfs/NtfsEngine.h"

namespace
{
FoundItem Item(const char* name, u8 attr, u64 first, FoundTime accessed = {2020, 1, 1, 0, 0, 0})
{
    FoundItem item;
    item.path = "C:";
    item.name = name;
    item.attr = attr;
    item.first = first;
    item.accessed = accessed;
    return item;
}

VolumeEntry FatVolume(u32 clusterCount = 1000)
{
    VolumeEntry volume;
    volume.fsType = kFsFat16;
    volume.engine = &FatEngine();
    volume.name = "C:";
    NewFatState(volume)->clusterCount = clusterCount;
    return volume;
}

// The first clusters of the folders catalogued (or excluded) on a FAT volume.
std::vector<u32>& Dirs(VolumeEntry& volume)
{
    return FatStateOf(volume)->dirIndex;
}

std::vector<std::string> Names(const VolumeEntry& volume)
{
    std::vector<std::string> names;
    for (const FoundItem& item : volume.items)
        names.push_back(item.name.str());
    return names;
}

// A reader that counts its destructions.
class CCounting_RW : public CMem_RW
{
public:
    explicit CCounting_RW(int* destroyed) : CMem_RW(std::vector<u8>(512)), m_destroyed(destroyed) {}
    ~CCounting_RW() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

// An engine's volume state that counts its destructions.
class CountingState : public VolumeState
{
public:
    explicit CountingState(int* destroyed) : m_destroyed(destroyed) {}
    ~CountingState() override { ++*m_destroyed; }
    CountingState(const CountingState&) = delete;
    CountingState& operator=(const CountingState&) = delete;
    CountingState(CountingState&&) = delete;
    CountingState& operator=(CountingState&&) = delete;

private:
    int* m_destroyed;
};
} // namespace

TEST(CCatalog, AddItemDropsFirstClusterOutsideVolume)
{
    CCatalog catalog;
    VolumeEntry volume = FatVolume(1000);
    for (u64 first : {0ull, 1ull, 1001ull, 0x100000000ull})
    {
        FoundItem file = Item("F.TXT", 0x20, first);
        file.size = 1;
        catalog.AddItem(std::move(file), volume);
        catalog.AddItem(Item("D", 0x10, first), volume);
    }
    // Without a cluster only an empty file is listed: a file of no bytes has none.
    for (u64 first : {1ull, 1001ull})
        catalog.AddItem(Item("NOCLUS.TXT", 0x20, first), volume);
    EXPECT_TRUE(volume.items.empty());
    EXPECT_TRUE(Dirs(volume).empty());
    catalog.AddItem(Item("LOW.TXT", 0x20, 2), volume);
    catalog.AddItem(Item("HIGH.TXT", 0x20, 1000), volume);
    catalog.AddItem(Item("EMPTY.TXT", 0x20, 0), volume);
    EXPECT_EQ(Names(volume), (std::vector<std::string>{"LOW.TXT", "HIGH.TXT", "EMPTY.TXT"}));

    // A volume whose finds are not named by clusters takes every find as it comes.
    VolumeEntry ntfs;
    ntfs.engine = &NtfsEngine();
    catalog.AddItem(Item("D", 0x10, 1001), ntfs);
    catalog.AddItem(Item("D", 0x10, 1001), ntfs);
    EXPECT_EQ(ntfs.items.size(), 2u);
}

struct RepeatedFolderCase
{
    const char* scenario;
    FoundTime secondAccessed;
    const char* expectedName;
};

class CCatalogRepeatedFolder : public ::testing::TestWithParam<RepeatedFolderCase>
{
};

TEST_P(CCatalogRepeatedFolder, CataloguesOnceAndRenamesOnlyWhenNewer)
{
    CCatalog catalog;
    VolumeEntry volume = FatVolume();
    catalog.AddItem(Item("FIRST", 0x10, 40, {2020, 5, 5, 5, 5, 5}), volume);
    catalog.AddItem(Item("SECOND", 0x10, 40, GetParam().secondAccessed), volume);
    ASSERT_EQ(volume.items.size(), 1u);
    EXPECT_EQ(volume.items[0].name, GetParam().expectedName);
    EXPECT_EQ(volume.items[0].accessed, (FoundTime{2020, 5, 5, 5, 5, 5}));
    EXPECT_EQ(Dirs(volume), (std::vector<u32>{40}));
}

INSTANTIATE_TEST_SUITE_P(
    Times, CCatalogRepeatedFolder,
    ::testing::Values(RepeatedFolderCase{"LaterSecondRenames", {2020, 5, 5, 5, 5, 6}, "SECOND"},
                      RepeatedFolderCase{"EqualKeepsFirst", {2020, 5, 5, 5, 5, 5}, "FIRST"},
                      RepeatedFolderCase{"EarlierKeepsFirst", {2019, 12, 31, 23, 59, 59}, "FIRST"}),
    [](const ::testing::TestParamInfo<RepeatedFolderCase>& p) { return p.param.scenario; });

TEST(CCatalog, FolderWithExcludedClusterIsNeverCatalogued)
{
    CCatalog catalog;
    VolumeEntry volume = FatVolume();
    Dirs(volume).push_back(90); // entered for a "Recycle" entry
    catalog.AddItem(Item("Backup", 0x10, 90, {2030, 1, 1, 0, 0, 0}), volume);
    EXPECT_TRUE(volume.items.empty());
    EXPECT_EQ(Dirs(volume), (std::vector<u32>{90}));
}

TEST(CCatalog, RepeatedFolderLooksFromItsDirIndexPositionOn)
{
    CCatalog catalog;
    VolumeEntry volume = FatVolume();
    // Two excluded clusters put the folder's cluster at dirIndex position 2, while its item is
    // items[0]: the walk from items[2] on finds nothing, so no rename happens.
    Dirs(volume) = {100, 200};
    catalog.AddItem(Item("OLD", 0x10, 50), volume);
    catalog.AddItem(Item("NEW", 0x10, 50, {2030, 1, 1, 0, 0, 0}), volume);
    EXPECT_EQ(Names(volume), (std::vector<std::string>{"OLD"}));
}

TEST(CCatalog, RepeatedFolderMatchingAFileIsDropped)
{
    CCatalog catalog;
    VolumeEntry volume = FatVolume();
    catalog.AddItem(Item("FILE.BIN", 0x20, 60), volume);
    catalog.AddItem(Item("DIR", 0x10, 60), volume);
    catalog.AddItem(Item("LATER", 0x10, 60, {2030, 1, 1, 0, 0, 0}), volume);
    EXPECT_EQ(Names(volume), (std::vector<std::string>{"FILE.BIN", "DIR"}));
}

TEST(CCatalog, LiveFolderBesideItsDeletedTwinIsCataloguedOnce)
{
    CCatalog catalog;
    VolumeEntry volume = FatVolume();
    catalog.AddItem(Item("GONE", 0x10, 70), volume);
    FoundItem gone = volume.items[0];
    volume.items[0].deleted = 1;
    // The live folder that took the cluster is listed beside the deleted one, once: a tree that
    // names the cluster again below it must not make it a new folder at every level.
    for (int level = 0; level < 3; ++level)
        catalog.AddItem(Item("HERE", 0x10, 70), volume);
    gone.deleted = 1;
    catalog.AddItem(gone, volume);
    EXPECT_EQ(Names(volume), (std::vector<std::string>{"GONE", "HERE"}));
}

TEST(CCatalog, LookupFollowsItemsAppendedDirectly)
{
    CCatalog catalog;
    VolumeEntry volume = FatVolume();
    catalog.AddItem(Item("A", 0x10, 10), volume);
    volume.items.push_back(Item("DIRECT", 0x20, 11)); // an NTFS-style direct append
    Dirs(volume).push_back(11);
    catalog.AddItem(Item("B", 0x10, 11, {2030, 1, 1, 0, 0, 0}), volume);
    // dirIndex position of 11 is 1 and items[1] is the file: dropped.
    EXPECT_EQ(Names(volume), (std::vector<std::string>{"A", "DIRECT"}));
    catalog.AddItem(Item("A2", 0x10, 10, {2030, 1, 1, 0, 0, 0}), volume);
    EXPECT_EQ(Names(volume), (std::vector<std::string>{"A2", "DIRECT"}));
}

struct CompareCase
{
    FoundTime a;
    FoundTime b;
    int expected;
};

class CCatalogCompareTime : public ::testing::TestWithParam<CompareCase>
{
};

TEST_P(CCatalogCompareTime, FirstDifferenceDecides)
{
    EXPECT_EQ(CCatalog::CompareTime(GetParam().a, GetParam().b), GetParam().expected);
    EXPECT_EQ(CCatalog::CompareTime(GetParam().b, GetParam().a), -GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, CCatalogCompareTime,
    ::testing::Values(CompareCase{{2020, 1, 1, 0, 0, 0}, {2020, 1, 1, 0, 0, 0}, 0},
                      CompareCase{{2021, 1, 1, 0, 0, 0}, {2020, 12, 31, 23, 59, 59}, 1},
                      CompareCase{{2020, 1, 2, 0, 0, 0}, {2020, 1, 1, 23, 59, 59}, 1},
                      CompareCase{{2020, 1, 1, 0, 0, 1}, {2020, 1, 1, 0, 0, 0}, 1}));

TEST(CCatalog, ResetVolumesFreesEverythingAndEmptiesTheList)
{
    int destroyed = 0;
    int states = 0;
    {
        CCatalog catalog;
        VolumeEntry fat = FatVolume();
        fat.reader = std::make_unique<CCounting_RW>(&destroyed);
        catalog.AddItem(Item("D", 0x10, 5), fat);
        catalog.m_volumes.push_back(std::move(fat));

        VolumeEntry ntfs;
        ntfs.fsType = kFsNtfs;
        ntfs.engine = &NtfsEngine();
        ntfs.name = "D:";
        ntfs.state = std::make_unique<CountingState>(&states);
        FoundItem item = Item("N.TXT", 0x20, 16);
        item.SetPayload(FindPayload::kRecordData, g_MemPool.Alloc(64));
        ASSERT_NE(item.Payload(FindPayload::kRecordData), nullptr);
        ntfs.items.push_back(item);
        catalog.m_volumes.push_back(std::move(ntfs));
        catalog.m_fileCount = 3;

        catalog.ResetVolumes();
        EXPECT_TRUE(catalog.m_volumes.empty());
        EXPECT_EQ(catalog.m_fileCount, 0u);
        EXPECT_EQ(destroyed, 1);
        EXPECT_EQ(states, 1);

        // The catalogue is usable again after a reset, and its destructor resets as well.
        VolumeEntry again = FatVolume();
        again.reader = std::make_unique<CCounting_RW>(&destroyed);
        again.state = std::make_unique<CountingState>(&states);
        catalog.m_volumes.push_back(std::move(again));
    }
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(states, 2);
}

// The catalogue stands below the engines: it includes no header of a file system or an engine,
// and its library links none of theirs.
TEST(CatalogLayer, IncludesAndLinksNoFileSystem)
{
    const std::filesystem::path folder = std::filesystem::path(ORL_SOURCE_DIR) / "src/catalog";
    const std::regex below(R"(#include\s+"(fat|exfat|ntfs|scan|recovery)/)");
    const std::regex linked(R"(\borl_(fat|exfat|ntfs|scan|recovery)\b)");
    int files = 0;
    for (const auto& file : std::filesystem::directory_iterator(folder))
    {
        std::ifstream in(file.path());
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        ASSERT_FALSE(text.empty()) << file.path();
        ++files;
        EXPECT_FALSE(std::regex_search(text, below)) << file.path();
        if (file.path().filename() == "CMakeLists.txt")
        {
            EXPECT_FALSE(std::regex_search(text, linked)) << text;
        }
    }
    EXPECT_GE(files, 5);
}
