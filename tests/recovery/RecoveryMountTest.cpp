// Recoveries against real mounted file systems (needs root, loop devices, tmpfs and FUSE): a
// destination that fills up, and NTFS volumes read through a loop device while ntfs-3g has
// them mounted, where the mount must never become the destination.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include "recovery/RecoveryFixture.h"
#include "scan/ntfs/NtfsEngine.h"

using namespace recoverytest;

namespace
{
std::string Trim(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// A read-only loop device over an image (with its partitions when partitioned), detached at
// the end.
class LoopDevice
{
public:
    LoopDevice(const std::string& image, bool partitions)
    {
        // The kernel scans partitions only of a writable loop device; callers hand in a copy.
        std::string out;
        const int rc = RunCommand(std::string("losetup -f --show ") + (partitions ? "-P " : "-r ") +
                                      "'" + image + "'",
                                  &out);
        if (rc == 0)
            m_device = Trim(out);
        // The kernel's own partition scan does not always run here; partx adds what it missed
        // (and fails harmlessly for partitions already there).
        if (rc == 0 && partitions)
            (void)RunCommand("partx -a " + m_device + " 2>/dev/null");
    }
    ~LoopDevice()
    {
        if (!m_device.empty())
            (void)RunCommand("losetup -d " + m_device);
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& Device() const { return m_device; }

private:
    std::string m_device;
};

// A mount that is undone at the end.
class Mount
{
public:
    explicit Mount(const std::string& command, const std::string& point) : m_point(point)
    {
        m_ok = RunCommand(command) == 0;
    }
    ~Mount()
    {
        if (m_ok)
            (void)RunCommand("umount '" + m_point + "'");
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    bool Ok() const { return m_ok; }

private:
    std::string m_point;
    bool m_ok = false;
};

class RecoveryMount : public RecoveryBase
{
};
} // namespace

TEST_F(RecoveryMount, FullDestinationEndsTheFileWithAWarningAndTheRunGoesOn)
{
    const std::string image = TestImage("ntfs-scan");
    ASSERT_FALSE(image.empty());
    AddNtfs(image);
    const std::string point = ScratchDir("tmpfs");
    Mount tmpfs("mount -t tmpfs -o size=64k tmpfs '" + point + "'", point);
    ASSERT_TRUE(tmpfs.Ok()) << "mounting a tmpfs needs root";
    // Pretend there is room: the write itself must meet the full disk.
    FakeHost host;
    host.freeSpace = [](const std::string&, u64* blockSize, u64* freeBlocks)
    {
        *blockSize = 4096;
        *freeBlocks = 1u << 20;
        return true;
    };
    SetRecoveryHost(&host);
    ASSERT_EQ(Recover("N:\\docs", {{"big.bin", 0}, {"sub", 1}}, point), kOk);
    const std::vector<Event> warnings = m_sink.Of(kRecoverWarning);
    ASSERT_GE(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].text, "Failed to write " + point + "/big.bin: No space left on device");
    EXPECT_EQ(m_sink.Of(kRecoverFile).size(), 2u) << "the run goes on with the next file";
    EXPECT_TRUE(Finished(m_sink));
}

TEST_F(RecoveryMount, FilesThatFindNoInodeAreEachNamedInAWarning)
{
    AddFat(TestImage("fat16"));
    const std::string home = ScratchDir("home");
    HomeOverride override(home);
    const std::string point = ScratchDir("tmpfs");
    // Room for the folder DOCS and one more entry: the rest of the files find no inode.
    Mount tmpfs("mount -t tmpfs -o size=1m,nr_inodes=3 tmpfs '" + point + "'", point);
    ASSERT_TRUE(tmpfs.Ok()) << "mounting a tmpfs needs root";
    ASSERT_EQ(Recover("C:", {{"DOCS", 1}}, point), kOk);
    // A file is written where asked, or below the default folder when its folder could not be
    // made (and named), or named as lost with the reason.
    const std::vector<Event> files = m_sink.Of(kRecoverFile);
    ASSERT_GE(files.size(), 3u);
    std::size_t written = 0;
    for (const std::string& entry : Tree(point))
        written += entry.ends_with("/") ? 0 : 1;
    std::size_t diverted = 0;
    std::size_t lost = 0;
    for (const Event& w : m_sink.Of(kRecoverWarning))
    {
        EXPECT_NE(w.text.find("C:\\DOCS"), std::string::npos) << w.text;
        if (w.extra == kWarnDiverted)
            ++diverted;
        else
        {
            EXPECT_EQ(w.extra, kWarnIncomplete);
            EXPECT_NE(w.text.find("No space left on device"), std::string::npos) << w.text;
            ++lost;
        }
    }
    EXPECT_GT(lost, 0u);
    EXPECT_EQ(written + diverted + lost, files.size()) << "every file is written or named";
    EXPECT_TRUE(Finished(m_sink));
}

TEST_F(RecoveryMount, ImageMountedStraightByAFuseDriverIsNeverTheDestination)
{
    // ntfs-3g given the image file itself (no loop device): the mount table names the file.
    const std::string original = TestImage("ntfs-scan");
    ASSERT_FALSE(original.empty());
    const std::string image = ScratchDir("fuse-image") + "/volume.img";
    ASSERT_EQ(RunCommand("cp --sparse=always '" + original + "' '" + image + "'"), 0);
    const std::string point = ScratchDir("fuse-mount");
    {
        Mount mounted("ntfs-3g '" + image + "' '" + point + "'", point);
        ASSERT_TRUE(mounted.Ok());
        AddNtfs(image, "N:");
        const std::string inside = point + "/rescue";
        EXPECT_EQ(Recover("N:\\docs", {{"deleted.txt", 0}}, inside), kErrDestination);
        ASSERT_EQ(m_sink.events.size(), 1u);
        EXPECT_EQ(m_sink.events[0].text, "Refusing to recover onto " + inside +
                                             ": it is the volume being read (" + image + ").");
        // A folder inside the mount that exists already, selected as a folder's target.
        ASSERT_EQ(::mkdir((point + "/made").c_str(), 0755), 0);
        m_sink.events.clear();
        EXPECT_EQ(Recover("N:\\docs", {{"sub", 1}}, point + "/made"), kErrDestination);
        EXPECT_EQ(Tree(point + "/made"), std::vector<std::string>{});
    }
}

TEST_F(RecoveryMount, TooLittleRealFreeSpaceStopsTheRun)
{
    const std::string image = TestImage("ntfs-scan");
    ASSERT_FALSE(image.empty());
    AddNtfs(image);
    const std::string point = ScratchDir("tmpfs");
    Mount tmpfs("mount -t tmpfs -o size=64k tmpfs '" + point + "'", point);
    ASSERT_TRUE(tmpfs.Ok()) << "mounting a tmpfs needs root";
    ASSERT_EQ(Recover("N:\\docs", {{"deleted.txt", 0}, {"big.bin", 0}}, point), kOk);
    const std::vector<Event> fatal = m_sink.Of(kRecoverFatal);
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_EQ(fatal[0].text, "Drive has NOT enough space to store files.");
    EXPECT_EQ(Tree(point), std::vector<std::string>{"deleted.txt"});
    EXPECT_FALSE(Finished(m_sink));
}

TEST_F(RecoveryMount, MountedSourceDeviceIsNeverTheDestination)
{
    const std::string image = TestImage("ntfs-scan");
    ASSERT_FALSE(image.empty());
    LoopDevice loop(image, false);
    ASSERT_FALSE(loop.Device().empty()) << "losetup needs root and a free loop device";
    const std::string point = ScratchDir("ntfs-mount");
    Mount mounted("ntfs-3g -o ro " + loop.Device() + " '" + point + "'", point);
    ASSERT_TRUE(mounted.Ok());

    // Read through the block device, as a user scanning /dev/loopN would.
    AddNtfs(loop.Device(), "N:");
    const std::string inside = point + "/docs/rescue";
    EXPECT_EQ(Recover("N:\\docs", {{"deleted.txt", 0}}, inside), kErrDestination);
    ASSERT_EQ(m_sink.events.size(), 1u);
    EXPECT_EQ(m_sink.events[0].text, "Refusing to recover onto " + inside +
                                         ": it is the volume being read (" + loop.Device() + ").");

    // Scanning the image file itself while it is mounted is the same volume.
    DriveSource file;
    file.drive = "F:";
    file.path = image;
    g_DriveTable.Register(file);
    EXPECT_TRUE(DestinationIsSource(RecoveryHost(), inside, file));
    EXPECT_FALSE(DestinationIsSource(RecoveryHost(), ScratchDir("beside"), file));

    // Elsewhere the same run goes ahead, reading the block device.
    const std::string dest = ScratchDir("dest");
    m_sink.events.clear();
    ASSERT_EQ(Recover("N:\\docs", {{"deleted.txt", 0}}, dest), kOk);
    EXPECT_EQ(ReadText(dest + "/deleted.txt").size(), 200u);
    EXPECT_TRUE(Finished(m_sink));
}

TEST_F(RecoveryMount, PartitionOfAWholeDiskSourceIsRecognised)
{
    const std::string original = TestImage("disk_mbr");
    ASSERT_FALSE(original.empty());
    const std::string image = ScratchDir("disk") + "/disk.img";
    ASSERT_EQ(RunCommand("cp --sparse=always '" + original + "' '" + image + "'"), 0);
    LoopDevice loop(image, true);
    ASSERT_FALSE(loop.Device().empty()) << "losetup needs root and a free loop device";
    // Partition 6 (NTFS): its start from sysfs, its device node from the partition scan.
    std::string start;
    const std::string name = loop.Device().substr(loop.Device().rfind('/') + 1);
    ASSERT_EQ(RunCommand("cat /sys/block/" + name + "/" + name + "p6/start", &start), 0);
    const std::string point = ScratchDir("part-mount");
    Mount mounted("ntfs-3g -o ro " + loop.Device() + "p6 '" + point + "'", point);
    ASSERT_TRUE(mounted.Ok());

    // The volume registered as the whole disk plus the partition's byte offset.
    DriveSource source;
    source.drive = "P:";
    source.path = loop.Device();
    source.offset = std::stoull(start) * 512;
    source.display = "disk (partition 6)";
    g_DriveTable.Register(source);
    VolumeEntry entry;
    entry.name = "P:";
    entry.fsType = kFsNtfs;
    entry.engine = &NtfsEngine();
    ASSERT_EQ(SetNtfsState(entry, std::make_unique<CNtfs>())->ntfs->Open("P:", 1), kOk);
    m_catalog.m_volumes.push_back(std::move(entry));
    EXPECT_EQ(Recover("P:", {{"anything", 0}}, point + "/x"), kErrDestination);
    ASSERT_EQ(m_sink.events.size(), 1u);
    EXPECT_EQ(m_sink.events[0].text, "Refusing to recover onto " + point +
                                         "/x: it is the volume being read (disk (partition 6)).");

    // Another partition's offset on the same disk is a different volume.
    source.offset += 512;
    g_DriveTable.Register(source);
    EXPECT_FALSE(DestinationIsSource(RecoveryHost(), point + "/x", *g_DriveTable.Find("P:")));

    // The disk image itself at the partition's offset, and at another one.
    DriveSource file;
    file.drive = "F:";
    file.path = image;
    file.offset = std::stoull(start) * 512;
    EXPECT_TRUE(DestinationIsSource(RecoveryHost(), point + "/x", file));
    file.offset += 512;
    EXPECT_FALSE(DestinationIsSource(RecoveryHost(), point + "/x", file));
}
