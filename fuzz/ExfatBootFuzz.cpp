// Fuzzes the exFAT boot region parser: the input as the volume's first sectors, and once more
// with its first 512 bytes sealed into a region with a matching checksum and a backup copy, so
// that the geometry checks are reached; checks the geometry it accepts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "exfat/ExfatBoot.h"

namespace
{
void Check(const std::vector<u8>& bytes)
{
    ExfatBoot boot;
    bool fromBackup = false;
    if (ParseExfatBootRegion(ByteView(bytes.data(), bytes.size()), &boot, &fromBackup) !=
        ExfatBootResult::kValid)
        return;
    if (boot.bytesPerSectorShift < 9 || boot.bytesPerSectorShift > 12 ||
        boot.bytesPerSectorShift + boot.sectorsPerClusterShift > 25)
        std::abort();
    if (boot.rootCluster < 2 || boot.rootCluster > boot.HighestCluster())
        std::abort();
    // The heap's last cluster lies inside the volume.
    u64 last = 0;
    if (!boot.ClusterOffset(boot.HighestCluster(), &last) ||
        (last + boot.ClusterBytes()) >> boot.bytesPerSectorShift > boot.volumeLength)
        std::abort();
    u64 none = 0;
    if (boot.ClusterOffset(1, &none) || boot.ClusterOffset(u64{boot.HighestCluster()} + 1, &none))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<u8> raw(data, data + size);
    Check(raw);

    // Sealed: sector 0 from the input at its own sector size, the checksum in sector 11, the
    // region copied to sector 12.
    u8 sector[512] = {};
    if (size > 0)
        std::memcpy(sector, data, size < sizeof sector ? size : sizeof sector);
    const u32 shift = sector[0x6C] >= 9 && sector[0x6C] <= 12 ? sector[0x6C] : 9;
    const std::size_t bps = std::size_t{1} << shift;
    std::vector<u8> sealed(24 * bps, 0);
    std::memcpy(sealed.data(), sector, sizeof sector);
    const u32 sum =
        ExfatBootChecksum(ByteView(sealed.data(), sealed.size()), static_cast<u32>(bps));
    for (std::size_t i = 0; i < bps; i += 4)
        StoreLe32(&sealed[11 * bps + i], sum);
    if (size > 0 && (data[size - 1] & 1) != 0)
        std::memset(sealed.data(), 0, 16); // damage the main region: the backup must serve
    std::memcpy(&sealed[12 * bps], sector, sizeof sector);
    std::memcpy(&sealed[23 * bps], &sealed[11 * bps], bps);
    Check(sealed);
    return 0;
}
