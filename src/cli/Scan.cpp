// The scan command: StartSearch over the sources in argument order, then every found item of
// every volume, in catalogue order, as a plain listing or as JSON lines.
#include "cli/Scan.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>

#include "catalog/ResultView.h"
#include "catalog/VolumeEngine.h"
#include "cli/BlockWriter.h"
#include "cli/Cli.h"
#include "cli/FilterArgs.h"
#include "cli/InterruptGuard.h"
#include "cli/Json.h"
#include "cli/ListedItems.h"
#include "cli/SearchRun.h"
#include "cli/TextOut.h"
#include "cli/Timeline.h"
#include "platform/DriveTable.h"
#include "platform/Format.h"

const char* const kScanHelp =
    "Usage: orlavent-cli scan [--json | --csv | --bodyfile] [--filter PATTERN] [--type TYPE]\n"
    "                         [--recoverable] [--deep] SOURCE...\n"
    "\n"
    "Searches each SOURCE for deleted files and folders and lists every find: the deleted\n"
    "files and folders, and the live folders that hold a deleted find at any depth (live\n"
    "folders with nothing deleted below them are left out).\n"
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
    "A file or folder of a Recycle Bin whose record there names where it was before it was\n"
    "recycled is listed under the made-up folder X:\\Recycle Bin (X: its volume), in that\n"
    "folder and under that name.\n"
    "\n"
    "Options:\n"
    "  --json      print one JSON object per line and item, with the keys volume, fs, path,\n"
    "              name, dir, deleted, size, first, created, accessed,\n"
    "              condition (good, inferred, partial, overwritten or unknown; empty for\n"
    "              folders, but overwritten for a deleted folder whose first cluster is in\n"
    "              use again) and overwritten_pct (the share of its clusters that hold\n"
    "              other data now), deep (1 for a find of the deep search); a recycled\n"
    "              find listed under the made-up folder Recycle Bin also has recycled_from\n"
    "              (the path it was found at)\n"
    "  --csv       print the same columns as CSV (RFC 4180), after a header row;\n"
    "              recycled_from is empty but for a recycled find\n"
    "  --bodyfile  print one line per find in The Sleuth Kit's body file format, for\n"
    "              timeline tools such as mactime: MD5|name|inode|mode|UID|GID|size|atime|\n"
    "              mtime|ctime|crtime, times in Unix seconds (0 where the volume keeps\n"
    "              none); name is the full path with / between its parts, with\n"
    "              \" (deleted)\" after a deleted find's\n"
    "  --filter PATTERN\n"
    "              list only the finds whose name holds PATTERN or, with * or ? in it,\n"
    "              whose whole name matches it (* any run of characters, ? one); letters\n"
    "              match in either case\n"
    "  --type TYPE list only the files of the type: pictures, documents, video, audio,\n"
    "              archives or other, told by their extension (all, the default: every find)\n"
    "  --recoverable\n"
    "              leave out overwritten finds\n"
    "  --deep      after the normal search, read the whole volume for what a format or\n"
    "              damage left: folders, entry sets and file records no longer linked,\n"
    "              and files by their contents alone (carved: listed under X:\\Carved\\TYPE,\n"
    "              named by their first sector, found_by carved)\n"
    "              (slow: every sector is read once); a SOURCE, or a partition of it, that\n"
    "              holds no FAT, exFAT or NTFS volume is then searched too, carved sector\n"
    "              by sector (file system \"none\")\n"
    "  -h, --help  show this help\n"
    "\n"
    "On a terminal a progress line on standard error follows the search; Ctrl-C stops it and\n"
    "lists what was found so far, and a second Ctrl-C ends the program at once.\n"
    "\n"
    "Exit status: 0 when a volume was searched, 1 when none could be, 2 for a usage error,\n"
    "4 when searched, but parts of the volume could not be read (each is named on standard\n"
    "error), 130 when the search was stopped.\n";

namespace
{
constexpr u8 kAttrFolder = 0x10;
// The search of a command that ends the process, kept reachable to the end (so that no leak
// checker objects).
SearchRun* g_runKeptToTheEnd = nullptr;
// The listings are built in one buffer and written in blocks of about this size: one fwrite
// per block instead of a formatted fprintf per line. The buffer is memory touched for the first
// time (a page fault per 4 KiB): a megabyte of it cost more than the writes it saved.
constexpr std::size_t kOutputBlock = std::size_t{128} << 10;

// Room the buffer is given at once: a block and the longest usual line, so that it is never
// copied as it grows (each copy lands in memory touched for the first time).
constexpr std::size_t kOutputRoom = kOutputBlock + (std::size_t{64} << 10);

// JSON lines formatted and written as one block. Two threads hold three blocks' texts, each
// given room for its lines at once (a find's line takes 200 to 300 bytes), so that none is
// copied as it grows. Smaller blocks touch less memory for the first time, larger ones take
// fewer hand-overs between the threads: on a listing of 25,000 lines blocks of 256 lines were
// a millisecond faster than blocks of 512, on one of 100,000 lines two milliseconds slower, and
// on one of millions blocks of 1,024 gained nothing more.
constexpr std::size_t kJsonSmallBlock = 256;
constexpr std::size_t kJsonBlock = 512;
constexpr std::size_t kJsonSmallListing = 65536;
constexpr std::size_t kJsonLineRoom = 320;

[[nodiscard]] std::size_t JsonBlockItems(std::size_t lines)
{
    return lines < kJsonSmallListing ? kJsonSmallBlock : kJsonBlock;
}

// Writes out the buffer once it holds a block (or always, at the end).
void FlushBlock(std::string& buffer, std::FILE* out, bool always)
{
    if (buffer.size() < kOutputBlock && !always)
        return;
    std::fwrite(buffer.data(), 1, buffer.size(), out);
    buffer.clear();
}

void PrintListing(const SearchRun& run, const FindFilter& filter, std::FILE* out)
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
        const CListedItems listed(volume, &filter);
        if (std::any_of(volume.items.begin(), volume.items.end(),
                        [&listed](const FoundItem& item) { return listed.Listed(item); }))
            std::fprintf(out, "  %-7s  %-6s  %12s  %-19s  %-16s  %s\n", "state", "type", "size",
                         "accessed", "condition", "path");
        std::string buffer;
        buffer.reserve(kOutputRoom);
        for (const FoundItem& item : volume.items)
        {
            if (!listed.Listed(item))
                continue;
            buffer += "  ";
            AppendItemText(buffer, item);
            buffer += '\n';
            FlushBlock(buffer, out, false);
            if (item.attr & kAttrFolder)
                ++folders;
            else
                ++files;
        }
        FlushBlock(buffer, out, true);
        std::fprintf(out, "  %u file(s), %u folder(s)\n", files, folders);
    }
}
} // namespace

namespace
{
// What every JSON line of a volume begins with: {"volume":..., "fs":..., "path":
std::string JsonLineStart(const VolumeEntry& volume)
{
    std::string start = "{\"volume\":";
    AppendJsonQuoted(start, volume.name);
    start += ",\"fs\":\"";
    start += FileSystemText(volume.fsType);
    start += "\",\"path\":";
    return start;
}

// The most bytes of a JSON line beside its start, path and name: its fixed texts (the condition,
// found_by and content words among them), three numbers of 20 digits at most and two times.
constexpr std::size_t kJsonLineFixedMost = 256 + 3 * 20 + 2 * kTimeTextMost;

// The path the find at index of volume's items was found at when it is listed under the
// made-up Recycle Bin folder; null for every other find.
const std::string* RecycledFrom(const VolumeEntry& volume, std::size_t index)
{
    if (volume.recycledFrom.empty())
        return nullptr;
    auto it = volume.recycledFrom.find(index);
    return it == volume.recycledFrom.end() ? nullptr : &it->second;
}

// Writes the JSON line of item after the start its volume's lines share to p, which has room
// for JsonLineMost bytes; returns its end. The line is written straight into room known to be
// large enough: appended to a string piece by piece, it took twice as long. A recycled find
// (recycledFrom not null) gets the key recycled_from.
char* WriteItemJsonAfter(char* p, std::string_view start, const FoundItem& item,
                         const std::string* recycledFrom)
{
    auto put = [&p](std::string_view piece)
    {
        std::memcpy(p, piece.data(), piece.size());
        p += piece.size();
    };
    auto decimal = [&p](u64 value) { p = std::to_chars(p, p + 20, value).ptr; };
    const bool dir = (item.attr & kAttrFolder) != 0;
    put(start);
    p = WriteJsonQuoted(p, item.path.view());
    put(",\"name\":");
    p = WriteJsonQuoted(p, item.name.view());
    put(dir ? ",\"dir\":true" : ",\"dir\":false");
    put(item.deleted != 0 ? ",\"deleted\":1,\"size\":" : ",\"deleted\":0,\"size\":");
    decimal(item.size);
    put(",\"first\":");
    decimal(item.first);
    put(",\"created\":\"");
    p = WriteTimeText(p, item.created);
    put("\",\"accessed\":\"");
    p = WriteTimeText(p, item.accessed);
    put("\",\"condition\":\"");
    put(ConditionText(item.condition));
    put("\",\"overwritten_pct\":");
    decimal(item.overwrittenPct);
    put(item.deep != 0 ? ",\"deep\":1" : ",\"deep\":0");
    put(",\"found_by\":\"");
    put(FoundByText(item));
    put("\",\"content\":\"");
    put(ContentText(item.Content()));
    *p++ = '"';
    if (recycledFrom != nullptr)
    {
        put(",\"recycled_from\":");
        p = WriteJsonQuoted(p, *recycledFrom);
    }
    *p++ = '}';
    return p;
}

// The room WriteItemJsonAfter needs for item's line.
std::size_t JsonLineMost(std::string_view start, const FoundItem& item,
                         const std::string* recycledFrom)
{
    return start.size() + JsonQuotedMost(item.path.size()) + JsonQuotedMost(item.name.size()) +
           kJsonLineFixedMost + std::strlen(ConditionText(item.condition)) +
           (recycledFrom != nullptr ? JsonQuotedMost(recycledFrom->size()) + 20 : 0);
}

// The JSON line of item after the start its volume's lines share, appended to out.
void AppendItemJsonAfter(std::string& out, std::string_view start, const FoundItem& item,
                         const std::string* recycledFrom)
{
    // Nearly every line fits a buffer on the stack; a longer one gets one of its own.
    char room[1024];
    const std::size_t most = JsonLineMost(start, item, recycledFrom);
    if (most <= sizeof room)
    {
        out.append(room, WriteItemJsonAfter(room, start, item, recycledFrom));
        return;
    }
    std::string line(most, '\0');
    line.resize(static_cast<std::size_t>(
        WriteItemJsonAfter(line.data(), start, item, recycledFrom) - line.data()));
    out += line;
}
} // namespace

void AppendItemJson(std::string& out, const VolumeEntry& volume, const FoundItem& item)
{
    // An item of the volume's own list may be a recycled find.
    const FoundItem* first = volume.items.data();
    const bool listed =
        !volume.items.empty() && &item >= first && &item < first + volume.items.size();
    AppendItemJsonAfter(out, JsonLineStart(volume), item,
                        listed ? RecycledFrom(volume, static_cast<std::size_t>(&item - first))
                               : nullptr);
}

std::string FormatItemJson(const VolumeEntry& volume, const FoundItem& item)
{
    std::string out;
    AppendItemJson(out, volume, item);
    return out;
}

void AppendItemText(std::string& out, const FoundItem& item)
{
    bool dir = (item.attr & kAttrFolder) != 0;
    out += item.deleted != 0 ? "deleted  " : "live     ";
    out += dir ? "folder  " : "file    ";
    // The size right-aligned in 12 columns (wider numbers push the line on, as printf does).
    std::string size;
    if (dir)
        size = "-";
    else
        AppendDecimal(size, item.size);
    if (size.size() < 12)
        out.append(12 - size.size(), ' ');
    out += size;
    out += "  ";
    AppendTimeText(out, item.accessed);
    out += "  ";
    // The condition left-aligned in 16 columns ("-" for folders).
    const std::string condition = dir ? "-" : ConditionLabel(item);
    out += condition;
    if (condition.size() < 16)
        out.append(16 - condition.size(), ' ');
    out += "  ";
    out += PrintableText(FullPath(item));
}

std::string FormatItemText(const FoundItem& item)
{
    std::string out;
    AppendItemText(out, item);
    return out;
}

namespace
{
enum class ScanFormat : u8
{
    kText,
    kJson,
    kCsv,
    kBodyFile,
};

// The arguments of the scan command.
struct ScanArgs
{
    ScanFormat format = ScanFormat::kText;
    FindFilter filter;
    bool deep = false;
    std::vector<std::string> sources;
};

// Reads the options and sources; false, with the exit status, when the command ends here (its
// help printed, or a usage mistake).
bool ParseScanArgs(const std::vector<std::string>& args, ScanArgs* parsed, std::FILE* out,
                   std::FILE* err, int* status)
{
    bool options = true;
    *status = kExitUsage;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& a = args[i];
        if (options && (a == "-h" || a == "--help"))
        {
            std::fputs(kScanHelp, out);
            *status = kExitOk;
            return false;
        }
        const ScanFormat format = a == "--json"       ? ScanFormat::kJson
                                  : a == "--csv"      ? ScanFormat::kCsv
                                  : a == "--bodyfile" ? ScanFormat::kBodyFile
                                                      : ScanFormat::kText;
        if (options && format != ScanFormat::kText)
        {
            if (parsed->format != ScanFormat::kText && parsed->format != format)
            {
                std::fputs("orlavent-cli scan: --json, --csv and --bodyfile exclude each other\n",
                           err);
                return false;
            }
            parsed->format = format;
            continue;
        }
        const int filterOption =
            options ? ReadFilterOption(args, &i, &parsed->filter, "scan", err) : 0;
        if (filterOption < 0)
            return false;
        if (filterOption > 0)
            continue;
        if (options && a == "--")
            options = false;
        else if (options && a == "--deep")
            parsed->deep = true;
        else if (options && a.size() > 1 && a[0] == '-')
        {
            std::fprintf(err, "orlavent-cli scan: unknown option '%s'\n", PrintableText(a).c_str());
            return false;
        }
        else
            parsed->sources.push_back(a);
    }
    if (parsed->sources.empty())
    {
        std::fputs("orlavent-cli scan: no SOURCE given\n"
                   "Run 'orlavent-cli scan --help' for the usage.\n",
                   err);
        return false;
    }
    return true;
}

// The JSON lines of every volume, formatted in blocks on two threads.
void PrintJson(const SearchRun& run, const FindFilter& filter, std::FILE* out)
{
    for (const VolumeEntry& volume : run.catalog.m_volumes)
    {
        const std::string start = JsonLineStart(volume);
        const std::size_t blockItems = JsonBlockItems(volume.items.size());
        const std::size_t room = blockItems * kJsonLineRoom;
        const CListedItems listed(volume, &filter);
        WriteInBlocks(
            volume.items.size(), blockItems,
            [&volume, &start, &listed, room](std::string& text, std::size_t from, std::size_t to)
            {
                if (text.capacity() < room)
                    text.reserve(room);
                for (std::size_t i = from; i < to; ++i)
                {
                    if (!listed.Listed(volume.items[i]))
                        continue;
                    AppendItemJsonAfter(text, start, volume.items[i], RecycledFrom(volume, i));
                    text += '\n';
                }
            },
            out);
    }
}

// The CSV rows (after the header) or body-file lines of every volume. The body file's times
// are read through each volume's engine, one find after the other.
void PrintTable(SearchRun& run, const FindFilter& filter, bool bodyFile, std::FILE* out)
{
    std::string buffer;
    buffer.reserve(kOutputRoom);
    if (!bodyFile)
        buffer += kCsvHeader;
    for (VolumeEntry& volume : run.catalog.m_volumes)
    {
        const CListedItems listed(volume, &filter);
        for (std::size_t i = 0; i < volume.items.size(); ++i)
        {
            const FoundItem& item = volume.items[i];
            if (!listed.Listed(item))
                continue;
            if (bodyFile)
            {
                FindTimes times = NotedTimes(item);
                if (volume.engine != nullptr)
                    (void)volume.engine->ReadTimes(volume, item, &times);
                AppendBodyLine(buffer, item, times);
                buffer += '\n';
            }
            else
                AppendCsvRow(buffer, volume, item, RecycledFrom(volume, i));
            FlushBlock(buffer, out, false);
        }
    }
    FlushBlock(buffer, out, true);
}
} // namespace

int RunScan(const std::vector<std::string>& args, std::FILE* out, std::FILE* err)
{
    ScanArgs parsed;
    if (int status = kExitOk; !ParseScanArgs(args, &parsed, out, err, &status))
        return status;

    CInterruptGuard interrupt;
    auto owned = std::make_unique<SearchRun>(err);
    SearchRun& run = *owned;
    int status = RunSearch(run, parsed.sources, parsed.deep);
    if (status == kExitFailed)
        return status;
    switch (parsed.format)
    {
    case ScanFormat::kJson:
        PrintJson(run, parsed.filter, out);
        break;
    case ScanFormat::kCsv:
    case ScanFormat::kBodyFile:
        PrintTable(run, parsed.filter, parsed.format == ScanFormat::kBodyFile, out);
        break;
    case ScanFormat::kText:
        PrintListing(run, parsed.filter, out);
        break;
    }
    std::fflush(out);
    if (status == kExitOk && run.unreadable != 0)
        status = kExitUnreadable;
    // When the process ends with this command, the catalogue is left for its end to reclaim:
    // taking a million finds apart one by one (their names, data blocks and notices) cost a
    // tenth of a search of a large disk. The search has ended, so nothing runs on it.
    if (ProcessEndsAfterCommand())
        g_runKeptToTheEnd = owned.release();
    return status;
}
