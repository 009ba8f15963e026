// orlavent-cli bootinfo run as a program: on FAT12, FAT16 and FAT32 volumes made by mkfs.fat
// and mtools its geometry must agree with The Sleuth Kit's fsstat; sources that are missing,
// unreadable or not FAT must be named with a reason and a non-zero exit status.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "CliRun.h"
#include "platform/Types.h"
#include "support/TestImages.h"

namespace
{
using Fields = std::map<std::string, std::string>;

// The members of each object of bootinfo's JSON array, in order. Values keep no quotes.
std::vector<Fields> ParseJsonObjects(const std::string& json)
{
    std::vector<Fields> objects;
    static const std::regex kObject(R"(\{[^{}]*\})");
    static const std::regex kMember(R"re("(\w+)": (?:"((?:[^"\\]|\\.)*)"|(\d+)))re");
    for (auto o = std::sregex_iterator(json.begin(), json.end(), kObject);
         o != std::sregex_iterator(); ++o)
    {
        Fields f;
        std::string text = o->str();
        for (auto m = std::sregex_iterator(text.begin(), text.end(), kMember);
             m != std::sregex_iterator(); ++m)
            f[(*m)[1]] = (*m)[2].matched ? (*m)[2].str() : (*m)[3].str();
        objects.push_back(f);
    }
    return objects;
}

u64 Num(const Fields& f, const std::string& key)
{
    auto it = f.find(key);
    if (it == f.end())
    {
        ADD_FAILURE() << "no member " << key;
        return 0;
    }
    return std::stoull(it->second);
}

// What fsstat reports about a FAT volume, in sectors unless named otherwise.
struct FsStat
{
    std::string type;
    u64 sectorSize = 0;
    u64 clusterSize = 0; // bytes
    u64 totalSectors = 0;
    u64 reservedSectors = 0;
    u64 fatCount = 0;
    u64 fat0First = 0;
    u64 fat0Last = 0;
    u64 rootFirst = 0;
    u64 rootLast = 0;
    u64 clusterAreaFirst = 0;
    u64 lastCluster = 0;
};

// fsstat of the FAT volume at sector of image (a partition's start, or 0).
FsStat RunFsstat(const std::string& image, u64 sector = 0)
{
    std::string text;
    FsStat s;
    int rc = RunCommand(
        "fsstat -f fat -o " + std::to_string(sector) + " " + ShellQuote(image) + " 2>&1", &text);
    EXPECT_EQ(rc, 0) << "fsstat failed (is sleuthkit installed?):\n" << text;
    std::istringstream lines(text);
    std::string line;
    std::smatch m;
    static const std::regex kType(R"(^File System Type: (FAT\d+))");
    static const std::regex kSector(R"(^Sector Size: (\d+))");
    static const std::regex kCluster(R"(^Cluster Size: (\d+))");
    static const std::regex kTotal(R"(^Total Range: 0 - (\d+))");
    static const std::regex kReserved(R"(^\* Reserved: 0 - (\d+))");
    static const std::regex kFat(R"(^\* FAT (\d+): (\d+) - (\d+))");
    static const std::regex kRoot(R"(^\*+ Root Directory: (\d+) - (\d+))");
    static const std::regex kArea(R"(^\*+ Cluster Area: (\d+) - (\d+))");
    static const std::regex kRange(R"(^Total Cluster Range: 2 - (\d+))");
    auto n = [&](int i) { return std::stoull(m[i].str()); };
    while (std::getline(lines, line))
    {
        if (std::regex_search(line, m, kType))
            s.type = m[1];
        else if (std::regex_search(line, m, kSector))
            s.sectorSize = n(1);
        else if (std::regex_search(line, m, kCluster))
            s.clusterSize = n(1);
        else if (std::regex_search(line, m, kTotal))
            s.totalSectors = n(1) + 1;
        else if (std::regex_search(line, m, kReserved))
            s.reservedSectors = n(1) + 1;
        else if (std::regex_search(line, m, kFat))
        {
            if (n(1) == 0)
            {
                s.fat0First = n(2);
                s.fat0Last = n(3);
            }
            ++s.fatCount;
        }
        else if (std::regex_search(line, m, kRoot))
        {
            s.rootFirst = n(1);
            s.rootLast = n(2);
        }
        else if (std::regex_search(line, m, kArea))
            s.clusterAreaFirst = n(1);
        else if (std::regex_search(line, m, kRange))
            s.lastCluster = n(1);
    }
    EXPECT_FALSE(s.type.empty()) << text;
    EXPECT_NE(s.sectorSize, 0u) << text;
    EXPECT_NE(s.lastCluster, 0u) << text;
    return s;
}

class BootInfoImage : public ::testing::TestWithParam<const char*>
{
};
} // namespace

TEST_P(BootInfoImage, AgreesWithFsstat)
{
    std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    FsStat tsk = RunFsstat(image);
    ASSERT_FALSE(HasFailure());

    CliRun run = RunOrlaventCli("bootinfo --json " + ShellQuote(image));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<Fields> objects = ParseJsonObjects(run.out);
    ASSERT_EQ(objects.size(), 1u) << run.out;
    const Fields& f = objects[0];

    EXPECT_EQ(f.at("drive"), "C:");
    EXPECT_EQ(f.at("source"), image);
    EXPECT_EQ(f.at("fatType"), tsk.type);
    u64 bps = Num(f, "bytesPerSector");
    u64 spc = Num(f, "sectorsPerCluster");
    EXPECT_EQ(bps, tsk.sectorSize);
    EXPECT_EQ(spc * bps, tsk.clusterSize);
    EXPECT_EQ(Num(f, "reservedSectors"), tsk.reservedSectors);
    EXPECT_EQ(Num(f, "firstFatSector"), tsk.fat0First);
    EXPECT_EQ(Num(f, "fatSectors"), tsk.fat0Last - tsk.fat0First + 1);
    EXPECT_EQ(Num(f, "fatCount"), tsk.fatCount);
    EXPECT_EQ(Num(f, "totalSectors"), tsk.totalSectors);
    EXPECT_EQ(Num(f, "firstDataSector"), tsk.clusterAreaFirst);
    EXPECT_EQ(Num(f, "rootDirSector"), tsk.rootFirst);
    if (tsk.type == "FAT32")
    {
        // The root directory is a cluster chain: fsstat shows its first cluster's sectors.
        EXPECT_EQ(Num(f, "rootCluster"), (tsk.rootFirst - tsk.clusterAreaFirst) / spc + 2);
        EXPECT_EQ(f.count("rootEntryCount"), 0u);
    }
    else
    {
        EXPECT_EQ(Num(f, "rootEntryCount") * 32, (tsk.rootLast - tsk.rootFirst + 1) * bps);
        EXPECT_EQ(f.count("rootCluster"), 0u);
    }

    // The cluster limit is the highest cluster that both the FAT can describe and the volume
    // can hold the first sector of; fsstat's range ends at the last whole cluster.
    u64 fatBits = tsk.type == "FAT12" ? 12 : tsk.type == "FAT16" ? 16 : 32;
    u64 fatEntries = Num(f, "fatSectors") * bps * 8 / fatBits;
    u64 dataSectors = tsk.totalSectors - tsk.clusterAreaFirst;
    u64 inVolume = tsk.lastCluster + (dataSectors % spc != 0 ? 1 : 0);
    EXPECT_EQ(Num(f, "clusterLimit"), std::min(fatEntries, inVolume));
}

INSTANTIATE_TEST_SUITE_P(BootInfo, BootInfoImage,
                         ::testing::Values("fat12", "fat16", "fat32", "demo_fat32"),
                         [](const ::testing::TestParamInfo<const char*>& p) { return p.param; });

// The text form carries the same values as the JSON form, one labelled line each.
TEST(BootInfo, TextMatchesJson)
{
    std::string fat12 = TestImage("fat12");
    std::string fat32 = TestImage("fat32");
    ASSERT_FALSE(fat12.empty() || fat32.empty());
    std::string args = ShellQuote(fat12) + " G:=" + ShellQuote(fat32);
    CliRun text = RunOrlaventCli("bootinfo " + args);
    CliRun json = RunOrlaventCli("bootinfo --json " + args);
    ASSERT_EQ(text.status, 0) << text.err;
    ASSERT_EQ(json.status, 0) << json.err;
    std::vector<Fields> objects = ParseJsonObjects(json.out);
    ASSERT_EQ(objects.size(), 2u);

    const std::pair<const char*, const char*> lines[] = {
        {"FAT type", "fatType"},
        {"Bytes per sector", "bytesPerSector"},
        {"Sectors per cluster", "sectorsPerCluster"},
        {"Reserved sectors", "reservedSectors"},
        {"FAT copies", "fatCount"},
        {"Sectors per FAT", "fatSectors"},
        {"First FAT sector", "firstFatSector"},
        {"First data sector", "firstDataSector"},
        {"Total sectors", "totalSectors"},
        {"Cluster limit", "clusterLimit"},
    };
    // Blocks are separated by one empty line and open with the drive and the source.
    std::size_t split = text.out.find("\n\n");
    ASSERT_NE(split, std::string::npos) << text.out;
    const std::string blocks[] = {text.out.substr(0, split + 1), text.out.substr(split + 2)};
    for (int i = 0; i < 2; ++i)
    {
        const Fields& f = objects[i];
        EXPECT_EQ(blocks[i].rfind(f.at("drive") + " " + f.at("source") + "\n", 0), 0u) << blocks[i];
        for (const auto& [label, key] : lines)
        {
            std::regex line("\\n  " + std::string(label) + ": +" + f.at(key) + "\\n");
            EXPECT_TRUE(std::regex_search(blocks[i], line)) << label << " in\n" << blocks[i];
        }
    }
    EXPECT_EQ(objects[1].at("drive"), "G:");
    EXPECT_NE(text.out.find("  Root directory:       sector " + objects[0].at("rootDirSector") +
                            " (" + objects[0].at("rootEntryCount") + " entries)\n"),
              std::string::npos);
    EXPECT_NE(text.out.find("  Root directory:       sector " + objects[1].at("rootDirSector") +
                            " (cluster " + objects[1].at("rootCluster") + ")\n"),
              std::string::npos);
}

namespace
{
struct BadSource
{
    const char* label;
    const char* file;   // name inside the scratch folder; "" for the folder itself
    int make;           // how the file is made: see MakeBadSource
    const char* reason; // expected part of the message
};

// Bytes written for the crafted sources that stand in for the start of a volume.
constexpr std::size_t kVolumeHead = std::size_t{64} * 1024;

void WriteBytes(const std::string& path, const std::vector<u8>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

// 0 nothing (missing), 1 100 bytes, 2 64 KiB of zeros, 3 text, 4 real NTFS volume,
// 5 a FAT16 boot sector whose sectors-per-cluster (sector-0 offset 0x0D) is 3, 6 a folder.
void MakeBadSource(int make, const std::string& path)
{
    switch (make)
    {
    case 1:
        WriteBytes(path, std::vector<u8>(100, 0xEB));
        break;
    case 2:
        WriteBytes(path, std::vector<u8>(kVolumeHead, 0));
        break;
    case 3:
    {
        std::string text;
        while (text.size() < 4096)
            text += "This is a plain text file, not a volume.\n";
        WriteBytes(path, std::vector<u8>(text.begin(), text.end()));
        break;
    }
    case 4:
    {
        std::string log;
        int rc = RunCommand("truncate -s 8M " + ShellQuote(path) + " && mkntfs -F -Q -q " +
                                ShellQuote(path) + " 2>&1",
                            &log);
        ASSERT_EQ(rc, 0) << "mkntfs failed (is ntfs-3g installed?): " << log;
        break;
    }
    case 5:
    {
        std::string fat16 = TestImage("fat16");
        ASSERT_FALSE(fat16.empty());
        std::vector<u8> bytes(kVolumeHead);
        std::ifstream in(fat16, std::ios::binary);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(in.good()) << fat16;
        bytes[0x0D] = 3;
        WriteBytes(path, bytes);
        break;
    }
    default:
        break;
    }
}

// Test names and failure messages show the case label, not the bytes of the case.
void PrintTo(const BadSource& c, std::ostream* os)
{
    *os << c.label;
}

class BootInfoBadSource : public ::testing::TestWithParam<BadSource>
{
};
} // namespace

TEST_P(BootInfoBadSource, NamesTheSourceAndFails)
{
    const BadSource& c = GetParam();
    std::string dir = ScratchDir("bootinfo-bad");
    std::string path = *c.file ? dir + "/" + c.file : dir;
    MakeBadSource(c.make, path);
    ASSERT_FALSE(HasFatalFailure());

    CliRun run = RunOrlaventCli("bootinfo -- " + ShellQuote(path));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("C: " + path + ": "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;

    CliRun json = RunOrlaventCli("bootinfo --json -- " + ShellQuote(path));
    EXPECT_EQ(json.status, 1);
    std::vector<Fields> objects = ParseJsonObjects(json.out);
    ASSERT_EQ(objects.size(), 1u) << json.out;
    EXPECT_EQ(objects[0]["source"], path);
    EXPECT_NE(objects[0]["error"].find(c.reason), std::string::npos) << json.out;
    EXPECT_EQ(objects[0].count("fatType"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    BootInfo, BootInfoBadSource,
    ::testing::Values(BadSource{"Missing", "-missing.img", 0, "no such file or device"},
                      BadSource{"Folder", "", 6, "is a folder"},
                      BadSource{"ShorterThanASector", "short.img", 1, "too short"},
                      BadSource{"Zeros", "zeros.img", 2, "not a FAT volume"},
                      BadSource{"Text", "notes.txt", 3, "not a FAT volume"},
                      BadSource{"Ntfs", "ntfs.img", 4, "its boot sector is NTFS"},
                      BadSource{"ClusterSizeNotPowerOfTwo", "bad-spc.img", 5, "not a FAT volume"}),
    [](const ::testing::TestParamInfo<BadSource>& p) { return std::string(p.param.label); });

// One bad source does not stop the others: the good ones are printed, the status tells.
TEST(BootInfo, GoodSourcesStillPrintedBesideABadOne)
{
    std::string fat16 = TestImage("fat16");
    ASSERT_FALSE(fat16.empty());
    std::string missing = ScratchDir("bootinfo-mixed") + "/gone.img";
    CliRun run = RunOrlaventCli("bootinfo " + ShellQuote(missing) + " " + ShellQuote(fat16));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind("D: " + fat16 + "\n  FAT type:             FAT16\n", 0), 0u) << run.out;
    EXPECT_NE(run.err.find("C: " + missing + ": no such file"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("D:"), std::string::npos) << run.err;
}

namespace
{
struct PartitionVolume
{
    const char* drive;
    u32 partition;
    const char* fileSystem; // "FAT12", "FAT16", "FAT32", or the file system of another volume
    u64 start;              // first sector of the partition
};

struct PartitionedDisk
{
    const char* image;
    std::vector<PartitionVolume> volumes;
};

void PrintTo(const PartitionedDisk& c, std::ostream* os)
{
    *os << c.image;
}

class BootInfoPartitioned : public ::testing::TestWithParam<PartitionedDisk>
{
};
} // namespace

// A partitioned disk is shown partition by partition under the letters that drives gives:
// every FAT volume in full (checked against fsstat at the partition's start), the others named
// with their file system.
TEST_P(BootInfoPartitioned, ShowsEveryPartitionAsDrivesListsIt)
{
    const PartitionedDisk& c = GetParam();
    std::string image = TestImage(c.image);
    ASSERT_FALSE(image.empty());

    CliRun drives = RunOrlaventCli("drives " + ShellQuote(image));
    EXPECT_EQ(drives.status, 0) << drives.err;
    CliRun json = RunOrlaventCli("bootinfo --json " + ShellQuote(image));
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.err, "");
    CliRun text = RunOrlaventCli("bootinfo " + ShellQuote(image));
    ASSERT_EQ(text.status, 0) << text.err;
    std::vector<Fields> objects = ParseJsonObjects(json.out);
    ASSERT_EQ(objects.size(), c.volumes.size()) << json.out;
    for (std::size_t i = 0; i < c.volumes.size(); ++i)
    {
        const PartitionVolume& v = c.volumes[i];
        const Fields& f = objects[i];
        const std::string fs = v.fileSystem;
        const std::string source = image + " (partition " + std::to_string(v.partition) + ")";
        SCOPED_TRACE(source);
        EXPECT_EQ(f.at("drive"), v.drive);
        EXPECT_EQ(f.at("source"), image);
        EXPECT_EQ(Num(f, "partition"), v.partition);
        std::regex listed("(^|\\n)" + std::string(v.drive) + " +Fixed +" + fs + " .*\\(partition " +
                          std::to_string(v.partition) + "\\)\\n");
        EXPECT_TRUE(std::regex_search(drives.out, listed)) << drives.out;
        if (fs.rfind("FAT", 0) != 0)
        {
            EXPECT_EQ(f.at("fileSystem"), fs);
            EXPECT_EQ(f.count("fatType"), 0u);
            EXPECT_NE(text.out.find(std::string(v.drive) + " " + source +
                                    "\n  File system:          " + fs +
                                    " (no FAT boot sector to show)\n"),
                      std::string::npos)
                << text.out;
            continue;
        }
        FsStat tsk = RunFsstat(image, v.start);
        EXPECT_EQ(f.at("fatType"), fs);
        EXPECT_EQ(tsk.type, fs);
        EXPECT_EQ(Num(f, "totalSectors"), tsk.totalSectors);
        EXPECT_EQ(Num(f, "reservedSectors"), tsk.reservedSectors);
        EXPECT_EQ(Num(f, "firstFatSector"), tsk.fat0First);
        EXPECT_EQ(Num(f, "firstDataSector"), tsk.clusterAreaFirst);
        EXPECT_EQ(Num(f, "rootDirSector"), tsk.rootFirst);
        EXPECT_NE(text.out.find(std::string(v.drive) + " " + source +
                                "\n  FAT type:             " + fs + "\n"),
                  std::string::npos)
            << text.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    BootInfo, BootInfoPartitioned,
    ::testing::Values(
        // Two logical partitions in each of the first two extended boot records.
        PartitionedDisk{"disk_ebr_pairs",
                        {{"C:", 1, "FAT16", 2048},
                         {"D:", 5, "FAT12", 20480},
                         {"E:", 6, "FAT16", 24576},
                         {"F:", 7, "FAT12", 43008},
                         {"G:", 8, "NTFS", 47104},
                         {"H:", 9, "exFAT", 65536}}},
        // sfdisk's own layout: one logical partition in each record.
        PartitionedDisk{
            "disk_mbr",
            {{"C:", 1, "FAT16", 2048}, {"D:", 5, "FAT32", 20480}, {"E:", 6, "NTFS", 96256}}}),
    [](const auto& p) { return std::string(p.param.image); });

// Letters given on the command line stay with their sources; a partitioned disk's further
// partitions take the letters after its own, and a disk with no FAT partition is named.
TEST(BootInfo, PartitionedDiskBesideOtherSources)
{
    std::string pairs = TestImage("disk_ebr_pairs");
    std::string fat12 = TestImage("fat12");
    std::string nofs = TestImage("disk_nofs");
    ASSERT_FALSE(pairs.empty() || fat12.empty() || nofs.empty());
    CliRun run = RunOrlaventCli("bootinfo --json " + ShellQuote(fat12) +
                                " M:=" + ShellQuote(pairs) + " " + ShellQuote(nofs));
    EXPECT_EQ(run.status, 1);
    std::vector<Fields> objects = ParseJsonObjects(run.out);
    std::string drives;
    for (const Fields& f : objects)
        drives += f.at("drive") + (f.count("partition") ? "/" + f.at("partition") : "") + " ";
    EXPECT_EQ(drives, "C: M:/1 N:/5 O:/6 P:/7 Q:/8 R:/9 D: ");
    EXPECT_NE(run.err.find("D: " + nofs + ": not a FAT volume"), std::string::npos) << run.err;

    // A chain of extended boot records that loops: what was read is shown, the damage named.
    std::string loop = TestImage("disk_loop");
    ASSERT_FALSE(loop.empty());
    CliRun looped = RunOrlaventCli("bootinfo " + ShellQuote(loop));
    EXPECT_EQ(looped.status, 1);
    EXPECT_NE(looped.out.find("D: " + loop + " (partition 6)\n  FAT type:             FAT12\n"),
              std::string::npos)
        << looped.out;
    EXPECT_NE(looped.err.find("the partition table of '" + loop + "' is damaged"),
              std::string::npos)
        << looped.err;
}
