// The filter options that scan and recover share: --filter PATTERN, --type TYPE and
// --recoverable, read into a FindFilter.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "catalog/FindFilter.h"

// The options' lines in a command's help (a literal, to be joined to the help's others).
#define ORL_FILTER_OPTIONS_HELP                                                                    \
    "  --filter PATTERN  only finds whose name holds PATTERN, or with * or ? in it, whose\n"       \
    "              whole name matches it (* any run of characters, ? one); letters match\n"        \
    "              in either case\n"                                                               \
    "  --type TYPE  only files of the type: pictures, documents, video, audio, archives or\n"      \
    "              other, told by their extension (all, the default: every find)\n"                \
    "  --recoverable  leave out overwritten finds\n"

// Reads the filter option at args[*at] into *filter, moving *at past its value. Returns 1 when
// it took one, 0 when args[*at] is no filter option, -1 after a usage mistake (a missing value
// or an unknown type), which it names on err after "orlavent-cli COMMAND: ".
int ReadFilterOption(const std::vector<std::string>& args, std::size_t* at, FindFilter* filter,
                     const char* command, std::FILE* err);
