// The header search of carving: which file type begins at the start of a cluster, and which
// clusters hold text. Fed the deep search's blocks in volume order, it notes the clusters where
// a known header begins and the runs of text clusters; what no find claims is carved after.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "carve/CarveTypes.h"
#include "platform/Types.h"

// Bytes of a cluster's start MatchHeader looks at, at most.
inline constexpr std::size_t kHeaderBytes = 512;

// The type whose header begins at head[0], kNone when none does. head is the start of a
// cluster (fewer bytes only at the end of the volume). Text is never matched here.
[[nodiscard]] CarveType MatchHeader(std::span<const u8> head);

// True when bytes (one whole cluster) are text: UTF-8 without control bytes other than tab,
// line feed, carriage return and form feed; the rest of a last cluster may be zeros, a cluster
// of zeros is not text.
[[nodiscard]] bool IsTextCluster(std::span<const u8> bytes);

// The most bytes a carved file of type may take when its structure gives no end.
[[nodiscard]] u64 CarveCap(CarveType type);

// A cluster where a header begins.
struct CarveCandidate
{
    u64 cluster = 0;
    CarveType type = CarveType::kNone;
};

// A run of clusters of text.
struct TextRun
{
    u64 first = 0;
    u64 length = 0;
};

// Notes the headers and text runs of the clusters of a volume as its blocks pass.
class CarveScan
{
public:
    // Cluster firstCluster begins at byte origin of the reader; the volume's clusters are
    // firstCluster .. endCluster - 1, each clusterBytes long.
    CarveScan(u64 origin, u64 firstCluster, u64 endCluster, u64 clusterBytes);

    // Bytes of the reader from offset on, in volume order (each call continues the last, or
    // starts anywhere after it). Looks at every cluster that begins inside bytes and ends
    // inside it; a cluster that runs past bytes is matched for a header when its first
    // kHeaderBytes lie inside (it cannot join a text run). Notes nothing twice.
    void Scan(u64 offset, std::span<const u8> bytes);

    [[nodiscard]] const std::vector<CarveCandidate>& Candidates() const { return m_candidates; }
    [[nodiscard]] const std::vector<TextRun>& TextRuns() const { return m_textRuns; }

private:
    u64 m_origin;
    u64 m_firstCluster;
    u64 m_endCluster;
    u64 m_clusterBytes;
    std::vector<CarveCandidate> m_candidates;
    std::vector<TextRun> m_textRuns;
};
