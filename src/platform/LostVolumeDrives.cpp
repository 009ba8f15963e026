// Registering the lost volumes of sources already read once.
#include "platform/LostVolumeDrives.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cctype>
#include <filesystem>
#include <set>

#include "platform/DriveDiscovery.h"
#include "platform/DriveTable.h"
#include "platform/LostVolumes.h"
#include "platform/Status.h"

namespace fs = std::filesystem;

namespace
{
// The path of a source argument without its "X:=" letter.
std::string SourcePath(const std::string& arg)
{
    if (arg.size() >= 3 && std::isalpha(static_cast<unsigned char>(arg[0])) && arg[1] == ':' &&
        arg[2] == '=')
        return arg.substr(3);
    return arg;
}

// True when path is a block device the kernel knows as a partition: a volume, never a disk.
bool IsKernelPartition(const std::string& path, const std::string& sysRoot)
{
    struct stat st = {};
    if (stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    std::error_code ec;
    const fs::path dev =
        fs::path(sysRoot) / "dev" / "block" /
        (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
    return fs::exists(dev / "partition", ec);
}

// How the drive list shows a volume of path that was not registered before.
std::string Display(const std::string& path, const SourceVolume& volume)
{
    if (volume.lost)
        return path + " (" + LostVolumeText(volume.offset) + ")";
    if (volume.partition != 0)
        return path + " (partition " + std::to_string(volume.partition) + ")";
    return path;
}

bool InTable(const std::string& path, u64 offset)
{
    for (const DriveSource& s : g_DriveTable.All())
        if (s.path == path && s.offset == offset)
            return true;
    return false;
}

// The first letter from C: on that no drive of the table holds; 0 when none is left.
char FreeLetter()
{
    std::set<char> taken;
    for (const DriveSource& s : g_DriveTable.All())
        if (!s.drive.empty())
            taken.insert(static_cast<char>(std::toupper(static_cast<unsigned char>(s.drive[0]))));
    for (char c = 'C'; c <= 'Z'; ++c)
        if (!taken.count(c))
            return c;
    return 0;
}
} // namespace

std::string LostSearchCutText(const std::string& path, u64 stop)
{
    return "the search for lost volumes on '" + path + "' stopped at sector " +
           std::to_string(stop / 512) + ": it reads at most " +
           std::to_string(kMaxLostVolumeSectors) + " sectors and lists at most " +
           std::to_string(kMaxLostVolumes) + " volumes";
}

std::vector<std::string> AddLostVolumeDrives(const std::vector<std::string>& sources,
                                             std::vector<std::string>* errors,
                                             const std::string& sysRoot, const std::string& devRoot)
{
    std::vector<std::string> added;
    for (const std::string& arg : sources)
    {
        const std::string path = SourcePath(arg);
        SourceLayout layout;
        int err = 0;
        // A partition the kernel split off has no lost volume to look for; it is listed raw
        // when it holds none of the file systems.
        if (path.empty() || ReadSourceLayout(path, !IsKernelPartition(path, sysRoot), &layout, &err,
                                             true, true) != kOk)
            continue; // what keeps a source from being read was said when it was registered
        if (layout.lostSearchCut && errors != nullptr)
            errors->push_back(LostSearchCutText(path, layout.lostSearchStop));
        for (const SourceVolume& v : layout.volumes)
        {
            if (!(v.lost || v.raw) || InTable(path, v.offset))
                continue;
            const char letter = FreeLetter();
            if (letter == 0)
            {
                if (errors != nullptr)
                    errors->push_back("no drive letter left for '" + Display(path, v) + "'");
                return added;
            }
            DriveSource source;
            source.drive = std::string{letter, ':'};
            source.path = path;
            source.offset = v.offset;
            source.length = v.length;
            source.format = layout.format;
            source.fileSystem = v.info.fileSystem;
            source.label = v.info.label;
            source.note = v.info.note;
            source.display = Display(path, v);
            g_DriveTable.Register(source);
            added.push_back(source.drive);
        }
    }
    const std::vector<std::string> disks = DiscoverBlockDevices(sysRoot, devRoot, nullptr, true);
    added.insert(added.end(), disks.begin(), disks.end());
    return added;
}
