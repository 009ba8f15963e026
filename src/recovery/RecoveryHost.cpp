// The system's answers about the destination, and the check that keeps a recovery off the
// volume it reads.
#include "recovery/RecoveryHost.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
// The sysfs folder of a block device number.
std::filesystem::path DevicePath(u64 device)
{
    return "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

bool ReadNumber(const std::filesystem::path& file, u64* value)
{
    std::ifstream in(file);
    unsigned long long v = 0;
    if (!(in >> v))
        return false;
    *value = v;
    return true;
}

class CSystemRecoveryHost final : public IRecoveryHost
{
public:
    bool FreeSpace(const std::string& path, u64* blockSize, u64* freeBlocks) override
    {
        struct statvfs info = {};
        if (::statvfs(path.c_str(), &info) != 0)
            return false;
        *blockSize = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
        *freeBlocks = info.f_bavail;
        return *blockSize != 0;
    }

    std::optional<PathFacts> Stat(const std::string& path) override
    {
        struct stat st = {};
        if (::stat(path.c_str(), &st) != 0)
            return std::nullopt;
        PathFacts facts;
        facts.isDirectory = S_ISDIR(st.st_mode);
        facts.isBlockDevice = S_ISBLK(st.st_mode);
        facts.device = st.st_dev;
        facts.rawDevice = st.st_rdev;
        facts.inode = st.st_ino;
        return facts;
    }

    std::optional<LoopFacts> LoopBacking(u64 device) override
    {
        // A loop device has loop/backing_file and loop/offset; a partition of one has a
        // "partition" file, its "start" sector, and the loop device as its parent folder.
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::path node = fs::canonical(DevicePath(device), ec);
        if (ec)
            return std::nullopt;
        u64 start = 0;
        if (fs::exists(node / "partition", ec))
        {
            if (!ReadNumber(node / "start", &start))
                return std::nullopt;
            node = node.parent_path();
        }
        std::ifstream backing(node / "loop" / "backing_file");
        LoopFacts facts;
        u64 offset = 0;
        if (!std::getline(backing, facts.file) || facts.file.empty() ||
            !ReadNumber(node / "loop" / "offset", &offset))
            return std::nullopt;
        facts.offset = offset + start * 512;
        return facts;
    }

    std::vector<std::string> MountSources(u64 device) override
    {
        std::ifstream in("/proc/self/mountinfo");
        std::ostringstream text;
        text << in.rdbuf();
        return ParseMountSources(text.str(), device);
    }

    std::vector<PartitionFacts> Partitions(u64 disk) override
    {
        // /sys/dev/block/MAJ:MIN is the disk's folder; each partition is a sub-folder with a
        // "partition" file, its "start" sector and its "dev" number.
        std::vector<PartitionFacts> out;
        const std::filesystem::path base = DevicePath(disk);
        std::error_code ec;
        std::filesystem::directory_iterator it(base, ec);
        if (ec)
            return out;
        for (const auto& entry : it)
        {
            std::error_code existsError;
            if (!std::filesystem::exists(entry.path() / "partition", existsError))
                continue;
            u64 start = 0;
            unsigned maj = 0;
            unsigned min = 0;
            std::ifstream devFile(entry.path() / "dev");
            std::string devText;
            if (!ReadNumber(entry.path() / "start", &start) || !(devFile >> devText) ||
                std::sscanf(devText.c_str(), "%u:%u", &maj, &min) != 2)
                continue;
            out.push_back(PartitionFacts{makedev(maj, min), start});
        }
        return out;
    }
};

CSystemRecoveryHost g_systemHost;
std::atomic<IRecoveryHost*> g_host{nullptr};
} // namespace

IRecoveryHost& RecoveryHost()
{
    IRecoveryHost* host = g_host.load();
    return host != nullptr ? *host : g_systemHost;
}

IRecoveryHost& SystemRecoveryHost()
{
    return g_systemHost;
}

void SetRecoveryHost(IRecoveryHost* host)
{
    g_host.store(host);
}

std::string NearestExisting(IRecoveryHost& host, const std::string& path)
{
    std::string probe = path;
    while (!probe.empty())
    {
        if (host.Stat(probe))
            return probe;
        const std::size_t slash = probe.find_last_of('/');
        if (slash == std::string::npos)
            break;
        probe.erase(slash == 0 ? 1 : slash);
        if (probe == "/")
            return probe;
    }
    return path.starts_with("/") ? "/" : ".";
}

namespace
{
// Decodes the \ooo escapes the mount table uses for blanks, tabs, newlines and backslashes.
std::string DecodeMountField(const std::string& field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i)
    {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
            field[i + 3] >= '0' && field[i + 3] <= '7')
        {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        }
        else
            out += field[i];
    }
    return out;
}
} // namespace

std::vector<std::string> ParseMountSources(const std::string& mountInfo, u64 device)
{
    // A line: id parent major:minor root mountpoint options [optional fields...] - type
    // source super-options.
    std::vector<std::string> sources;
    const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::istringstream lines(mountInfo);
    std::string line;
    while (std::getline(lines, line))
    {
        std::istringstream fields(line);
        std::string id;
        std::string parent;
        std::string number;
        if (!(fields >> id >> parent >> number) || number != wanted)
            continue;
        std::string field;
        while (fields >> field && field != "-")
        {
        }
        std::string type;
        std::string source;
        if (field == "-" && fields >> type >> source)
            sources.push_back(DecodeMountField(source));
    }
    return sources;
}

namespace
{
// True when the file system mounted from mountSource is the source volume, or overlaps it:
// the image file itself, the source's block device, or a loop device over the image.
bool MountSourceIsSource(IRecoveryHost& host, const std::string& mountSource, const PathFacts& src,
                         const DriveSource& source)
{
    if (!mountSource.starts_with("/"))
        return false;
    const std::optional<PathFacts> mounted = host.Stat(mountSource);
    if (!mounted)
        return false;
    if (!mounted->isBlockDevice)
        return !src.isBlockDevice && !mounted->isDirectory && mounted->device == src.device &&
               mounted->inode == src.inode;
    if (src.isBlockDevice)
        return mounted->rawDevice == src.rawDevice;
    const std::optional<LoopFacts> loop = host.LoopBacking(mounted->rawDevice);
    if (!loop)
        return false;
    const std::optional<PathFacts> backing = host.Stat(loop->file);
    return backing && !backing->isBlockDevice && backing->device == src.device &&
           backing->inode == src.inode && loop->offset == source.offset;
}
} // namespace

bool DestinationIsSource(IRecoveryHost& host, const std::string& folder, const DriveSource& source)
{
    const std::optional<PathFacts> dest = host.Stat(NearestExisting(host, folder));
    if (!dest)
        return false;
    return DestinationFactsAreSource(host, *dest, source);
}

bool DestinationFactsAreSource(IRecoveryHost& host, const PathFacts& destFacts,
                               const DriveSource& source)
{
    const std::optional<PathFacts> src = host.Stat(source.path);
    if (!src)
        return false;
    const PathFacts* dest = &destFacts;
    for (const std::string& mounted : host.MountSources(dest->device))
    {
        if (MountSourceIsSource(host, mounted, *src, source))
            return true;
    }
    if (!src->isBlockDevice)
    {
        // An image file: the clash is the image mounted through a loop device.
        const std::optional<LoopFacts> loop = host.LoopBacking(dest->device);
        if (!loop || loop->offset != source.offset)
            return false;
        const std::optional<PathFacts> backing = host.Stat(loop->file);
        return backing && !backing->isBlockDevice && backing->device == src->device &&
               backing->inode == src->inode;
    }
    if (source.offset == 0)
        return dest->device == src->rawDevice;
    // A whole disk with the volume at a byte offset: the mounted form of the volume is the
    // disk's partition that starts there.
    for (const PartitionFacts& part : host.Partitions(src->rawDevice))
    {
        if (part.startSector * 512 == source.offset && part.device == dest->device)
            return true;
    }
    return false;
}
