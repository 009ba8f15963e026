// File-system name and label of a volume, read by libblkid at the volume's offset.
#include "platform/VolumeProbe.h"

#include <blkid.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <memory>

#include "platform/ByteOrder.h"
#include "platform/Status.h"

namespace
{
struct ProbeDeleter
{
    void operator()(blkid_struct_probe* probe) const { blkid_free_probe(probe); }
};
using ProbePtr = std::unique_ptr<blkid_struct_probe, ProbeDeleter>;

std::string LookUp(blkid_probe probe, const char* name)
{
    const char* data = nullptr;
    std::size_t size = 0;
    if (blkid_probe_lookup_value(probe, name, &data, &size) != 0 || data == nullptr)
        return {};
    std::string value(data, size);
    // libblkid counts the terminating zero in size.
    while (!value.empty() && value.back() == '\0')
        value.pop_back();
    return value;
}
} // namespace

std::string BootSectorFileSystem(const u8* sector, std::size_t size)
{
    // Offsets of the BIOS parameter block shared by FAT and NTFS boot sectors.
    constexpr std::size_t kOemName = 0x03;
    constexpr std::size_t kBytesPerSector = 0x0B;
    constexpr std::size_t kSectorsPerCluster = 0x0D;
    constexpr std::size_t kReservedSectors = 0x0E;
    constexpr std::size_t kNumFats = 0x10;
    constexpr std::size_t kEndMarker = 0x1FE;
    if (sector == nullptr || size < 512 || LoadLe16(sector + kEndMarker) != 0xAA55)
        return {};
    if (std::memcmp(sector + kOemName, "NTFS    ", 8) == 0)
        return "NTFS";
    if (std::memcmp(sector + kOemName, "EXFAT   ", 8) == 0)
        return "exFAT";
    const u32 bps = LoadLe16(sector + kBytesPerSector);
    const u32 spc = sector[kSectorsPerCluster];
    const bool powerOfTwoBps = bps >= 512 && bps <= 4096 && (bps & (bps - 1)) == 0;
    const bool powerOfTwoSpc = spc != 0 && (spc & (spc - 1)) == 0;
    const bool jump = sector[0] == 0xEB || sector[0] == 0xE9;
    if (jump && powerOfTwoBps && powerOfTwoSpc && LoadLe16(sector + kReservedSectors) != 0 &&
        (sector[kNumFats] == 1 || sector[kNumFats] == 2))
        return "FAT";
    return {};
}

std::string FileSystemName(const std::string& type, const std::string& version)
{
    if (type == "vfat" || type == "msdos")
    {
        if (version == "FAT12" || version == "FAT16" || version == "FAT32")
            return version;
        return "FAT";
    }
    if (type == "ntfs")
        return "NTFS";
    if (type == "exfat")
        return "exFAT";
    return {};
}

u32 ProbeVolume(int fd, u64 offset, u64 length, VolumeInfo* info)
{
    *info = VolumeInfo{};
    if (fd < 0)
        return kErrTransfer;
    ProbePtr probe(blkid_new_probe());
    if (!probe)
        return kErrNoMemory;
    // libblkid takes signed offsets; a range beyond them cannot hold a volume we can read.
    constexpr u64 kMaxOff = static_cast<u64>(std::numeric_limits<s64>::max());
    if (offset > kMaxOff || length > kMaxOff)
        return kErrTransfer;
    if (blkid_probe_set_device(probe.get(), fd, static_cast<blkid_loff_t>(offset),
                               static_cast<blkid_loff_t>(length)) != 0)
        return kErrTransfer;
    if (blkid_probe_get_size(probe.get()) <= 0)
        return kErrTransfer;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL |
                                                       BLKID_SUBLKS_VERSION);
    blkid_probe_enable_partitions(probe.get(), 0);
    int rc = blkid_do_safeprobe(probe.get());
    if (rc < 0 && rc != -2)
        return kErrTransfer;
    if (rc == -2)
    {
        // Several signatures disagree and libblkid names none. A volume whose own boot sector
        // says FAT, exFAT or NTFS is searched as that: leftovers of an earlier file system (a swap
        // or ISO signature in space the volume does not use) must not hide it.
        u8 sector[512] = {};
        if (::pread(fd, sector, sizeof sector, static_cast<off_t>(offset)) ==
            static_cast<ssize_t>(sizeof sector))
        {
            info->fileSystem = BootSectorFileSystem(sector, sizeof sector);
            if (!info->fileSystem.empty())
            {
                info->type = info->fileSystem == "NTFS"    ? "ntfs"
                             : info->fileSystem == "exFAT" ? "exfat"
                                                           : "vfat";
                info->note = kAmbiguousNote;
            }
        }
        return kOk;
    }
    if (rc != 0)
        return kOk; // 1: nothing found
    info->type = LookUp(probe.get(), "TYPE");
    info->label = LookUp(probe.get(), "LABEL");
    info->fileSystem = FileSystemName(info->type, LookUp(probe.get(), "VERSION"));
    return kOk;
}
