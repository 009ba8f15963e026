// Fuzzes the search for lost volumes. The input's first 16 bytes give the disk's size in sectors
// (bounded to 8 GiB), a range its table is said to take, and which reads fail; the rest, cut
// into 512-byte sectors, is laid over the disk again and again, so that every place the search
// looks at (and each backup beside it) sees some of it. Every volume found must lie inside the
// disk, clear of the range taken and of every other volume, and the caps must hold.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/LostVolumes.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

constexpr u64 kSector = 512;
constexpr u64 kMaxSectors = 4096; // a small read budget keeps each run short
constexpr u32 kMaxVolumes = 8;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 16 + kSector || size > 64 * 1024)
        return 0;
    const u64 diskSectors = LoadLe32(data) % (u64{1} << 24);
    const DiskRange taken{u64{LoadLe32(data + 4)} % (diskSectors + 1) * kSector,
                          u64{LoadLe32(data + 8)} * kSector};
    const u32 failEvery = LoadLe32(data + 12); // 0: no read fails
    const std::uint8_t* pattern = data + 16;
    const u64 patternSectors = (size - 16) / kSector;
    const u64 diskSize = diskSectors * kSector + (data[3] & 0x1F); // a part-sector tail too
    u64 reads = 0;
    DiskReadFn read = [&](u64 offset, void* buffer, u32 length)
    {
        ++reads;
        if (offset > diskSize || length > diskSize - offset || offset % kSector != 0 ||
            length % kSector != 0)
            return false;
        if (failEvery != 0 && reads % failEvery == 0)
            return false;
        auto* out = static_cast<std::uint8_t*>(buffer);
        for (u32 at = 0; at < length; at += kSector)
            std::memcpy(out + at,
                        pattern + (offset / kSector + at / kSector) % patternSectors * kSector,
                        kSector);
        return true;
    };
    const std::vector<DiskRange> takenList = {taken};
    const LostVolumeSearch s = FindLostVolumes(read, diskSize, takenList, kMaxSectors, kMaxVolumes);
    Check(s.sectorsRead <= kMaxSectors);
    Check(reads <= s.sectorsRead);
    Check(s.volumes.size() <= kMaxVolumes);
    for (std::size_t i = 0; i < s.volumes.size(); ++i)
    {
        const LostVolume& v = s.volumes[i];
        Check(v.length != 0 && v.offset % kSector == 0);
        Check(v.offset < diskSize && v.length <= diskSize - v.offset);
        Check(v.offset >= taken.offset + taken.length || taken.offset >= v.offset + v.length ||
              taken.length == 0);
        if (i > 0)
            Check(s.volumes[i - 1].offset + s.volumes[i - 1].length <= v.offset);
    }
    return 0;
}
