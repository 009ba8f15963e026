// The probe of a volume whose source fails to deliver some of its first sectors: a damaged
// block is read again sector by sector, a boot sector that cannot be read is stood in for by
// its backup (NTFS: the last sector, FAT32: sector 6, exFAT: sector 12), and an exFAT volume
// whose main boot region is damaged is named with a note.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Status.h"
#include "platform/VolumeProbe.h"
#include "support/TestImages.h"

namespace
{
struct DamagedProbeCase
{
    const char* image;
    u64 badFrom; // bytes [badFrom, badTo) of the volume cannot be read
    u64 badTo;
    const char* fileSystem;
    std::string note;
};

// Reads of bytes as a damaged source delivers them: a read touching the bad range fails.
DiskReadFn DamagedReads(const std::vector<std::uint8_t>& bytes, u64 badFrom, u64 badTo)
{
    return [&bytes, badFrom, badTo](u64 offset, void* buffer, u32 length)
    {
        if (offset + length > bytes.size() || (offset < badTo && offset + length > badFrom))
            return false;
        std::memcpy(buffer, bytes.data() + offset, length);
        return true;
    };
}

class DamagedProbeTest : public ::testing::TestWithParam<DamagedProbeCase>
{
};
} // namespace

TEST_P(DamagedProbeTest, VolumeIsNamedThroughTheDamage)
{
    const DamagedProbeCase& c = GetParam();
    const std::string image = TestImage(c.image);
    ASSERT_FALSE(image.empty());
    const std::vector<std::uint8_t> bytes = ReadWholeFile(image);
    VolumeInfo info;
    ASSERT_EQ(ProbeVolumeThrough(DamagedReads(bytes, c.badFrom, c.badTo), 0, bytes.size(), &info),
              kOk);
    EXPECT_EQ(info.fileSystem, c.fileSystem);
    EXPECT_EQ(info.note, c.note);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, DamagedProbeTest,
    ::testing::Values(
        // An unreadable block after the boot sector, inside the first 64 KiB.
        DamagedProbeCase{"fat16", 8192, 16384, "FAT16", ""},
        DamagedProbeCase{"ntfs-scan", 4096, 8192, "NTFS", ""},
        // Sector 0 unreadable: the backup boot sector.
        DamagedProbeCase{"ntfs-scan", 0, 512, "NTFS", std::string(kBackupBootNote) + "32767"},
        DamagedProbeCase{"fat32", 0, 512, "FAT32", std::string(kBackupBootNote) + "6"},
        DamagedProbeCase{"src-exfat-plain", 0, 512, "exFAT", std::string(kBackupBootNote) + "12"}),
    [](const ::testing::TestParamInfo<DamagedProbeCase>& param)
    { return "Case" + std::to_string(param.index); });

// A damaged main boot region of exFAT, whose backup region is sound, is named in the drive list
// with a note, whether libblkid still recognises the main boot sector or not.
TEST(DamagedProbeExfatTest, DamagedMainRegionIsNoted)
{
    const std::string image = TestImage("src-exfat-plain");
    ASSERT_FALSE(image.empty());
    for (std::size_t damage : {std::size_t{0x64}, std::size_t{0x03}})
    {
        SCOPED_TRACE(damage);
        std::vector<std::uint8_t> bytes = ReadWholeFile(image);
        bytes[damage] ^= 0x5A; // the serial number (checksum only), the file-system name
        const std::string path = ScratchDir("probe-exfat") + "/damaged.img";
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        VolumeInfo info;
        EXPECT_EQ(ProbeVolume(fd, 0, 0, &info), kOk);
        ::close(fd);
        EXPECT_EQ(info.fileSystem, "exFAT");
        EXPECT_EQ(info.note, kExfatBackupNote);
    }
    // Intact: no note.
    const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    VolumeInfo info;
    EXPECT_EQ(ProbeVolume(fd, 0, 0, &info), kOk);
    ::close(fd);
    EXPECT_EQ(info.fileSystem, "exFAT");
    EXPECT_EQ(info.note, "");
}
