// The recycled files of a volume listed where they came from: each $R data file (or recycled
// folder) whose $I record names its original path, and each Dc<n> data file its INFO2 record
// names, moves to "<drive>\Recycle Bin\<original folder>\<original name>".
#pragma once

#include <span>
#include <string>
#include <vector>

#include "platform/Types.h"

struct FoundItem;
struct VolumeEntry;

// The made-up folder below the volume's root that holds the recycled finds.
inline constexpr char kRecycleBinFolder[] = "Recycle Bin";

// The bytes a find holds, read through its engine's DescribeStream and data reader as a
// recovery reads them (resident bytes, extents, holes and bytes past the initialised size as
// zeros). False when its data cannot be described or read whole, is stored compressed or
// encrypted, or is larger than most bytes.
[[nodiscard]] bool ReadFindBytes(VolumeEntry& volume, const FoundItem& item, u64 most,
                                 std::vector<u8>* bytes);

// Moves the recycled finds of volume (and everything below a recycled folder) under the
// made-up folder, each with a name unique in its folder, to the end of volume.items, the finds
// of one folder together; volume.recycledFrom then gives, for each moved find's index, the
// path it was found at. The finds keep their data, clusters and condition. Called by the
// search thread after the conditions are judged, while the volume's reader is still open;
// does nothing once the run flag is cleared.
void ListRecycledFinds(VolumeEntry& volume);
