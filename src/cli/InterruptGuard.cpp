// Ctrl-C while the workers run: a flag raised by the handler and polled by the main thread;
// a second interrupt ends the process, unless it is the first one delivered again.
#include "cli/InterruptGuard.h"

#include <time.h>
#include <unistd.h>

#include <atomic>

namespace
{
// When the first interrupt arrived (CLOCK_MONOTONIC, nanoseconds); 0 before it. Lock-free, so
// the handler may touch it.
std::atomic<long long> g_firstInterrupt{0};
static_assert(std::atomic<long long>::is_always_lock_free);
// A second signal this soon after the first is the same interrupt delivered twice (timeout(1)
// signals the process and then its process group): ending the process then would cut short
// the stop that names the file left incomplete. A user's second Ctrl-C comes later.
constexpr long long kSameInterruptNs = 250'000'000;

long long Now()
{
    timespec ts = {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const long long ns = static_cast<long long>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
    return ns > 0 ? ns : 1;
}

extern "C" void OnInterrupt(int signal)
{
    // The first interrupt only asks the workers to stop. A second one means the user will not
    // wait for that: end at once, with the status a shell gives a process the signal ended.
    const long long now = Now();
    long long first = 0;
    if (g_firstInterrupt.compare_exchange_strong(first, now))
        return;
    if (now - first >= kSameInterruptNs)
        _exit(128 + signal);
}
} // namespace

CInterruptGuard::CInterruptGuard()
{
    g_firstInterrupt.store(0);
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
    return g_firstInterrupt.load() != 0;
}
