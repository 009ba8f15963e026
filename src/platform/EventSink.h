// The channel through which worker threads report to the front end. The GUI queues wx events,
// the command line prints, and tests record.
#pragma once

#include <string>

#include "platform/Types.h"

// Message numbers the workers post; kept for the front ends' dispatch.
inline constexpr u32 WM_SCAN_NOTIFY = 1124;    // scan progress and the finished notice
inline constexpr u32 WM_RECOVER_NOTIFY = 1125; // recovery progress, warnings and summary

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
