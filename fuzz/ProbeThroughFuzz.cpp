// Fuzzes the probe of volumes that only a read callback reaches (Expert Witness media): the
// first eight input bytes give the volume's stated length, the rest are its first bytes, so
// that NTFS boot sectors may place their MFT anywhere in a volume far larger than the input.
// Bits 40 to 55 of that word name a 512-byte sector from which on as many sectors as bits 56 to
// 63 give fail to read (a damaged image chunk): the probe reads around them, and takes the
// backup boot sector when sector 0 is among them.
// The probe must return one of its statuses and name only FAT, exFAT or NTFS file systems.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/ByteOrder.h"
#include "platform/VolumeProbe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 8)
        return 0;
    // At most 1 TiB: the probe's copy is sparse, so only the copied ranges cost memory.
    const u64 length = LoadLe64(data) & ((u64{1} << 40) - 1);
    const u64 badFrom = ((LoadLe64(data) >> 40) & 0xFFFF) * 512;
    const u64 badTo = badFrom + (LoadLe64(data) >> 56) * 512;
    const std::uint8_t* volume = data + 8;
    const std::size_t volumeSize = size - 8;
    DiskReadFn read =
        [volume, volumeSize, length, badFrom, badTo](u64 offset, void* buffer, u32 count)
    {
        if (offset > length || count > length - offset ||
            (offset < badTo && offset + count > badFrom))
            return false;
        // Bytes past the input read as zeros, as the unwritten parts of a disk would.
        std::memset(buffer, 0, count);
        if (offset < volumeSize)
            std::memcpy(buffer, volume + offset,
                        static_cast<std::size_t>(std::min<u64>(count, volumeSize - offset)));
        return true;
    };
    VolumeInfo info;
    const u32 status = ProbeVolumeThrough(read, 0, length, &info);
    if (status != 0 && status != 5 && status != 8)
        std::abort();
    const std::string& fs = info.fileSystem;
    if (!fs.empty() && fs != "FAT" && fs != "FAT12" && fs != "FAT16" && fs != "FAT32" &&
        fs != "exFAT" && fs != "NTFS")
        std::abort();
    return 0;
}
