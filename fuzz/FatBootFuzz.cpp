// Fuzzes FatBootSector::Parse over an arbitrary sector 0 and checks the geometry it accepts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "fat/FatBootSector.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    u8 sector[512] = {};
    if (size != 0)
        std::memcpy(sector, data, size < sizeof sector ? size : sizeof sector);
    FatBootSector boot;
    const bool ok = boot.Parse(sector + 11);

    u32 type = 0;
    if (boot.GetFatType(&type) != (ok ? 1u : 0u))
        std::abort();
    const u64 fatLimit = boot.GetClusterLimit(false);
    const u64 limit = boot.GetClusterLimit(true);
    u64 root = 0;
    u32 rootValue = 0;
    u64 fatFirst = 0;
    u32 fatSize = 0;
    u32 fatCount = 0;
    if (boot.GetRootDir(&root, &rootValue) != ok ||
        boot.GetFatLocation(&fatFirst, &fatSize, &fatCount) != ok)
        std::abort();
    if (!ok)
        return 0;

    if (type != kFatType12 && type != kFatType16 && type != kFatType32)
        std::abort();
    const u32 bps = boot.GetBytesPerSector();
    if (bps < 512 || bps > 4096 || bps % 512 != 0)
        std::abort();
    const u64 total = boot.GetTotalSectors();
    s64 base = 2;
    if (!boot.ClusterToSector(&base) || static_cast<u64>(base) >= total)
        std::abort();
    // The volume-bound limit never grows, and its cluster starts inside the volume.
    if (limit > fatLimit)
        std::abort();
    if (limit >= 2)
    {
        s64 last = static_cast<s64>(limit);
        if (!boot.ClusterToSector(&last) || static_cast<u64>(last) >= total)
            std::abort();
        s64 next = static_cast<s64>(limit) + 1;
        if (limit < fatLimit && boot.ClusterToSector(&next) && static_cast<u64>(next) < total)
            std::abort();
    }
    for (s64 c : {s64{-1}, s64{0}, s64{1}, s64{0x0FFFFFFF}, s64{0x7FFFFFFFFFFFFFFF}})
    {
        s64 v = c;
        (void)boot.ClusterToSector(&v);
    }
    return 0;
}
