// Reading a source: its size, its partition table and the volumes it holds (the whole source,
// the partitions, with the deep search its lost volumes and what holds none of them).
#include "platform/DriveDiscovery.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "platform/EwfImage.h"
#include "platform/LostVolumes.h"
#include "platform/SourceOpen.h"
#include "platform/Status.h"

namespace
{
// Closes a descriptor on every way out.
class FdHolder
{
public:
    explicit FdHolder(int fd) : m_fd(fd) {}
    ~FdHolder()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    FdHolder(const FdHolder&) = delete;
    FdHolder& operator=(const FdHolder&) = delete;
    [[nodiscard]] int Get() const { return m_fd; }

private:
    int m_fd;
};

bool ReadFully(int fd, u64 offset, void* buffer, u32 length)
{
    u8* out = static_cast<u8*>(buffer);
    u32 done = 0;
    while (done < length)
    {
        if (offset + done > static_cast<u64>(std::numeric_limits<off_t>::max()))
            return false;
        ssize_t n = pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<u32>(n);
    }
    return true;
}

// The volume of a partition (number 0: the whole source) that the probe found to hold no FAT,
// exFAT or NTFS volume, read as it is by the deep search.
SourceVolume RawVolume(u64 offset, u64 length, u32 partition, const VolumeInfo& probed)
{
    SourceVolume volume{offset, length, partition, probed};
    volume.raw = true;
    volume.info.fileSystem = kRawFileSystem;
    volume.info.note = probed.type.empty() ? "no file system: carved by contents"
                                           : "holds " + probed.type + ": carved by contents";
    return volume;
}

// With raw, a source that lists no volume at all is listed raw whole, when it holds a sector.
void ListRawWhole(bool raw, const VolumeInfo& probed, SourceLayout* layout)
{
    if (raw && layout->volumes.empty() && layout->size >= 512)
        layout->volumes.push_back(RawVolume(0, layout->size, 0, probed));
}

// Lists the FAT and NTFS volumes of a source of layout->size bytes that read and probe reach:
// the whole source, or the partitions of its table (with deep, and its lost volumes; with raw,
// what holds none of them, raw). Returns 0 or 5 (first sector unreadable).
u32 ListVolumes(const DiskReadFn& read, const VolumeProbeFn& probe, u32 sectorSize,
                bool splitPartitions, bool deep, bool raw, SourceLayout* layout, int* errorNumber)
{
    if (layout->size == 0)
        return kOk;

    // A volume that fills the whole source wins over anything that looks like a table.
    VolumeInfo whole;
    if (probe(0, layout->size, &whole) == kOk && !whole.fileSystem.empty())
    {
        layout->volumes.push_back(SourceVolume{0, 0, 0, whole});
        return kOk;
    }
    if (!splitPartitions)
    {
        ListRawWhole(raw, whole, layout);
        return kOk;
    }

    PartitionTable table;
    u32 rc = ReadPartitionTable(read, layout->size, sectorSize, &table);
    if (rc == kErrTransfer && layout->size >= sectorSize)
    {
        *errorNumber = EIO; // the first sector is there but could not be read
        return kErrTransfer;
    }
    if (rc != kOk)
    {
        if (deep)
            ListLostVolumes(read, probe, nullptr, layout);
        ListRawWhole(raw, whole, layout);
        return kOk;
    }
    layout->scheme = table.scheme;
    layout->damaged = table.damaged;
    layout->partitionCount = static_cast<u32>(table.entries.size());
    for (const PartitionEntry& e : table.entries)
    {
        VolumeInfo info;
        if (probe(e.offset, e.length, &info) == kOk && !info.fileSystem.empty())
            layout->volumes.push_back(SourceVolume{e.offset, e.length, e.number, info});
        else if (raw && e.offset < layout->size && layout->size - e.offset >= 512 &&
                 e.length >= 512)
            // Read as far as the source reaches: a table may claim more than an image holds.
            layout->volumes.push_back(
                RawVolume(e.offset, std::min(e.length, layout->size - e.offset), e.number, info));
    }
    if (deep)
        ListLostVolumes(read, probe, &table, layout);
    ListRawWhole(raw, whole, layout);
    return kOk;
}

// The reads of an Expert Witness image's media: true only when all length bytes arrived.
DiskReadFn EwfReader(EwfImage& image)
{
    return [&image](u64 offset, void* buffer, u32 length)
    {
        u32 done = 0;
        return image.Read(buffer, length, &done, offset) == kOk && done == length;
    };
}

// The layout of an Expert Witness image: its media, decoded by libewf, is read like a disk.
u32 ReadEwfLayout(const std::string& path, bool splitPartitions, bool deep, bool raw,
                  SourceLayout* layout, int* errorNumber)
{
    layout->format = SourceFormat::Ewf;
    EwfImage image;
    if (image.Open(path) != kOk)
    {
        *errorNumber = kErrBadEwfImage;
        return kErrOpenFailed;
    }
    layout->size = image.MediaSize();
    const u32 bps = image.BytesPerSector();
    const u32 sectorSize = bps >= 512 && bps <= 4096 && (bps & (bps - 1)) == 0 ? bps : 512;
    DiskReadFn read = EwfReader(image);
    VolumeProbeFn probe = [&read, layout](u64 offset, u64 length, VolumeInfo* info) {
        return ProbeVolumeThrough(read, offset, length != 0 ? length : layout->size - offset, info);
    };
    return ListVolumes(read, probe, sectorSize, splitPartitions, deep, raw, layout, errorNumber);
}
} // namespace

u32 ReadSourceLayout(const std::string& path, bool splitPartitions, SourceLayout* layout,
                     int* errorNumber, bool deep, bool raw)
{
    *layout = SourceLayout{};
    *errorNumber = 0;
    raw = raw && deep;
    // Only an image file or a block device is opened, so a named pipe cannot hold us up.
    FdHolder fd(OpenSource(path, errorNumber));
    if (fd.Get() < 0)
        return kErrOpenFailed;
    struct stat st = {};
    if (fstat(fd.Get(), &st) != 0)
    {
        *errorNumber = errno;
        return kErrOpenFailed;
    }
    u32 sectorSize = 512;
    if (S_ISREG(st.st_mode))
    {
        // An Expert Witness image is known by its signature, whatever its name.
        if (IsEwfFile(fd.Get()))
            return ReadEwfLayout(path, splitPartitions, deep, raw, layout, errorNumber);
        layout->size = static_cast<u64>(st.st_size);
    }
    else // a block device: OpenSource lets nothing else through
    {
        layout->blockDevice = true;
        u64 bytes = 0;
        if (ioctl(fd.Get(), BLKGETSIZE64, &bytes) != 0)
        {
            *errorNumber = errno;
            return kErrOpenFailed;
        }
        layout->size = bytes;
        int logical = 0;
        if (ioctl(fd.Get(), BLKSSZGET, &logical) == 0 && logical > 0)
            sectorSize = static_cast<u32>(logical);
    }

    int device = fd.Get();
    DiskReadFn read = [device](u64 offset, void* buffer, u32 length)
    { return ReadFully(device, offset, buffer, length); };
    VolumeProbeFn probe = [device](u64 offset, u64 length, VolumeInfo* info)
    { return ProbeVolume(device, offset, length, info); };
    return ListVolumes(read, probe, sectorSize, splitPartitions, deep, raw, layout, errorNumber);
}

u32 ProbeSourceVolume(const DriveSource& source, VolumeInfo* info)
{
    *info = VolumeInfo{};
    int error = 0;
    if (source.format == SourceFormat::Ewf)
    {
        EwfImage image;
        if (image.Open(source.path) != kOk)
            return kErrTransfer;
        const u64 size = image.MediaSize();
        if (source.offset >= size)
            return kErrTransfer;
        const u64 rest = size - source.offset;
        const u64 length = source.length != 0 ? std::min(source.length, rest) : rest;
        return ProbeVolumeThrough(EwfReader(image), source.offset, length, info);
    }
    FdHolder fd(OpenSource(source.path, &error));
    if (fd.Get() < 0)
        return kErrTransfer;
    return ProbeVolume(fd.Get(), source.offset, source.length, info);
}
