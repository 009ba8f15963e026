// File-system name and label of a volume, read by libblkid at the volume's offset.
#include "platform/VolumeProbe.h"

#include <blkid.h>

#include <limits>
#include <memory>

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
    if (rc != 0)
        return kOk; // 1: nothing found; -2: several signatures disagree, trust none
    info->type = LookUp(probe.get(), "TYPE");
    info->label = LookUp(probe.get(), "LABEL");
    info->fileSystem = FileSystemName(info->type, LookUp(probe.get(), "VERSION"));
    return kOk;
}
