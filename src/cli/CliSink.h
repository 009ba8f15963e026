// The command line's event sink: workers queue their notifications, and the main thread takes
// them out and prints them. Posting never waits for the main thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/EventSink.h"
#include "platform/Types.h"

class CCliSink final : public IEventSink
{
public:
    struct Event
    {
        u32 message = 0;
        u32 code = 0;
        std::string text;
        u32 extra = 0;
        // Finds of the search (WM_SCAN_NOTIFY, code 1) that follow one another with the same
        // extra come as one event: how many, and the text of the last.
        u32 count = 1;
    };

    void Post(u32 message, u32 code, const std::string& text, u32 extra) override;

    // Moves every queued event into *events, first waiting up to timeout for one to arrive.
    // Returns false when none arrived.
    bool Take(std::vector<Event>* events, std::chrono::milliseconds timeout);

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<Event> m_queue;
};
