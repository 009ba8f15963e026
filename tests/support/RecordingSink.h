// An event sink for tests that keeps what is posted to it, from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/EventSink.h"

class RecordingSink final : public IEventSink
{
public:
    struct Event
    {
        u32 message;
        u32 code;
        std::string text;
        u32 extra;
    };
    static constexpr u32 kEveryMessage = 0xFFFFFFFF;

    // Keeps the notifications of message kind only (WM_SCAN_NOTIFY, WM_RECOVER_NOTIFY), or all.
    explicit RecordingSink(u32 only = kEveryMessage) : m_only(only) {}

    // onPost, when set, runs on the posting thread with the event just kept.
    void Post(u32 message, u32 code, const std::string& text, u32 extra) override
    {
        if (m_only != kEveryMessage && message != m_only)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        events.push_back(Event{message, code, text, extra});
        if (onPost)
            onPost(events.back());
    }

    // The events kept with code.
    [[nodiscard]] std::vector<Event> Of(u32 code) const
    {
        std::vector<Event> out;
        for (const Event& e : events)
            if (e.code == code)
                out.push_back(e);
        return out;
    }

    std::vector<Event> events;
    std::function<void(const Event&)> onPost;

private:
    std::mutex m_mutex;
    u32 m_only;
};
