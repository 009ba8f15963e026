// The filter options that scan and recover share: --filter PATTERN, --type TYPE and
// --recoverable, read into a FindFilter.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "catalog/FindFilter.h"

// Reads the filter option at args[*at] into *filter, moving *at past its value. Returns 1 when
// it took one, 0 when args[*at] is no filter option, -1 after a usage mistake (a missing value
// or an unknown type), which it names on err after "orlavent-cli COMMAND: ".
int ReadFilterOption(const std::vector<std::string>& args, std::size_t* at, FindFilter* filter,
                     const char* command, std::FILE* err);
