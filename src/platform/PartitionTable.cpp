// Partition tables of whole disks: MBR with extended boot record chains, and GPT.
#include "platform/PartitionTable.h"

#include <cstring>
#include <limits>
#include <memory>
#include <set>

#include "platform/ByteOrder.h"
#include "platform/Status.h"

namespace
{
// Master boot record and extended boot record (same sector layout).
constexpr std::size_t kMbrTable = 0x1BE; // partition table, four 16-byte entries
constexpr std::size_t kMbrEntrySize = 16;
constexpr std::size_t kMbrSignature = 0x1FE; // boot signature 0x55 0xAA
// One MBR partition entry.
constexpr std::size_t kPeBootIndicator = 0x00; // 0x00 or 0x80 (active)
constexpr std::size_t kPeSystemId = 0x04;      // partition type
constexpr std::size_t kPeStartLba = 0x08;      // relative sector of the first sector
constexpr std::size_t kPeSectorCount = 0x0C;   // total sectors

constexpr u8 kTypeProtectiveGpt = 0xEE;
constexpr u32 kFirstLogicalNumber = 5; // logical partitions are numbered from 5 on

// GPT header.
constexpr std::size_t kGhSignature = 0x00; // "EFI PART"
constexpr std::size_t kGhHeaderSize = 0x0C;
constexpr std::size_t kGhHeaderCrc = 0x10;
constexpr std::size_t kGhMyLba = 0x18;
constexpr std::size_t kGhFirstUsableLba = 0x28;
constexpr std::size_t kGhLastUsableLba = 0x30;
constexpr std::size_t kGhEntryLba = 0x48;      // PartitionEntryLBA
constexpr std::size_t kGhEntryCount = 0x50;    // NumberOfPartitionEntries
constexpr std::size_t kGhEntrySize = 0x54;     // SizeOfPartitionEntry
constexpr std::size_t kGhEntryArrayCrc = 0x58; // PartitionEntryArrayCRC32
constexpr u32 kGhMinHeaderSize = 92;
// GPT partition entry.
constexpr std::size_t kGeTypeGuid = 0x00;
constexpr std::size_t kGeStartingLba = 0x20;
constexpr std::size_t kGeEndingLba = 0x28; // inclusive
constexpr u32 kGeMinEntrySize = 128;
constexpr u32 kGeMaxEntrySize = 4096;

constexpr char kGptSignature[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};

bool IsExtendedType(u8 type)
{
    return type == 0x05 || type == 0x0F || type == 0x85;
}

bool HasBootSignature(const ByteView& sector)
{
    return sector.U8(kMbrSignature) == 0x55 && sector.U8(kMbrSignature + 1) == 0xAA;
}

struct MbrSlot
{
    u8 boot = 0;
    u8 type = 0;
    u32 start = 0;
    u32 count = 0;
};

MbrSlot DecodeSlot(const ByteView& sector, u32 slot)
{
    std::size_t at = kMbrTable + slot * kMbrEntrySize;
    return MbrSlot{sector.U8(at + kPeBootIndicator), sector.U8(at + kPeSystemId),
                   sector.U32(at + kPeStartLba), sector.U32(at + kPeSectorCount)};
}

class Reader
{
public:
    Reader(const DiskReadFn& read, u64 diskSize, u32 sectorSize, PartitionTable* table)
        : m_read(read), m_diskSize(diskSize), m_sectorSize(sectorSize), m_table(table)
    {
    }

    // Reads one sector at lba into a buffer of the sector size; false when it is out of the
    // disk or the read fails.
    bool ReadSector(u64 lba, std::vector<u8>* out)
    {
        if (lba > std::numeric_limits<u64>::max() / m_sectorSize)
            return false;
        u64 offset = lba * m_sectorSize;
        if (m_diskSize != 0 && (offset >= m_diskSize || m_diskSize - offset < m_sectorSize))
            return false;
        out->assign(m_sectorSize, 0);
        return m_read(offset, out->data(), m_sectorSize);
    }

    // Adds a partition of count sectors at lba, clipped to the disk; a partition that starts
    // outside the disk marks the table damaged.
    void Add(u32 number, u64 lba, u64 count, u8 mbrType, const std::array<u8, 16>& gptType)
    {
        if (count == 0 || lba > std::numeric_limits<u64>::max() / m_sectorSize ||
            count > std::numeric_limits<u64>::max() / m_sectorSize)
        {
            m_table->damaged = true;
            return;
        }
        u64 offset = lba * m_sectorSize;
        u64 length = count * m_sectorSize;
        if (m_diskSize != 0)
        {
            if (offset >= m_diskSize)
            {
                m_table->damaged = true;
                return;
            }
            if (length > m_diskSize - offset)
                length = m_diskSize - offset;
        }
        else if (length > std::numeric_limits<u64>::max() - offset)
        {
            m_table->damaged = true;
            return;
        }
        m_table->entries.push_back(PartitionEntry{number, offset, length, mbrType, gptType});
    }

    // Walks the chain of extended boot records of the extended partition at extStart.
    // Every slot of an EBR that is neither empty nor extended is a logical partition, relative
    // to its own EBR; the first extended slot links to the next EBR, relative to extStart.
    // The walk ends at the end of the chain, at a repeated EBR, or once kMaxLogicalPartitions
    // EBRs have been read or logical partitions listed.
    void WalkExtended(u64 extStart, u32* nextLogical)
    {
        std::set<u64> visited;
        std::vector<u8> sector;
        u64 ebr = extStart;
        for (u32 step = 0;; ++step)
        {
            if (step >= kMaxLogicalPartitions || !visited.insert(ebr).second)
            {
                m_table->damaged = true;
                return;
            }
            if (!ReadSector(ebr, &sector))
            {
                m_table->damaged = true;
                return;
            }
            ByteView view(sector.data(), sector.size());
            if (!HasBootSignature(view))
            {
                // An extended partition whose first EBR is blank is simply empty.
                if (ebr != extStart)
                    m_table->damaged = true;
                return;
            }
            const MbrSlot* link = nullptr;
            std::array<MbrSlot, 4> slots{};
            for (u32 i = 0; i < 4; ++i)
            {
                slots[i] = DecodeSlot(view, i);
                if (link == nullptr && IsExtendedType(slots[i].type))
                    link = &slots[i];
            }
            for (const MbrSlot& logical : slots)
            {
                if (logical.type == 0 || IsExtendedType(logical.type))
                    continue;
                if (logical.start == 0)
                {
                    m_table->damaged = true; // would cover the EBR itself
                    continue;
                }
                if (*nextLogical - kFirstLogicalNumber >= kMaxLogicalPartitions)
                {
                    m_table->damaged = true;
                    return;
                }
                Add((*nextLogical)++, ebr + logical.start, logical.count, logical.type, {});
            }
            if (link == nullptr || link->count == 0)
                return;
            if (link->start == 0)
            {
                m_table->damaged = true; // a link back to the first EBR
                return;
            }
            ebr = extStart + link->start;
        }
    }

    // Reads and checks a GPT header at lba. On success fills the entry array in *entries
    // together with the entry size and count.
    bool ReadGpt(u64 lba, std::vector<u8>* entries, u32* entrySize, u32* entryCount)
    {
        std::vector<u8> sector;
        if (!ReadSector(lba, &sector))
            return false;
        ByteView header(sector.data(), sector.size());
        if (std::memcmp(header.Data() + kGhSignature, kGptSignature, sizeof kGptSignature) != 0)
            return false;
        u32 headerSize = header.U32(kGhHeaderSize);
        if (headerSize < kGhMinHeaderSize || headerSize > m_sectorSize)
            return false;
        u32 storedCrc = header.U32(kGhHeaderCrc);
        std::vector<u8> copy(sector.begin(), sector.begin() + headerSize);
        StoreLe32(copy.data() + kGhHeaderCrc, 0);
        if (Crc32(copy.data(), copy.size()) != storedCrc)
            return false;
        if (header.U64(kGhMyLba) != lba)
            return false;
        if (header.U64(kGhFirstUsableLba) > header.U64(kGhLastUsableLba))
            return false;
        u32 size = header.U32(kGhEntrySize);
        u32 count = header.U32(kGhEntryCount);
        if (size < kGeMinEntrySize || size > kGeMaxEntrySize || size % 8 != 0 || count == 0)
            return false;
        u64 bytes = static_cast<u64>(size) * count;
        if (bytes > kMaxGptEntryBytes)
            return false;
        u64 entryLba = header.U64(kGhEntryLba);
        if (entryLba > std::numeric_limits<u64>::max() / m_sectorSize)
            return false;
        u64 offset = entryLba * m_sectorSize;
        if (m_diskSize != 0 && (offset >= m_diskSize || m_diskSize - offset < bytes))
            return false;
        entries->assign(static_cast<std::size_t>(bytes), 0);
        if (!m_read(offset, entries->data(), static_cast<u32>(bytes)))
            return false;
        if (Crc32(entries->data(), entries->size()) != header.U32(kGhEntryArrayCrc))
            return false;
        *entrySize = size;
        *entryCount = count;
        return true;
    }

    // Reads the GPT from its primary header, or from the backup header at the last sector
    // when the primary one is unusable. False when neither is usable.
    bool ReadGptEntries()
    {
        std::vector<u8> entries;
        u32 size = 0;
        u32 count = 0;
        bool ok = ReadGpt(1, &entries, &size, &count);
        if (!ok && m_diskSize >= 2ull * m_sectorSize)
        {
            ok = ReadGpt(m_diskSize / m_sectorSize - 1, &entries, &size, &count);
            if (ok)
                m_table->damaged = true; // primary header lost, backup used
        }
        if (!ok)
            return false;
        for (u32 i = 0; i < count; ++i)
        {
            ByteView entry(entries.data() + static_cast<std::size_t>(i) * size, size);
            std::array<u8, 16> type{};
            std::memcpy(type.data(), entry.Data() + kGeTypeGuid, type.size());
            bool used = false;
            for (u8 b : type)
                used = used || b != 0;
            if (!used)
                continue;
            u64 first = entry.U64(kGeStartingLba);
            u64 last = entry.U64(kGeEndingLba);
            if (last < first || last - first == std::numeric_limits<u64>::max())
            {
                m_table->damaged = true;
                continue;
            }
            Add(i + 1, first, last - first + 1, 0, type);
        }
        return true;
    }

    [[nodiscard]] bool HasGptSignature(u64 lba)
    {
        std::vector<u8> sector;
        return ReadSector(lba, &sector) &&
               std::memcmp(sector.data(), kGptSignature, sizeof kGptSignature) == 0;
    }

private:
    const DiskReadFn& m_read;
    u64 m_diskSize;
    u32 m_sectorSize;
    PartitionTable* m_table;
};

// The four primary slots of an MBR, or nothing when the sector is no MBR: every slot must
// carry a boot indicator of 0x00 or 0x80, which rules out boot code and FAT boot sectors
// whose bytes at the table's place are text or code.
bool DecodeMbr(const ByteView& sector, std::array<MbrSlot, 4>* slots)
{
    if (!HasBootSignature(sector))
        return false;
    for (u32 i = 0; i < 4; ++i)
    {
        (*slots)[i] = DecodeSlot(sector, i);
        u8 boot = (*slots)[i].boot;
        if (boot != 0x00 && boot != 0x80)
            return false;
    }
    return true;
}
} // namespace

u32 Crc32(const void* data, std::size_t size)
{
    static const std::array<u32, 256> kCrcTable = []
    {
        std::array<u32, 256> t{};
        for (u32 n = 0; n < 256; ++n)
        {
            u32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    const u8* p = static_cast<const u8*>(data);
    u32 crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        crc = kCrcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

u32 ReadPartitionTable(const DiskReadFn& read, u64 diskSize, u32 sectorSize, PartitionTable* table)
{
    if (sectorSize != 512 && sectorSize != 1024 && sectorSize != 2048 && sectorSize != 4096)
        return kErrUnsupported;
    *table = PartitionTable{};
    table->sectorSize = sectorSize;

    std::vector<u8> sector0(sectorSize, 0);
    if (diskSize != 0 && diskSize < sectorSize)
        return kErrTransfer;
    if (!read(0, sector0.data(), sectorSize))
        return kErrTransfer;
    std::array<MbrSlot, 4> slots{};
    if (!DecodeMbr(ByteView(sector0.data(), sector0.size()), &slots))
        return kErrClose;
    table->scheme = PartitionScheme::Mbr;

    bool protective = false;
    for (const MbrSlot& s : slots)
        protective = protective || s.type == kTypeProtectiveGpt;
    if (protective)
    {
        Reader gpt(read, diskSize, sectorSize, table);
        bool ok = gpt.ReadGptEntries();
        if (!ok && sectorSize == 512)
        {
            // A disk of 4096-byte sectors imaged into a file: the header sits at byte 4096.
            PartitionTable wide;
            wide.sectorSize = 4096;
            Reader gpt4k(read, diskSize, 4096, &wide);
            if (gpt4k.HasGptSignature(1) && gpt4k.ReadGptEntries())
            {
                wide.scheme = PartitionScheme::Gpt;
                *table = wide;
                return kOk;
            }
        }
        if (ok)
        {
            table->scheme = PartitionScheme::Gpt;
            return kOk;
        }
        // No usable GPT: keep whatever the MBR lists besides the protective entry.
        table->damaged = true;
    }

    Reader mbr(read, diskSize, sectorSize, table);
    for (u32 i = 0; i < 4; ++i)
    {
        const MbrSlot& s = slots[i];
        if (s.type == 0 || s.type == kTypeProtectiveGpt || IsExtendedType(s.type))
            continue;
        if (s.start == 0)
        {
            table->damaged = true; // would cover the MBR itself
            continue;
        }
        mbr.Add(i + 1, s.start, s.count, s.type, {});
    }
    u32 nextLogical = kFirstLogicalNumber;
    for (const MbrSlot& s : slots)
        if (IsExtendedType(s.type) && s.start != 0 && s.count != 0)
            mbr.WalkExtended(s.start, &nextLogical);
    return kOk;
}
