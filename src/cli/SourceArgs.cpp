// The SOURCE arguments of the command-line program and their drive letters.
#include "cli/SourceArgs.h"

#include <array>
#include <cctype>

#include "platform/DriveTable.h"
#include "platform/EwfImage.h"

bool SplitDriveSpec(const std::string& arg, std::string* drive, std::string* path)
{
    if (arg.size() < 3 || arg[1] != ':' || arg[2] != '=' ||
        !std::isalpha(static_cast<unsigned char>(arg[0])))
        return false;
    *drive = std::string{static_cast<char>(std::toupper(static_cast<unsigned char>(arg[0]))), ':'};
    *path = arg.substr(3);
    return true;
}

bool AssignDrives(const std::vector<std::string>& args, std::vector<SourceArg>* sources,
                  std::string* error)
{
    std::array<bool, 26> taken{};
    std::vector<SourceArg> out(args.size());
    // Explicit letters first, so that a plain path never takes a letter claimed later on.
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        std::string drive;
        std::string path;
        if (!SplitDriveSpec(args[i], &drive, &path))
            continue;
        if (path.empty())
        {
            *error = "no path after '" + drive + "='";
            return false;
        }
        std::size_t letter = static_cast<std::size_t>(drive[0] - 'A');
        if (taken[letter])
        {
            *error = "drive " + drive + " is given twice";
            return false;
        }
        taken[letter] = true;
        out[i] = SourceArg{drive, path};
    }
    std::size_t next = 'C' - 'A';
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        if (!out[i].drive.empty())
            continue;
        if (args[i].empty())
        {
            *error = "empty SOURCE argument";
            return false;
        }
        while (next < taken.size() && taken[next])
            ++next;
        if (next >= taken.size())
        {
            *error = "more sources than drive letters C: to Z:";
            return false;
        }
        taken[next] = true;
        out[i] = SourceArg{std::string{static_cast<char>('A' + next), ':'}, args[i]};
    }
    *sources = std::move(out);
    return true;
}

void RegisterSources(const std::vector<SourceArg>& sources)
{
    for (const SourceArg& s : sources)
    {
        DriveSource entry;
        entry.drive = s.drive;
        entry.path = s.path;
        entry.format = IsEwfPath(s.path) ? SourceFormat::Ewf : SourceFormat::Raw;
        entry.fromCommandLine = true;
        g_DriveTable.Register(entry);
    }
}
