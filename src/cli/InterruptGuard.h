// Ctrl-C while the workers run: the signal handler only raises a flag, and the main thread,
// which polls it, stops the workers. A second Ctrl-C (or SIGTERM) ends the process at once
// with status 128 + the signal's number (130 for SIGINT, 143 for SIGTERM); one that follows the
// first within a quarter of a second is taken for the same interrupt delivered twice.
#pragma once

#include <csignal>

class CInterruptGuard
{
public:
    // Installs the SIGINT and SIGTERM handlers; the destructor restores the previous ones.
    CInterruptGuard();
    ~CInterruptGuard();
    CInterruptGuard(const CInterruptGuard&) = delete;
    CInterruptGuard& operator=(const CInterruptGuard&) = delete;

    // True once an interrupt arrived since the guard was made.
    [[nodiscard]] static bool Interrupted();

private:
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
};
