// A photo's date taken as its EXIF data holds it.
#pragma once

#include <span>

#include "platform/Types.h"
#include "records/FoundItem.h"

// The DateTimeOriginal of the EXIF block tiff (a TIFF header and its IFDs, as an APP1 segment
// holds them after "Exif\0\0", or a TIFF or camera raw file's first bytes), falling back to
// the IFD0 DateTime; zero when neither is there or they do not parse. Offsets outside tiff are
// ignored.
[[nodiscard]] FoundTime ExifDateTaken(std::span<const u8> tiff);
