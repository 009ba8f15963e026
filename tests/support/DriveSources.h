// Drive-table entries for the tests' image files.
#pragma once

#include <string>

#include "platform/DriveTable.h"

// The entry that makes path (an image file or a device) drive, its volume starting at offset.
inline DriveSource MakeSource(const std::string& drive, const std::string& path, u64 offset = 0,
                              u64 length = 0)
{
    DriveSource source;
    source.drive = drive;
    source.path = path;
    source.offset = offset;
    source.length = length;
    return source;
}

// Registers path as drive in the drive table.
inline void RegisterSource(const std::string& drive, const std::string& path)
{
    g_DriveTable.Register(MakeSource(drive, path));
}
