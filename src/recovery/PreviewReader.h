// A find's first bytes read into memory for a preview, through the same stream description
// the recovery copies: nothing is written anywhere. Also the texts a preview shows of them.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"
#include "records/FoundItem.h"

struct VolumeEntry;

// The most a text preview shows, and a hex dump.
inline constexpr u64 kPreviewTextBytes = 64u << 10;
inline constexpr u64 kPreviewHexBytes = 4u << 10;

// ReadPreview's result when a read failed (the stream's own results are kept apart from it).
inline constexpr u32 kPreviewReadFailed = 0x105;

// Reads up to limit bytes from the start of item's data into *out (holes and bytes past the
// initialized size as zeros, compression units decoded). Returns 0; kStreamClipped when the
// description was cut (*out holds what it gives); kStreamUnreadable when nothing tells where
// the data lies; kPreviewReadFailed when a read failed (*out holds the bytes before it). A folder
// reads as nothing.
[[nodiscard]] u32 ReadPreview(VolumeEntry& volume, const FoundItem& item, u64 limit,
                              std::vector<u8>* out);

// True when bytes read as text: valid UTF-8, or Latin-1 with no control characters but tab,
// line and page breaks.
[[nodiscard]] bool LooksLikeText(const std::vector<u8>& bytes);
// The bytes as UTF-8 text: as they are when they are valid UTF-8 (a sequence cut at the end
// dropped), else read as Latin-1.
[[nodiscard]] std::string PreviewText(const std::vector<u8>& bytes);
// A hex dump: per 16 bytes, the offset, the bytes in hex and the printable ASCII ones.
[[nodiscard]] std::string HexDump(const std::vector<u8>& bytes);
