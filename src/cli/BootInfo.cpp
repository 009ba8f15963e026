// The bootinfo command: reads sector 0 of each source through the device reader and prints
// what its FAT boot sector says.
#include "cli/BootInfo.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include <unistd.h>

#include "cli/Json.h"
#include "disk/DriveReader.h"
#include "fat/FatBootSector.h"
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
    "as drive X: instead.\n"
    "\n"
    "Options:\n"
    "  --json      print one JSON array with an object per source\n"
    "  -h, --help  show this help\n"
    "\n"
    "Exit status: 0 when every source holds a FAT boot sector, 1 when any source cannot be\n"
    "read or is not FAT, 2 for a usage error.\n";

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

std::string FormatBootInfoText(const BootInfo& info)
{
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
                  info.source.drive.c_str(), info.source.path.c_str(), FatTypeName(info.fatType),
                  info.bytesPerSector, info.sectorsPerCluster, info.reservedSectors, info.fatCount,
                  info.fatSectors, ull(info.firstFatSector), root.c_str(),
                  ull(info.firstDataSector), ull(info.totalSectors), ull(info.clusterLimit));
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

    int exitStatus = 0;
    bool printedAny = false;
    std::vector<BootInfo> infos(sources.size());
    for (std::size_t i = 0; i < sources.size(); ++i)
    {
        if (ReadBootInfo(sources[i], &infos[i]) != kOk)
        {
            exitStatus = 1;
            std::fprintf(err, "orlavent-cli bootinfo: %s %s: %s\n", sources[i].drive.c_str(),
                         sources[i].path.c_str(), infos[i].error.c_str());
            continue;
        }
        if (!json)
        {
            std::fprintf(out, "%s%s", printedAny ? "\n" : "", FormatBootInfoText(infos[i]).c_str());
            printedAny = true;
        }
    }
    if (json)
        std::fputs(FormatBootInfoJson(infos).c_str(), out);
    return exitStatus;
}
