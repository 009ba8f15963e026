// The channel through which worker threads report to the front end. The GUI queues wx events,
// the command line prints, and tests record.
#pragma once

#include <string>

#include "platform/Types.h"

// Message numbers the workers post; kept for the front ends' dispatch.
inline constexpr u32 WM_SCAN_NOTIFY = 1124;    // scan progress and the finished notice
inline constexpr u32 WM_RECOVER_NOTIFY = 1125; // recovery progress, warnings and summary

// Codes of a WM_SCAN_NOTIFY (the code argument of IEventSink::Post).
inline constexpr u32 kScanVolumeStart = 0; // text "Finding deleted File(s)...": a volume begins
inline constexpr u32 kScanFind = 1;        // text: the find's full path; extra: its attribute
inline constexpr u32 kScanFinished = 2;    // every volume is done; the view state is set
inline constexpr u32 kScanWarning = 3;     // text: damage the scan worked around
inline constexpr u32 kScanUnreadable = 4;  // text: a part of the volume that could not be read
// text "Deep search: N% read, M found"; extra: the share of the volume read, in thousandths
inline constexpr u32 kScanDeepProgress = 5;

// Codes of a WM_RECOVER_NOTIFY.
inline constexpr u32 kRecoverFile = 0;    // text "Recovering <path>\<name>", extra: attr
inline constexpr u32 kRecoverWarning = 1; // text: what went wrong; the run goes on; extra: kWarn*
inline constexpr u32 kRecoverFatal = 2;   // text: why the run ended
inline constexpr u32 kRecoverRange = 3;   // extra: the progress range (10)
inline constexpr u32 kRecoverStep = 4;    // extra: the chunk counter of the current file
// All bits of the low byte set; text "Finished Recovery Successfully.".
inline constexpr u32 kRecoverFinished = 0xFF;
inline constexpr u32 kRecoverFinishedExtra = 0xFFFFFF;

// Extra of a kRecoverWarning: what the warning means for the file it names.
inline constexpr u32 kWarnIncomplete = 0; // not written whole: missing or short
inline constexpr u32 kWarnDiverted = 1;   // written whole, but below the default folder
inline constexpr u32 kWarnRenamed = 2;    // written whole under a shortened name
inline constexpr u32 kWarnStopped = 3;    // the stop left it short
inline constexpr u32 kWarnDamaged = 4;    // copied, but other data has taken some of its clusters
inline constexpr u32 kWarnContent = 5;    // copied, but its bytes do not hold together as its type

class IEventSink
{
public:
    virtual ~IEventSink() = default;

    // One notification: message is WM_SCAN_NOTIFY or WM_RECOVER_NOTIFY, code is the low byte
    // the receiver dispatches on, text the message's text (may be empty), and extra the
    // message's additional value (for scan finds, the item's attribute byte).
    // Called from worker threads; implementations must be thread-safe.
    virtual void Post(u32 message, u32 code, const std::string& text, u32 extra) = 0;
};

// A sink that drops everything; used where nobody listens.
class NullEventSink final : public IEventSink
{
public:
    void Post(u32, u32, const std::string&, u32) override {}
};
