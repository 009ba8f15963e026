// Ctrl-C while the workers run: a flag raised by the handler and polled by the main thread.
#include "cli/InterruptGuard.h"

#include <atomic>

namespace
{
// Lock-free, so the handler may touch it.
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int)
{
    g_interrupted.store(true);
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
