// The command line's event sink: an unbounded queue between the workers and the main thread.
#include "cli/CliSink.h"

void CCliSink::Post(u32 message, u32 code, const std::string& text, u32 extra)
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(Event{message, code, text, extra});
    }
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
