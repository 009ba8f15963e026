// The NTFS deep search's pass over the whole volume: FILE records outside the current MFT and
// INDX blocks wherever they lie, each read from a copy and kept as what it says.
#include "scan/ntfs/NtfsDeep.h"

#include <algorithm>
#include <cstring>

#include "catalog/Catalog.h"
#include "ntfs/MftRecordLayout.h"
#include "ntfs/Ntfs.h"
#include "ntfs/NtfsBootSector.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"
#include "scan/DeepPass.h"
#include "scan/ntfs/NtfsEngine.h"
#include "scan/ntfs/NtfsVolumeState.h"

namespace
{
constexpr u32 kIndexSignature = 0x58444E49; // "INDX" read as a little-endian u32
constexpr u32 kDefaultIndexBytes = 4096;
constexpr u32 kUnit = CNtfs::kReaderSectorSize;

// The records of the current MFT: the byte stretches of its extents on the reader, with the
// record number each begins at.
struct MftStretch
{
    u64 start = 0;
    u64 end = 0;
    u64 firstRecordByte = 0; // byte of the MFT's data at start
};

class Harvester
{
public:
    Harvester(const CNtfs& ntfs, NtfsDeepHarvest* harvest) : m_ntfs(ntfs), m_harvest(harvest)
    {
        const u64 clusterBytes = ntfs.ClusterBytes();
        for (const NtfsExtent& e : ntfs.MftExtents())
        {
            if (e.hole || e.lcn > ~0ull / clusterBytes || e.length > ~0ull / clusterBytes ||
                e.vcn > ~0ull / clusterBytes ||
                e.lcn * clusterBytes > ~0ull - e.length * clusterBytes)
                continue;
            m_mft.push_back(MftStretch{e.lcn * clusterBytes, (e.lcn + e.length) * clusterBytes,
                                       e.vcn * clusterBytes});
        }
        NtfsGeometry geometry;
        if (DecodeNtfsGeometry(ntfs.Boot(), &geometry) == kNtfsOk &&
            geometry.indexBlockBytes != 0 && geometry.indexBlockBytes <= CNtfs::kMaxRecordBytes)
            m_indexBytes = static_cast<u32>(geometry.indexBlockBytes);
        m_indexAlign = static_cast<u32>(std::clamp<u64>(std::min<u64>(clusterBytes, m_indexBytes),
                                                        kUnit, CNtfs::kMaxRecordBytes));
    }

    [[nodiscard]] u32 Lookahead() const
    {
        return std::max({m_ntfs.GetRecordSize(), m_indexBytes, u32{4096}});
    }

    void Visit(const DeepBlock& block)
    {
        for (std::size_t at = 0; at < block.own; at += kUnit)
        {
            const u8* bytes = block.bytes.data() + at;
            const std::size_t room = block.bytes.size() - at;
            if (room < 4)
                break;
            const u32 magic = LoadLe32(bytes);
            if (magic == ntfs::kFileSignature && !InCurrentMft(block.offset + at))
                Record(bytes, room, block.offset + at);
            else if (magic == kIndexSignature && (block.offset + at) % m_indexAlign == 0)
                Index(bytes, room);
        }
    }

private:
    [[nodiscard]] bool InCurrentMft(u64 offset) const
    {
        const u64 recordBytes = m_ntfs.GetRecordSize();
        for (const MftStretch& s : m_mft)
            if (offset >= s.start && offset < s.end)
                return (s.firstRecordByte + (offset - s.start)) / recordBytes <
                       m_ntfs.RecordCount();
        return false;
    }

    void Record(const u8* bytes, std::size_t room, u64 offset)
    {
        u32 size = m_ntfs.GetRecordSize();
        if (const u32 claimed = StrayRecordBytes(bytes, room); claimed != 0)
            size = claimed;
        if (size > room)
            return;
        m_copy.assign(bytes, bytes + size);
        StrayRecord record;
        if (ParseStrayRecord(m_copy.data(), m_copy.size(), &record) == kNtfsOk &&
            record.number >= 16)
            m_harvest->AddRecord(std::move(record), offset);
    }

    void Index(const u8* bytes, std::size_t room)
    {
        m_copy.assign(bytes, bytes + std::min<std::size_t>(room, m_indexBytes));
        IndexRecordInfo info;
        (void)ReadIndexRecord(m_copy.data(), m_copy.size(), &info, &m_harvest->names);
    }

    const CNtfs& m_ntfs;
    NtfsDeepHarvest* m_harvest;
    std::vector<MftStretch> m_mft;
    u32 m_indexBytes = kDefaultIndexBytes;
    u32 m_indexAlign = kDefaultIndexBytes;
    std::vector<u8> m_copy; // the structure being read: parsers patch fixups in place
};
} // namespace

bool HarvestNtfsVolume(CCatalog& catalog, VolumeEntry& entry, NtfsDeepHarvest* harvest)
{
    CNtfs* ntfs = NtfsOf(entry);
    if (ntfs == nullptr || ntfs->Reader() == nullptr || ntfs->ClusterBytes() == 0)
        return false;
    const CNtfs::BootParams& boot = ntfs->Boot();
    Harvester harvester(*ntfs, harvest);
    DeepRange range;
    range.start = 0;
    range.end = boot.totalSectors > ~0ull / std::max<u64>(boot.bytesPerSector, 1)
                    ? ~0ull
                    : boot.totalSectors * boot.bytesPerSector;
    range.unit = kUnit;
    range.lookahead = harvester.Lookahead();
    return RunDeepPass(
        catalog, entry, ntfs->Reader(), range,
        [&harvester](const DeepBlock& block) { harvester.Visit(block); },
        [harvest] { return harvest->records.size() + harvest->names.size(); });
}

u32 CNtfsEngine::DeepSearch(CCatalog& catalog, VolumeEntry& entry) const
{
    NtfsDeepHarvest harvest;
    // A stopped pass adds what it met so far.
    (void)HarvestNtfsVolume(catalog, entry, &harvest);
    AddNtfsDeepFinds(catalog, entry, harvest);
    return 0;
}
