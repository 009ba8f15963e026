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
#include "support/RecordingSink.h"
#include "support/TestImages.h"

// Whole image file as bytes (a plain block read: test volumes run to tens of MiB).
inline std::vector<u8> ReadImage(const std::string& path)
{
    return ReadWholeFile(path);
}

// Builds a FAT volume entry over image bytes: reader, boot sector, FAT table and geometry, as
// the search start fills them. Returns false when the image is no usable FAT volume.
inline bool OpenFatVolume(std::vector<u8> image, VolumeEntry& volume, u32 readerSectorSize = 512)
{
    if (image.size() < 512)
        return false;
    std::vector<u8> sector0(image.begin(), image.begin() + 512);
    volume.name = "C:";
    volume.reader = std::make_unique<CMem_RW>(std::move(image), readerSectorSize);
    volume.fatBoot = std::make_unique<FatBootSector>();
    if (!volume.fatBoot->Parse(sector0.data() + 11))
        return false;
    u32 type = kFsNone;
    (void)volume.fatBoot->GetFatType(&type);
    volume.fsType = type;
    volume.engine = &FatEngine();
    volume.fatTable = std::make_unique<FatTable>();
    if (!volume.fatTable->Attach(volume.reader.get(), *volume.fatBoot))
        return false;
    volume.sectorsPerCluster = volume.fatBoot->GetBpb()->sectorsPerCluster;
    volume.clusterCount = static_cast<u32>(volume.fatBoot->GetClusterLimit(true));
    volume.bytesPerSector = volume.fatBoot->GetBytesPerSector();
    return true;
}
