// The search for lost volumes: boot sectors at partition alignments in the free space of a disk.
#include "platform/LostVolumes.h"

#include <algorithm>
#include <array>

#include "platform/ByteOrder.h"
#include "platform/DriveDiscovery.h"
#include "platform/VolumeProbe.h"

namespace
{
constexpr u64 kSector = 512;
constexpr u64 kTrack = 63; // sectors per track of the old CHS geometry
constexpr u64 kMiB = 2048; // sectors in 1 MiB
constexpr u64 kFat32Backup = 6;
constexpr u64 kExfatBackup = 12;
constexpr u64 kExfatRegion = 12; // sectors of an exFAT boot region

// BIOS parameter block offsets shared by FAT and NTFS, and those of each file system.
constexpr std::size_t kBytesPerSector = 0x0B;
constexpr std::size_t kSectorsPerCluster = 0x0D;
constexpr std::size_t kReservedSectors = 0x0E;
constexpr std::size_t kNumFats = 0x10;
constexpr std::size_t kRootEntries = 0x11;
constexpr std::size_t kTotalSectors16 = 0x13;
constexpr std::size_t kFatSectors16 = 0x16;
constexpr std::size_t kTotalSectors32 = 0x20;
constexpr std::size_t kFatSectors32 = 0x24;
constexpr std::size_t kFat32BackupField = 0x32;
constexpr std::size_t kNtfsTotalSectors = 0x28;
constexpr std::size_t kExfatVolumeLength = 0x48;
constexpr std::size_t kExfatSectorShift = 0x6C;

using Sector = std::array<u8, kSector>;

// The byte length of the FAT volume a boot sector describes; 0 when its fields give no usable
// geometry (the FATs and the root folder must fit in the volume).
u64 FatVolumeBytes(const Sector& s)
{
    if (BootSectorFileSystem(s.data(), s.size()) != "FAT")
        return 0;
    const u64 bps = LoadLe16(&s[kBytesPerSector]);
    const u64 total16 = LoadLe16(&s[kTotalSectors16]);
    const u64 total = total16 != 0 ? total16 : LoadLe32(&s[kTotalSectors32]);
    const u64 fat16 = LoadLe16(&s[kFatSectors16]);
    const u64 fatSectors = fat16 != 0 ? fat16 : LoadLe32(&s[kFatSectors32]);
    const u64 rootSectors = (LoadLe16(&s[kRootEntries]) * u64{32} + bps - 1) / bps;
    const u64 meta = LoadLe16(&s[kReservedSectors]) + s[kNumFats] * fatSectors + rootSectors;
    if (fatSectors == 0 || total <= meta)
        return 0;
    return total * bps;
}

// True for a FAT32 boot sector of 512-byte sectors that says its backup lies in sector 6.
bool IsFat32WithBackupAt6(const Sector& s)
{
    return FatVolumeBytes(s) != 0 && LoadLe16(&s[kBytesPerSector]) == kSector &&
           LoadLe16(&s[kFatSectors16]) == 0 && LoadLe16(&s[kRootEntries]) == 0 &&
           LoadLe16(&s[kFat32BackupField]) == kFat32Backup;
}

// The byte length of the NTFS volume a boot sector describes, its backup sector included; 0 when
// the sector or cluster size is not one NTFS writes or the size is 0.
u64 NtfsVolumeBytes(const Sector& s)
{
    if (BootSectorFileSystem(s.data(), s.size()) != "NTFS")
        return 0;
    const u64 bps = LoadLe16(&s[kBytesPerSector]);
    const u8 spc = s[kSectorsPerCluster];
    const bool spcValid = (spc != 0 && spc <= 0x80 && (spc & (spc - 1)) == 0) || spc >= 0xF4;
    const u64 total = LoadLe64(&s[kNtfsTotalSectors]);
    if (bps < kSector || bps > 4096 || (bps & (bps - 1)) != 0 || !spcValid || total == 0 ||
        total >= (u64{1} << 48))
        return 0;
    return (total + 1) * bps;
}

// The byte length of the exFAT volume a boot sector of 512-byte sectors describes; 0 otherwise.
u64 ExfatVolumeBytes(const Sector& s)
{
    if (BootSectorFileSystem(s.data(), s.size()) != "exFAT")
        return 0;
    const u32 shift = s[kExfatSectorShift];
    const u64 sectors = LoadLe64(&s[kExfatVolumeLength]);
    if (shift < 9 || shift > 12 || sectors == 0 || sectors >= (u64{1} << 48))
        return 0;
    return sectors << shift;
}

// One search over a disk: the reads with their budget, and the volumes found.
class Search
{
public:
    Search(const DiskReadFn& read, u64 diskSize, const std::vector<DiskRange>& taken,
           u64 maxSectors, u32 maxVolumes)
        : m_read(read), m_diskSectors(diskSize / kSector), m_taken(taken), m_maxSectors(maxSectors),
          m_maxVolumes(maxVolumes)
    {
    }

    void Run(const std::vector<DiskRange>& stretches);
    LostVolumeSearch Take() { return std::move(m_result); }

private:
    bool ReadSector(u64 sector, Sector* out);
    bool Spend(u64 sectors, u64 at);
    // Looks at place p; returns the end (in sectors) of a volume found starting there, or 0.
    u64 LookAt(u64 p);
    void LookForNtfsBackup(u64 backup);
    bool IsBackupCopy(u64 p, const std::string& fileSystem, const Sector& boot);
    bool Add(u64 start, u64 bytes, const std::string& fileSystem, u64 bootSector, bool fromBackup);

    const DiskReadFn& m_read;
    u64 m_diskSectors;
    const std::vector<DiskRange>& m_taken;
    u64 m_maxSectors;
    u32 m_maxVolumes;
    LostVolumeSearch m_result;
};

// The next place after sector p: a multiple of 63 or of 2048.
u64 NextPlace(u64 p)
{
    const u64 track = (p / kTrack + 1) * kTrack;
    const u64 mib = (p / kMiB + 1) * kMiB;
    return std::min(track, mib);
}

bool Overlaps(const DiskRange& a, u64 offset, u64 length)
{
    return offset < a.offset + a.length && a.offset < offset + length;
}

bool Search::ReadSector(u64 sector, Sector* out)
{
    if (sector >= m_diskSectors)
        return false;
    ++m_result.sectorsRead;
    return m_read(sector * kSector, out->data(), kSector);
}

// Takes sectors from the budget before looking at sector at; false (and the search cut) when
// the budget or the list is full.
bool Search::Spend(u64 sectors, u64 at)
{
    if (m_result.sectorsRead + sectors <= m_maxSectors && m_result.volumes.size() < m_maxVolumes)
        return true;
    if (!m_result.cut)
    {
        m_result.cut = true;
        m_result.stoppedAt = at;
    }
    return false;
}

// True when the FAT or exFAT boot sector at p is the backup of a volume that starts 6 (FAT32) or
// 12 (exFAT) sectors before it: the same parameter block (with exFAT, the same size and serial
// number) lies there. Such a volume is found from its own start or not at all.
bool Search::IsBackupCopy(u64 p, const std::string& fileSystem, const Sector& boot)
{
    constexpr std::size_t kFatBpbEnd = 0x5A;      // jump, OEM name and the FAT32 BPB
    constexpr std::size_t kExfatSerialEnd = 0x68; // VolumeLength up to VolumeSerialNumber
    const bool fat = fileSystem == "FAT";
    if ((!fat && fileSystem != "exFAT") || p < (fat ? kFat32Backup : kExfatBackup))
        return false;
    Sector main{};
    if (!ReadSector(p - (fat ? kFat32Backup : kExfatBackup), &main))
        return false;
    const std::size_t from = fat ? 0 : kExfatVolumeLength;
    const std::size_t to = fat ? kFatBpbEnd : kExfatSerialEnd;
    return std::equal(boot.begin() + from, boot.begin() + to, main.begin() + from);
}

bool Search::Add(u64 start, u64 bytes, const std::string& fileSystem, u64 bootSector,
                 bool fromBackup)
{
    if (bytes == 0 || start >= m_diskSectors || m_result.volumes.size() >= m_maxVolumes)
        return false;
    const u64 offset = start * kSector;
    const u64 length = std::min(bytes, (m_diskSectors - start) * kSector);
    for (const DiskRange& r : m_taken)
        if (Overlaps(r, offset, length))
            return false;
    for (const LostVolume& v : m_result.volumes)
        if (Overlaps(DiskRange{v.offset, v.length}, offset, length))
            return false;
    m_result.volumes.push_back(LostVolume{offset, length, fileSystem, bootSector, fromBackup});
    return true;
}

u64 Search::LookAt(u64 p)
{
    // The sector before p may end a volume whose own boot sector is gone: NTFS keeps its backup
    // there. That volume lies before p, so it takes nothing away from what starts at p.
    if (p != 0)
        LookForNtfsBackup(p - 1);
    Sector s{};
    u64 bytes = 0;
    if (ReadSector(p, &s))
    {
        const std::string fs = BootSectorFileSystem(s.data(), s.size());
        bytes = fs == "FAT"    ? FatVolumeBytes(s)
                : fs == "NTFS" ? NtfsVolumeBytes(s)
                               : ExfatVolumeBytes(s);
        if (!fs.empty() && !IsBackupCopy(p, fs, s) && Add(p, bytes, fs, p, false))
            return p + (bytes + kSector - 1) / kSector;
    }
    if (ReadSector(p + kFat32Backup, &s) && IsFat32WithBackupAt6(s) &&
        Add(p, FatVolumeBytes(s), "FAT32", p + kFat32Backup, true))
        return p + FatVolumeBytes(s) / kSector;
    if (ReadSector(p + kExfatBackup, &s) && s[kExfatSectorShift] == 9 &&
        (bytes = ExfatVolumeBytes(s)) != 0 && p + kExfatBackup + kExfatRegion <= m_diskSectors)
    {
        std::array<u8, kExfatRegion * kSector> region{};
        m_result.sectorsRead += kExfatRegion;
        if (m_read((p + kExfatBackup) * kSector, region.data(), region.size()) &&
            ExfatRegionSound(region.data(), region.size(), 9) &&
            Add(p, bytes, "exFAT", p + kExfatBackup, true))
            return p + bytes / kSector;
    }
    return 0;
}

// An NTFS backup boot sector in sector backup, the last of its volume, gives the volume's start.
void Search::LookForNtfsBackup(u64 backup)
{
    Sector s{};
    if (!ReadSector(backup, &s))
        return;
    const u64 bytes = NtfsVolumeBytes(s);
    if (bytes == 0 || LoadLe16(&s[kBytesPerSector]) != kSector || bytes / kSector > backup + 1)
        return;
    (void)Add(backup + 1 - bytes / kSector, bytes, "NTFS", backup, true);
}

void Search::Run(const std::vector<DiskRange>& stretches)
{
    // One place costs at most its sector, the one a backup copy would be taken from, the two
    // backups, the exFAT region and the sector before.
    constexpr u64 kMostPerPlace = 5 + kExfatRegion;
    for (const DiskRange& free : stretches)
    {
        const u64 first = (free.offset + kSector - 1) / kSector;
        const u64 end = std::min(m_diskSectors, (free.offset + free.length) / kSector);
        u64 p = first % kTrack == 0 || first % kMiB == 0 ? first : NextPlace(first);
        while (p < end)
        {
            if (!Spend(kMostPerPlace, p))
                return;
            const u64 volumeEnd = LookAt(p);
            p = volumeEnd > p
                    ? (volumeEnd % kTrack == 0 || volumeEnd % kMiB == 0 ? volumeEnd
                                                                        : NextPlace(volumeEnd))
                    : NextPlace(p);
        }
        // The last sector of the stretch may end an NTFS volume that no place after it reaches.
        if (end > first && Spend(1, end - 1))
            LookForNtfsBackup(end - 1);
    }
}
} // namespace

std::vector<DiskRange> FreeStretches(u64 diskSize, std::vector<DiskRange> taken)
{
    std::sort(taken.begin(), taken.end(),
              [](const DiskRange& a, const DiskRange& b) { return a.offset < b.offset; });
    std::vector<DiskRange> free;
    u64 at = 0;
    for (const DiskRange& r : taken)
    {
        if (r.offset >= diskSize)
            break;
        if (r.offset > at)
            free.push_back(DiskRange{at, r.offset - at});
        const u64 end = r.length > diskSize - r.offset ? diskSize : r.offset + r.length;
        at = std::max(at, end);
    }
    if (at < diskSize)
        free.push_back(DiskRange{at, diskSize - at});
    return free;
}

LostVolumeSearch FindLostVolumes(const DiskReadFn& read, u64 diskSize,
                                 const std::vector<DiskRange>& taken, u64 maxSectors,
                                 u32 maxVolumes)
{
    Search search(read, diskSize, taken, maxSectors, maxVolumes);
    if (diskSize >= kSector)
        search.Run(FreeStretches(diskSize, taken));
    LostVolumeSearch result = search.Take();
    std::sort(result.volumes.begin(), result.volumes.end(),
              [](const LostVolume& a, const LostVolume& b) { return a.offset < b.offset; });
    return result;
}

bool ConfirmLostVolume(const VolumeProbeFn& probe, const LostVolume& volume, VolumeInfo* info)
{
    *info = VolumeInfo{};
    const bool fat = volume.fileSystem.compare(0, 3, "FAT") == 0;
    if (probe(volume.offset, volume.length, info) == 0 &&
        (fat ? info->fileSystem.compare(0, 3, "FAT") == 0 : info->fileSystem == volume.fileSystem))
        return true;
    *info = VolumeInfo{};
    if (!volume.fromBackup)
        return false;
    info->type = fat ? "vfat" : volume.fileSystem == "NTFS" ? "ntfs" : "exfat";
    info->fileSystem = volume.fileSystem;
    info->note = kLostBackupNote + std::to_string(volume.bootSector - volume.offset / kSector);
    return true;
}

std::string LostVolumeText(u64 offset)
{
    return "lost volume at sector " + std::to_string(offset / kSector);
}

void ListLostVolumes(const DiskReadFn& read, const VolumeProbeFn& probe,
                     const PartitionTable* table, SourceLayout* layout)
{
    std::vector<DiskRange> taken;
    if (table != nullptr)
        for (const PartitionEntry& e : table->entries)
            taken.push_back(DiskRange{e.offset, e.length});
    const LostVolumeSearch search = FindLostVolumes(read, layout->size, taken);
    layout->lostSearchCut = search.cut;
    layout->lostSearchStop = search.stoppedAt * 512;
    for (const LostVolume& v : search.volumes)
    {
        VolumeInfo info;
        if (ConfirmLostVolume(probe, v, &info))
            layout->volumes.push_back(SourceVolume{v.offset, v.length, 0, info, true});
    }
}
