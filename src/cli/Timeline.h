// The scan listings for other tools: The Sleuth Kit's body file (timelines) and CSV with a
// header row (spreadsheets).
#pragma once

#include <string>
#include <string_view>

#include "catalog/Catalog.h"
#include "catalog/FindTimes.h"

// One body-file line (no newline) of item with times:
// MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime. The name is the full path with
// "/" between its parts ("C:/docs/report.txt"), " (deleted)" after a deleted find's; control
// characters and "|" in it are written as "^", so that no name breaks the line or its columns.
void AppendBodyLine(std::string& out, const FoundItem& item, const FindTimes& times);

// The CSV header row and one row per item (each ended by CRLF, as RFC 4180 has it): the JSON
// listing's keys as columns, recycled_from last (empty but for a recycled find).
extern const char* const kCsvHeader;
void AppendCsvRow(std::string& out, const VolumeEntry& volume, const FoundItem& item,
                  const std::string* recycledFrom);
// field as one CSV field: quoted, its quotes doubled, when it holds a comma, a quote, CR or LF;
// a byte that is not part of valid UTF-8 becomes U+FFFD.
void AppendCsvField(std::string& out, std::string_view field);
