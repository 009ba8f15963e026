// Fuzzes bootinfo's decoding of sector 0 and both of its output forms: any bytes must yield
// either a clear failure or a geometry that the FAT checks accepted, never a crash.
#include <cstdint>
#include <cstdlib>

#include "cli/BootInfo.h"
#include "disk/Mem_RW.h"
#include "platform/Status.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CMem_RW reader(data, size);
    BootInfo info;
    u32 status = DecodeBootInfo(reader, SourceArg{"C:", "fuzz.img"}, &info);
    if ((status == kOk) != info.error.empty() || status != info.status)
        std::abort();
    if (status == kOk)
    {
        // An accepted geometry has a known type and a power-of-two cluster size.
        if (info.fatType < 1 || info.fatType > 3 || info.sectorsPerCluster == 0 ||
            (info.sectorsPerCluster & (info.sectorsPerCluster - 1)) != 0)
            std::abort();
        (void)FormatBootInfoText(info);
    }
    (void)FormatBootInfoJson({info});
    return 0;
}
