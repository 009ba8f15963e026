// A JPEG decoded to nowhere with libjpeg-turbo at 1/8 scale (every Huffman code is still
// decoded; each output pixel is a block's DC value), reading through a content source in small
// pieces so that the offset where decoding broke is known.
#pragma once

#include <vector>

#include "carve/ContentSource.h"
#include "platform/Types.h"

inline constexpr u64 kNoZeroSector = ~u64{0};

enum class JpegOutcome : u8
{
    kClean,   // decoded to EOI with no warning and no error
    kBroken,  // a warning, an error or the source's end stopped it
    kRefused, // too large to decode within the memory and work bounds: nothing is known
};

struct JpegDecode
{
    JpegOutcome outcome = JpegOutcome::kBroken;
    // Bytes libjpeg had taken from the source when it stopped (after EOI when clean). Its bit
    // buffer may hold a few of them undecoded.
    u64 stoppedAt = 0;
    bool sourceEnded = false; // stopped because the source had no more bytes
    bool multiScan = false;   // progressive or otherwise several scans: rows are read in one go
    // Single scan: the offset reached when each iMCU row (a row of MCUs) had been decoded.
    std::vector<u64> rowEnds;
    // Per output row (a row of blocks at 1/8 scale): mean absolute difference of its DC
    // values from the row above's, over all components; 0 for the first.
    std::vector<float> rowJump;
    u32 outputRowsPerIMcuRow = 1;
    u64 scanStart = 0; // offset of the first scan's entropy-coded data
    // The first whole sector (512 bytes, aligned from the file's start) of zeros at or after
    // dataStart among the bytes read: a run of zero bits that long is no encoder's output for a
    // photo, but it is what a never-written cluster holds.
    u64 zeroSector = kNoZeroSector;
    // The first whole sector of text inside the entropy-coded data: coded data is never text
    // (it has bytes of every value), so a sector of it is another file's.
    u64 textSector = kNoZeroSector;
};

// Decodes source, whose entropy-coded data begins at dataStart (the first SOS marker); never
// throws, its memory and time bounded by the source's size.
[[nodiscard]] JpegDecode DecodeJpeg(IContentSource& source, u64 dataStart);
