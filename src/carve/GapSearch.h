// The gap search of carving: the clusters a file of a known type lies on, from its first
// cluster on, worked out by its validator. Contiguous first; where the validator breaks, the
// file's continuation is looked for among the free clusters after the break (one and two gaps),
// and the layout that validates to the end is kept.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <vector>

#include "carve/CarveTypes.h"
#include "carve/ContentCheck.h"
#include "carve/ContentSource.h"
#include "platform/Types.h"

// The clusters a carved file may lie on, and their bytes.
class ICarveSpace
{
public:
    virtual ~ICarveSpace() = default;
    [[nodiscard]] virtual u64 ClusterBytes() const = 0;
    // The volume's clusters are FirstCluster() .. EndCluster() - 1.
    [[nodiscard]] virtual u64 FirstCluster() const = 0;
    [[nodiscard]] virtual u64 EndCluster() const = 0;
    // True when cluster may hold a carved file's data: no live file holds it, no find claims
    // it, and no file carved before took it.
    [[nodiscard]] virtual bool Free(u64 cluster) const = 0;
    // Reads the bytes of count clusters from cluster on into out (count * ClusterBytes());
    // returns the bytes read (fewer where the medium failed or the volume ended).
    [[nodiscard]] virtual std::size_t ReadClusters(u64 cluster, u64 count, std::span<u8> out) = 0;
};

// A stretch of clusters of a layout, in file order.
struct CarveRun
{
    u64 first = 0;
    u64 length = 0;
};

// Where a carved file lies and what its validator said of it there.
struct CarveLayout
{
    std::vector<CarveRun> runs; // in file order; their clusters cover size
    u64 size = 0;               // the file's bytes: its structure's end, or where it stops
    ContentCheck check;         // of the bytes over runs up to size
};

struct GapLimits
{
    u64 maxGap = 2048;   // clusters a gap may skip, at most
    u32 maxGaps = 2;     // gaps of one layout, at most
    u32 maxTries = 4096; // layouts validated for one file, at most (bounds the time)
};

// The bytes of a layout read through space, Size() bytes long.
class LayoutSource final : public IContentSource
{
public:
    LayoutSource(ICarveSpace& space, std::span<const CarveRun> runs, u64 size);
    [[nodiscard]] u64 Size() const override { return m_size; }
    [[nodiscard]] std::size_t Read(u64 offset, std::span<u8> out) override;

private:
    ICarveSpace& m_space;
    std::span<const CarveRun> m_runs;
    u64 m_size;
};

// A validator of one format: what ValidateContent says of a source for one type.
using ContentValidator = std::function<ContentCheck(IContentSource&)>;
// Whether the bytes of one whole cluster may continue a file of the type searched; null: any
// cluster that is not all zeros and where no header begins may.
using ContinuationFilter = std::function<bool(std::span<const u8> cluster)>;

// Whether cluster may continue a file of type: never text for a binary type, and for JPEG no
// marker but restarts and fill bytes before the end of image.
[[nodiscard]] bool MayContinueAs(CarveType type, std::span<const u8> cluster);

// Lays out the file of type whose first cluster is first. knownSize 0: the size is the
// structure's end, or (a type whose structure gives none) where the free clusters or the
// type's cap stop it; otherwise the file has exactly knownSize bytes (a find whose metadata
// gave its size). The layout that validates is kept; when none does, the one that validated
// furthest, its check damaged and its size the bytes validated (with knownSize: the bytes its
// clusters hold, at most knownSize). A first cluster that is not free gives an empty layout.
[[nodiscard]] CarveLayout LayOutCarved(CarveType type, u64 first, ICarveSpace& space,
                                       const GapLimits& limits = {}, u64 knownSize = 0);

// LayOutCarved over any validator: validate judges each layout tried; cap bounds a file whose
// structure gives no end (0: only the volume and the free clusters bound it). A run of pieces
// and gaps that repeat (files written side by side, a cluster or a few at a time) counts as
// one gap.
[[nodiscard]] CarveLayout LayOutWith(const ContentValidator& validate, u64 first,
                                     ICarveSpace& space, const GapLimits& limits = {},
                                     u64 knownSize = 0, u64 cap = 0,
                                     const ContinuationFilter& mayContinue = nullptr);
