// The marker walk of a JPEG file: its segments from SOI to EOI, the entropy-coded data of each
// scan skipped up to the marker after it, read through a content source in small pieces.
#pragma once

#include <vector>

#include "carve/ContentSource.h"
#include "platform/Types.h"
#include "records/FoundItem.h"

// What the frame header (SOFn) says.
struct JpegFrame
{
    u32 width = 0;
    u32 height = 0;
    u32 components = 0;
    bool progressive = false; // SOF2, SOF6, SOF10, SOF14
    bool arithmetic = false;  // SOF9 .. SOF15
    // A process the decoder knows: baseline, extended or progressive (SOF0 SOF1 SOF2 SOF9
    // SOF10); not lossless or hierarchical.
    bool decodable = false;
};

struct JpegWalk
{
    bool reachedEoi = false; // the walk came to EOI within the source
    u64 end = 0;             // offset after EOI when reached
    // Where the structure broke when EOI was not reached: the marker or segment that did not
    // hold, or the source's end.
    u64 brokeAt = 0;
    bool hasFrame = false;
    JpegFrame frame;
    u32 scans = 0;               // SOS segments met
    std::vector<u64> scanStarts; // offset of each SOS marker met, in order
    u32 restartInterval = 0;     // DRI's last value
    FoundTime taken;             // EXIF date taken of the first APP1 "Exif"
};

// Walks the markers of source from its first byte, which must be SOI.
[[nodiscard]] JpegWalk WalkJpegMarkers(IContentSource& source);
