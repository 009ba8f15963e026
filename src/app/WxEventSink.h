// The workers' channel into the dialog: every notice becomes a queued wx event handled on the
// dialog thread. Once detached (the dialog is closing) notices are dropped.
#pragma once

#include <wx/event.h>

#include <functional>
#include <mutex>
#include <string>

#include "platform/EventSink.h"
#include "platform/MessageBox.h"

// A message box asked for from a worker thread travels with this message number.
inline constexpr u32 kBoxNotice = 0;

// What one queued event carries.
struct WorkerNotice
{
    u32 message = 0; // WM_SCAN_NOTIFY, WM_RECOVER_NOTIFY or kBoxNotice
    u32 code = 0;
    u32 extra = 0;
    std::string text;
    std::string caption; // kBoxNotice only
};

wxDECLARE_EVENT(ORL_EVT_WORKER, wxThreadEvent);

class CWxEventSink final : public IEventSink
{
public:
    // Starts queuing notices to target.
    void Attach(wxEvtHandler* target);
    // Drops every later notice; returns once no Post is under way.
    void Detach();

    void Post(u32 message, u32 code, const std::string& text, u32 extra) override;
    // Queues a message box for the dialog thread.
    void PostBox(const std::string& text, const std::string& caption);

private:
    void Queue(const WorkerNotice& notice);

    std::mutex m_mutex;
    wxEvtHandler* m_target = nullptr;
};

// The engines' message boxes: shown at once on the dialog thread; from a worker thread queued
// to the dialog without blocking the worker, so that stopping it never waits on the user.
class CDlgMessageBox final : public IMessageBox
{
public:
    using ShowFn = std::function<void(const std::string& text, const std::string& caption)>;
    CDlgMessageBox(CWxEventSink& sink, ShowFn show) : m_sink(sink), m_show(std::move(show)) {}
    void Show(const std::string& text, const std::string& caption) override;

private:
    CWxEventSink& m_sink;
    ShowFn m_show;
};
