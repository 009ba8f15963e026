// The recover command: the search, then one recovery run per selected folder, each an explicit
// request to StartRecovery, printing the recovery thread's messages as they arrive.
#include "cli/Recover.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string_view>

#include "cli/FilterArgs.h"
#include "cli/InterruptGuard.h"
#include "cli/RecoveryReport.h"
#include "cli/SearchRun.h"
#include "cli/TextOut.h"
#include "disk/ReadPacer.h"
#include "platform/Format.h"
#include "platform/Status.h"
#include "recovery/Recovery.h"

const char* const kRecoverHelp =
    "Usage: orlavent-cli recover [--to DIR] [--item PATH]... [--max-rate RATE] [--contiguous]\n"
    "                            [--report FILE] [--filter PATTERN] [--type TYPE]\n"
    "                            [--recoverable] [--deep] SOURCE...\n"
    "\n"
    "Searches each SOURCE for deleted files and folders, then copies the chosen items into\n"
    "DIR, rebuilding their folders. PATH is an item's full path as 'scan' lists it:\n"
    "C:\\docs\\report.txt for a file, C:\\docs for a folder and every file below it, C: for\n"
    "everything in the root of C:. Without --item, every item of each volume's root is\n"
    "recovered. A name that holds a backslash is given as 'scan' lists it, or with that\n"
    "backslash written as %5C (and a percent sign as %25). A file whose name exists in its\n"
    "target folder is written as \"New \" + name; a name too long for the destination is\n"
    "shortened, keeping its extension, with a warning.\n"
    "\n"
    "SOURCE is an image file, an Expert Witness image (.E01) or a block device, opened\n"
    "read-only; sources are registered as drives C:, D:, ... in order, or X:=PATH as drive X:.\n"
    "\n"
    "Options:\n"
    "  --to DIR     destination folder, created when missing (default: 'Undeleted Files' in\n"
    "               the working folder)\n"
    "  --item PATH  recover PATH; may be given several times\n"
    "  --max-rate RATE\n"
    "               read the volume at most RATE bytes a second while copying, to spare a\n"
    "               failing disk; K, M and G multiply by 1024, 1024^2 and 1024^3 (e.g. 20M)\n"
    "  --contiguous read each deleted file of a FAT or exFAT volume as one stretch from its\n"
    "               first cluster, as it lies on the volume, instead of the clusters the\n"
    "               search gave it around other files' clusters\n"
    "  --report FILE\n"
    "               write a report of the recovery to FILE, a new file (never one that\n"
    "               exists, never on a volume being read): one JSON object a line for each\n"
    "               file written or attempted, with its volume, path and name, the file\n"
    "               written (destination, null when none), its size, the bytes written, its\n"
    "               condition, the SHA-256 of the written bytes, whether it was written\n"
    "               complete or stopped by Ctrl-C, and the texts of its warnings\n"
    "  --filter PATTERN\n"
    "               recover only the files whose name holds PATTERN or, with * or ? in it,\n"
    "               whose whole name matches it (* any run of characters, ? one); letters\n"
    "               match in either case\n"
    "  --type TYPE  recover only the files of the type: pictures, documents, video, audio,\n"
    "               archives or other, told by their extension (all, the default: every file)\n"
    "  --recoverable\n"
    "               leave out overwritten files\n"
    "               With a filter, the files that pass it among those chosen are recovered,\n"
    "               below the same folders as without it\n"
    "  --deep       search deeply first, as 'scan --deep' does, and recover its finds too\n"
    "               (a SOURCE that holds no FAT, exFAT or NTFS volume is then carved too)\n"
    "               (carved files into Carved/TYPE in DIR)\n"
    "  -h, --help   show this help\n"
    "\n"
    "On a terminal a progress line on standard error follows the work; Ctrl-C stops it and\n"
    "keeps what was written.\n"
    "\n"
    "Every file that is not written whole, or not where it was asked for, is named in a\n"
    "warning with the reason; so is every file copied from clusters that other data has\n"
    "taken since it was deleted (its condition partial or overwritten, as 'scan' lists it),\n"
    "and every file whose contents do not hold together as a file of its type (its content\n"
    "damaged, as 'scan --json' lists it).\n"
    "The last line counts these files, and also the files rebuilt from inferred clusters\n"
    "(condition inferred: clusters worked out around other data, not one stretch), which\n"
    "leave the exit status as it is.\n"
    "\n"
    "Exit status: 0 after \"Finished Recovery Successfully.\" (every file came back intact\n"
    "where it was asked for), 3 when some file did not come back intact: not written whole,\n"
    "or written from clusters known to hold other data (partial or overwritten), or with\n"
    "contents that do not hold together (damaged), or written below the default folder\n"
    "instead of the destination; 1 when the search failed or a recovery could not start or\n"
    "ended early, 2 for a usage error, 130 when stopped.\n";

namespace
{
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// What a kRecoverFile text says before the item's path and name.
constexpr std::string_view kRecoveringPrefix = "Recovering ";

// The "path\name" of every find whose clusters were inferred, for the closing counts.
std::set<std::string, std::less<>> InferredPaths(const std::vector<VolumeEntry>& volumes)
{
    std::set<std::string, std::less<>> paths;
    for (const VolumeEntry& volume : volumes)
        for (const FoundItem& item : volume.items)
            if (item.condition == FindCondition::kInferred)
                paths.insert(FullPath(item));
    return paths;
}

// What the recovery threads said, printed as it arrives.
struct RecoverPrinter
{
    std::FILE* out;
    std::FILE* err;
    CProgressLine& progress;
    u32 files = 0;
    u32 warnings = 0;
    u32 incomplete = 0; // files not written whole
    u32 diverted = 0;   // files written below the default folder
    u32 damaged = 0;    // files copied from clusters that other data has taken
    u32 broken = 0;     // files whose contents do not hold together as their type
    u32 inferred = 0;   // files rebuilt from inferred clusters
    const std::set<std::string, std::less<>>* inferredPaths = nullptr; // their "path\name"
    bool stoppedInFile = false;
    std::string current;

    RecoverPrinter(std::FILE* o, std::FILE* e, CProgressLine& line) : out(o), err(e), progress(line)
    {
    }

    // Returns true at the run's last message (finished or fatal); *fatal tells which.
    bool Print(const CCliSink::Event& e, bool* fatal)
    {
        if (e.message == 0)
        {
            progress.Clear();
            PrintMessageBox(e, err);
            return false;
        }
        if (e.message != WM_RECOVER_NOTIFY)
            return false;
        switch (e.code)
        {
        case kRecoverFile:
            progress.Clear();
            ++files;
            if (inferredPaths != nullptr && e.text.starts_with(kRecoveringPrefix) &&
                inferredPaths->count(std::string_view(e.text).substr(kRecoveringPrefix.size())))
                ++inferred;
            current = PrintableText(e.text);
            std::fprintf(out, "%s\n", current.c_str());
            return false;
        case kRecoverWarning:
            progress.Clear();
            ++warnings;
            if (e.extra == kWarnIncomplete || e.extra == kWarnStopped)
                ++incomplete;
            else if (e.extra == kWarnDiverted)
                ++diverted;
            else if (e.extra == kWarnDamaged)
                ++damaged;
            else if (e.extra == kWarnContent)
                ++broken;
            stoppedInFile = stoppedInFile || e.extra == kWarnStopped;
            std::fprintf(err, "orlavent-cli: warning: %s\n", PrintableText(e.text).c_str());
            return false;
        case kRecoverFatal:
            progress.Clear();
            std::fprintf(err, "orlavent-cli: %s\n", PrintableText(e.text).c_str());
            *fatal = true;
            return true;
        case kRecoverFinished:
            // The word on the whole recovery is said once, after the last run.
            progress.Clear();
            *fatal = false;
            return true;
        default:
            return false;
        }
    }
};

// One recovery run of group into destination. Returns kExitOk, kExitFailed or
// kExitInterrupted.
int RecoverGroupRun(SearchRun& run, const RecoverGroup& group, const std::string& destination,
                    const RecoveryOptions& options, RecoverPrinter& printer)
{
    RecoveryRequest request;
    request.volume = group.folder.substr(0, 2);
    request.folder = group.folder;
    request.entries = group.entries;
    request.destination = destination;
    request.options = options;
    std::vector<CCliSink::Event> events;
    bool fatal = false;
    if (run.catalog.StartRecovery(request) != kOk)
    {
        run.sink.Take(&events, std::chrono::milliseconds(0));
        for (const CCliSink::Event& e : events)
            printer.Print(e, &fatal);
        std::fprintf(run.err, "Failed to recover deleted file(s).\n");
        return kExitFailed;
    }
    for (;;)
    {
        if (CInterruptGuard::Interrupted())
        {
            // The thread closes the file it is writing and ends; print what it said.
            run.catalog.StopWorkers(true);
            events.clear();
            run.sink.Take(&events, std::chrono::milliseconds(0));
            for (const CCliSink::Event& e : events)
                printer.Print(e, &fatal);
            run.progress.Clear();
            std::fflush(printer.out);
            if (printer.stoppedInFile)
            {
                const std::string prefix = "Recovering ";
                const std::string item = printer.current.starts_with(prefix)
                                             ? printer.current.substr(prefix.size())
                                             : printer.current;
                std::fprintf(run.err, "orlavent-cli: recovery stopped; %s was left incomplete\n",
                             item.c_str());
            }
            else
                std::fprintf(run.err, "orlavent-cli: recovery stopped\n");
            return kExitInterrupted;
        }
        events.clear();
        if (!run.sink.Take(&events, kPollInterval))
            continue;
        bool ended = false;
        for (const CCliSink::Event& e : events)
            ended = printer.Print(e, &fatal) || ended;
        std::fflush(printer.out); // once a batch: a write per file name cost as much as the file
        run.progress.Show(
            Format("Recovering: %u file(s)  %s", printer.files, printer.current.c_str()));
        if (ended)
        {
            run.catalog.StopWorkers(false);
            run.progress.Clear();
            return fatal ? kExitFailed : kExitOk;
        }
    }
}
} // namespace

namespace
{
// The selection of items, then one recovery run per folder of it.
int RecoverSelection(SearchRun& run, const std::vector<std::string>& items,
                     const FindFilter& filter, const std::string& destination,
                     const RecoveryOptions& options, std::FILE* out, std::FILE* err);

// The arguments of the recover command.
struct RecoverArgs
{
    std::string destination;
    std::string rate;
    std::string reportPath;
    std::vector<std::string> items;
    std::vector<std::string> sources;
    bool contiguous = false;
    FindFilter filter;
    bool deep = false;
};

// Reads the options and sources; false, with the exit status, when the command ends here
// (its help printed, or an option it does not know or that lacks its value).
bool ParseRecoverArgs(const std::vector<std::string>& args, RecoverArgs* parsed, std::FILE* out,
                      std::FILE* err, int* status)
{
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& a = args[i];
        if (options && (a == "-h" || a == "--help"))
        {
            std::fputs(kRecoverHelp, out);
            *status = kExitOk;
            return false;
        }
        if (options && (a == "--contiguous" || a == "--deep"))
        {
            (a == "--deep" ? parsed->deep : parsed->contiguous) = true;
            continue;
        }
        if (const int taken =
                options ? ReadFilterOption(args, &i, &parsed->filter, "recover", err) : 0;
            taken != 0)
        {
            if (taken > 0)
                continue;
            *status = kExitUsage;
            return false;
        }
        if (options && (a == "--to" || a == "--item" || a == "--max-rate" || a == "--report"))
        {
            if (i + 1 == args.size() || args[i + 1].empty())
            {
                std::fprintf(err, "orlavent-cli recover: %s needs a value\n", a.c_str());
                *status = kExitUsage;
                return false;
            }
            (a == "--to"         ? parsed->destination
             : a == "--max-rate" ? parsed->rate
             : a == "--report"   ? parsed->reportPath
                                 : parsed->items.emplace_back()) = args[++i];
        }
        else if (options && a.starts_with("--to="))
            parsed->destination = a.substr(5);
        else if (options && a.starts_with("--max-rate="))
            parsed->rate = a.substr(11);
        else if (options && a.starts_with("--report=") && a.size() > 9)
            parsed->reportPath = a.substr(9);
        else if (options && a.starts_with("--item="))
            parsed->items.push_back(a.substr(7));
        else if (options && a == "--")
            options = false;
        else if (options && a.size() > 1 && a[0] == '-')
        {
            std::fprintf(err, "orlavent-cli recover: unknown option '%s'\n",
                         PrintableText(a).c_str());
            *status = kExitUsage;
            return false;
        }
        else
            parsed->sources.push_back(a);
    }
    return true;
}
} // namespace

int RunRecover(const std::vector<std::string>& args, std::FILE* out, std::FILE* err)
{
    RecoverArgs parsed;
    if (int status = kExitOk; !ParseRecoverArgs(args, &parsed, out, err, &status))
        return status;
    const auto& [destination, rate, reportPath, items, sources, contiguous, filter, deep] = parsed;
    u64 maxRate = 0;
    if (!rate.empty() && !ParseRate(rate, &maxRate))
    {
        std::fprintf(err,
                     "orlavent-cli recover: '%s' is not a rate (bytes a second, such as 750K, "
                     "20M or 1G)\n",
                     PrintableText(rate).c_str());
        return kExitUsage;
    }
    if (sources.empty())
    {
        std::fputs("orlavent-cli recover: no SOURCE given\n"
                   "Run 'orlavent-cli recover --help' for the usage.\n",
                   err);
        return kExitUsage;
    }

    // An existing report is refused before the search; the report is created after it.
    struct stat reportStat = {};
    if (!reportPath.empty() && ::lstat(reportPath.c_str(), &reportStat) == 0)
    {
        std::fprintf(err,
                     "orlavent-cli recover: the report file '%s' exists already; it is never "
                     "overwritten\n",
                     PrintableText(reportPath).c_str());
        return kExitFailed;
    }

    CInterruptGuard interrupt;
    SearchRun run(err);
    run.catalog.m_maxReadRate = maxRate; // the deep search's pass is paced as the copy is
    int status = RunSearch(run, sources, deep);
    if (status != kExitOk)
        return status;

    CRecoveryReport report;
    if (!reportPath.empty())
    {
        std::string error;
        if (!report.Create(reportPath, run.catalog.m_volumes, &error))
        {
            std::fprintf(err, "orlavent-cli recover: %s\n", PrintableText(error).c_str());
            return kExitFailed;
        }
    }
    const RecoveryOptions options{maxRate, contiguous, reportPath.empty() ? nullptr : &report};
    status = RecoverSelection(run, items, filter, destination, options, out, err);
    std::string error;
    if (!report.Close(&error))
    {
        std::fprintf(err, "orlavent-cli recover: %s\n", PrintableText(error).c_str());
        if (status == kExitOk || status == kExitIncomplete)
            status = kExitFailed;
    }
    return status;
}

namespace
{
int RecoverSelection(SearchRun& run, const std::vector<std::string>& items,
                     const FindFilter& filter, const std::string& destination,
                     const RecoveryOptions& options, std::FILE* out, std::FILE* err)
{
    int status = kExitOk;

    std::vector<RecoverGroup> groups;
    if (items.empty())
    {
        for (const VolumeEntry& volume : run.catalog.m_volumes)
        {
            RecoverGroup root = RootSelection(volume);
            if (!root.entries.empty())
                groups.push_back(root);
        }
    }
    else
    {
        std::string error;
        if (!SelectItems(run.catalog.m_volumes, items, &groups, &error))
        {
            std::fprintf(err, "orlavent-cli recover: %s\n", error.c_str());
            return kExitFailed;
        }
    }
    if (filter.IsSet())
        groups = FilterSelection(run.catalog.m_volumes, groups, filter);
    if (groups.empty())
    {
        std::fputs("Nothing was found to recover.\n", out);
        return kExitOk;
    }

    RecoverPrinter printer(out, err, run.progress);
    const std::set<std::string, std::less<>> inferredPaths = InferredPaths(run.catalog.m_volumes);
    printer.inferredPaths = &inferredPaths;
    for (const RecoverGroup& group : groups)
    {
        status = RecoverGroupRun(run, group, destination, options, printer);
        if (status != kExitOk)
            return status;
    }
    if (printer.warnings > 0)
        std::fprintf(err, "orlavent-cli: %u warning(s)\n", printer.warnings);
    std::fflush(err);
    // Files rebuilt from inferred clusters are counted; they leave the exit status as it is.
    const std::string inferred =
        printer.inferred > 0 ? Format("%u rebuilt from inferred clusters", printer.inferred) : "";
    if (printer.incomplete == 0 && printer.diverted == 0 && printer.damaged == 0 &&
        printer.broken == 0)
    {
        std::fprintf(out, "%s%s%s\n", kFinishedText, inferred.empty() ? "" : " ",
                     inferred.empty() ? "" : (inferred + ".").c_str());
        return kExitOk;
    }
    std::string last;
    if (printer.incomplete > 0)
        last = Format("%u file(s) were not recovered whole", printer.incomplete);
    // A copy of a partial or overwritten find holds other data: it is no whole file either.
    if (printer.damaged > 0)
        last += Format("%s%u file(s) were copied from clusters that other data has taken",
                       last.empty() ? "" : "; ", printer.damaged);
    if (printer.broken > 0)
        last += Format("%s%u file(s) do not hold together as files of their type",
                       last.empty() ? "" : "; ", printer.broken);
    if (printer.diverted > 0)
        last += Format("%s%u file(s) were written below the default folder instead of the "
                       "destination",
                       last.empty() ? "" : "; ", printer.diverted);
    if (!inferred.empty())
        last += "; " + inferred;
    std::fprintf(out, "%s (see the warnings).\n", last.c_str());
    return kExitIncomplete;
}
} // namespace
