// The scan command: StartSearch over the sources in argument order, then every found item of
// every volume, in catalogue order, as a plain listing or as JSON lines.
#include "cli/Scan.h"

#include "catalog/ResultView.h"
#include "cli/InterruptGuard.h"
#include "cli/Json.h"
#include "cli/SearchRun.h"
#include "cli/TextOut.h"
#include "platform/DriveTable.h"
#include "platform/Format.h"

const char* const kScanHelp =
    "Usage: orlavent-cli scan [--json] SOURCE...\n"
    "\n"
    "Searches each SOURCE for deleted files and folders and lists every find: the deleted\n"
    "files and folders, and the folders that hold them.\n"
    "\n"
    "SOURCE is an image file, an Expert Witness image (.E01, further segments beside it) or a\n"
    "block device, opened read-only; a disk with a partition table gives one volume per FAT,\n"
    "exFAT or NTFS partition. Sources are registered as drives C:, D:, ... in order; X:=PATH\n"
    "registers PATH as drive X: instead.\n"
    "\n"
    "A file's condition tells whether its clusters are still free: good (all of them, and\n"
    "no other find claims them), partial (some hold other data now), overwritten (its first\n"
    "cluster, or all of them, belong to live files), or unknown.\n"
    "\n"
    "Options:\n"
    "  --json      print one JSON object per line and item, with the keys volume, fs, path,\n"
    "              name, dir, deleted, size, first, created, accessed,\n"
    "              condition (good, inferred, partial, overwritten or unknown; empty for\n"
    "              folders) and overwritten_pct (the share of its clusters that hold other\n"
    "              data now)\n"
    "  -h, --help  show this help\n"
    "\n"
    "On a terminal a progress line on standard error follows the search; Ctrl-C stops it and\n"
    "lists what was found so far, and a second Ctrl-C ends the program at once.\n"
    "\n"
    "Exit status: 0 when a volume was searched, 1 when none could be, 2 for a usage error,\n"
    "130 when the search was stopped.\n";

namespace
{
constexpr u8 kAttrFolder = 0x10;

void PrintListing(const SearchRun& run, std::FILE* out)
{
    bool firstVolume = true;
    for (const VolumeEntry& volume : run.catalog.m_volumes)
    {
        std::string source = volume.name;
        if (std::optional<DriveSource> found = g_DriveTable.Find(volume.name))
            source = found->display.empty() ? found->path : found->display;
        std::fprintf(out, "%s%s %s  %s\n", firstVolume ? "" : "\n", volume.name.c_str(),
                     FileSystemText(volume.fsType), PrintableText(source).c_str());
        firstVolume = false;
        u32 files = 0;
        u32 folders = 0;
        if (!volume.items.empty())
            std::fprintf(out, "  %-7s  %-6s  %12s  %-19s  %-16s  %s\n", "state", "type", "size",
                         "accessed", "condition", "path");
        for (const FoundItem& item : volume.items)
        {
            std::fprintf(out, "  %s\n", FormatItemText(item).c_str());
            if (item.attr & kAttrFolder)
                ++folders;
            else
                ++files;
        }
        std::fprintf(out, "  %u file(s), %u folder(s)\n", files, folders);
    }
}
} // namespace

std::string FormatItemJson(const VolumeEntry& volume, const FoundItem& item)
{
    bool dir = (item.attr & kAttrFolder) != 0;
    return Format(
        "{\"volume\":%s,\"fs\":\"%s\",\"path\":%s,\"name\":%s,\"dir\":%s,"
        "\"deleted\":%u,\"size\":%llu,\"first\":%llu,\"created\":\"%s\","
        "\"accessed\":\"%s\",\"condition\":\"%s\",\"overwritten_pct\":%u}",
        JsonQuote(volume.name).c_str(), FileSystemText(volume.fsType), JsonQuote(item.path).c_str(),
        JsonQuote(item.name).c_str(), dir ? "true" : "false", item.deleted != 0 ? 1u : 0u,
        static_cast<unsigned long long>(item.size), static_cast<unsigned long long>(item.first),
        TimeText(item.created).c_str(), TimeText(item.accessed).c_str(),
        ConditionText(item.condition), static_cast<unsigned>(item.overwrittenPct));
}

std::string FormatItemText(const FoundItem& item)
{
    bool dir = (item.attr & kAttrFolder) != 0;
    std::string size = dir ? "-" : Format("%llu", static_cast<unsigned long long>(item.size));
    const std::string condition = dir ? "-" : ConditionLabel(item);
    return Format("%-7s  %-6s  %12s  %s  %-16s  %s", item.deleted != 0 ? "deleted" : "live",
                  dir ? "folder" : "file", size.c_str(), TimeText(item.accessed).c_str(),
                  condition.c_str(), PrintableText(FullPath(item)).c_str());
}

int RunScan(const std::vector<std::string>& args, std::FILE* out, std::FILE* err)
{
    bool json = false;
    std::vector<std::string> sources;
    bool options = true;
    for (const std::string& a : args)
    {
        if (options && (a == "-h" || a == "--help"))
        {
            std::fputs(kScanHelp, out);
            return kExitOk;
        }
        if (options && a == "--json")
            json = true;
        else if (options && a == "--")
            options = false;
        else if (options && a.size() > 1 && a[0] == '-')
        {
            std::fprintf(err, "orlavent-cli scan: unknown option '%s'\n", PrintableText(a).c_str());
            return kExitUsage;
        }
        else
            sources.push_back(a);
    }
    if (sources.empty())
    {
        std::fputs("orlavent-cli scan: no SOURCE given\n"
                   "Run 'orlavent-cli scan --help' for the usage.\n",
                   err);
        return kExitUsage;
    }

    CInterruptGuard interrupt;
    SearchRun run(err);
    int status = RunSearch(run, sources);
    if (status == kExitFailed)
        return status;
    if (json)
    {
        for (const VolumeEntry& volume : run.catalog.m_volumes)
            for (const FoundItem& item : volume.items)
                std::fprintf(out, "%s\n", FormatItemJson(volume, item).c_str());
    }
    else
    {
        PrintListing(run, out);
    }
    return status;
}
