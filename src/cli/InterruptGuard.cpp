// Ctrl-C while the workers run: a flag raised by the handler and polled by the main thread;
// a second interrupt ends the process.
#include "cli/InterruptGuard.h"

#include <unistd.h>

#include <atomic>

namespace
{
// Lock-free, so the handler may touch it.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int signal)
{
    // The first interrupt only asks the workers to stop. A second one means the user will not
    // wait for that: end at once, with the status a shell gives a process the signal ended.
    if (g_interrupted.exchange(true))
        _exit(128 + signal);
}
} // namespace

CInterruptGuard::CInterruptGuard()
{
    g_interrupted.store(false);
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Reads and writes the workers are in the middle of resume instead of failing.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
}

CInterruptGuard::~CInterruptGuard()
{
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
}

bool CInterruptGuard::Interrupted()
{
    return g_interrupted.load();
}
