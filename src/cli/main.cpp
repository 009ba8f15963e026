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
    if (std::fflush(stdout) != 0 && status == 0)
        status = 1;
    return status;
}
