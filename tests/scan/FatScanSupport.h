// Opening FAT test volumes the way the search start does, and recording scan reports.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalog/Catalog.h"
#include "disk/Mem_RW.h"
#include "fat/FatBootSector.h"
#include "fat/FatTable.h"
#include "platform/EventSink.h"
#include "scan/fat/FatEngine.h"
#include "scan/fat/FatVolumeState.h"
#include "support/RecordingSink.h"
#include "support/TestImages.h"

// Whole image file as bytes (a plain block read: test volumes run to tens of MiB).
inline std::vector<u8> ReadImage(const std::string& path)
{
    return ReadWholeFile(path);
}

// Opens a FAT volume entry over a reader (or image bytes) through the engine's own Open: reader,
// boot sector, FAT table and geometry, as the search start fills them. Returns false when the image
// is no usable FAT volume.
inline bool OpenFatVolume(std::unique_ptr<CDirectRW> reader, VolumeEntry& volume)
{
    volume.name = "C:";
    return FatEngine().OpenOn(volume, std::move(reader));
}

inline bool OpenFatVolume(std::vector<u8> image, VolumeEntry& volume)
{
    return OpenFatVolume(std::make_unique<CMem_RW>(std::move(image)), volume);
}
