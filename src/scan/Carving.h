// Carving inside the deep search: the files whose metadata is gone, found by the headers and
// text runs the deep search's one read noted (carve/HeaderSearch.h), laid out over the clusters
// no live file and no find holds (carve/GapSearch.h), and listed under "<volume>\Carved\<ext>".
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "carve/GapSearch.h"
#include "carve/HeaderSearch.h"
#include "catalog/VolumeEngine.h"
#include "platform/Types.h"
#include "records/FoundItem.h"

class CCatalog;
struct VolumeClusters;
struct VolumeEntry;

// The steps carving takes from the carve library, replaceable for tests.
struct CarveSteps
{
    std::function<CarveLayout(CarveType type, u64 first, ICarveSpace& space)> layOut =
        [](CarveType type, u64 first, ICarveSpace& space)
    { return LayOutCarved(type, first, space); };
    std::function<ContentCheck(IContentSource& source)> checkText = CheckText;
};

// Told how far carving is: done of total candidates.
using CarveProgress = std::function<void(std::size_t done, std::size_t total)>;

// Carves the candidates of space in cluster order: a candidate whose cluster is not free (a
// live file's, a find's, or taken by a file carved before) is left, as is one that validated
// nothing (a false header); each file kept has its clusters taken (take) so that no two share
// one. Then each run of text clusters, split where a header begins, over the clusters still free
// is a text file up to its last byte that is not zero. Stops early when the run flag is cleared.
[[nodiscard]] std::vector<CarveLayout>
CarveLayouts(ICarveSpace& space, const std::function<void(std::span<const CarveRun>)>& take,
             std::span<const CarveCandidate> candidates, std::span<const TextRun> textRuns,
             const CarveSteps& steps = {}, const CarveProgress& progress = nullptr);

// The name of a carved file: "f%07llu.<ext>" by its first sector (sector), or
// "f0012345 - <title>.<ext>" when it holds a title; characters a Windows file name may not hold
// are replaced and the title is capped.
[[nodiscard]] std::string CarvedName(u64 sector, std::string_view title, std::string_view ext);

// Adds the carved files of layouts to volume: their layouts to volume.carved (over geometry),
// a deleted folder "<volume>\Carved" with one folder per extension, then the files of each
// extension together, each deleted, deep and carved, judged by its layout and its check.
void AddCarvedFinds(CCatalog* catalog, VolumeEntry& volume, const ClusterGeometry& geometry,
                    std::vector<CarveLayout> layouts);

// Carves volume after its deep search and the judging of its finds: the candidates and text
// runs scan noted, over the clusters clusters leaves free, read through the engine's reader.
// Posts "Carving: N of M" as kScanDeepProgress.
void CarveVolume(CCatalog& catalog, VolumeEntry& volume, VolumeClusters& clusters,
                 const CarveScan& scan, const CarveSteps& steps = {});
