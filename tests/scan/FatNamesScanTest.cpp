// Names as they are stored, deleted folders and empty files on FAT and exFAT volumes made by
// mkfs.fat/mtools and mkfs.exfat/exfat-fuse (tests/images/recipes/fatnames.sh), checked
// against The Sleuth Kit's fls where both list the same entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "exfat/ExfatVolume.h"
#include "scan/FatScanSupport.h"
#include "scan/FindConditions.h"
#include "scan/exfat/ExfatEngine.h"
#include "scan/exfat/ExfatScan.h"
#include "scan/fat/FatScan.h"
#include "support/TestImages.h"

namespace
{
// A memory reader that counts the bytes it serves.
class CCountingMem_RW final : public CMem_RW
{
public:
    explicit CCountingMem_RW(std::vector<u8> image) : CMem_RW(std::move(image)) {}
    u64 bytesRead = 0;

protected:
    u32 RawRead(void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset) override
    {
        bytesRead += byteCount;
        return CMem_RW::RawRead(buffer, byteCount, bytesDone, byteOffset);
    }
};

// path\name|deleted|size|condition of every find, in the order of the walk.
std::vector<std::string> Listing(const VolumeEntry& volume)
{
    std::vector<std::string> out;
    for (const FoundItem& item : volume.items)
        out.push_back(item.path + "\\" + item.name + "|" + std::to_string(item.deleted) + "|" +
                      std::to_string(item.size) + "|" + ConditionText(item.condition));
    return out;
}

void ScanFat(const std::string& name, VolumeEntry& volume)
{
    const std::string image = TestImage(name);
    ASSERT_FALSE(image.empty());
    ASSERT_TRUE(OpenFatVolume(ReadImage(image), volume));
    CCatalog catalog;
    g_bRunning = 1;
    ASSERT_EQ(ScanFatVolume(catalog, volume), 0u);
    AssessConditions(volume);
}

// The names fls gives the deleted entries of the root (it reads no deleted folder).
std::set<std::string> FlsDeletedRoot(const std::string& image)
{
    std::string out;
    EXPECT_EQ(RunCommand("fls -p '" + image + "'", &out), 0);
    std::set<std::string> names;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);)
        if (line.find(" * ") != std::string::npos && line.find('\t') != std::string::npos)
            names.insert(line.substr(line.find('\t') + 1));
    return names;
}

std::string LongName(const std::string& tail)
{
    const std::string stem =
        "A very long name that goes on and on past the old limit of the catalogue ";
    return (stem + stem + stem + stem).substr(0, 240 - tail.size()) + tail;
}

TEST(FatNamesScan, NamesAsStoredOverwrittenFolderAndEmptyFiles)
{
    VolumeEntry volume;
    ScanFat("fatnames", volume);
    std::vector<std::string> expected = {
        "C:\\_LDDIR|1|0|overwritten", // its cluster is the live folder's now: no children
        "C:\\photos|0|0|",            // case flags 0x18, no long name
        "C:\\_one.txt|1|300|good",
        "C:\\_ata.TXT|1|310|good", // case flag 0x08: the base alone in lower case
        "C:\\.привет.txt.swp|1|320|good",
        "C:\\привет мир.txt|1|330|good",
        "C:\\" + LongName(" version 1.txt") + "|1|340|good",
        "C:\\" + LongName(" version 2.txt") + "|1|350|good",
        "C:\\_mpty.txt|1|0|good",
        "C:\\_MPTIES|1|0|",
        "C:\\Live Folder Name|0|0|",
    };
    for (int i = 1; i <= 20; ++i)
        expected.push_back("C:\\_MPTIES\\_" + std::string(i < 10 ? "0" : "") + std::to_string(i) +
                           ".TXT|1|0|good");
    EXPECT_EQ(Listing(volume), expected);

    std::set<std::string> ours;
    for (const FoundItem& item : volume.items)
        if (item.deleted != 0 && item.path == "C:")
            ours.insert(item.name.str());
    EXPECT_EQ(ours, FlsDeletedRoot(TestImage("fatnames")));
}

TEST(FatNamesScan, DeletedFoldersInConsecutiveClustersListEachEntryOnce)
{
    // Eight deleted folders, each one full cluster of entries, one after the other: each
    // folder's entries are its own cluster's, never those of the folders behind it.
    VolumeEntry volume;
    ScanFat("fatnames-chain", volume);
    std::map<std::string, int> perFolder;
    std::set<u64> firsts;
    for (const FoundItem& item : volume.items)
    {
        if (item.attr & 0x10)
            continue;
        ++perFolder[item.path.str()];
        EXPECT_TRUE(firsts.insert(item.first).second) << item.path << "\\" << item.name;
    }
    EXPECT_EQ(perFolder.size(), 8u);
    for (const auto& [folder, count] : perFolder)
        EXPECT_EQ(count, 14) << folder;
}

TEST(FatNamesScan, ExfatDeletedFoldersReadToTheirEndOnly)
{
    const std::string image = TestImage("exfatnames");
    ASSERT_FALSE(image.empty());
    VolumeEntry volume;
    volume.name = "C:";
    volume.engine = &ExfatEngine();
    auto reader = std::make_unique<CCountingMem_RW>(ReadImage(image));
    CCountingMem_RW* counting = reader.get();
    volume.reader = std::move(reader);
    ASSERT_TRUE(AttachExfatVolume(volume));
    CCatalog catalog;
    g_bRunning = 1;
    counting->bytesRead = 0;
    ASSERT_EQ(ScanExfatVolume(catalog, volume), 0u);
    // Five deleted folders that keep no length, each one cluster: read to their end marker or
    // to the next folder, never on through the heap (64 MiB).
    EXPECT_LT(counting->bytesRead, u64{2} << 20);
    AssessConditions(volume);

    std::map<std::string, int> perFolder;
    std::map<std::string, int> empty;
    for (const FoundItem& item : volume.items)
    {
        if (item.attr & 0x10)
            continue;
        ++perFolder[item.path.str()];
        if (item.size == 0 && item.first == 0 && item.condition == FindCondition::kGood)
            ++empty[item.path.str()];
    }
    EXPECT_EQ(perFolder, (std::map<std::string, int>{{"C:", 1},
                                                     {"C:\\D1", 42},
                                                     {"C:\\D2", 42},
                                                     {"C:\\D3", 42},
                                                     {"C:\\D4", 42},
                                                     {"C:\\Empties", 20}}));
    EXPECT_EQ(empty, (std::map<std::string, int>{{"C:", 1}, {"C:\\Empties", 20}}));
}
} // namespace
