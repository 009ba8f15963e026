// The exFAT boot region: boot sector fields, their cross-checks, and the region checksum.
#include "exfat/ExfatBoot.h"

#include <cstring>

#include "exfat/ExfatLayout.h"

using namespace ExfatLayout;

ExfatBootResult DecodeExfatBootSector(ByteView sector, ExfatBoot* out)
{
    if (!sector.Has(0, 512))
        return ExfatBootResult::kShort;
    const u8* s = sector.Data();
    if (std::memcmp(s + kFileSystemName, "EXFAT   ", 8) != 0 ||
        sector.U16(kBootSignature) != 0xAA55)
        return ExfatBootResult::kNotExfat;
    // Where FAT keeps its BIOS parameter block exFAT keeps zeros, so no FAT driver mounts it.
    for (std::size_t i = 0; i < kMustBeZeroLength; ++i)
        if (s[kMustBeZero + i] != 0)
            return ExfatBootResult::kNotExfat;

    ExfatBoot b;
    b.volumeLength = sector.U64(kVolumeLength);
    b.fatOffset = sector.U32(kFatOffset);
    b.fatLength = sector.U32(kFatLength);
    b.clusterHeapOffset = sector.U32(kClusterHeapOffset);
    b.clusterCount = sector.U32(kClusterCount);
    b.rootCluster = sector.U32(kRootCluster);
    b.serialNumber = sector.U32(kSerialNumber);
    b.revision = sector.U16(kRevision);
    b.volumeFlags = sector.U16(kVolumeFlags);
    b.bytesPerSectorShift = sector.U8(kBytesPerSectorShift);
    b.sectorsPerClusterShift = sector.U8(kSectorsPerClusterShift);
    b.numberOfFats = sector.U8(kNumberOfFats);

    // Sectors of 512 .. 4096 bytes, clusters of at most 32 MiB.
    if (b.bytesPerSectorShift < kMinSectorShift || b.bytesPerSectorShift > kMaxSectorShift ||
        b.bytesPerSectorShift + b.sectorsPerClusterShift > kMaxClusterShift)
        return ExfatBootResult::kBadGeometry;
    if (b.numberOfFats != 1 && b.numberOfFats != 2)
        return ExfatBootResult::kBadGeometry;
    if (b.clusterCount == 0 || b.clusterCount > kMaxClusterCount)
        return ExfatBootResult::kBadGeometry;
    // The FAT lies behind both boot regions and holds an entry for every cluster (and the two
    // reserved ones); the FATs end before the heap starts; the heap ends inside the volume.
    const u64 bps = b.BytesPerSector();
    const u64 fatNeeded = ((static_cast<u64>(b.clusterCount) + 2) * kFatEntryBytes + bps - 1) / bps;
    if (b.fatOffset < kMinFatOffset || b.fatLength < fatNeeded)
        return ExfatBootResult::kBadGeometry;
    if (static_cast<u64>(b.fatOffset) + static_cast<u64>(b.fatLength) * b.numberOfFats >
        b.clusterHeapOffset)
        return ExfatBootResult::kBadGeometry;
    const u64 heapSectors = static_cast<u64>(b.clusterCount) << b.sectorsPerClusterShift;
    if (b.volumeLength < b.clusterHeapOffset || b.volumeLength - b.clusterHeapOffset < heapSectors)
        return ExfatBootResult::kBadGeometry;
    if (b.rootCluster < kFirstCluster || b.rootCluster > b.HighestCluster())
        return ExfatBootResult::kBadGeometry;
    *out = b;
    return ExfatBootResult::kValid;
}

u32 ExfatBootChecksum(ByteView region, u32 bytesPerSector)
{
    const std::size_t length = static_cast<std::size_t>(bytesPerSector) * kChecksumSector;
    if (!region.Has(0, length))
        return 0;
    const u8* p = region.Data();
    u32 sum = 0;
    for (std::size_t i = 0; i < length; ++i)
    {
        // VolumeFlags and PercentInUse change while the volume is in use.
        if (i == kVolumeFlags || i == kVolumeFlags + 1 || i == kPercentInUse)
            continue;
        sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + p[i];
    }
    return sum;
}

ExfatBootResult CheckExfatBootRegion(ByteView region, ExfatBoot* out)
{
    ExfatBoot b;
    const ExfatBootResult decoded = DecodeExfatBootSector(region, &b);
    if (decoded != ExfatBootResult::kValid)
        return decoded;
    const u32 bps = b.BytesPerSector();
    if (!region.Has(0, static_cast<std::size_t>(bps) * kBootRegionSectors))
        return ExfatBootResult::kShort;
    // Sector 11 repeats the checksum in every 4 bytes.
    const u32 sum = ExfatBootChecksum(region, bps);
    const std::size_t at = static_cast<std::size_t>(bps) * kChecksumSector;
    for (std::size_t i = 0; i < bps; i += 4)
        if (region.U32(at + i) != sum)
            return ExfatBootResult::kBadChecksum;
    *out = b;
    return ExfatBootResult::kValid;
}

ExfatBootResult ParseExfatBootRegion(ByteView volumeStart, ExfatBoot* out, bool* fromBackup)
{
    *fromBackup = false;
    const ExfatBootResult main = CheckExfatBootRegion(volumeStart, out);
    if (main == ExfatBootResult::kValid)
        return main;
    // The backup region starts at sector 12; the sector size is the backup's own, which must
    // agree with where it was found.
    for (u32 shift = kMinSectorShift; shift <= kMaxSectorShift; ++shift)
    {
        const std::size_t at = static_cast<std::size_t>(kBackupRegionSector) << shift;
        if (!volumeStart.Has(at, 512))
            break;
        ExfatBoot backup;
        if (CheckExfatBootRegion(volumeStart.Sub(at, volumeStart.Size() - at), &backup) ==
                ExfatBootResult::kValid &&
            backup.bytesPerSectorShift == shift)
        {
            *out = backup;
            *fromBackup = true;
            return ExfatBootResult::kValid;
        }
    }
    return main;
}
