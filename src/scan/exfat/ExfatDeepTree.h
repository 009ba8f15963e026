// The old folder tree of an exFAT volume rebuilt from the entry sets the deep search found: a
// folder set's first cluster (and the clusters of its chain) holds the sets of its children;
// sets in clusters no folder set found points at lie in lost folders.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "exfat/ExfatLooseSets.h"
#include "platform/Types.h"

// Where one set found goes in the catalogue.
struct ExfatDeepPlace
{
    u32 set = 0;      // index in ExfatLooseSets::sets
    std::string path; // the folder that holds it: "<root>\Folder_<n>_\..."
    std::string name; // its name, unique in path, with no path separator
};

// Folder levels below a lost folder at most: a deeper folder starts a lost folder of its own.
inline constexpr u32 kMaxDeepLevels = 128;

// Places the sets of found, whose clusters are clusterBytes long, below root (the volume's name).
//
// A folder set claims its first cluster, and then the clusters behind it: all those its length
// covers when it is contiguous (NoFatChain), else those that follow one by one while each holds
// sets and the one before did not end the folder. A first cluster claimed by two folder sets
// goes to the live one, else to the first one found; the others are left out. Sets in a
// cluster no folder set claims lie in a lost folder, "<root>\Folder_<n>_", numbered from 1 in
// the order met; clusters one after the other that hold sets and that the folder did not end
// in share one. A folder set that cannot be placed under its parent (a parent left out, a
// cycle, more than kMaxDeepLevels levels) heads a lost folder of its own, keeping its name and
// its subtree.
//
// known(cluster) tells the clusters the normal search read: sets in them, and sets in the
// clusters of a folder whose first cluster is known, are left out (the normal search has them).
//
// The places come folder by folder: the children of one folder stand together.
[[nodiscard]] std::vector<ExfatDeepPlace>
PlaceExfatLooseSets(const ExfatLooseSets& found, u64 clusterBytes, const std::string& root,
                    const std::function<bool(u32 cluster)>& known);
