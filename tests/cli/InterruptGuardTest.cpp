// CInterruptGuard in a child process: a first SIGINT or SIGTERM only raises the flag, a second
// one ends the process at once with the status shells expect.
#include "cli/InterruptGuard.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>

TEST(InterruptGuardTest, SecondInterruptEndsTheProcess)
{
    struct Case
    {
        int first;
        int second;
        int status;
    };
    const Case cases[] = {
        {SIGINT, SIGINT, 130},
        {SIGTERM, SIGTERM, 143},
        {SIGTERM, SIGINT, 130},
        {SIGINT, SIGTERM, 143},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(::testing::Message() << c.first << " then " << c.second);
        // raise() runs the handler before it returns; status 1 tells that the first signal
        // did more than raise the flag.
        EXPECT_EXIT(
            {
                CInterruptGuard guard;
                if (CInterruptGuard::Interrupted())
                    _exit(1);
                std::raise(c.first);
                if (!CInterruptGuard::Interrupted())
                    _exit(1);
                std::raise(c.second);
                _exit(0);
            },
            ::testing::ExitedWithCode(c.status), "");
    }
}
