// The NTFS volume parser: boot sector check, MFT extent, FILE records with update sequence
// fixups, attributes, names, times and run lists. Every read of record bytes is bounded by the
// 1024-byte record and by the attribute that holds it.
#include "ntfs/Ntfs.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>

#include "disk/File_RW.h"
#include "mempool/MemPool.h"
#include "platform/ByteOrder.h"
#include "platform/Status.h"

namespace
{
// Boot sector (BIOS parameter block and NTFS extension).
constexpr u32 kBootBytesPerSector = 0x0B;
constexpr u32 kBootSectorsPerCluster = 0x0D;
constexpr u32 kBootReservedSectors = 0x0E;
constexpr u32 kBootMedia = 0x15;
constexpr u32 kBootSectorsPerTrack = 0x18;
constexpr u32 kBootHeads = 0x1A;
constexpr u32 kBootHiddenSectors = 0x1C;
constexpr u32 kBootTotalSectors = 0x28;
constexpr u32 kBootMftCluster = 0x30;
constexpr u32 kBootMftMirrCluster = 0x38;
constexpr u32 kBootClustersPerRecord = 0x40; // clusters per file record segment
constexpr u32 kBootClustersPerIndex = 0x44;
constexpr u32 kBootSerial = 0x48;
constexpr u32 kBootChecksum = 0x50;
constexpr u32 kRecordSizeAsPowerOfTwo = 0xF6; // -10: 2^10 bytes per record

// FILE record header.
constexpr u32 kFileSignature = 0x454C4946; // "FILE"
constexpr u32 kRecUsaOffset = 0x04;
constexpr u32 kRecUsaCount = 0x06;
constexpr u32 kRecLsn = 0x08;
constexpr u32 kRecSequence = 0x10;
constexpr u32 kRecLinkCount = 0x12;
constexpr u32 kRecAttrOffset = 0x14;
constexpr u32 kRecFlags = 0x16;
constexpr u32 kRecBytesInUse = 0x18;
constexpr u32 kRecBytesAlloc = 0x1C;
constexpr u32 kRecBaseRecord = 0x20;
constexpr u32 kRecNextAttrId = 0x28;
constexpr u32 kRecReserved2A = 0x2A;
constexpr u32 kRecRecordNumber = 0x2C;
constexpr u16 kRecFlagInUse = 0x01;
constexpr u16 kRecFlagDirectory = 0x02;
constexpr u32 kStride = 512; // update sequence stride

// Attribute record header.
constexpr u32 kAttrType = 0x00;
constexpr u32 kAttrLength = 0x04;
constexpr u32 kAttrNonResident = 0x08;
constexpr u32 kAttrNameLength = 0x09;
constexpr u32 kAttrNameOffset = 0x0A;
constexpr u32 kAttrFlags = 0x0C;
constexpr u32 kAttrId = 0x0E;
constexpr u32 kAttrValueLength = 0x10; // resident
constexpr u32 kAttrValueOffset = 0x14; // resident
constexpr u32 kAttrIndexed = 0x16;     // resident
constexpr u32 kAttrPadding = 0x17;     // resident
constexpr u32 kAttrResidentHeader = 0x18;
constexpr u32 kAttrFirstVcn = 0x10; // non-resident
constexpr u32 kAttrLastVcn = 0x18;
constexpr u32 kAttrRunsOffset = 0x20; // mapping pairs offset
constexpr u32 kAttrCompUnit = 0x22;
constexpr u32 kAttrReserved24 = 0x24;
constexpr u32 kAttrAllocSize = 0x28;
constexpr u32 kAttrDataSize = 0x30;
constexpr u32 kAttrInitSize = 0x38;
constexpr u32 kAttrNonResidentHeader = 0x40;
constexpr u32 kAttrEnd = 0xFFFFFFFF;

constexpr u32 kTypeStandardInfo = 0x10;
constexpr u32 kTypeFileName = 0x30;
constexpr u32 kTypeData = 0x80;

// $STANDARD_INFORMATION value.
constexpr u32 kSiCreated = 0x00;
constexpr u32 kSiModified = 0x08;
constexpr u32 kSiMftChanged = 0x10;
constexpr u32 kSiAccessed = 0x18;
constexpr u32 kSiFileAttributes = 0x20;
constexpr u32 kSiMaxVersions = 0x24;
constexpr u32 kSiVersion = 0x28;
constexpr u32 kSiClassId = 0x2C;
constexpr u32 kSiOwnerId = 0x30;
constexpr u32 kSiSecurityId = 0x34;
constexpr u32 kSiQuota = 0x38;
constexpr u32 kSiUsn = 0x40;

// $FILE_NAME value.
constexpr u32 kFnParent = 0x00;
constexpr u32 kFnCreated = 0x08;
constexpr u32 kFnModified = 0x10;
constexpr u32 kFnMftChanged = 0x18;
constexpr u32 kFnAccessed = 0x20;
constexpr u32 kFnAllocSize = 0x28;
constexpr u32 kFnRealSize = 0x30;
constexpr u32 kFnFlags = 0x38;
constexpr u32 kFnReparse = 0x3C;
constexpr u32 kFnNameLength = 0x40;
constexpr u32 kFnNameSpace = 0x41;
constexpr u32 kFnName = 0x42;
constexpr u8 kNameSpaceDos = 2;
constexpr u8 kNameSpaceWin32AndDos = 3;

constexpr u64 kLow48 = 0x0000FFFFFFFFFFFFull;
// One UTF-16 name of up to 255 units: the $FILE_NAME name length is one byte.
constexpr u32 kNameBufferBytes = 255 * 2;
constexpr u32 kBatchRecords = 1024;  // records per read-ahead batch (1 MiB)
constexpr u64 kMetafileRecords = 16; // MFT records 0-15 hold the metafiles

constexpr bool IsPowerOfTwo(u32 v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

// UTF-16LE to UTF-8; unpaired surrogates become U+FFFD.
std::size_t Utf16ToUtf8(const u8* src, u32 units, char* out)
{
    std::size_t n = 0;
    auto put = [&](u32 cp)
    {
        if (cp < 0x80)
            out[n++] = static_cast<char>(cp);
        else if (cp < 0x800)
        {
            out[n++] = static_cast<char>(0xC0 | (cp >> 6));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        }
        else if (cp < 0x10000)
        {
            out[n++] = static_cast<char>(0xE0 | (cp >> 12));
            out[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        }
        else
        {
            out[n++] = static_cast<char>(0xF0 | (cp >> 18));
            out[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    for (u32 i = 0; i < units; ++i)
    {
        u32 c = LoadLe16(src + 2 * i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units)
        {
            u32 lo = LoadLe16(src + 2 * (i + 1));
            if (lo >= 0xDC00 && lo < 0xE000)
            {
                put(0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        put(c);
    }
    return n;
}

bool IsLeap(s64 year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Puts the current-record pointer back when an operation ends.
class RecordScope
{
public:
    RecordScope(u8*& current, u8* buffer) : m_current(current), m_saved(current)
    {
        m_current = buffer;
    }
    ~RecordScope() { m_current = m_saved; }
    RecordScope(const RecordScope&) = delete;
    RecordScope& operator=(const RecordScope&) = delete;

private:
    u8*& m_current;
    u8* m_saved;
};
} // namespace

bool NtfsDataIsResident(const u8* block, u16* valueOffset)
{
    if (!block || block[0] == kDataBlockLongForm || block[0] < 3 || block[1] != 0)
        return false;
    if (valueOffset)
        *valueOffset = LoadLe16(block + 2);
    return true;
}

bool NtfsDataRunList(const u8* block, const u8** runs, int* limit)
{
    if (!block || NtfsDataIsResident(block, nullptr))
        return false;
    *runs = block + 1;
    *limit = block[0] == kDataBlockLongForm ? static_cast<int>(kDataBlockLongLimit) : block[0];
    return true;
}

CNtfs::CNtfs() : CNtfs(std::make_unique<CFile_RW>())
{
}

CNtfs::CNtfs(std::unique_ptr<CDirectRW> reader) : m_reader(std::move(reader))
{
    m_nameBuffer = static_cast<u8*>(g_MemPool.Alloc(kNameBufferBytes));
}

CNtfs::~CNtfs()
{
    if (m_reader)
        Close();
    m_reader.reset();
    g_MemPool.Free(&m_nameBuffer);
}

u32 CNtfs::Open(const std::string& drive, int keepOpen)
{
    m_valid = 0;
    m_boot = BootParams{};
    std::memset(m_sector, 0, sizeof m_sector);
    m_keepOpen = keepOpen;
    m_drive = drive;
    m_recordCount = 0;
    m_mftRecordsClaimed = 0;
    m_mftRecordsHeld = 0;
    m_mftRuns.clear();
    m_unitsPerCluster = 0;
    m_batchFirst = -1;
    m_batchCount = 0;

    if (!m_reader)
        m_reader = std::make_unique<CFile_RW>();
    if (!m_reader)
        return kErrNotOpen;
    u32 rc = m_reader->Open(drive, kReaderSectorSize);
    if (rc != kOk)
        return rc;
    // A failed read leaves the buffer zero, which the boot check refuses.
    (void)ReadSectors(m_sector, 1, 0);

    rc = ParseBootSector();
    if (rc == kOk)
        rc = LoadMftRuns();
    if (!m_keepOpen)
        Close();
    return rc;
}

void CNtfs::Close()
{
    if (m_reader)
        (void)m_reader->Open(std::string(), kReaderSectorSize);
}

u32 CNtfs::ReadSectors(void* buffer, u32 count, u64 sector)
{
    u32 done = 0;
    return m_reader->ReadSectors(buffer, count, &done, sector);
}

u32 CNtfs::ParseBootSector()
{
    ByteView b(m_sector, kReaderSectorSize);
    BootParams& p = m_boot;
    p.bytesPerSector = b.U16(kBootBytesPerSector);
    p.sectorsPerCluster = b.U8(kBootSectorsPerCluster);
    p.reservedSectors = b.U16(kBootReservedSectors);
    p.b10 = b.U8(0x10);
    p.b11 = b.U8(0x11);
    p.b12 = b.U8(0x12);
    p.w13 = b.U16(0x13);
    p.media = b.U8(kBootMedia);
    p.w16 = b.U16(0x16);
    p.sectorsPerTrack = b.U16(kBootSectorsPerTrack);
    p.heads = b.U16(kBootHeads);
    p.hiddenSectors = b.U32(kBootHiddenSectors);
    p.d20 = b.U32(0x20);
    p.d24 = b.U32(0x24);
    p.totalSectors = b.U64(kBootTotalSectors);
    p.mftCluster = b.U64(kBootMftCluster);
    p.mftMirrCluster = b.U64(kBootMftMirrCluster);
    p.clustersPerRecord = b.U32(kBootClustersPerRecord);
    p.clustersPerIndex = b.U32(kBootClustersPerIndex);
    p.serial = b.U64(kBootSerial);
    p.checksum = b.U32(kBootChecksum);

    // A sector size of 0 is a multiple of 512 too, but nothing can be measured in it.
    if (p.bytesPerSector == 0 || p.bytesPerSector % kReaderSectorSize != 0)
        return kErrBadNtfs;
    if (!IsPowerOfTwo(p.sectorsPerCluster))
        return kErrBadNtfs;
    const u64 clusterBytes = static_cast<u64>(p.sectorsPerCluster) * p.bytesPerSector;
    const u64 factor = p.clustersPerRecord == kRecordSizeAsPowerOfTwo ? 1 : p.clustersPerRecord;
    if (p.totalSectors <= clusterBytes * factor / p.bytesPerSector * 32)
        return kErrBadNtfs;
    if (clusterBytes > kRecordSize && p.clustersPerRecord != kRecordSizeAsPowerOfTwo)
        return kErrBadNtfs;
    if (clusterBytes <= kRecordSize && clusterBytes * factor != kRecordSize)
        return kErrBadNtfs;
    // The reader counts 512-byte sectors whatever the volume's own sector size.
    m_unitsPerCluster = static_cast<u32>(clusterBytes / kReaderSectorSize);
    m_valid = 1;
    return kOk;
}

u32 CNtfs::LoadMftRuns()
{
    m_mftRecordsClaimed = 0;
    m_mftRecordsHeld = 0;
    if (!m_reader || m_unitsPerCluster == 0)
        return kErrNotOpen;
    std::memset(m_sector, 0, sizeof m_sector);
    if (m_boot.mftCluster > std::numeric_limits<u64>::max() / m_unitsPerCluster)
        return kErrBadNtfs;
    u32 rc = ReadSectors(m_sector, kRecordSize / kReaderSectorSize,
                         m_boot.mftCluster * m_unitsPerCluster);
    if (rc != kOk)
        return rc;

    RecordScope scope(m_record, m_sector);
    NtfsRecordHeader header;
    u16 usa[3];
    rc = ParseHeaderFields(header, 0, false, usa);
    if (rc != kOk)
        return rc;
    // Record 0 is read with its fixups applied: a run list that crosses the end of the first
    // stride would otherwise carry the update sequence number in place of its own bytes.
    const int fixed = ApplyFixups(usa, 1, 3);

    NtfsAttr attr;
    u32 cursor = header.attrOffset;
    rc = FindAttribute(attr, cursor, kTypeData);
    if (rc == kOk && !attr.nonResident)
        rc = kErrBadNtfs;
    if (rc == kOk)
    {
        const u8* runs = nullptr;
        int limit = 0;
        if (!NtfsDataRunList(attr.data, &runs, &limit))
            rc = attr.data ? kErrBadNtfs : kErrNoMemory;
        else
            rc = DecodeRuns(runs, limit, m_mftRuns);
    }
    // 64-bit throughout: an MFT of 4 GiB or more keeps its full record count. The count stops
    // where the extent leaves the volume or the device, and where the $DATA sizes end, so that
    // a damaged run list cannot send a scan through billions of records that are not there.
    const u64 ratio = m_boot.bytesPerSector / kReaderSectorSize;
    const u64 volumeUnits = m_boot.totalSectors > std::numeric_limits<u64>::max() / ratio
                                ? std::numeric_limits<u64>::max()
                                : m_boot.totalSectors * ratio + ratio; // + the backup boot sector
    const u64 sizeClusters = MftSizeClusters(attr);
    u64 budget = sizeClusters;
    u64 claimed = 0;
    for (const NtfsRun& run : m_mftRuns)
        claimed += run.clusterCount;
    u64 clusters = 0;
    for (const NtfsRun& run : m_mftRuns)
    {
        const u64 start = static_cast<u64>(run.startCluster) * m_unitsPerCluster;
        u64 count = run.clusterCount;
        if (start >= volumeUnits)
            count = 0;
        else if (count > (volumeUnits - start) / m_unitsPerCluster)
            count = (volumeUnits - start) / m_unitsPerCluster;
        count = std::min(count, budget);
        budget -= count;
        count = ClustersOnDevice(start, count);
        clusters += count;
        if (count != run.clusterCount)
            break;
    }
    // Two 512-byte units make a record; the product stays below 2^56 for any run list.
    auto records = [this](u64 c)
    { return c * m_unitsPerCluster / (kRecordSize / kReaderSectorSize); };
    m_recordCount = records(clusters);
    if (claimed > sizeClusters)
    {
        m_mftRecordsClaimed = records(claimed);
        m_mftRecordsHeld = records(sizeClusters);
    }
    g_MemPool.Free(&attr.data);
    if (fixed)
        (void)ApplyFixups(usa, 0, 3);
    return rc;
}

u64 CNtfs::MftSizeClusters(const NtfsAttr& data) const
{
    // The allocated size is what the run list describes, the data size what the MFT uses of
    // it. The larger one bounds the count, so that one damaged size field loses no record.
    const u64 bytes = std::max(data.allocatedSize, data.dataSize);
    // Sizes that cannot hold even the metafile records are not the MFT's.
    if (bytes < kMetafileRecords * kRecordSize)
        return std::numeric_limits<u64>::max();
    const u64 clusterBytes = u64{m_unitsPerCluster} * kReaderSectorSize;
    return bytes / clusterBytes + (bytes % clusterBytes != 0 ? 1 : 0);
}

u64 CNtfs::ClustersOnDevice(u64 startUnit, u64 clusters)
{
    // The device delivers nothing past its end: find the clusters whose last sector arrives.
    auto readable = [&](u64 c)
    {
        u8 probe[kReaderSectorSize];
        u32 done = 0;
        return m_reader->ReadSectors(probe, 1, &done, startUnit + c * m_unitsPerCluster - 1) ==
                   kOk &&
               done == kReaderSectorSize;
    };
    if (clusters == 0 || readable(clusters))
        return clusters;
    u64 lo = 0;
    u64 hi = clusters; // readable(lo) holds (0 trivially), readable(hi) does not
    while (hi - lo > 1)
    {
        const u64 mid = lo + (hi - lo) / 2;
        if (readable(mid))
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

int CNtfs::RecordToSector(s64& value) const
{
    const s64 n = value;
    if (n < 0 || n > std::numeric_limits<s64>::max() / 2)
        return 0;
    u64 offset = static_cast<u64>(n) * (kRecordSize / kReaderSectorSize);
    for (const NtfsRun& run : m_mftRuns)
    {
        const u64 runUnits = static_cast<u64>(run.clusterCount) * m_unitsPerCluster;
        if (offset < runUnits)
        {
            // The start sector in 64 bits: clusters beyond 2^32 / spc lie above 2 TiB.
            value =
                static_cast<s64>(static_cast<u64>(run.startCluster) * m_unitsPerCluster + offset);
            return 1;
        }
        offset -= runUnits;
    }
    value = static_cast<s64>(offset);
    return 0;
}

u32 CNtfs::ParseRecordHeader(NtfsRecordHeader& header, u32 offset)
{
    u16 usa[3];
    return ParseHeaderFields(header, offset, true, usa);
}

u32 CNtfs::ParseHeaderFields(NtfsRecordHeader& header, u32 offset, bool copyUsa, u16 usa[3])
{
    header = NtfsRecordHeader{};
    usa[0] = usa[1] = usa[2] = 0;
    if (offset >= kRecordSize)
        return kErrBadNtfs;
    ByteView r(m_record + offset, kRecordSize - offset);
    if (r.U32(0) != kFileSignature)
        return kErrBadNtfs;
    std::memcpy(header.signature, r.Data(), 4);
    header.usaOffset = r.U16(kRecUsaOffset);
    header.usaCount = r.U16(kRecUsaCount);
    header.lsn = r.U64(kRecLsn);
    header.sequence = r.U16(kRecSequence);
    header.linkCount = r.U16(kRecLinkCount);
    header.attrOffset = r.U16(kRecAttrOffset);
    header.flags = r.U16(kRecFlags);
    header.bytesInUse = r.U32(kRecBytesInUse);
    header.bytesAlloc = r.U32(kRecBytesAlloc);
    header.baseRecord = r.U64(kRecBaseRecord);
    header.nextAttrId = r.U16(kRecNextAttrId);
    header.reserved2A = r.U16(kRecReserved2A);
    header.recordNumber = r.U32(kRecRecordNumber);
    header.usn = r.U16(header.usaOffset);
    // The array is taken only when it lies wholly inside the record.
    const std::size_t bytes = static_cast<std::size_t>(header.usaCount) * 2;
    if (bytes == 0 || !r.Has(header.usaOffset, bytes))
        return kOk;
    for (u32 i = 0; i < 3 && i < header.usaCount; ++i)
        usa[i] = r.U16(header.usaOffset + 2 * i);
    if (copyUsa)
    {
        header.usa = static_cast<u16*>(g_MemPool.Alloc(static_cast<int>(bytes)));
        if (header.usa)
            std::memcpy(header.usa, r.Data() + header.usaOffset, bytes);
    }
    return kOk;
}

// Each 512-byte stride of a record ends in the update sequence number on disk; the real last
// two bytes are kept in the update sequence array. Apply checks every stride before patching
// it and puts the record back as read on a mismatch; undo writes the number back.
int CNtfs::ApplyFixups(const u16* entries, int apply, int count)
{
    if (!entries)
        return 1;
    if (entries[0] == 0 || count < 1)
        return 0;
    const int strides = static_cast<int>(kRecordSize / kStride);
    if (count > strides + 1)
        count = strides + 1;
    auto word = [&](int k) { return m_record + kStride * static_cast<u32>(k) + kStride - 2; };
    if (!apply)
    {
        for (int k = 0; k <= count - 2; ++k)
            StoreLe16(word(k), entries[0]);
        return 1;
    }
    for (int k = 1; k <= count - 1; ++k)
    {
        if (LoadLe16(word(k - 1)) != entries[0])
        {
            for (int j = 0; j < k - 1; ++j)
                StoreLe16(word(j), entries[0]);
            return 0;
        }
        StoreLe16(word(k - 1), entries[k]);
    }
    return 1;
}

u32 CNtfs::FindAttribute(NtfsAttr& attr, u32& cursor, u32 type)
{
    return FindAttributeImpl(attr, cursor, type, true);
}

u32 CNtfs::FindAttributeImpl(NtfsAttr& attr, u32& cursor, u32 type, bool nameText)
{
    attr = NtfsAttr{};
    m_nameUnits = 0;
    u32 c = cursor;
    bool found = false;
    // The walk ends at the end marker, at the record's end, or at an attribute whose length
    // cannot be trusted (shorter than a header, or reaching past the record).
    while (c <= kRecordSize - 4)
    {
        const u32 t = LoadLe32(m_record + c);
        if (t == kAttrEnd || c > kRecordSize - 8)
            break;
        const u32 length = LoadLe32(m_record + c + kAttrLength);
        if (length < kAttrResidentHeader || length > kRecordSize - c)
            break;
        if (t == type)
        {
            found = t != 0;
            break;
        }
        c += length;
    }
    if (!found)
    {
        cursor = 0xFFFFFFFF;
        return kErrTransfer;
    }

    ByteView a(m_record + c, LoadLe32(m_record + c + kAttrLength));
    attr.type = a.U32(kAttrType);
    attr.length = a.U32(kAttrLength);
    attr.nonResident = a.U8(kAttrNonResident);
    attr.nameLength = a.U8(kAttrNameLength);
    attr.nameOffset = a.U16(kAttrNameOffset);
    attr.flags = a.U16(kAttrFlags);
    attr.id = a.U16(kAttrId);
    ByteView content;
    if (attr.nonResident)
    {
        attr.firstVcn = a.U64(kAttrFirstVcn);
        attr.lastVcn = a.U64(kAttrLastVcn);
        attr.runsOffset = a.U16(kAttrRunsOffset);
        attr.compressionUnit = a.U16(kAttrCompUnit);
        attr.reserved24 = a.U32(kAttrReserved24);
        attr.allocatedSize = a.U64(kAttrAllocSize);
        attr.dataSize = a.U64(kAttrDataSize);
        attr.initializedSize = a.U64(kAttrInitSize);
        if (a.Size() < kAttrNonResidentHeader || attr.runsOffset > a.Size())
        {
            attr = NtfsAttr{};
            cursor = 0xFFFFFFFF;
            return kErrTransfer;
        }
        content = a.Sub(attr.runsOffset, a.Size() - attr.runsOffset);
    }
    else
    {
        attr.valueLength = a.U32(kAttrValueLength);
        attr.valueOffset = a.U16(kAttrValueOffset);
        attr.indexed = a.U8(kAttrIndexed);
        attr.padding = a.U8(kAttrPadding);
        if (!a.Has(attr.valueOffset, attr.valueLength))
        {
            attr = NtfsAttr{};
            cursor = 0xFFFFFFFF;
            return kErrTransfer;
        }
        content = a.Sub(attr.valueOffset, attr.valueLength);
    }
    cursor = c;

    if (type == kTypeStandardInfo)
    {
        attr.created = static_cast<s64>(content.U64(kSiCreated));
        attr.modified = static_cast<s64>(content.U64(kSiModified));
        attr.mftChanged = static_cast<s64>(content.U64(kSiMftChanged));
        attr.accessed = static_cast<s64>(content.U64(kSiAccessed));
        attr.fileAttributes = content.U32(kSiFileAttributes);
        attr.maxVersions = content.U32(kSiMaxVersions);
        attr.version = content.U32(kSiVersion);
        attr.classId = content.U32(kSiClassId);
        attr.ownerId = content.U32(kSiOwnerId);
        attr.securityId = content.U32(kSiSecurityId);
        attr.quotaCharged = content.U64(kSiQuota);
        attr.usn = content.U64(kSiUsn);
    }
    else if (type == kTypeFileName)
    {
        attr.parentRef = content.U64(kFnParent);
        attr.created = static_cast<s64>(content.U64(kFnCreated));
        attr.modified = static_cast<s64>(content.U64(kFnModified));
        attr.mftChanged = static_cast<s64>(content.U64(kFnMftChanged));
        attr.accessed = static_cast<s64>(content.U64(kFnAccessed));
        attr.fnAllocatedSize = content.U64(kFnAllocSize) & kLow48;
        attr.fnRealSize = content.U64(kFnRealSize) & kLow48;
        attr.fnFlags = content.U32(kFnFlags);
        attr.reparse = content.U32(kFnReparse);
        attr.fnNameLength = content.U8(kFnNameLength);
        attr.nameSpace = content.U8(kFnNameSpace);
        // The whole name (its length byte allows no more than the buffer holds), but no more
        // than the value holds.
        u32 units = attr.fnNameLength;
        if (units > kNameBufferBytes / 2)
            units = kNameBufferBytes / 2;
        const u32 room = content.Size() > kFnName ? static_cast<u32>(content.Size() - kFnName) : 0;
        if (units > room / 2)
            units = room / 2;
        if (units > 0 && m_nameBuffer)
        {
            std::memset(m_nameBuffer, 0, kNameBufferBytes);
            std::memcpy(m_nameBuffer, content.Data() + kFnName, units * 2);
            m_nameUnits = units;
            if (nameText)
            {
                // UTF-8 needs at most three bytes per UTF-16 unit.
                attr.nameText =
                    static_cast<char*>(g_MemPool.Alloc(static_cast<int>(units * 3 + 1)));
                if (attr.nameText)
                    Utf16ToUtf8(m_nameBuffer, units, attr.nameText);
            }
        }
    }
    else if (type == kTypeData)
    {
        if (attr.nonResident)
        {
            const u32 length = static_cast<u32>(content.Size());
            const bool longForm = length >= kDataBlockLongForm;
            attr.data = static_cast<u8*>(
                g_MemPool.Alloc(static_cast<int>(longForm ? kRecordSize : length + 1)));
            if (attr.data)
            {
                attr.data[0] = longForm ? kDataBlockLongForm : static_cast<u8>(length);
                std::memcpy(attr.data + 1, content.Data(), length);
            }
        }
        else
        {
            attr.data = static_cast<u8*>(g_MemPool.Alloc(4));
            if (attr.data)
            {
                attr.data[0] = 3;
                attr.data[1] = 0;
                StoreLe16(attr.data + 2, static_cast<u16>(c + attr.valueOffset));
            }
        }
    }
    return kOk;
}

u32 CNtfs::GetFileName(std::string& name, NtfsAttr& attr)
{
    return GetFileNameImpl(name, attr);
}

u32 CNtfs::GetFileNameImpl(std::string& name, NtfsAttr& attr)
{
    name.clear();
    if (LoadLe32(m_record) != kFileSignature)
        return kErrBadNtfs;
    u32 cursor = LoadLe16(m_record + kRecAttrOffset);
    if (FindAttributeImpl(attr, cursor, kTypeFileName, false) != kOk)
        return kErrTransfer;
    auto takeName = [this](std::string& out)
    {
        char text[kNameBufferBytes / 2 * 3 + 1];
        out.assign(text, Utf16ToUtf8(m_nameBuffer, m_nameUnits, text));
    };
    takeName(name);
    if (attr.nameSpace == kNameSpaceDos || attr.nameSpace == kNameSpaceWin32AndDos)
    {
        NtfsAttr next;
        cursor += attr.length;
        if (FindAttributeImpl(next, cursor, kTypeFileName, false) == kOk && m_nameUnits > 0)
        {
            // A long name that follows the short one replaces it, parent reference and all.
            takeName(name);
            attr = next;
        }
    }
    return kOk;
}

u32 CNtfs::DecodeRuns(const u8* runs, int limit, std::vector<NtfsRun>& out)
{
    out.clear();
    if (!runs)
        return kErrTransfer;
    u32 start = 0;
    bool added = false;
    int i = 0;
    // Each mapping pair is a header byte (length size low nibble, offset size high nibble)
    // then the bytes it names; every byte read lies below limit.
    while (true)
    {
        if (i >= limit)
            return kErrBadNtfs;
        const u8 h = runs[i];
        if (h == 0)
            return kOk;
        const int lengthSize = h & 0x0F;
        const int offsetSize = h >> 4;
        if (i + lengthSize + offsetSize >= limit)
            return kErrBadNtfs;
        if (lengthSize <= 4 && offsetSize <= 4)
        {
            u32 count = 0;
            for (int k = 0; k < lengthSize; ++k)
                count |= static_cast<u32>(runs[i + 1 + k]) << (8 * k);
            u32 delta = 0;
            for (int k = 0; k < offsetSize; ++k)
                delta |= static_cast<u32>(runs[i + 1 + lengthSize + k]) << (8 * k);
            if (added && offsetSize > 0 && offsetSize < 4 &&
                (runs[i + lengthSize + offsetSize] & 0x80) != 0)
                delta |= ~0u << (8 * offsetSize);
            start += delta;
            out.push_back(NtfsRun{start, count});
            added = true;
        }
        i += 1 + lengthSize + offsetSize;
    }
}

void CNtfs::FileTimeToFoundTime(s64 fileTime, FoundTime& out)
{
    constexpr s64 kUnixEpochFrom1601 = 11644473600; // seconds from 1601-01-01 to 1970-01-01
    s64 s = fileTime / 10000000;
    // FILETIME is UTC: shift it by the zone's offset at that instant (DST included).
    const time_t unixTime = static_cast<time_t>(s - kUnixEpochFrom1601);
    struct tm local = {};
    if (localtime_r(&unixTime, &local))
        s += local.tm_gmtoff;
    if (s < 0)
        s = 0;

    s64 days = s / 86400;
    out.hour = static_cast<s32>((s / 3600) % 24);
    out.minute = static_cast<s32>((s / 60) % 60);
    out.second = static_cast<s32>(s % 60);
    s64 year = 1601;
    year += days / 146097 * 400;
    days %= 146097;
    while (days > 365)
    {
        days -= IsLeap(year) ? 366 : 365;
        ++year;
    }
    if (days == 365 && !IsLeap(year))
    {
        out.year = static_cast<s32>(year + 1);
        out.month = 1;
        out.day = 1;
        return;
    }
    static constexpr s32 kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    s32 month = 0;
    while (month < 11)
    {
        const s64 len = kMonthDays[month] + (month == 1 && IsLeap(year) ? 1 : 0);
        if (days < len)
            break;
        days -= len;
        ++month;
    }
    out.year = static_cast<s32>(year);
    out.month = month + 1;
    out.day = static_cast<s32>(days + 1);
}

u32 CNtfs::GetSectorsPerCluster() const
{
    return m_valid ? m_unitsPerCluster : 0;
}

u32 CNtfs::GetBytesPerSector() const
{
    // Recovery addresses the volume in the reader's 512-byte sectors.
    return kReaderSectorSize;
}

void CNtfs::SetReadAhead(bool on)
{
    m_readAhead = on;
    if (!on)
    {
        m_batch.reset();
        m_batchFirst = -1;
        m_batchCount = 0;
    }
}

u32 CNtfs::ReadRecordBytes(s64 record)
{
    if (m_batchFirst >= 0 && record >= m_batchFirst && record < m_batchFirst + m_batchCount)
    {
        std::memcpy(m_sector, m_batch.get() + static_cast<u64>(record - m_batchFirst) * kRecordSize,
                    kRecordSize);
        return kOk;
    }
    s64 sector = record;
    if (!RecordToSector(sector))
        return kErrTransfer;
    std::memset(m_sector, 0, sizeof m_sector);
    // Only a read that continues the batch starts a new one: the scattered reads of parent
    // folders between them leave the batch alone.
    if (m_readAhead && (m_batchFirst < 0 || record == m_batchFirst + m_batchCount))
    {
        // Records that follow in the same run lie in consecutive sectors: read them together.
        s64 count = 1;
        while (count < kBatchRecords && record + count < static_cast<s64>(m_recordCount))
        {
            s64 next = record + count;
            if (!RecordToSector(next) ||
                next != sector + count * static_cast<s64>(kRecordSize / kReaderSectorSize))
                break;
            ++count;
        }
        if (count > 1 && !m_batch)
            m_batch.reset(static_cast<u8*>(std::aligned_alloc(4096, kBatchRecords * kRecordSize)));
        if (count > 1 && m_batch)
        {
            std::memset(m_batch.get(), 0, static_cast<std::size_t>(count) * kRecordSize);
            u32 rc = ReadSectors(m_batch.get(),
                                 static_cast<u32>(count) * (kRecordSize / kReaderSectorSize),
                                 static_cast<u64>(sector));
            if (rc == kOk)
            {
                m_batchFirst = record;
                m_batchCount = count;
                std::memcpy(m_sector, m_batch.get(), kRecordSize);
                return kOk;
            }
            m_batchFirst = -1;
            m_batchCount = 0;
        }
    }
    return ReadSectors(m_sector, kRecordSize / kReaderSectorSize, static_cast<u64>(sector));
}

u32 CNtfs::ReadRecord(NtfsRecordInfo& info, s64 record)
{
    RecordScope scope(m_record, m_sector);
    if (!m_valid || !m_reader)
        return kErrNotOpen;
    if (record < 0 || static_cast<u64>(record) >= m_recordCount)
        return kErrTransfer;
    if (!m_keepOpen)
    {
        u32 rc = m_reader->Open(m_drive, kReaderSectorSize);
        if (rc != kOk)
            return rc;
    }
    u32 rc = ReadRecordBytes(record);
    if (rc == kOk)
    {
        rc = ParseRecordImpl(info);
        info.record = static_cast<u64>(record);
    }
    if (!m_keepOpen)
        Close();
    return rc;
}

u32 CNtfs::ParseRecord(NtfsRecordInfo& info)
{
    return ParseRecordImpl(info);
}

u32 CNtfs::ParseRecordImpl(NtfsRecordInfo& info)
{
    info.data = nullptr;
    info.size = 0;
    info.resident = 0;
    info.name.clear();
    info.parent = 0;
    info.parentSequence = 0;

    NtfsRecordHeader header;
    u16 usa[3];
    u32 rc = ParseHeaderFields(header, 0, false, usa);
    if (rc != kOk)
        return rc;
    info.sequence = header.sequence;
    info.inUse = (header.flags & kRecFlagInUse) ? 1 : 0;
    if ((header.flags & (kRecFlagInUse | kRecFlagDirectory)) == kRecFlagInUse)
        return kErrRecordInUse;
    const bool directory = (header.flags & kRecFlagDirectory) != 0;
    info.attribute = directory ? 0x10 : 0x20;

    // A torn record (a stride without the update sequence number) is parsed as read.
    const int fixed = ApplyFixups(usa, 1, 3);

    NtfsAttr attr;
    u32 cursor = header.attrOffset;
    rc = FindAttributeImpl(attr, cursor, kTypeStandardInfo, false);
    if (rc == kOk)
    {
        FileTimeToFoundTime(attr.created, info.created);
        FileTimeToFoundTime(attr.accessed, info.accessed);
        FileTimeToFoundTime(attr.modified, info.modified);
        if (!directory)
        {
            rc = FindAttributeImpl(attr, cursor, kTypeData, false);
            if (rc == kOk)
            {
                info.resident = attr.nonResident ? 0 : 1;
                // The whole 64-bit data size: files of 4 GiB and more keep their length.
                info.size = attr.nonResident ? attr.dataSize : attr.valueLength;
                info.data = attr.data;
                attr.data = nullptr;
            }
        }
        if (rc == kOk)
        {
            rc = GetFileNameImpl(info.name, attr);
            info.parent = static_cast<s64>(attr.parentRef & kLow48);
            info.parentSequence = static_cast<u16>(attr.parentRef >> 48);
        }
    }
    if (fixed)
        (void)ApplyFixups(usa, 0, 3);
    // A record that is skipped must not strand its data block in the pool.
    if (rc != kOk)
    {
        g_MemPool.Free(&info.data);
        info.size = 0;
        info.resident = 0;
    }
    return rc;
}
