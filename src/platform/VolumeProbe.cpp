// File-system name and label of a volume, read by libblkid at the volume's offset.
#include "platform/VolumeProbe.h"

#include <blkid.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

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

// Closes a descriptor on every way out.
class FdCloser
{
public:
    explicit FdCloser(int fd) : m_fd(fd) {}
    ~FdCloser()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    [[nodiscard]] int Get() const { return m_fd; }

private:
    int m_fd;
};

// Writes n bytes of p at byte at of the copy. False when they cannot be written.
bool WriteCopy(int copy, const u8* p, u32 n, u64 at)
{
    for (u32 put = 0; put < n;)
    {
        ssize_t w = ::pwrite(copy, p + put, n - put, static_cast<off_t>(at + put));
        if (w <= 0)
            return false;
        put += static_cast<u32>(w);
    }
    return true;
}

// Copies [from, from + count) of the volume into the same place of the copy, in blocks. A
// block that cannot be read is read again sector by sector (one damaged image chunk must not
// take the boot sector or the FAT beside it along); a sector that cannot be read stays zero.
// False only when the copy cannot be written.
bool CopyRange(const DiskReadFn& read, u64 offset, int copy, u64 from, u64 count)
{
    constexpr u32 kBlock = 64 * 1024;
    constexpr u32 kSector = 512;
    std::vector<u8> block(kBlock);
    for (u64 done = 0; done < count;)
    {
        const u32 n = static_cast<u32>(std::min<u64>(kBlock, count - done));
        if (read(offset + from + done, block.data(), n))
        {
            if (!WriteCopy(copy, block.data(), n, from + done))
                return false;
        }
        else
        {
            for (u32 at = 0; at < n; at += kSector)
            {
                const u32 part = std::min(kSector, n - at);
                if (read(offset + from + done + at, block.data(), part) &&
                    !WriteCopy(copy, block.data(), part, from + done + at))
                    return false;
            }
        }
        done += n;
    }
    return true;
}

// Two of libblkid's probers read 256 KiB buffers on every probe, which cost more in fresh memory
// than all the other probers together; each matches only on a magic number that most volumes
// lack in the places it looks, and is then left out of the probe:
// - ZFS: uberblocks, magic 0x00bab10c, in four labels: two in the first 512 KiB, two in the last
//   768 KiB (the end ones on a 256 KiB boundary). Looked for as the magic's middle bytes
//   (0C B1 BA or BA B1 0C, one per byte order) anywhere in those areas.
// - XFS external log: a record header, magic FE ED BA BE, at the start of one of the first 512
//   sectors of 512 bytes.
struct ProbersToSkip
{
    bool zfs = false;
    bool xfsLog = false;
};

// Which of the two probers cannot match the volume of size bytes at offset. A read that fails
// or comes back short skips neither: libblkid then decides as before.
ProbersToSkip ProbersWithoutMagic(int fd, u64 offset, u64 size)
{
    constexpr u64 kHead = u64{512} * 1024;
    constexpr u64 kTail = u64{768} * 1024;
    constexpr u64 kLogArea = u64{256} * 1024;
    constexpr u64 kSector = 512;
    constexpr u64 kBlock = u64{32} * 1024;
    constexpr u64 kCarry = 2; // a pattern across two blocks is seen whole in the second
    const u8 kLogMagic[] = {0xFE, 0xED, 0xBA, 0xBE};
    std::vector<u8> block(kBlock);
    bool zfs = false;
    bool xfsLog = false;
    // Reads [from, to) and notes the magic numbers it holds; false when a read fails.
    auto look = [&](u64 from, u64 to)
    {
        for (u64 at = from; at < to;)
        {
            const u64 want = std::min(kBlock, to - at);
            if (::pread(fd, block.data(), want, static_cast<off_t>(offset + at)) !=
                static_cast<ssize_t>(want))
                return false;
            const u8* end = block.data() + want;
            for (const u8* p = block.data() + 1; p + 1 < end; ++p)
            {
                p = static_cast<const u8*>(
                    std::memchr(p, 0xB1, static_cast<std::size_t>(end - 1 - p)));
                if (p == nullptr)
                    break;
                zfs = zfs || (p[-1] == 0x0C && p[1] == 0xBA) || (p[-1] == 0xBA && p[1] == 0x0C);
            }
            for (u64 sector = (at + kSector - 1) / kSector * kSector;
                 sector + sizeof kLogMagic <= at + want && sector < kLogArea; sector += kSector)
                xfsLog = xfsLog || std::memcmp(block.data() + (sector - at), kLogMagic,
                                               sizeof kLogMagic) == 0;
            at = at + want < to ? at + want - kCarry : to;
        }
        return true;
    };
    const bool read =
        size <= kHead + kTail ? look(0, size) : look(0, kHead) && (zfs || look(size - kTail, size));
    if (!read)
        return {};
    return {!zfs, !xfsLog};
}

// Where the first MFT records of an NTFS boot sector lie: the byte range of records 0 to 3
// ($MFT to $Volume) inside a volume of length bytes. False when the fields give none.
bool MftRecordsRange(const u8* sector, u64 length, u64* from, u64* count)
{
    // NTFS boot sector fields.
    constexpr std::size_t kBytesPerSector = 0x0B;
    constexpr std::size_t kSectorsPerCluster = 0x0D;
    constexpr std::size_t kMftCluster = 0x30;        // LCN of $MFT
    constexpr std::size_t kClustersPerRecord = 0x40; // signed: negative n means 2^-n bytes
    constexpr u64 kRecords = 4;
    constexpr u64 kMaxRecordBytes = u64{64} * 1024;
    const u64 bps = LoadLe16(sector + kBytesPerSector);
    u64 spc = sector[kSectorsPerCluster];
    if (spc > 0x80) // a negated shift, as for large clusters
        spc = spc >= 0xF4 ? u64{1} << (0x100 - spc) : 0;
    const u64 cluster = bps * spc;
    if (cluster == 0)
        return false;
    const auto perRecord = static_cast<s8>(sector[kClustersPerRecord]);
    u64 record = 0;
    if (perRecord > 0)
        record = static_cast<u64>(perRecord) * cluster;
    else if (perRecord < 0 && perRecord >= -16)
        record = u64{1} << -perRecord;
    if (record == 0 || record > kMaxRecordBytes)
        return false;
    const u64 lcn = LoadLe64(sector + kMftCluster);
    if (lcn > length / cluster)
        return false;
    *from = lcn * cluster;
    *count = std::min(kRecords * record, length - *from);
    return *count != 0;
}
// The sector a backup boot sector of the file system fs lies in, for a volume of length
// bytes: NTFS keeps it in the volume's last sector, FAT32 in sector 6, exFAT its backup boot
// region from sector 12 on.
struct BackupBoot
{
    const char* fileSystem;
    u64 sector; // in 512-byte sectors; ~0 for "the last one"
};
constexpr BackupBoot kBackupBoots[] = {{"NTFS", ~u64{0}}, {"FAT", 6}, {"exFAT", 12}};
constexpr u64 kLastSector = ~u64{0};
constexpr u64 kExfatRegionSectors = 12;

// When sector 0 of the volume cannot be read: looks for a backup boot sector that names its
// own file system, and puts it (with exFAT, its whole boot region) where the main one lies in
// the copy. Fills *sector with it and returns the sector it was found in, or ~0 when none was.
u64 UseBackupBoot(const DiskReadFn& read, u64 offset, u64 length, int copy, u8* sector)
{
    constexpr u64 kSector = 512;
    for (const BackupBoot& backup : kBackupBoots)
    {
        const u64 at = backup.sector == kLastSector ? length / kSector - 1 : backup.sector;
        if (at == 0 || (at + 1) * kSector > length ||
            !read(offset + at * kSector, sector, kSector) ||
            BootSectorFileSystem(sector, kSector) != backup.fileSystem)
            continue;
        u64 sectors = 1;
        if (std::strcmp(backup.fileSystem, "exFAT") == 0)
            sectors = std::min(kExfatRegionSectors, length / kSector - at);
        for (u64 k = 0; k < sectors; ++k)
        {
            u8 bytes[kSector] = {};
            if (read(offset + (at + k) * kSector, bytes, kSector) &&
                !WriteCopy(copy, bytes, kSector, k * kSector))
                return ~u64{0};
        }
        return at;
    }
    return ~u64{0};
}
} // namespace

bool ExfatRegionSound(const u8* region, std::size_t size, u32 shift)
{
    constexpr std::size_t kSectorShift = 0x6C; // BytesPerSectorShift
    constexpr std::size_t kVolumeFlags = 0x6A;
    constexpr std::size_t kPercentInUse = 0x70;
    constexpr std::size_t kChecksumSector = 11;
    if (size < 512 || BootSectorFileSystem(region, 512) != "exFAT")
        return false;
    const u32 own = region[kSectorShift];
    if (own < 9 || own > 12 || (shift != 0 && own != shift))
        return false;
    const std::size_t bps = std::size_t{1} << own;
    if (size < (kChecksumSector + 1) * bps)
        return false;
    u32 sum = 0;
    for (std::size_t i = 0; i < kChecksumSector * bps; ++i)
        if (i != kVolumeFlags && i != kVolumeFlags + 1 && i != kPercentInUse)
            sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + region[i];
    for (std::size_t i = 0; i < bps; i += 4)
        if (LoadLe32(region + kChecksumSector * bps + i) != sum)
            return false;
    return true;
}

namespace
{
// An exFAT volume whose main boot region is damaged and whose backup region (sector 12) is
// sound is read through the backup: the drive list says so, and names the file system where
// libblkid, which reads the main boot sector alone, found none.
void NoteExfatBackup(int fd, u64 offset, u64 size, VolumeInfo* info)
{
    if (!info->type.empty() && info->type != "exfat")
        return;
    constexpr std::size_t kHead = 2 * kExfatRegionSectors * 4096;
    std::vector<u8> head(static_cast<std::size_t>(std::min<u64>(kHead, size)));
    std::size_t got = 0;
    while (got < head.size())
    {
        const ssize_t n =
            ::pread(fd, head.data() + got, head.size() - got, static_cast<off_t>(offset + got));
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (ExfatRegionSound(head.data(), got, 0))
        return;
    for (u32 shift = 9; shift <= 12; ++shift)
    {
        const std::size_t at = kExfatRegionSectors << shift;
        if (at < got && ExfatRegionSound(head.data() + at, got - at, shift))
        {
            if (info->fileSystem.empty())
            {
                info->type = "exfat";
                info->fileSystem = "exFAT";
            }
            info->note = kExfatBackupNote;
            return;
        }
    }
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
    const blkid_loff_t size = blkid_probe_get_size(probe.get());
    if (size <= 0)
        return kErrTransfer;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL |
                                                       BLKID_SUBLKS_VERSION);
    const ProbersToSkip skip = ProbersWithoutMagic(fd, offset, static_cast<u64>(size));
    char zfs[] = "zfs_member";
    char xfsLog[] = "xfs_external_log";
    char* names[3] = {};
    std::size_t named = 0;
    if (skip.zfs)
        names[named++] = zfs;
    if (skip.xfsLog)
        names[named++] = xfsLog;
    if (named != 0 &&
        blkid_probe_filter_superblocks_type(probe.get(), BLKID_FLTR_NOTIN, names) != 0)
        return kErrNoMemory;
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
    if (rc == 0)
    {
        info->type = LookUp(probe.get(), "TYPE");
        info->label = LookUp(probe.get(), "LABEL");
        info->fileSystem = FileSystemName(info->type, LookUp(probe.get(), "VERSION"));
    }
    NoteExfatBackup(fd, offset, static_cast<u64>(size), info);
    return kOk;
}

u32 ProbeVolumeThrough(const DiskReadFn& read, u64 offset, u64 length, VolumeInfo* info)
{
    *info = VolumeInfo{};
    constexpr u64 kMaxOff = static_cast<u64>(std::numeric_limits<s64>::max());
    if (length == 0 || offset > kMaxOff || length > kMaxOff - offset)
        return kErrTransfer;
    u8 sector[512] = {};
    if (length < sizeof sector)
        return kErrTransfer;
    const bool bootRead = read(offset, sector, sizeof sector);
    // A sparse copy as long as the volume: libblkid sees its size and reads zeros wherever
    // nothing was copied. Only the copied ranges take memory.
    FdCloser copy(::memfd_create("orlavent-probe", MFD_CLOEXEC));
    if (copy.Get() < 0 || ::ftruncate(copy.Get(), static_cast<off_t>(length)) != 0)
        return kErrNoMemory;
    const u64 head = std::min(length, kProbeHeadBytes);
    const u64 tail = std::min(length - head, kProbeTailBytes);
    bool copied = CopyRange(read, offset, copy.Get(), 0, head) &&
                  CopyRange(read, offset, copy.Get(), length - tail, tail);
    u64 backup = ~u64{0};
    if (!bootRead)
    {
        // Sector 0 did not arrive: a backup boot sector stands in for it, or nothing is found.
        backup = UseBackupBoot(read, offset, length, copy.Get(), sector);
        if (backup == ~u64{0})
            return kErrTransfer;
    }
    u64 from = 0;
    u64 count = 0;
    if (copied && BootSectorFileSystem(sector, sizeof sector) == "NTFS" &&
        MftRecordsRange(sector, length, &from, &count) && from + count > head)
        copied = CopyRange(read, offset, copy.Get(), from, count);
    if (!copied)
        return kErrNoMemory;
    const u32 rc = ProbeVolume(copy.Get(), 0, length, info);
    if (rc == kOk && backup != ~u64{0} && !info->fileSystem.empty())
        info->note = kBackupBootNote + std::to_string(backup);
    return rc;
}
