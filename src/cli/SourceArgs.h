// The SOURCE arguments of the command-line program: image files and block devices, each given
// a drive text ("C:") under which the engines open it through the drive table.
#pragma once

#include <string>
#include <vector>

struct SourceArg
{
    std::string drive; // "C:"
    std::string path;  // image file or block device, as given
};

// Splits "X:=PATH" (any letter, either case) into its upper-case drive text and path. False
// for anything else, which is then a plain path.
bool SplitDriveSpec(const std::string& arg, std::string* drive, std::string* path);

// Gives every argument a drive text, keeping command-line order: "X:=PATH" takes X:, a plain
// path the next letter from C: on that no argument claims. False with a message in *error for
// an empty path, a letter claimed twice or more sources than letters.
bool AssignDrives(const std::vector<std::string>& args, std::vector<SourceArg>* sources,
                  std::string* error);

// Enters the sources into g_DriveTable, replacing earlier entries of the same letters.
void RegisterSources(const std::vector<SourceArg>& sources);
