// The command-line program's entry: subcommand dispatch, global help and version.
#include "cli/Cli.h"

#include <array>

#include "cli/BootInfo.h"
#include "cli/Drives.h"
#include "cli/Recover.h"
#include "cli/Scan.h"

namespace
{
struct Command
{
    const char* name;
    const char* summary;
    const char* help;
    int (*run)(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
};

const std::array kCommands = {
    Command{"drives", "list the drives: letter, type, file system, label and source", kDrivesHelp,
            RunDrives},
    Command{"scan", "search the sources for deleted files and folders and list them", kScanHelp,
            RunScan},
    Command{"recover", "search the sources, then copy found items into a folder", kRecoverHelp,
            RunRecover},
    Command{"bootinfo", "print what the FAT boot sector of each source says", kBootInfoHelp,
            RunBootInfo},
};

const Command* FindCommand(const std::string& name)
{
    for (const Command& c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

void PrintUsage(std::FILE* out)
{
    std::fputs("Usage: orlavent-cli COMMAND [OPTIONS] [ARGS...]\n"
               "\n"
               "Finds deleted files and folders on FAT12, FAT16, FAT32, exFAT and NTFS volumes\n"
               "held in image files or on block devices, reading them at the sector level and\n"
               "never writing to them.\n"
               "\n"
               "Commands:\n",
               out);
    for (const Command& c : kCommands)
        std::fprintf(out, "  %-10s  %s\n", c.name, c.summary);
    std::fputs("  help        show the help of a command\n"
               "\n"
               "Options:\n"
               "  -h, --help  show this help\n"
               "  --version   show the version\n"
               "\n"
               "Run 'orlavent-cli COMMAND --help' for the options of a command.\n",
               out);
}
} // namespace

namespace
{
bool g_processEnds = false;
} // namespace

void EndProcessAfterCommand()
{
    g_processEnds = true;
}

bool ProcessEndsAfterCommand()
{
    return g_processEnds;
}

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err)
{
    if (args.empty())
    {
        PrintUsage(err);
        return 2;
    }
    const std::string& first = args[0];
    if (first == "-h" || first == "--help")
    {
        PrintUsage(out);
        return 0;
    }
    if (first == "--version")
    {
        std::fprintf(out, "orlavent-cli %s\n", ORL_VERSION);
        return 0;
    }
    if (first == "help")
    {
        if (args.size() < 2)
        {
            PrintUsage(out);
            return 0;
        }
        if (const Command* c = FindCommand(args[1]))
        {
            std::fputs(c->help, out);
            return 0;
        }
        std::fprintf(err, "orlavent-cli: unknown command '%s'\n", args[1].c_str());
        return 2;
    }
    if (const Command* c = FindCommand(first))
        return c->run(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
    std::fprintf(err,
                 "orlavent-cli: unknown command '%s'\n"
                 "Run 'orlavent-cli --help' for the list of commands.\n",
                 first.c_str());
    return 2;
}
