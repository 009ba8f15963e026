// The bootinfo command: reads sector 0 of each source, or of each partition of a partitioned
// disk, through the device reader and prints what its FAT boot sector says.
#include "cli/BootInfo.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>

#include <unistd.h>

#include "cli/Json.h"
#include "disk/DriveReader.h"
#include "fat/FatBootSector.h"
#include "platform/DriveDiscovery.h"
#include "platform/DriveTable.h"
#include "platform/Format.h"
#include "platform/SourceOpen.h"
#include "platform/Status.h"

const char* const kBootInfoHelp =
    "Usage: orlavent-cli bootinfo [--json] SOURCE...\n"
    "\n"
    "Reads sector 0 of each SOURCE and prints what its FAT boot sector says: the FAT type\n"
    "(decided by the cluster count), bytes per sector, sectors per cluster, reserved sectors,\n"
    "the FAT copies and their size, where the root directory and the data area start, the\n"
    "total sector count and the cluster limit.\n"
    "\n"
    "SOURCE is an image file, an Expert Witness image (.E01) or a block device, opened\n"
    "read-only. Sources are registered as drives C:, D:, ... in order; X:=PATH registers PATH\n"
    "as drive X: instead. A whole disk whose sector 0 holds a partition table (MBR with its\n"
    "logical partitions, or GPT) is shown partition by partition, each with the drive letter\n"
    "that 'drives' gives it; a partition that holds NTFS or exFAT is named with its file\n"
    "system.\n"
    "\n"
    "Options:\n"
    "  --json      print one JSON array with an object per source\n"
    "  -h, --help  show this help\n"
    "\n"
    "Exit status: 0 when every source holds a FAT boot sector or a partition table with a FAT\n"
    "volume, 1 when any source cannot be read, is not FAT, holds no FAT partition or has a\n"
    "damaged partition table, 2 for a usage error.\n";

namespace
{
constexpr u32 kSectorSize = 512;
constexpr std::size_t kOemNameOffset = 0x03; // OEM name, 8 bytes
constexpr std::size_t kBpbOffset = 0x0B;     // BIOS parameter block

// Why a path could not be opened, in words, from a fresh look at the path.
std::string DescribeOpenFailure(const std::string& path)
{
    std::error_code ec;
    std::filesystem::file_status st = std::filesystem::status(path, ec);
    if (st.type() == std::filesystem::file_type::not_found)
        return "no such file or device";
    if (st.type() == std::filesystem::file_type::directory)
        return "is a folder, not an image file or block device";
    // Opened only when it is an image file or a block device: a named pipe would wait here.
    int error = 0;
    int fd = OpenSource(path, &error);
    if (error == kErrNotImageOrDevice)
        return "is neither an image file nor a block device";
    // A character device (ENOTBLK) falls through: it is readable, just not a volume source.
    if (fd < 0 && error != ENOTBLK)
        return Format("cannot be opened for reading: %s", std::strerror(error));
    if (fd >= 0)
        ::close(fd);
    return "cannot be opened as an image file or block device";
}

// A boot sector that the FAT checks refuse, named where its OEM name tells what it is.
std::string DescribeNonFat(const u8* sector)
{
    static_assert(kOemNameOffset + 8 <= kSectorSize);
    std::string oem(sector + kOemNameOffset, sector + kOemNameOffset + 8);
    if (oem == "NTFS    ")
        return "not a FAT volume: its boot sector is NTFS";
    if (oem == "EXFAT   ")
        return "not a FAT volume: its boot sector is exFAT";
    return "not a FAT volume: sector 0 holds no valid FAT boot sector";
}

constexpr char kFirstLetter = 'C';

// The next letter from 'from' on that is not taken, wrapping round to C:; 0 when none is left.
char NextFreeLetter(const std::set<char>& taken, char from)
{
    for (char c = from; c >= kFirstLetter && c <= 'Z'; ++c)
        if (taken.count(c) == 0)
            return c;
    for (char c = kFirstLetter; c <= 'Z'; ++c)
        if (taken.count(c) == 0)
            return c;
    return 0;
}

// What bootinfo shows of one source: the source itself, or the partitions of its table.
struct SourcePlan
{
    SourceArg source;
    bool ownLetter = false; // given as X:=PATH
    BootInfo whole;         // the source read from sector 0
    SourceLayout layout;    // its partitions, when split
    bool split = false;
    std::vector<std::string> drives; // one per volume shown; "" when no letter was left
};

// Reads the partition table of a source whose sector 0 is no FAT boot sector; true when the
// table lists a volume that the probe recognises.
bool ReadPartitions(const std::string& path, SourceLayout* layout)
{
    int error = 0;
    return ReadSourceLayout(path, true, layout, &error) == kOk &&
           layout->scheme != PartitionScheme::None && !layout->volumes.empty() &&
           layout->volumes.front().partition != 0;
}

// Gives every volume shown its drive letter as the drives command does: the first volume of a
// source takes the letter given with X:=PATH, every further one the next free letter after the
// one before it; sources without a letter follow in command-line order from C: on.
void AssignVolumeLetters(std::vector<SourcePlan>* plans)
{
    std::set<char> taken;
    for (const SourcePlan& p : *plans)
        if (p.ownLetter)
            taken.insert(p.source.drive[0]);
    for (int pass = 0; pass < 2; ++pass)
        for (SourcePlan& p : *plans)
        {
            if (p.ownLetter != (pass == 0))
                continue;
            std::size_t count = p.split ? p.layout.volumes.size() : 1;
            char previous = 0;
            for (std::size_t k = 0; k < count; ++k)
            {
                char letter =
                    k == 0 && p.ownLetter
                        ? p.source.drive[0]
                        : NextFreeLetter(taken, previous != 0 ? static_cast<char>(previous + 1)
                                                              : kFirstLetter);
                if (letter != 0)
                    taken.insert(letter);
                if (letter != 0)
                    previous = letter;
                p.drives.push_back(letter != 0 ? std::string{letter, ':'} : std::string());
            }
        }
}

// The boot information of one partition of a split source under its drive letter.
BootInfo ReadPartitionInfo(const SourcePlan& plan, const SourceVolume& volume,
                           const std::string& drive)
{
    BootInfo info;
    SourceArg source{drive, plan.source.path};
    const std::string& fs = volume.info.fileSystem;
    if (fs.rfind("FAT", 0) == 0)
    {
        DriveSource entry;
        entry.drive = drive;
        entry.path = plan.source.path;
        entry.offset = volume.offset;
        entry.length = volume.length;
        entry.format = plan.layout.format;
        g_DriveTable.Register(entry);
        (void)ReadBootInfo(source, &info);
    }
    else
    {
        info.source = source;
        info.fileSystem = fs;
    }
    info.partition = volume.partition;
    return info;
}

// The boot information of every volume the plans show, in command-line order; messages for
// what cannot be shown go to err. Returns 1 when something could not be shown, else 0.
int CollectInfos(const std::vector<SourcePlan>& plans, std::FILE* err, std::vector<BootInfo>* infos)
{
    int exitStatus = 0;
    for (const SourcePlan& p : plans)
    {
        if (!p.split && p.drives.front().empty())
        {
            exitStatus = 1;
            std::fprintf(err, "orlavent-cli bootinfo: no drive letter left for '%s'\n",
                         p.source.path.c_str());
            continue;
        }
        if (!p.split)
        {
            infos->push_back(p.whole);
            infos->back().source.drive = p.drives.front();
            continue;
        }
        if (p.layout.damaged)
        {
            exitStatus = 1;
            std::fprintf(err,
                         "orlavent-cli bootinfo: the partition table of '%s' is damaged; only "
                         "part of it was read\n",
                         p.source.path.c_str());
        }
        bool anyFat = false;
        for (std::size_t k = 0; k < p.layout.volumes.size(); ++k)
        {
            const SourceVolume& v = p.layout.volumes[k];
            if (p.drives[k].empty())
            {
                exitStatus = 1;
                std::fprintf(
                    err, "orlavent-cli bootinfo: no drive letter left for '%s (partition %u)'\n",
                    p.source.path.c_str(), v.partition);
                continue;
            }
            infos->push_back(ReadPartitionInfo(p, v, p.drives[k]));
            anyFat = anyFat || infos->back().fileSystem.empty();
        }
        if (!anyFat)
        {
            exitStatus = 1;
            std::fprintf(err, "orlavent-cli bootinfo: %s: no partition holds a FAT volume\n",
                         p.source.path.c_str());
        }
    }

    return exitStatus;
}
} // namespace

const char* FatTypeName(u32 fatType)
{
    switch (fatType)
    {
    case 1:
        return "FAT12";
    case 2:
        return "FAT16";
    case 3:
        return "FAT32";
    default:
        return "unknown";
    }
}

u32 ReadBootInfo(const SourceArg& source, BootInfo* info)
{
    std::unique_ptr<CDirectRW> reader = NewDriveReader(source.drive);
    u32 status = reader ? reader->Open(source.drive, kSectorSize) : kErrNoMemory;
    if (status != kOk)
    {
        *info = BootInfo{};
        info->source = source;
        info->status = status;
        info->error = DescribeOpenFailure(source.path);
        return status;
    }
    return DecodeBootInfo(*reader, source, info);
}

u32 DecodeBootInfo(CDirectRW& reader, const SourceArg& source, BootInfo* info)
{
    *info = BootInfo{};
    info->source = source;
    u8 sector[kSectorSize] = {};
    u32 done = 0;
    u32 status = reader.ReadSectors(sector, 1, &done, 0);
    if (status != kOk)
    {
        info->status = status;
        info->error = Format("cannot read sector 0 (status %u)", status);
        return status;
    }
    if (done < kSectorSize)
    {
        info->status = kErrTransfer;
        info->error = Format("too short for a volume: %u bytes, less than one %u-byte sector", done,
                             kSectorSize);
        return kErrTransfer;
    }

    FatBootSector boot;
    if (!boot.Parse(sector + kBpbOffset))
    {
        info->status = kErrBadFatBoot;
        info->error = DescribeNonFat(sector);
        return kErrBadFatBoot;
    }
    u32 fatType = 7;
    (void)boot.GetFatType(&fatType);
    info->fatType = fatType;
    info->bytesPerSector = boot.GetBytesPerSector();
    info->sectorsPerCluster = boot.GetBpb()->sectorsPerCluster;
    info->reservedSectors = boot.GetBpb()->reservedSectors;
    u64 fatFirst = 0;
    u32 fatSize = 0;
    u32 fatCount = 0;
    (void)boot.GetFatLocation(&fatFirst, &fatSize, &fatCount);
    info->firstFatSector = fatFirst;
    info->fatSectors = fatSize;
    info->fatCount = fatCount;
    u64 rootSector = 0;
    u32 rootCountOrCluster = 0;
    (void)boot.GetRootDir(&rootSector, &rootCountOrCluster);
    info->rootDirSector = rootSector;
    if (fatType == 3)
        info->rootCluster = rootCountOrCluster;
    else
        info->rootEntryCount = rootCountOrCluster;
    s64 dataSector = 2;
    (void)boot.ClusterToSector(&dataSector);
    info->firstDataSector = static_cast<u64>(dataSector);
    info->totalSectors = boot.GetTotalSectors();
    info->clusterLimit = boot.GetClusterLimit(true);
    return kOk;
}

std::string BootInfoSourceText(const BootInfo& info)
{
    if (info.partition == 0)
        return info.source.path;
    return Format("%s (partition %u)", info.source.path.c_str(), info.partition);
}

std::string FormatBootInfoText(const BootInfo& info)
{
    if (!info.fileSystem.empty())
        return Format("%s %s\n  File system:          %s (no FAT boot sector to show)\n",
                      info.source.drive.c_str(), BootInfoSourceText(info).c_str(),
                      info.fileSystem.c_str());
    std::string root =
        info.fatType == 3
            ? Format("sector %llu (cluster %u)",
                     static_cast<unsigned long long>(info.rootDirSector), info.rootCluster)
            : Format("sector %llu (%u entries)",
                     static_cast<unsigned long long>(info.rootDirSector), info.rootEntryCount);
    auto ull = [](u64 v) { return static_cast<unsigned long long>(v); };
    return Format("%s %s\n"
                  "  FAT type:             %s\n"
                  "  Bytes per sector:     %u\n"
                  "  Sectors per cluster:  %u\n"
                  "  Reserved sectors:     %u\n"
                  "  FAT copies:           %u\n"
                  "  Sectors per FAT:      %u\n"
                  "  First FAT sector:     %llu\n"
                  "  Root directory:       %s\n"
                  "  First data sector:    %llu\n"
                  "  Total sectors:        %llu\n"
                  "  Cluster limit:        %llu\n",
                  info.source.drive.c_str(), BootInfoSourceText(info).c_str(),
                  FatTypeName(info.fatType), info.bytesPerSector, info.sectorsPerCluster,
                  info.reservedSectors, info.fatCount, info.fatSectors, ull(info.firstFatSector),
                  root.c_str(), ull(info.firstDataSector), ull(info.totalSectors),
                  ull(info.clusterLimit));
}

std::string FormatBootInfoJson(const std::vector<BootInfo>& infos)
{
    auto ull = [](u64 v) { return static_cast<unsigned long long>(v); };
    std::string out = "[";
    for (std::size_t i = 0; i < infos.size(); ++i)
    {
        const BootInfo& b = infos[i];
        out += i == 0 ? "\n" : ",\n";
        out += Format("  {\"drive\": %s, \"source\": %s", JsonQuote(b.source.drive).c_str(),
                      JsonQuote(b.source.path).c_str());
        if (b.partition != 0)
            out += Format(", \"partition\": %u", b.partition);
        if (!b.fileSystem.empty())
        {
            out += Format(", \"fileSystem\": %s}", JsonQuote(b.fileSystem).c_str());
            continue;
        }
        if (b.status != kOk)
        {
            out += Format(", \"status\": %u, \"error\": %s}", b.status, JsonQuote(b.error).c_str());
            continue;
        }
        out +=
            Format(", \"fatType\": \"%s\", \"bytesPerSector\": %u, "
                   "\"sectorsPerCluster\": %u, \"reservedSectors\": %u, \"fatCount\": %u, "
                   "\"fatSectors\": %u, \"firstFatSector\": %llu, \"rootDirSector\": %llu, ",
                   FatTypeName(b.fatType), b.bytesPerSector, b.sectorsPerCluster, b.reservedSectors,
                   b.fatCount, b.fatSectors, ull(b.firstFatSector), ull(b.rootDirSector));
        if (b.fatType == 3)
            out += Format("\"rootCluster\": %u, ", b.rootCluster);
        else
            out += Format("\"rootEntryCount\": %u, ", b.rootEntryCount);
        out += Format("\"firstDataSector\": %llu, \"totalSectors\": %llu, "
                      "\"clusterLimit\": %llu}",
                      ull(b.firstDataSector), ull(b.totalSectors), ull(b.clusterLimit));
    }
    out += infos.empty() ? "]\n" : "\n]\n";
    return out;
}

int RunBootInfo(const std::vector<std::string>& args, std::FILE* out, std::FILE* err)
{
    bool json = false;
    bool endOfOptions = false;
    std::vector<std::string> paths;
    for (const std::string& a : args)
    {
        if (!endOfOptions && a == "--")
            endOfOptions = true;
        else if (!endOfOptions && (a == "-h" || a == "--help"))
        {
            std::fputs(kBootInfoHelp, out);
            return 0;
        }
        else if (!endOfOptions && a == "--json")
            json = true;
        else if (!endOfOptions && a.size() > 1 && a[0] == '-')
        {
            std::fprintf(err,
                         "orlavent-cli bootinfo: unknown option '%s'\n"
                         "Run 'orlavent-cli bootinfo --help' for usage.\n",
                         a.c_str());
            return 2;
        }
        else
            paths.push_back(a);
    }
    if (paths.empty())
    {
        std::fputs("orlavent-cli bootinfo: no SOURCE given\n"
                   "Run 'orlavent-cli bootinfo --help' for usage.\n",
                   err);
        return 2;
    }
    std::vector<SourceArg> sources;
    std::string error;
    if (!AssignDrives(paths, &sources, &error))
    {
        std::fprintf(err, "orlavent-cli bootinfo: %s\n", error.c_str());
        return 2;
    }
    RegisterSources(sources);

    std::vector<SourcePlan> plans(sources.size());
    for (std::size_t i = 0; i < sources.size(); ++i)
    {
        SourcePlan& p = plans[i];
        std::string drive;
        std::string path;
        p.source = sources[i];
        p.ownLetter = SplitDriveSpec(paths[i], &drive, &path);
        if (ReadBootInfo(p.source, &p.whole) == kErrBadFatBoot)
            p.split = ReadPartitions(p.source.path, &p.layout);
    }
    AssignVolumeLetters(&plans);

    std::vector<BootInfo> infos;
    int exitStatus = CollectInfos(plans, err, &infos);
    bool printedAny = false;
    for (const BootInfo& info : infos)
    {
        if (info.status != kOk)
        {
            exitStatus = 1;
            std::fprintf(err, "orlavent-cli bootinfo: %s %s: %s\n", info.source.drive.c_str(),
                         BootInfoSourceText(info).c_str(), info.error.c_str());
            continue;
        }
        if (!json)
        {
            std::fprintf(out, "%s%s", printedAny ? "\n" : "", FormatBootInfoText(info).c_str());
            printedAny = true;
        }
    }
    if (json)
        std::fputs(FormatBootInfoJson(infos).c_str(), out);
    return exitStatus;
}
