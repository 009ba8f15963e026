// The deep search's one read of a whole volume: large sequential reads, each block handed to the
// engine's visitor in volume order, with the progress, the stop and the pacing every read of a
// volume has. An engine's deep search recognises in the blocks what its metadata no longer
// links (folder clusters, entry sets, stray MFT and index records) and adds it to the catalogue.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/Types.h"

class CCatalog;
class CDirectRW;
struct VolumeEntry;

// Bytes of one block of the pass, cut to a whole number of units (see DeepRange::unit).
inline constexpr u64 kDeepBlockBytes = 8ull << 20;

// The stretch of the volume the pass reads.
struct DeepRange
{
    u64 start = 0; // byte offset on the reader of the first unit (a FAT's first data cluster)
    u64 end = 0;   // byte offset one past the last byte read
    // The structures looked for start only on unit boundaries counted from start (a cluster, an
    // MFT record): every block begins on one, so no unit is ever split between two blocks.
    u32 unit = 512;
    // Bytes of the next block shown past each block's own: room for a structure that begins in
    // this block and runs on (0 when every structure fits in one unit).
    u32 lookahead = 0;
};

// One block as the visitor sees it.
struct DeepBlock
{
    u64 offset = 0;            // byte offset on the reader of bytes[0]
    std::span<const u8> bytes; // the block's own bytes, then up to lookahead bytes of the next
    std::size_t own = 0;       // bytes[0, own) are the block's; a structure starting there is its
    // Units of the block that could not be read: their bytes are zeros. Null when all arrived.
    const std::vector<bool>* unreadableUnits = nullptr;
};

// What the pass tells its engine.
using DeepVisitor = std::function<void(const DeepBlock& block)>;
// What the engine has recognised so far (folders, entry sets, records), for the progress of an
// engine that adds its finds once the pass is over.
using DeepCount = std::function<std::size_t()>;

// Reads range of reader once, in blocks of kDeepBlockBytes, and hands each to visit in order.
// The next block is read while the visitor works on this one. A block that fails is read
// again unit by unit; units that still fail are zeros, flagged, and named to the front end
// once per stretch (WM_SCAN_NOTIFY kScanUnreadable). Posts kScanDeepProgress as it goes:
// extra is the share of the range read in thousandths, text "Deep search: N% read, M found"
// with M the finds entry gained since the pass began, or what found counts when it is given.
// Reads at most catalog.m_maxReadRate bytes a second when that is set. True when the whole range
// was visited; false when the run flag was cleared (the blocks read so far were visited) or no
// memory was left for the blocks.
[[nodiscard]] bool RunDeepPass(const CCatalog& catalog, const VolumeEntry& entry, CDirectRW* reader,
                               const DeepRange& range, const DeepVisitor& visit,
                               const DeepCount& found = nullptr);
