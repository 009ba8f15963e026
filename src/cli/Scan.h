// The scan command: searches the sources for deleted files and folders and lists every find.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "catalog/Catalog.h"

// One JSON object (one line, no newline) for item of volume.
std::string FormatItemJson(const VolumeEntry& volume, const FoundItem& item);
void AppendItemJson(std::string& out, const VolumeEntry& volume, const FoundItem& item);
// One line of the plain listing (no newline) for item.
std::string FormatItemText(const FoundItem& item);
void AppendItemText(std::string& out, const FoundItem& item);

// The scan command with its arguments (the command word excluded). Exit status: 0 when a
// volume was searched, 1 when none could be, 2 for a usage error, 130 when Ctrl-C stopped the
// search (what was found so far is listed).
int RunScan(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

extern const char* const kScanHelp;
