// The drives command: the drive table as the search sees it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/DriveTable.h"

// "Fixed", "Removable", ... for a drive type.
const char* DriveTypeText(DriveType type);

// The drives command with its arguments (the command word excluded): registers the SOURCE
// arguments and the machine's block devices that hold FAT, exFAT or NTFS volumes, then lists the
// drive table. Exit status: 0, 1 when a SOURCE yields no drive, 2 for a usage error.
int RunDrives(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

extern const char* const kDrivesHelp;
