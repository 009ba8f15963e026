// CInterruptGuard in a child process: a first SIGINT or SIGTERM only raises the flag, a second
// one ends the process at once with the status shells expect, unless it is the first delivered
// again.
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
                usleep(300000); // a second interrupt, not the first delivered again
                std::raise(c.second);
                _exit(0);
            },
            ::testing::ExitedWithCode(c.status), "");
    }
}

// The same interrupt delivered twice at once (timeout(1) signals the process, then its process
// group) is one interrupt: the stop goes on and can name what it left incomplete.
TEST(InterruptGuardTest, InterruptDeliveredTwiceAtOnceIsOne)
{
    for (const int signal : {SIGINT, SIGTERM})
    {
        SCOPED_TRACE(signal);
        EXPECT_EXIT(
            {
                CInterruptGuard guard;
                std::raise(signal);
                std::raise(signal);
                _exit(CInterruptGuard::Interrupted() ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    }
}
