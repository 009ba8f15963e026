// Filling the drive table from the command line and from the machine's block devices.
#include "platform/DriveDiscovery.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <tuple>
#include <utility>

#include "platform/Format.h"
#include "platform/LostVolumeDrives.h"
#include "platform/LostVolumes.h"
#include "platform/SourceOpen.h"
#include "platform/Status.h"

namespace fs = std::filesystem;

namespace
{
constexpr char kFirstAutoLetter = 'C';

std::string ReadSysText(const fs::path& file)
{
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// Device names compared with their digit runs as numbers: sda2 before sda10.
bool NaturalLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size())
    {
        bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db)
        {
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            std::string na = a.substr(i, ei - i);
            std::string nb = b.substr(j, ej - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// Letters taken in the drive table.
std::set<char> TakenLetters()
{
    std::set<char> taken;
    for (const DriveSource& s : g_DriveTable.All())
        if (!s.drive.empty())
            taken.insert(static_cast<char>(std::toupper(static_cast<unsigned char>(s.drive[0]))));
    return taken;
}

// The first letter from `from` up to Z, then from C: on, that is not in `taken`; 0 when none.
char NextFreeLetter(const std::set<char>& taken, char from)
{
    for (char c = from; c >= kFirstAutoLetter && c <= 'Z'; ++c)
        if (!taken.count(c))
            return c;
    for (char c = kFirstAutoLetter; c <= 'Z'; ++c)
        if (!taken.count(c))
            return c;
    return 0;
}

std::string VolumeDisplay(const std::string& path, const SourceVolume& volume)
{
    if (volume.lost)
        return path + " (" + LostVolumeText(volume.offset) + ")";
    if (volume.partition == 0)
        return path;
    return path + " (partition " + std::to_string(volume.partition) + ")";
}

// The drive of one volume of the source at path, under the given letter.
DriveSource VolumeSource(char letter, const std::string& path, const SourceVolume& volume,
                         DriveType type, bool fromCommandLine)
{
    DriveSource source;
    source.drive = std::string{letter, ':'};
    source.path = path;
    source.offset = volume.offset;
    source.length = volume.length;
    source.fromCommandLine = fromCommandLine;
    source.driveType = type;
    source.fileSystem = volume.info.fileSystem;
    source.label = volume.info.label;
    source.note = volume.info.note;
    source.display = VolumeDisplay(path, volume);
    return source;
}

// The identity of a source for spotting the same device under two names.
struct SourceId
{
    dev_t device = 0;
    ino_t inode = 0;
    u64 offset = 0;
    bool operator<(const SourceId& o) const
    {
        return std::tie(device, inode, offset) < std::tie(o.device, o.inode, o.offset);
    }
};

bool IdentifyPath(const std::string& path, u64 offset, SourceId* id)
{
    struct stat st = {};
    if (stat(path.c_str(), &st) != 0)
        return false;
    if (S_ISBLK(st.st_mode))
        *id = SourceId{st.st_rdev, 0, offset};
    else
        *id = SourceId{st.st_dev, st.st_ino, offset};
    return true;
}

// The sysfs folder of an opened block device, through /sys/dev/block/MAJOR:MINOR.
std::string SysfsOfDevice(dev_t rdev)
{
    std::error_code ec;
    fs::path link = fs::path("/sys/dev/block") /
                    (std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev)));
    fs::path real = fs::canonical(link, ec);
    return ec ? std::string() : real.string();
}

struct ParsedSource
{
    std::string path;
    char letter = 0;   // explicit letter, 0 when none
    bool deep = false; // search a whole disk for lost volumes too
};
} // namespace

DriveType ClassifyBlockDevice(const std::string& sysDevice)
{
    fs::path dir(sysDevice);
    std::error_code ec;
    if (fs::exists(dir / "partition", ec))
    {
        fs::path real = fs::canonical(dir, ec);
        if (!ec)
            dir = real.parent_path();
    }
    std::string name = dir.filename().string();
    if (StartsWith(name, "sr") || StartsWith(name, "scd") ||
        ReadSysText(dir / "device" / "type") == "5")
        return DriveType::CdRom;
    if (StartsWith(name, "ram") || StartsWith(name, "zram"))
        return DriveType::RamDisk;
    if (StartsWith(name, "nbd") || StartsWith(name, "rbd"))
        return DriveType::Remote;
    if (ReadSysText(dir / "removable") == "1")
        return DriveType::Removable;
    return DriveType::Fixed;
}

namespace
{
// Reads one command-line source and registers its volumes. The first volume takes the
// source's own letter when it has one, every further volume the next free letter after the
// one before it. Drive texts go to *drives, messages naming the path to *messages.
void RegisterCommandLineSource(const ParsedSource& s, std::set<char>* taken,
                               std::vector<std::string>* drives, std::vector<std::string>* messages)
{
    // A partition the kernel already split off is read as one volume, never as a disk.
    std::string sys;
    struct stat st = {};
    if (stat(s.path.c_str(), &st) == 0 && S_ISBLK(st.st_mode))
        sys = SysfsOfDevice(st.st_rdev);
    std::error_code ec;
    bool kernelPartition = !sys.empty() && fs::exists(fs::path(sys) / "partition", ec);

    SourceLayout layout;
    int err = 0;
    u32 rc = ReadSourceLayout(s.path, !kernelPartition, &layout, &err, s.deep, s.deep);
    if (rc != kOk)
    {
        messages->push_back((rc == kErrOpenFailed ? "cannot open '" : "cannot read '") + s.path +
                            "': " + SourceErrorText(err));
        return;
    }
    if (layout.damaged)
        messages->push_back("the partition table of '" + s.path +
                            "' is damaged; only part of it was read");
    if (layout.lostSearchCut)
        messages->push_back(LostSearchCutText(s.path, layout.lostSearchStop));
    if (layout.volumes.empty())
    {
        messages->push_back("'" + s.path + "' holds no FAT, exFAT or NTFS " +
                            (layout.partitionCount != 0 ? "partition" : "volume"));
        return;
    }

    DriveType type = DriveType::Fixed;
    if (layout.blockDevice && !sys.empty())
        type = ClassifyBlockDevice(sys);

    char previous = 0;
    for (const SourceVolume& v : layout.volumes)
    {
        char letter = 0;
        if (previous == 0 && s.letter != 0)
            letter = s.letter; // reserved for this source
        else
            letter = NextFreeLetter(*taken, previous != 0 ? static_cast<char>(previous + 1)
                                                          : kFirstAutoLetter);
        if (letter == 0)
        {
            messages->push_back("no drive letter left for '" + VolumeDisplay(s.path, v) + "'");
            return;
        }
        taken->insert(letter);
        previous = letter;
        DriveSource source = VolumeSource(letter, s.path, v, type, true);
        source.format = layout.format;
        g_DriveTable.Register(source);
        drives->push_back(source.drive);
    }
}
} // namespace

std::vector<std::string> AddCommandLineSources(const std::vector<std::string>& args,
                                               std::vector<std::string>* errors, bool deep)
{
    // Per argument, so that results and messages come out in command-line order.
    std::vector<ParsedSource> sources(args.size());
    std::vector<std::vector<std::string>> drives(args.size());
    std::vector<std::vector<std::string>> messages(args.size());

    std::set<char> taken = TakenLetters();
    std::set<char> reserved;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        ParsedSource& s = sources[i];
        s = ParsedSource{arg, 0, deep};
        if (arg.size() >= 3 && std::isalpha(static_cast<unsigned char>(arg[0])) && arg[1] == ':' &&
            arg[2] == '=')
        {
            s.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(arg[0])));
            s.path = arg.substr(3);
            std::string drive{s.letter, ':'};
            if (s.path.empty())
                messages[i].push_back(
                    Format("no path given for drive %s in '%s'", drive.c_str(), arg.c_str()));
            else if (taken.count(s.letter))
                messages[i].push_back("drive letter " + drive + " is already in use; '" + s.path +
                                      "' not added");
            else if (!reserved.insert(s.letter).second)
                messages[i].push_back("drive letter " + drive + " is given twice; '" + s.path +
                                      "' not added");
        }
        else if (arg.empty())
        {
            messages[i].push_back("empty source name");
        }
    }
    taken.insert(reserved.begin(), reserved.end());

    // Sources with their own letter first, so that their further partitions get the letters
    // right after it; then the others in order, from C: on.
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t i = 0; i < args.size(); ++i)
            if (messages[i].empty() && (sources[i].letter != 0) == (pass == 0))
                RegisterCommandLineSource(sources[i], &taken, &drives[i], &messages[i]);

    std::vector<std::string> added;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        added.insert(added.end(), drives[i].begin(), drives[i].end());
        if (errors)
            errors->insert(errors->end(), messages[i].begin(), messages[i].end());
    }
    return added;
}

std::vector<std::string> DiscoverBlockDevices(const std::string& sysRoot,
                                              const std::string& devRoot,
                                              std::vector<DeniedDevice>* denied, bool deep)
{
    std::vector<std::string> added;
    fs::path classDir = fs::path(sysRoot) / "class" / "block";
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end(), NaturalLess);

    // Whole disks whose partitions the kernel lists are read through those partitions.
    std::set<std::string> partitioned;
    for (const std::string& name : names)
    {
        std::error_code pec;
        if (!fs::exists(classDir / name / "partition", pec))
            continue;
        fs::path real = fs::canonical(classDir / name, pec);
        if (!pec)
            partitioned.insert(real.parent_path().filename().string());
    }

    std::set<SourceId> known;
    for (const DriveSource& s : g_DriveTable.All())
    {
        SourceId id;
        if (IdentifyPath(s.path, s.offset, &id))
            known.insert(id);
    }
    std::set<char> taken = TakenLetters();

    for (const std::string& name : names)
    {
        fs::path sys = classDir / name;
        std::error_code sec;
        bool isPartition = fs::exists(sys / "partition", sec);
        if (!isPartition && partitioned.count(name))
            continue;
        std::string sizeText = ReadSysText(sys / "size");
        if (sizeText.empty() || sizeText == "0")
            continue; // unattached loop devices, empty card readers and drives
        std::string node = name;
        std::replace(node.begin(), node.end(), '!', '/');
        std::string path = (fs::path(devRoot) / node).string();

        SourceLayout layout;
        int err = 0;
        if (ReadSourceLayout(path, !isPartition, &layout, &err, deep && !isPartition) != kOk)
        {
            // No permission, no medium, unreadable: not a drive to offer. Only a refusal of an
            // ordinary user is worth telling about: running as root would show the drive
            // (root itself is refused only by a device policy that no password lifts).
            if (denied != nullptr && (err == EACCES || err == EPERM) && geteuid() != 0)
                denied->push_back(DeniedDevice{path, ClassifyBlockDevice(sys.string())});
            continue;
        }
        DriveType type = ClassifyBlockDevice(sys.string());
        for (const SourceVolume& v : layout.volumes)
        {
            SourceId id;
            if (IdentifyPath(path, v.offset, &id) && !known.insert(id).second)
                continue;
            char letter = NextFreeLetter(taken, kFirstAutoLetter);
            if (letter == 0)
                return added;
            taken.insert(letter);
            const DriveSource source = VolumeSource(letter, path, v, type, false);
            g_DriveTable.Register(source);
            added.push_back(source.drive);
        }
    }
    return added;
}
