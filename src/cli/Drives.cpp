// The drives command: letter, type, file system, label and source of every drive.
#include "cli/Drives.h"

#include <algorithm>

#include "cli/SearchRun.h"
#include "cli/TextOut.h"
#include "platform/DriveDiscovery.h"

const char* const kDrivesHelp =
    "Usage: orlavent-cli drives [--deep] [SOURCE...]\n"
    "\n"
    "Lists the drives that 'scan' and 'recover' can search: each SOURCE given (an image file\n"
    "or block device; X:=PATH names its drive) and the machine's block devices that hold FAT\n"
    "or NTFS volumes, with drive letter, drive type, file system, label and source.\n"
    "Reading the machine's block devices needs root; run as an ordinary user, the command\n"
    "says so on standard error when it meets a device it may not open.\n"
    "\n"
    "Options:\n"
    "  --deep      also search whole disks for lost volumes: FAT, exFAT and NTFS boot sectors\n"
    "              (or their backups) where no partition of the disk's table lies, listed as\n"
    "              \"lost volume at sector N\"; a SOURCE, or a partition of it, that holds no\n"
    "              FAT, exFAT or NTFS volume (and no lost one) is listed with file system\n"
    "              \"raw\": the deep search carves it sector by sector\n"
    "  -h, --help  show this help\n"
    "\n"
    "Exit status: 0, 1 when a SOURCE holds no FAT, exFAT or NTFS volume (without --deep),\n"
    "2 for a usage error.\n";

const char* DriveTypeText(DriveType type)
{
    switch (type)
    {
    case DriveType::NoRootDir:
        return "No root";
    case DriveType::Removable:
        return "Removable";
    case DriveType::Fixed:
        return "Fixed";
    case DriveType::Remote:
        return "Remote";
    case DriveType::CdRom:
        return "CD-ROM";
    case DriveType::RamDisk:
        return "RAM disk";
    case DriveType::Unknown:
    default:
        return "Unknown";
    }
}

int RunDrives(const std::vector<std::string>& args, std::FILE* out, std::FILE* err)
{
    std::vector<std::string> sources;
    bool options = true;
    bool deep = false;
    for (const std::string& a : args)
    {
        if (options && (a == "-h" || a == "--help"))
        {
            std::fputs(kDrivesHelp, out);
            return kExitOk;
        }
        if (options && a == "--")
            options = false;
        else if (options && a == "--deep")
            deep = true;
        else if (options && a.size() > 1 && a[0] == '-')
        {
            std::fprintf(err, "orlavent-cli drives: unknown option '%s'\n",
                         PrintableText(a).c_str());
            return kExitUsage;
        }
        else
            sources.push_back(a);
    }
    std::vector<std::string> errors;
    (void)AddCommandLineSources(sources, &errors, deep);
    std::vector<DeniedDevice> denied;
    (void)DiscoverBlockDevices("/sys", "/dev", &denied, deep);
    for (const std::string& e : errors)
        std::fprintf(err, "orlavent-cli: %s\n", PrintableText(e).c_str());
    // An ordinary user sees only what they may read; say why the machine's disks are missing.
    if (!denied.empty())
        std::fprintf(err, "orlavent-cli: %s\n", kRunAsAdministratorText);

    std::vector<DriveSource> drives = g_DriveTable.All();
    std::size_t labelWidth = 5;
    for (const DriveSource& d : drives)
        labelWidth = std::max(labelWidth, PrintableText(d.label).size());
    std::fprintf(out, "%-5s  %-9s  %-11s  %-*s  %s\n", "Drive", "Type", "File system",
                 static_cast<int>(labelWidth), "Label", "Source");
    for (const DriveSource& d : drives)
    {
        const std::string& source = d.display.empty() ? d.path : d.display;
        std::fprintf(out, "%-5s  %-9s  %-11s  %-*s  %s%s%s%s\n", d.drive.c_str(),
                     DriveTypeText(d.driveType), d.fileSystem.empty() ? "-" : d.fileSystem.c_str(),
                     static_cast<int>(labelWidth), PrintableText(d.label).c_str(),
                     PrintableText(source).c_str(), d.note.empty() ? "" : "  (", d.note.c_str(),
                     d.note.empty() ? "" : ")");
    }
    if (drives.empty())
        std::fputs("No FAT, exFAT or NTFS drive was found.\n", out);
    return errors.empty() ? kExitOk : kExitFailed;
}
