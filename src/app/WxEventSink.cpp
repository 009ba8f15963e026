// Worker notices queued as wx events, and the engines' message boxes.
#include "app/WxEventSink.h"

#include <wx/thread.h>

wxDEFINE_EVENT(ORL_EVT_WORKER, wxThreadEvent);

void CWxEventSink::Attach(wxEvtHandler* target)
{
    std::lock_guard lock(m_mutex);
    m_target = target;
}

void CWxEventSink::Detach()
{
    std::lock_guard lock(m_mutex);
    m_target = nullptr;
}

void CWxEventSink::Queue(const WorkerNotice& notice)
{
    std::lock_guard lock(m_mutex);
    if (m_target == nullptr)
        return;
    auto* event = new wxThreadEvent(ORL_EVT_WORKER);
    event->SetPayload(notice);
    wxQueueEvent(m_target, event); // takes ownership; safe from any thread
}

void CWxEventSink::Post(u32 message, u32 code, const std::string& text, u32 extra)
{
    Queue(WorkerNotice{message, code, extra, text, {}});
}

void CWxEventSink::PostBox(const std::string& text, const std::string& caption)
{
    Queue(WorkerNotice{kBoxNotice, 0, 0, text, caption});
}

void CDlgMessageBox::Show(const std::string& text, const std::string& caption)
{
    if (wxThread::IsMain())
        m_show(text, caption);
    else
        m_sink.PostBox(text, caption);
}
