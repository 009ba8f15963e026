// orlavent-cli: finds deleted files on FAT, exFAT and NTFS volumes from a terminal. The commands
// live in Cli.cpp and the files it dispatches to.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Cli.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    EndProcessAfterCommand();
    int status = RunCli(args, stdout, stderr);
    // Output that could not be written (a full disk) is lost: the command failed. Large blocks
    // go to the descriptor at once, so only the stream's error flag tells of their loss; the
    // flush tells of what was still buffered.
    const bool flushed = std::fflush(stdout) == 0;
    if (!flushed || std::ferror(stdout) != 0)
    {
        std::fputs("orlavent-cli: the output could not be written in full\n", stderr);
        if (status == 0)
            status = 1;
    }
    return status;
}
