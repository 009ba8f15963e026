// The command line's event sink: an unbounded queue between the workers and the main thread.
#include "cli/CliSink.h"

namespace
{
// Finds, file starts and copy progress come by the ten thousand; the main thread picks them up
// at its next poll (20 ms at most). Waking it for each one cost a thread switch per event.
// Warnings and the end of a run still wake it at once.
bool IsRoutine(u32 message, u32 code)
{
    if (message == WM_SCAN_NOTIFY)
        return code == 1;
    return message == WM_RECOVER_NOTIFY && (code == 0 || code == 3 || code == 4);
}

// A search's finds are only counted and the latest one shown, so a find that follows another
// of the same kind takes that one's place in the queue. Queued one by one, the finds of a large
// volume held megabytes of texts between two polls, a heap block each.
bool Folds(const CCliSink::Event& queued, u32 message, u32 code, u32 extra)
{
    return message == WM_SCAN_NOTIFY && code == 1 && queued.message == message &&
           queued.code == code && queued.extra == extra;
}
} // namespace

void CCliSink::Post(u32 message, u32 code, const std::string& text, u32 extra)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_queue.empty() && Folds(m_queue.back(), message, code, extra))
        {
            m_queue.back().text.assign(text);
            ++m_queue.back().count;
        }
        else
            m_queue.push_back(Event{message, code, text, extra});
    }
    if (!IsRoutine(message, code))
        m_arrived.notify_one();
}

bool CCliSink::Take(std::vector<Event>* events, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (!m_arrived.wait_for(lock, timeout, [this] { return !m_queue.empty(); }))
        return false;
    while (!m_queue.empty())
    {
        events->push_back(std::move(m_queue.front()));
        m_queue.pop_front();
    }
    return true;
}
