// DriveDiscovery on whole-disk images built by sfdisk, mkfs.fat and mkntfs: partition offsets
// checked against mmls, file systems and labels against blkid and fsstat, drive letters of
// command-line sources, messages naming the failing path, and discovery over a made-up sysfs.
#include "platform/DriveDiscovery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
// Partitions that mmls lists with a slot number (tables and extended containers are "Meta"),
// as (start sector, sector count).
std::set<std::pair<u64, u64>> MmlsPartitions(const std::string& image)
{
    std::string out;
    EXPECT_EQ(RunCommand("mmls '" + image + "' 2>&1", &out), 0) << out;
    std::set<std::pair<u64, u64>> parts;
    std::regex row(R"(^\d+:\s+\d+(:\d+)?\s+(\d+)\s+\d+\s+(\d+))");
    std::istringstream lines(out);
    std::string line;
    std::smatch m;
    while (std::getline(lines, line))
        if (std::regex_search(line, m, row))
            parts.insert({std::stoull(m[2]), std::stoull(m[3])});
    return parts;
}

// blkid's low-level probe of the volume at a byte offset, as KEY=VALUE pairs.
std::map<std::string, std::string> BlkidAt(const std::string& image, u64 offset)
{
    std::string out;
    RunCommand("blkid -p -o export -O " + std::to_string(offset) + " '" + image + "'", &out);
    std::map<std::string, std::string> values;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
    {
        auto eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// The Sleuth Kit's name of the file system at a sector offset ("FAT16", "NTFS").
std::string FsstatType(const std::string& image, u64 sector)
{
    std::string out;
    EXPECT_EQ(RunCommand("fsstat -o " + std::to_string(sector) + " '" + image + "' 2>&1", &out), 0)
        << out;
    std::smatch m;
    std::regex type(R"(File System Type:\s*(\S+))");
    return std::regex_search(out, m, type) ? m[1].str() : std::string();
}

struct ExpectedVolume
{
    u32 partition;
    const char* fileSystem;
    const char* label;
};

struct DiskCase
{
    const char* image;
    PartitionScheme scheme;
    bool damaged;
    std::vector<ExpectedVolume> volumes;
};

void PrintTo(const DiskCase& c, std::ostream* os)
{
    *os << c.image;
}

class DriveDiscoveryDiskTest : public ::testing::TestWithParam<DiskCase>
{
};

TEST_P(DriveDiscoveryDiskTest, VolumesMatchMmlsBlkidAndFsstat)
{
    const DiskCase& c = GetParam();
    std::string image = TestImage(c.image);
    ASSERT_FALSE(image.empty());
    SourceLayout layout;
    int err = -1;
    ASSERT_EQ(ReadSourceLayout(image, true, &layout, &err), 0u);
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(layout.blockDevice);
    EXPECT_EQ(layout.scheme, c.scheme);
    EXPECT_EQ(layout.damaged, c.damaged);
    ASSERT_EQ(layout.volumes.size(), c.volumes.size());

    std::set<std::pair<u64, u64>> mmls = MmlsPartitions(image);
    EXPECT_EQ(mmls.size(), c.volumes.size())
        << "every partition of the image is FAT, exFAT, exFAT or NTFS";
    for (std::size_t i = 0; i < c.volumes.size(); ++i)
    {
        const SourceVolume& v = layout.volumes[i];
        SCOPED_TRACE("partition " + std::to_string(v.partition));
        EXPECT_EQ(v.partition, c.volumes[i].partition);
        EXPECT_EQ(v.info.fileSystem, c.volumes[i].fileSystem);
        EXPECT_EQ(v.info.label, c.volumes[i].label);
        ASSERT_EQ(v.offset % 512, 0u);
        ASSERT_EQ(v.length % 512, 0u);
        EXPECT_TRUE(mmls.count({v.offset / 512, v.length / 512}))
            << "offset " << v.offset << " length " << v.length << " not listed by mmls";

        std::map<std::string, std::string> blkid = BlkidAt(image, v.offset);
        EXPECT_EQ(v.info.type, blkid["TYPE"]);
        EXPECT_EQ(v.info.fileSystem, FileSystemName(blkid["TYPE"], blkid["VERSION"]));
        EXPECT_EQ(v.info.label, blkid["LABEL"]);
        EXPECT_EQ(FsstatType(image, v.offset / 512), v.info.fileSystem);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, DriveDiscoveryDiskTest,
    ::testing::Values(
        DiskCase{"disk_mbr",
                 PartitionScheme::Mbr,
                 false,
                 {{1, "FAT16", "PRIMFAT16"}, {5, "FAT32", "LOGFAT32"}, {6, "NTFS", "LogicalNtfs"}}},
        DiskCase{"disk_gpt",
                 PartitionScheme::Gpt,
                 false,
                 {{1, "FAT32", "GPTFAT32"}, {2, "NTFS", "GptNtfs"}}},
        DiskCase{"disk_loop",
                 PartitionScheme::Mbr,
                 true,
                 {{5, "FAT16", "LOOPFAT16"}, {6, "FAT12", "LOOPFAT12"}}},
        DiskCase{"disk_ebr_pairs",
                 PartitionScheme::Mbr,
                 false,
                 {{1, "FAT16", "PRIMARY16"},
                  {5, "FAT12", "PAIRA12"},
                  {6, "FAT16", "PAIRB16"},
                  {7, "FAT12", "PAIRC12"},
                  {8, "NTFS", "PairNtfs"},
                  {9, "exFAT", "PAIREXFAT"}}}),
    [](const auto& tp) { return std::string(tp.param.image); });

// The probe leaves libblkid's ZFS and XFS external log probers out where their magic numbers
// are not where they look. Wherever one is, the verdict must stay that of libblkid's full probe:
// two file systems, searched as FAT with a note.
TEST(VolumeProbeTest, ProberMagicKeepsLibblkidsVerdict)
{
    const std::pair<const char*, bool> cases[] = {
        {"zfs_none", false},   {"zfs_head", true}, {"zfs_tail", true},    {"zfs_swapped", true},
        {"zfs_middle", false}, {"xfs_log", true},  {"xfs_log_odd", false}};
    for (const auto& [name, ambiguous] : cases)
    {
        SCOPED_TRACE(name);
        std::string image = TestImage(name);
        ASSERT_FALSE(image.empty());
        SourceLayout layout;
        int err = -1;
        ASSERT_EQ(ReadSourceLayout(image, true, &layout, &err), 0u);
        ASSERT_EQ(layout.volumes.size(), 1u);
        const VolumeInfo& info = layout.volumes[0].info;
        std::map<std::string, std::string> blkid = BlkidAt(image, 0);
        EXPECT_EQ(blkid.count("TYPE") == 0, ambiguous) << "blkid's own verdict";
        EXPECT_EQ(info.fileSystem, ambiguous ? "FAT" : "FAT32");
        EXPECT_EQ(info.note, ambiguous ? kAmbiguousNote : "");
        if (!ambiguous)
        {
            EXPECT_EQ(info.type, blkid["TYPE"]);
            EXPECT_EQ(info.label, blkid["LABEL"]);
        }
    }
}

class DriveDiscoveryTest : public ::testing::Test
{
protected:
    void SetUp() override { g_DriveTable.Clear(); }
    void TearDown() override { g_DriveTable.Clear(); }

    static DriveSource Get(const std::string& drive)
    {
        auto found = g_DriveTable.Find(drive);
        EXPECT_TRUE(found.has_value()) << drive;
        return found.value_or(DriveSource{});
    }
};

TEST_F(DriveDiscoveryTest, PartitionsTakeLettersInOrderAtTheirOffsets)
{
    std::string mbr = TestImage("disk_mbr");
    std::string plain = TestImage("disk_plain");
    std::vector<std::string> errors;
    EXPECT_EQ(AddCommandLineSources({mbr, plain}, &errors),
              (std::vector<std::string>{"C:", "D:", "E:", "F:"}));
    EXPECT_TRUE(errors.empty());
    DriveSource e = Get("E:");
    EXPECT_EQ(e.path, mbr);
    EXPECT_EQ(e.offset, 96256u * 512);
    EXPECT_EQ(e.length, 16384u * 512);
    EXPECT_EQ(e.fileSystem, "NTFS");
    EXPECT_EQ(e.display, mbr + " (partition 6)");
    EXPECT_EQ(Get("D:").display, mbr + " (partition 5)");
    EXPECT_EQ(Get("C:").fileSystem, "FAT16");
    // A volume with no partition table around it is one drive covering the whole file.
    DriveSource f = Get("F:");
    EXPECT_EQ(f.path, plain);
    EXPECT_EQ(f.offset, 0u);
    EXPECT_EQ(f.length, 0u);
    EXPECT_EQ(f.fileSystem, "FAT12");
    EXPECT_EQ(f.label, "PLAINFAT");
    EXPECT_EQ(f.display, plain);
    EXPECT_EQ(f.driveType, DriveType::Fixed);
    EXPECT_TRUE(f.fromCommandLine);
    EXPECT_EQ(ShellDisplayName(f), "PLAINFAT (F:)");
}

struct LetterCase
{
    const char* name;
    std::vector<std::string> args; // "@mbr", "@gpt", "@plain" stand for the test images
    std::vector<std::string> drives;
};

void PrintTo(const LetterCase& c, std::ostream* os)
{
    *os << c.name;
}

class DriveDiscoveryLetterTest : public ::testing::TestWithParam<LetterCase>
{
protected:
    void SetUp() override { g_DriveTable.Clear(); }
    void TearDown() override { g_DriveTable.Clear(); }
};

TEST_P(DriveDiscoveryLetterTest, LettersFollowTheCommandLine)
{
    std::map<std::string, std::string> images = {{"@mbr", TestImage("disk_mbr")},
                                                 {"@gpt", TestImage("disk_gpt")},
                                                 {"@plain", TestImage("disk_plain")}};
    std::vector<std::string> args;
    for (std::string arg : GetParam().args)
    {
        for (const auto& [key, path] : images)
            if (auto at = arg.find(key); at != std::string::npos)
                arg.replace(at, key.size(), path);
        args.push_back(arg);
    }
    std::vector<std::string> errors;
    EXPECT_EQ(AddCommandLineSources(args, &errors), GetParam().drives);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DriveDiscoveryLetterTest,
    ::testing::Values(
        LetterCase{"ExplicitLetterIsSkippedByOthers", {"@plain", "C:=@gpt"}, {"E:", "C:", "D:"}},
        LetterCase{"OnlyTheFirstPartitionIsReserved", {"@plain", "D:=@gpt"}, {"C:", "D:", "E:"}},
        LetterCase{"LowerCaseLetter", {"x:=@mbr"}, {"X:", "Y:", "Z:"}},
        LetterCase{"FurtherPartitionsWrapToC", {"Y:=@mbr"}, {"Y:", "Z:", "C:"}},
        LetterCase{"ReservedLetterInTheMiddle", {"@mbr", "D:=@plain"}, {"C:", "E:", "F:", "D:"}}),
    [](const auto& tp) { return std::string(tp.param.name); });

TEST_F(DriveDiscoveryTest, SourcesThatYieldNoDriveAreNamedInTheMessage)
{
    std::string dir = ScratchDir("sources");
    std::string missing = dir + "/missing.img";
    std::string empty = dir + "/empty.img";
    std::string zeros = dir + "/zeros.img";
    std::ofstream(empty).close();
    std::ofstream(zeros).close();
    fs::resize_file(zeros, 1 << 20);
    std::string tiny = dir + "/tiny.img";
    std::ofstream(tiny) << "shorter than one sector";
    std::string nofs = TestImage("disk_nofs");

    struct Case
    {
        std::string arg;
        std::string message;
    };
    std::vector<Case> cases = {
        {missing, "cannot open '" + missing + "': No such file or directory"},
        {dir, "cannot open '" + dir + "': Is a directory"},
        {"/dev/null", "cannot open '/dev/null': Block device required"},
        {empty, "'" + empty + "' holds no FAT, exFAT or NTFS volume"},
        {zeros, "'" + zeros + "' holds no FAT, exFAT or NTFS volume"},
        {tiny, "'" + tiny + "' holds no FAT, exFAT or NTFS volume"},
        {nofs, "'" + nofs + "' holds no FAT, exFAT or NTFS partition"},
        {"K:=", "no path given for drive K: in 'K:='"},
        {"", "empty source name"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.arg);
        std::vector<std::string> errors;
        EXPECT_TRUE(AddCommandLineSources({c.arg}, &errors).empty());
        EXPECT_EQ(errors, std::vector<std::string>{c.message});
    }
    EXPECT_TRUE(g_DriveTable.All().empty());
}

TEST_F(DriveDiscoveryTest, LetterConflictsKeepTheFirstClaim)
{
    std::string plain = TestImage("disk_plain");
    std::string gpt = TestImage("disk_gpt");
    std::vector<std::string> errors;
    EXPECT_EQ(AddCommandLineSources({"E:=" + plain, "e:=" + gpt}, &errors),
              std::vector<std::string>{"E:"});
    EXPECT_EQ(errors,
              std::vector<std::string>{"drive letter E: is given twice; '" + gpt + "' not added"});
    errors.clear();
    EXPECT_TRUE(AddCommandLineSources({"E:=" + gpt}, &errors).empty());
    EXPECT_EQ(errors, std::vector<std::string>{"drive letter E: is already in use; '" + gpt +
                                               "' not added"});
    EXPECT_EQ(Get("E:").path, plain);
}

TEST_F(DriveDiscoveryTest, RunningOutOfLettersIsReported)
{
    std::string plain = TestImage("disk_plain");
    std::vector<std::string> args(25, plain);
    std::vector<std::string> errors;
    std::vector<std::string> drives = AddCommandLineSources(args, &errors);
    ASSERT_EQ(drives.size(), 24u);
    EXPECT_EQ(drives.front(), "C:");
    EXPECT_EQ(drives.back(), "Z:");
    EXPECT_EQ(errors, std::vector<std::string>{"no drive letter left for '" + plain + "'"});
}

TEST_F(DriveDiscoveryTest, DamagedTableStillYieldsItsVolumesWithAWarning)
{
    std::string loop = TestImage("disk_loop");
    std::vector<std::string> errors;
    EXPECT_EQ(AddCommandLineSources({loop}, &errors), (std::vector<std::string>{"C:", "D:"}));
    EXPECT_EQ(errors, std::vector<std::string>{"the partition table of '" + loop +
                                               "' is damaged; only part of it was read"});
    EXPECT_EQ(Get("D:").fileSystem, "FAT12");
    EXPECT_EQ(Get("D:").label, "LOOPFAT12");
}

// A made-up sysfs and /dev: class/block entries link into a devices tree, and the device
// nodes are copies of the test images.
class FakeMachine
{
public:
    explicit FakeMachine(const std::string& root) : m_root(root)
    {
        fs::create_directories(Sys() + "/class/block");
        fs::create_directories(Dev());
    }

    [[nodiscard]] std::string Sys() const { return m_root + "/sys"; }
    [[nodiscard]] std::string Dev() const { return m_root + "/dev"; }

    // A whole disk (parent empty) or a partition of parent, with its sysfs files and an
    // optional device node copied from image.
    void Add(const std::string& name, const std::string& parent,
             const std::map<std::string, std::string>& files, const std::string& image)
    {
        fs::path dir = fs::path(Sys()) / "devices/virtual/block";
        dir /= parent.empty() ? name : parent + "/" + name;
        fs::create_directories(dir);
        for (const auto& [file, text] : files)
        {
            fs::create_directories((dir / file).parent_path());
            std::ofstream(dir / file) << text << "\n";
        }
        if (!parent.empty())
            std::ofstream(dir / "partition") << "1\n";
        fs::create_directory_symlink(dir, fs::path(Sys()) / "class/block" / name);
        if (!image.empty())
            fs::copy_file(image, fs::path(Dev()) / name);
    }

private:
    std::string m_root;
};

TEST_F(DriveDiscoveryTest, DiscoveryListsFatAndNtfsDevicesWithTheirTypes)
{
    std::string plain = TestImage("disk_plain");
    std::string mbr = TestImage("disk_mbr");
    std::string gpt = TestImage("disk_gpt");
    FakeMachine m(ScratchDir("machine"));
    m.Add("sdb", "", {{"size", "98304"}, {"removable", "1"}}, gpt); // read through sdb1 only
    m.Add("sdb1", "sdb", {{"size", "4096"}}, plain);
    m.Add("sdc", "", {{"size", "131072"}, {"removable", "0"}}, mbr); // split by our own parser
    m.Add("sdd", "", {{"size", "4096"}, {"removable", "0"}}, plain); // given on the command line
    m.Add("sr0", "", {{"size", "4096"}, {"removable", "1"}}, plain);
    m.Add("loop0", "", {{"size", "0"}}, plain);                       // not attached
    m.Add("zram0", "", {{"size", "4096"}}, "");                       // no device node to open
    m.Add("sde", "", {{"size", "98304"}, {"device/type", "5"}}, gpt); // SCSI type 5: CD-ROM

    std::vector<std::string> errors;
    ASSERT_EQ(AddCommandLineSources({"K:=" + m.Dev() + "/sdd"}, &errors),
              std::vector<std::string>{"K:"});
    EXPECT_EQ(DiscoverBlockDevices(m.Sys(), m.Dev()),
              (std::vector<std::string>{"C:", "D:", "E:", "F:", "G:", "H:", "I:"}));

    struct Row
    {
        const char* drive;
        const char* node;
        u32 partition;
        DriveType type;
        const char* fileSystem;
    };
    std::vector<Row> rows = {
        {"C:", "sdb1", 0, DriveType::Removable, "FAT12"},
        {"D:", "sdc", 1, DriveType::Fixed, "FAT16"},
        {"E:", "sdc", 5, DriveType::Fixed, "FAT32"},
        {"F:", "sdc", 6, DriveType::Fixed, "NTFS"},
        {"G:", "sde", 1, DriveType::CdRom, "FAT32"},
        {"H:", "sde", 2, DriveType::CdRom, "NTFS"},
        {"I:", "sr0", 0, DriveType::CdRom, "FAT12"},
    };
    for (const Row& r : rows)
    {
        SCOPED_TRACE(r.drive);
        DriveSource s = Get(r.drive);
        std::string path = m.Dev() + "/" + r.node;
        EXPECT_EQ(s.path, path);
        EXPECT_EQ(s.display,
                  r.partition ? path + " (partition " + std::to_string(r.partition) + ")" : path);
        EXPECT_EQ(s.driveType, r.type);
        EXPECT_EQ(s.fileSystem, r.fileSystem);
        EXPECT_FALSE(s.fromCommandLine);
    }
    EXPECT_EQ(g_DriveTable.All().size(), 8u); // the seven above and K:
}

TEST_F(DriveDiscoveryTest, ClassifyBlockDeviceReadsSysfs)
{
    FakeMachine m(ScratchDir("classify"));
    struct Case
    {
        const char* name;
        std::map<std::string, std::string> files;
        DriveType type;
    };
    std::vector<Case> cases = {
        {"sda", {{"removable", "0"}}, DriveType::Fixed},
        {"sdb", {{"removable", "1"}}, DriveType::Removable},
        {"sdc", {{"removable", "1"}, {"device/type", "5"}}, DriveType::CdRom},
        {"sr0", {{"removable", "1"}}, DriveType::CdRom},
        {"ram0", {}, DriveType::RamDisk},
        {"zram0", {}, DriveType::RamDisk},
        {"nbd3", {}, DriveType::Remote},
        {"vda", {}, DriveType::Fixed},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        m.Add(c.name, "", c.files, "");
        EXPECT_EQ(ClassifyBlockDevice(m.Sys() + "/class/block/" + c.name), c.type);
    }
    m.Add("sdb7", "sdb", {}, "");
    EXPECT_EQ(ClassifyBlockDevice(m.Sys() + "/class/block/sdb7"), DriveType::Removable);
}

TEST(ShellDisplayNameTest, LabelOrTheDriveTypeName)
{
    DriveSource s;
    s.drive = "E:";
    s.label = "Backup 2024";
    EXPECT_EQ(ShellDisplayName(s), "Backup 2024 (E:)");
    s.label.clear();
    std::vector<std::pair<DriveType, std::string>> names = {
        {DriveType::Fixed, "Local Disk (E:)"},     {DriveType::Removable, "Removable Disk (E:)"},
        {DriveType::CdRom, "CD Drive (E:)"},       {DriveType::RamDisk, "RAM Disk (E:)"},
        {DriveType::Remote, "Network Drive (E:)"},
    };
    for (const auto& [type, name] : names)
    {
        s.driveType = type;
        EXPECT_EQ(ShellDisplayName(s), name);
    }
}
} // namespace
