// What the scan and recover commands share: registering the sources, running the search with
// a live progress line, and the texts the listings are made of.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "catalog/Catalog.h"
#include "cli/CliSink.h"
#include "cli/ProgressLine.h"
#include "platform/MessageBox.h"

// Exit statuses of the search and recovery commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitIncomplete = 3;    // recovered, but not every file whole where asked
inline constexpr int kExitUnreadable = 4;    // searched, but parts of the volume could not be read
inline constexpr int kExitInterrupted = 130; // stopped by Ctrl-C (128 + SIGINT)

// The failure text of a search that could not start.
inline constexpr const char* kSearchFailedText =
    "Failed to search deleted file(s) on Drive.\n\nPlease reselect another.";

// Message boxes of the engines reach the main thread through the sink (message 0), so that
// their text is printed between the other messages.
class CCliMessageBox final : public IMessageBox
{
public:
    explicit CCliMessageBox(CCliSink& sink) : m_sink(sink) {}
    void Show(const std::string& text, const std::string& caption) override;

private:
    CCliSink& m_sink;
};

// One command's catalogue with its sink, message box and progress line.
struct SearchRun
{
    explicit SearchRun(std::FILE* errStream);
    ~SearchRun();
    SearchRun(const SearchRun&) = delete;
    SearchRun& operator=(const SearchRun&) = delete;

    CCliSink sink;
    CCliMessageBox messageBox{sink};
    CProgressLine progress;
    CCatalog catalog;
    std::FILE* err;
    bool deep = false; // whole disks are searched for lost volumes too (always with a deep search)
    std::vector<std::string> drives; // drive texts registered, in argument order
    u32 files = 0;                   // files found so far
    u32 folders = 0;                 // folders found so far
    u32 unreadable = 0;              // parts of the volumes that could not be read (named on err)
};

// Registers the sources (each "PATH" or "X:=PATH") in the drive table and searches them
// through StartSearch, drawing the progress line, until the search finishes or Ctrl-C stops
// it (the caller holds a CInterruptGuard). Returns kExitOk (searched), kExitFailed (no volume could
// be searched: the failure text was printed) or kExitInterrupted (stopped; what was found so far
// stays in the catalogue).
// With deep, each volume's deep search follows its normal one, its progress on the line.
int RunSearch(SearchRun& run, const std::vector<std::string>& sources, bool deep = false);

// Prints a message-box event (message 0) of the sink to err.
void PrintMessageBox(const CCliSink::Event& event, std::FILE* err);

// "FAT12", "FAT16", "FAT32", "NTFS", "exFAT" or "none".
const char* FileSystemText(u32 fsType);
// "YYYY-MM-DD hh:mm:ss".
std::string TimeText(const FoundTime& time);
// The same text appended to out.
void AppendTimeText(std::string& out, const FoundTime& time);
// The most bytes WriteTimeText writes: 19, or a wider text for a time no volume should hold.
inline constexpr std::size_t kTimeTextMost = 80;
// The same text written to p, which has room for kTimeTextMost bytes; returns its end.
char* WriteTimeText(char* p, const FoundTime& time);
// The item's full catalogue path: its folder path, "\" and its name.
std::string FullPath(const FoundItem& item);
