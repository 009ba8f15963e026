// The FAT boot sector: BPB decoding, geometry checks and cluster-to-sector arithmetic. All
// derived arithmetic is 64-bit; no BPB value can make it wrap.
#include "fat/FatBootSector.h"

#include <cstring>
#include <limits>

#include "fat/FatLayout.h"
#include "platform/ByteOrder.h"

namespace
{
using namespace FatLayout;

// Reads BPB fields by their sector-0 offset from a view that starts at the BPB.
class BpbReader
{
public:
    explicit BpbReader(const u8* bpb) : m_view(bpb, kBpbSpan) {}

    [[nodiscard]] u8 U8(u32 offset) const { return m_view.U8(offset - kBpbOffset); }
    [[nodiscard]] u16 U16(u32 offset) const { return m_view.U16(offset - kBpbOffset); }
    [[nodiscard]] u32 U32(u32 offset) const { return m_view.U32(offset - kBpbOffset); }
    void Bytes(void* out, u32 offset, u32 size) const
    {
        ByteView field = m_view.Sub(offset - kBpbOffset, size);
        std::memset(out, 0, size);
        std::memcpy(out, field.Data(), field.Size());
    }

private:
    ByteView m_view;
};

bool IsPowerOfTwo(u32 v)
{
    return v != 0 && (v & (v - 1)) == 0;
}
} // namespace

FatBootSector::FatBootSector()
{
    std::memset(&m_bpb, 0, sizeof m_bpb);
}

bool FatBootSector::Parse(const u8* bpb)
{
    m_valid = 0;
    if (bpb == nullptr)
        return false;
    std::memset(&m_bpb, 0, sizeof m_bpb);

    const BpbReader in(bpb);
    m_bpb.bytesPerSector = in.U16(kBytsPerSec);
    m_bpb.sectorsPerCluster = in.U8(kSecPerClus);
    m_bpb.reservedSectors = in.U16(kRsvdSecCnt);
    m_bpb.fatCount = in.U8(kNumFATs);
    m_bpb.rootEntryCount = in.U16(kRootEntCnt);
    m_bpb.totalSectors16 = in.U16(kTotSec16);
    m_bpb.media = in.U8(kMedia);
    m_bpb.fatSectors16 = in.U16(kFATSz16);
    m_bpb.sectorsPerTrack = in.U16(kSecPerTrk);
    m_bpb.headCount = in.U16(kNumHeads);
    m_bpb.hiddenSectors = in.U32(kHiddSec);
    m_bpb.totalSectors32 = in.U32(kTotSec32);

    FatBpbExt32& e32 = m_bpb.ext.fat32;
    e32.fatSectors32 = in.U32(kFATSz32);
    e32.extFlags = in.U16(kExtFlags);
    e32.fsVersion = in.U16(kFSVer);
    e32.rootCluster = in.U32(kRootClus);
    e32.fsInfoSector = in.U16(kFSInfo);
    e32.backupBootSector = in.U16(kBkBootSec);
    in.Bytes(e32.reserved, kReserved32, kReservedSize);
    e32.driveNumber = in.U8(kDrvNum32);
    e32.reserved1 = in.U8(kReserved1_32);
    e32.bootSignature = in.U8(kBootSig32);
    e32.volumeId = in.U32(kVolID32);
    in.Bytes(e32.volumeLabel, kVolLab32, kVolLabSize);
    in.Bytes(e32.fsTypeText, kFilSysType32, kFilSysTypeSize);

    const bool ok = ComputeGeometry();
    if (m_fatType == kFatType32)
        return ok;

    // FAT12 and FAT16 keep a shorter extension at offset 36; it replaces the FAT32 one.
    std::memset(&m_bpb.ext, 0, sizeof m_bpb.ext);
    FatBpbExt16& e16 = m_bpb.ext.fat16;
    e16.driveNumber = in.U8(kDrvNum16);
    e16.reserved1 = in.U8(kReserved1_16);
    e16.bootSignature = in.U8(kBootSig16);
    e16.volumeId = in.U32(kVolID16);
    in.Bytes(e16.volumeLabel, kVolLab16, kVolLabSize);
    in.Bytes(e16.fsTypeText, kFilSysType16, kFilSysTypeSize);
    return ok;
}

bool FatBootSector::ComputeGeometry()
{
    m_valid = 0;
    m_fatType = kFatTypeNone;
    m_firstFatSector = m_fatSectors = m_rootDirSector = ~0ull;
    m_firstDataSector = m_clusterBaseSector = ~0ull;
    const u64 bytesPerSector = m_bpb.bytesPerSector;
    const u64 sectorsPerCluster = m_bpb.sectorsPerCluster;

    // A sector is 512, 1024, ... bytes. Zero would be a divisor below, and a sector larger
    // than 4096 bytes would not fit the FAT window.
    if ((bytesPerSector & (kMinSectorSize - 1)) != 0)
        return false;
    if (bytesPerSector == 0 || bytesPerSector > kMaxSectorSize)
        return false;
    if (!IsPowerOfTwo(m_bpb.sectorsPerCluster))
        return false;
    if (m_bpb.totalSectors16 == 0 && m_bpb.totalSectors32 == 0)
        return false;

    const u64 fatSectors =
        m_bpb.fatSectors16 != 0 ? m_bpb.fatSectors16 : m_bpb.ext.fat32.fatSectors32;
    const u64 fatArea = fatSectors * m_bpb.fatCount; // at most 2^32 * 255: no overflow in 64 bits
    const u64 rootDirSectors =
        (static_cast<u64>(m_bpb.rootEntryCount) * kDirEntrySize + bytesPerSector - 1) /
        bytesPerSector;
    const u64 total = m_bpb.totalSectors16 != 0 ? m_bpb.totalSectors16 : m_bpb.totalSectors32;
    const u64 overhead = m_bpb.reservedSectors + fatArea + rootDirSectors;
    if (total <= overhead)
        return false;

    const u64 clusters = (total - overhead) / sectorsPerCluster;
    if (clusters <= kFat12MaxClusters)
        m_fatType = kFatType12;
    else if (clusters <= kFat16MaxClusters)
        m_fatType = kFatType16;
    else
        m_fatType = kFatType32;

    m_firstFatSector = m_bpb.reservedSectors;
    m_fatSectors = fatSectors;
    if (m_fatType == kFatType32)
    {
        m_firstDataSector = m_clusterBaseSector = fatArea + m_bpb.reservedSectors;
        // A root cluster below 2 names no cluster: there is no root sector to give.
        const u64 rootCluster = m_bpb.ext.fat32.rootCluster;
        m_rootDirSector =
            rootCluster >= kFirstCluster
                ? (rootCluster - kFirstCluster) * sectorsPerCluster + m_clusterBaseSector
                : ~0ull;
    }
    else
    {
        m_rootDirSector = fatArea + m_bpb.reservedSectors;
        m_firstDataSector = m_clusterBaseSector = m_rootDirSector + rootDirSectors;
    }
    m_valid = 1;
    return true;
}

u32 FatBootSector::GetBytesPerSector() const
{
    return m_valid ? m_bpb.bytesPerSector : 0xFFFFFFFFu;
}

u64 FatBootSector::GetTotalSectors() const
{
    if (!m_valid)
        return ~0ull;
    return m_bpb.totalSectors16 != 0 ? m_bpb.totalSectors16 : m_bpb.totalSectors32;
}

bool FatBootSector::ClusterToSector(s64* value) const
{
    if (!m_valid || value == nullptr || *value < static_cast<s64>(kFirstCluster))
        return false;
    // The base is below 2^41 and sectorsPerCluster at most 128; refuse a cluster whose
    // sector number would not fit a signed 64-bit value.
    const u64 index = static_cast<u64>(*value) - kFirstCluster;
    const u64 room = static_cast<u64>(std::numeric_limits<s64>::max()) - m_clusterBaseSector;
    if (index > room / m_bpb.sectorsPerCluster)
        return false;
    *value = static_cast<s64>(index * m_bpb.sectorsPerCluster + m_clusterBaseSector);
    return true;
}

bool FatBootSector::GetRootDir(u64* firstSector, u32* countOrCluster) const
{
    if (!m_valid)
        return false;
    if (firstSector)
        *firstSector = m_rootDirSector;
    if (countOrCluster)
        *countOrCluster =
            m_fatType == kFatType32 ? m_bpb.ext.fat32.rootCluster : m_bpb.rootEntryCount;
    return true;
}

bool FatBootSector::GetFatLocation(u64* firstSector, u32* sectorsPerFat, u32* fatCount) const
{
    if (!m_valid)
        return false;
    if (firstSector)
        *firstSector = m_firstFatSector;
    if (sectorsPerFat)
        *sectorsPerFat = static_cast<u32>(m_fatSectors); // from a 16- or 32-bit field
    if (fatCount)
        *fatCount = m_bpb.fatCount;
    return true;
}

u32 FatBootSector::GetFatType(u32* fatType) const
{
    if (fatType)
        *fatType = m_fatType;
    return m_valid;
}

u64 FatBootSector::GetClusterLimit(bool limitToVolume) const
{
    const u64 bytesPerSector = m_bpb.bytesPerSector;
    u64 limit;
    if (m_fatType == kFatType12)
        limit = static_cast<u64>(m_bpb.fatSectors16) * bytesPerSector * 8 / 12;
    else if (m_fatType == kFatType16)
        limit = static_cast<u64>(m_bpb.fatSectors16) * bytesPerSector / 2;
    else
        limit = static_cast<u64>(m_bpb.ext.fat32.fatSectors32) * bytesPerSector / 4;

    // Lowered to the highest cluster whose first sector lies inside the volume. Cluster c
    // starts at (c - 2) * sectorsPerCluster + base, so that cluster is found by division
    // rather than by stepping down one value at a time. Values below 2 have no sector and
    // end the lowering where they stand.
    if (!limitToVolume || !m_valid || limit < kFirstCluster)
        return limit;
    const u64 total = GetTotalSectors();
    if (total <= m_clusterBaseSector)
        return kFirstCluster - 1;
    const u64 highest = (total - m_clusterBaseSector - 1) / m_bpb.sectorsPerCluster + kFirstCluster;
    return limit < highest ? limit : highest;
}
