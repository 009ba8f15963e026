// The search as the command line runs it: sources into the drive table, StartSearch, and the
// main thread taking the workers' notifications until the finished notice or Ctrl-C.
#include "cli/SearchRun.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cli/InterruptGuard.h"
#include "cli/TextOut.h"
#include "platform/DriveDiscovery.h"
#include "platform/EventSink.h"
#include "platform/Format.h"
#include "platform/Status.h"

namespace
{
constexpr u32 kAttrArchive = 0x20; // the front ends count an item with this bit as a file
constexpr auto kPollInterval = std::chrono::milliseconds(20);
} // namespace

void CCliMessageBox::Show(const std::string& text, const std::string& caption)
{
    m_sink.Post(0, 0, caption.empty() ? text : caption + " " + text, 0);
}

void PrintMessageBox(const CCliSink::Event& event, std::FILE* err)
{
    std::fprintf(err, "orlavent-cli: %s\n", PrintableText(event.text).c_str());
}

SearchRun::SearchRun(std::FILE* errStream) : progress(errStream), err(errStream)
{
    catalog.m_sink = &sink;
    catalog.m_messageBox = &messageBox;
}

SearchRun::~SearchRun()
{
    catalog.StopWorkers(false);
    catalog.m_sink = nullptr;
    catalog.m_messageBox = nullptr;
}

const char* FileSystemText(u32 fsType)
{
    switch (fsType)
    {
    case kFsFat12:
        return "FAT12";
    case kFsFat16:
        return "FAT16";
    case kFsFat32:
        return "FAT32";
    case kFsNtfs:
        return "NTFS";
    case kFsExfat:
        return "exFAT";
    default:
        return "none";
    }
}

std::string TimeText(const FoundTime& t)
{
    std::string out;
    AppendTimeText(out, t);
    return out;
}

void AppendTimeText(std::string& out, const FoundTime& t)
{
    char text[kTimeTextMost];
    out.append(text, WriteTimeText(text, t));
}

char* WriteTimeText(char* p, const FoundTime& t)
{
    auto inRange = [](s32 v, s32 limit) { return v >= 0 && v < limit; };
    if (!inRange(t.year, 10000) || !inRange(t.month, 100) || !inRange(t.day, 100) ||
        !inRange(t.hour, 100) || !inRange(t.minute, 100) || !inRange(t.second, 100))
    {
        // A time no volume should hold (negative or too wide): printf pads it as it can (six
        // numbers of at most 11 characters and five separators fit).
        const int n = std::snprintf(p, kTimeTextMost, "%04d-%02d-%02d %02d:%02d:%02d", t.year,
                                    t.month, t.day, t.hour, t.minute, t.second);
        return p + std::clamp<int>(n, 0, static_cast<int>(kTimeTextMost) - 1);
    }
    // Digits written directly, two at a time from a table: printf's format parsing cost more
    // than the listing's other work for every line, and a division per digit a fifth of it.
    static constexpr char kPairs[] = "00010203040506070809101112131415161718192021222324"
                                     "25262728293031323334353637383940414243444546474849"
                                     "50515253545556575859606162636465666768697071727374"
                                     "75767778798081828384858687888990919293949596979899";
    auto put2 = [p](std::size_t at, s32 v)
    {
        std::memcpy(p + at, kPairs + static_cast<std::size_t>(2 * v), 2); // v: 0 .. 99
    };
    put2(0, t.year / 100);
    put2(2, t.year % 100);
    p[4] = '-';
    put2(5, t.month);
    p[7] = '-';
    put2(8, t.day);
    p[10] = ' ';
    put2(11, t.hour);
    p[13] = ':';
    put2(14, t.minute);
    p[16] = ':';
    put2(17, t.second);
    return p + 19;
}

std::string FullPath(const FoundItem& item)
{
    return item.path + "\\" + item.name;
}

int RunSearch(SearchRun& run, const std::vector<std::string>& sources, bool deep)
{
    run.catalog.m_deepSearch = deep;
    run.deep = run.deep || deep; // a deep search also looks for lost volumes on whole disks
    std::vector<std::string> errors;
    run.drives = AddCommandLineSources(sources, &errors, run.deep);
    for (const std::string& e : errors)
        std::fprintf(run.err, "orlavent-cli: %s\n", PrintableText(e).c_str());

    std::string selection;
    for (const std::string& drive : run.drives)
        selection += drive;
    if (run.catalog.StartSearch(selection) != kOk)
    {
        std::fprintf(run.err, "%s\n", kSearchFailedText);
        return kExitFailed;
    }

    std::vector<CCliSink::Event> events;
    std::string current;
    for (;;)
    {
        if (CInterruptGuard::Interrupted())
        {
            run.catalog.StopWorkers(true);
            run.progress.Clear();
            std::fprintf(run.err, "orlavent-cli: search stopped; listing what was found so far\n");
            return kExitInterrupted;
        }
        events.clear();
        if (!run.sink.Take(&events, kPollInterval))
            continue;
        bool finished = false;
        // Only the batch's last find is shown: it alone is made printable, not every find.
        const std::string* shown = nullptr;
        for (const CCliSink::Event& e : events)
        {
            if (e.message == 0)
            {
                run.progress.Clear();
                PrintMessageBox(e, run.err);
            }
            else if (e.message != WM_SCAN_NOTIFY)
                continue;
            else if (e.code == kScanFind)
            {
                if (e.extra & kAttrArchive)
                    run.files += e.count;
                else
                    run.folders += e.count;
                shown = &e.text;
            }
            else if (e.code == kScanVolumeStart || e.code == kScanDeepProgress)
                shown = &e.text;
            else if (e.code == kScanFinished)
                finished = true;
            else if (e.code == kScanWarning || e.code == kScanUnreadable)
            {
                if (e.code == kScanUnreadable)
                    ++run.unreadable;
                run.progress.Clear();
                std::fprintf(run.err, "orlavent-cli: %s\n", PrintableText(e.text).c_str());
            }
        }
        if (shown)
            current = PrintableText(*shown);
        run.progress.Show(Format("Searching: %u file(s), %u folder(s)  %s", run.files, run.folders,
                                 current.c_str()),
                          finished);
        if (finished)
        {
            // The thread has posted its last notice; joining it is immediate.
            run.catalog.StopWorkers(false);
            run.progress.Clear();
            return kExitOk;
        }
    }
}
