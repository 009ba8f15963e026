// The recover command: searches the sources, then copies chosen items (or every item of each
// volume's root) into a destination folder through the recovery thread.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "catalog/Catalog.h"
#include "catalog/FindFilter.h"

// One recovery run: the folder the selection is made in (a catalogue path such as "C:" or
// "C:\docs") and the selected names in it.
struct RecoverGroup
{
    std::string folder;
    std::vector<SelEntry> entries;
};

// Turns --item paths into recovery runs, one per folder in order of first mention: a file's
// full catalogue path selects that file, a folder's path the folder and all below it, a bare
// volume name ("C:") every item of its root. The drive letter may be given in either case and
// a trailing "\" is ignored. Returns false with *error naming the first path that matches no
// found item.
bool SelectItems(const std::vector<VolumeEntry>& volumes, const std::vector<std::string>& items,
                 std::vector<RecoverGroup>* groups, std::string* error);

// The root selection of volume: every item whose folder is the root, and every folder one
// level below the root that holds finds but has no item of its own (a made-up folder for
// records whose parent was lost). Empty when nothing was found.
RecoverGroup RootSelection(const VolumeEntry& volume);

// The files of groups (those selected, and those below the folders selected) that pass
// filter, in catalogue order, in runs of the folders their selections were made in, each with
// its own folder where that lies below (SelEntry::folder): the copies are written below the
// same folders as the whole selection's would be.
std::vector<RecoverGroup> FilterSelection(const std::vector<VolumeEntry>& volumes,
                                          const std::vector<RecoverGroup>& groups,
                                          const FindFilter& filter);

// The recover command with its arguments (the command word excluded). Exit status: 0 after
// every run finished successfully, 1 when the search or a recovery failed, 2 for a usage
// error, 130 when Ctrl-C stopped the search or the recovery.
int RunRecover(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

extern const char* const kRecoverHelp;
