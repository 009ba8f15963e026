// The NTFS boot sector: the parameter block copied field by field, and the sizes decoded from it
// in 64-bit arithmetic.
#include "ntfs/NtfsBootSector.h"

#include "ntfs/BootSectorLayout.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"

using namespace ntfs;

namespace
{
constexpr u32 kMinSectorBytes = 512;
constexpr u32 kMaxClusterShift = 12;   // 0xF4: 2^12 sectors, the largest cluster encoded so
constexpr u32 kMinStructureShift = 8;  // 256 bytes: the smallest record a volume may have
constexpr u32 kMaxStructureShift = 31; // sizes are held in 32 bits by the file system itself

constexpr bool IsPowerOfTwo(u64 v)
{
    return v != 0 && (v & (v - 1)) == 0;
}
} // namespace

void DecodeNtfsBootSector(const u8* bytes, std::size_t size, NtfsBootParams* out)
{
    const ByteView b(bytes, bytes ? size : 0);
    NtfsBootParams& p = *out;
    p.bytesPerSector = b.U16(kBootBytesPerSector);
    p.sectorsPerCluster = b.U8(kBootSectorsPerCluster);
    p.reservedSectors = b.U16(kBootReservedSectors);
    p.b10 = b.U8(kBootUnused10);
    p.b11 = b.U8(kBootUnused11);
    p.b12 = b.U8(kBootUnused12);
    p.w13 = b.U16(kBootUnused13);
    p.media = b.U8(kBootMedia);
    p.w16 = b.U16(kBootUnused16);
    p.sectorsPerTrack = b.U16(kBootSectorsPerTrack);
    p.heads = b.U16(kBootHeads);
    p.hiddenSectors = b.U32(kBootHiddenSectors);
    p.d20 = b.U32(kBootUnused20);
    p.d24 = b.U32(kBootUnused24);
    p.totalSectors = b.U64(kBootTotalSectors);
    p.mftCluster = b.U64(kBootMftCluster);
    p.mftMirrCluster = b.U64(kBootMftMirrCluster);
    p.clustersPerRecord = b.U32(kBootClustersPerRecord);
    p.clustersPerIndex = b.U32(kBootClustersPerIndex);
    p.serial = b.U64(kBootSerial);
    p.checksum = b.U32(kBootChecksum);
}

u32 NtfsSectorsPerCluster(u8 encoded)
{
    if (encoded <= 0x80)
        return IsPowerOfTwo(encoded) ? encoded : 0;
    // Clusters of more than 128 sectors store the negated shift.
    const u32 shift = 256u - encoded;
    return shift <= kMaxClusterShift ? 1u << shift : 0;
}

u64 NtfsStructureBytes(u8 encoded, u64 clusterBytes)
{
    const s8 value = static_cast<s8>(encoded);
    u64 bytes = 0;
    if (value > 0)
    {
        // A cluster count; clusters are below 2^28 bytes, so the product cannot wrap.
        bytes = static_cast<u64>(value) * clusterBytes;
    }
    else if (value < 0)
    {
        const u32 shift = static_cast<u32>(-static_cast<s32>(value));
        bytes = shift <= kMaxStructureShift ? u64{1} << shift : 0;
    }
    if (!IsPowerOfTwo(bytes) || bytes < (u64{1} << kMinStructureShift) ||
        bytes > (u64{1} << kMaxStructureShift))
        return 0;
    return bytes;
}

u32 DecodeNtfsGeometry(const NtfsBootParams& params, NtfsGeometry* out)
{
    *out = NtfsGeometry{};
    // Sector numbers on the device count 512-byte units; a sector size of 0 measures nothing.
    if (params.bytesPerSector == 0 || params.bytesPerSector % kMinSectorBytes != 0)
        return kNtfsCorrupt;
    const u32 sectors = NtfsSectorsPerCluster(params.sectorsPerCluster);
    if (sectors == 0)
        return kNtfsCorrupt;
    const u64 clusterBytes = u64{sectors} * params.bytesPerSector;
    const u64 recordBytes =
        NtfsStructureBytes(static_cast<u8>(params.clustersPerRecord), clusterBytes);
    if (recordBytes == 0)
        return kNtfsCorrupt;
    out->bytesPerSector = params.bytesPerSector;
    out->sectorsPerCluster = sectors;
    out->clusterBytes = clusterBytes;
    out->recordBytes = recordBytes;
    // The engine reads no index blocks: a bad encoding there refuses nothing.
    out->indexBlockBytes =
        NtfsStructureBytes(static_cast<u8>(params.clustersPerIndex), clusterBytes);
    return kNtfsOk;
}
