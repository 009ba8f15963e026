// The NTFS volume parser, its record side: what the search and the recovery take from one MFT
// record (state, times, name, parent, data block), the record operations on a record handed in,
// and the 32-bit run list.
#include "ntfs/Ntfs.h"

#include <algorithm>
#include <cstring>

#include "mempool/MemPool.h"
#include "ntfs/AttributeIterator.h"
#include "ntfs/AttributeLayout.h"
#include "ntfs/AttributeValues.h"
#include "ntfs/FileNameLayout.h"
#include "ntfs/MftRecordLayout.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"
#include "platform/Status.h"
#include "platform/Unicode.h"

using namespace ntfs;

namespace
{
constexpr u64 kLow48 = 0x0000FFFFFFFFFFFFull;
constexpr u32 kMaxNameUnits = 255; // the $FILE_NAME name length is one byte

// The name of fn as UTF-8.
ItemName NameText(const NtfsFileName& fn)
{
    char text[kMaxNameUnits * 3 + 1]; // UTF-8 takes at most three bytes per UTF-16 unit
    return std::string_view(
        text, Utf16LeToUtf8(fn.name.Data(), fn.NameUnits(), text, sizeof text, false));
}

// What a parse takes from a record, gathered in one walk: the first $STANDARD_INFORMATION, the
// first two $FILE_NAMEs and the first $DATA. Attributes come in type order, so the walk ends at
// the first $DATA or the first later type; it also ends at a damaged attribute, and what lies
// past that is then missing.
struct RecordAttributes
{
    NtfsAttribute standardInfo;
    NtfsAttribute fileName;
    NtfsAttribute nextFileName;
    NtfsAttribute data;
    bool hasStandardInfo = false;
    bool hasFileName = false;
    bool hasNextFileName = false;
    bool hasData = false;
};

void GatherAttributes(ByteView record, RecordAttributes* out)
{
    CAttributeIterator walk(record);
    NtfsAttribute attr;
    while (walk.Next(&attr) == kNtfsOk && attr.type <= kTypeData)
    {
        if (attr.type == kTypeStandardInformation && !out->hasStandardInfo)
        {
            out->standardInfo = attr;
            out->hasStandardInfo = true;
        }
        else if (attr.type == kTypeFileName && !out->hasFileName)
        {
            out->fileName = attr;
            out->hasFileName = true;
        }
        else if (attr.type == kTypeFileName && !out->hasNextFileName)
        {
            out->nextFileName = attr;
            out->hasNextFileName = true;
        }
        else if (attr.type == kTypeData)
        {
            out->data = attr;
            out->hasData = true;
            return;
        }
    }
}

// The file's preferred $FILE_NAME of the ones met in order: the first one, unless it is a DOS
// name (or the combined Win32 and DOS name) and the $FILE_NAME after it has a name. Returns
// kNtfsOk, kNtfsNotFound or kNtfsCorrupt.
u32 ChooseFileName(const NtfsAttribute* first, const NtfsAttribute* second,
                   const NtfsAttribute** attr, NtfsFileName* fn)
{
    if (!first)
        return kNtfsNotFound;
    *attr = first;
    const u32 rc = DecodeFileName(*first, fn);
    if (rc != kNtfsOk || (fn->nameSpace != kNameSpaceDos && fn->nameSpace != kNameSpaceWin32AndDos))
        return rc;
    NtfsFileName next;
    if (second && DecodeFileName(*second, &next) == kNtfsOk && next.NameUnits() > 0)
    {
        // A long name that follows the short one replaces it, parent reference and all.
        *attr = second;
        *fn = next;
    }
    return kNtfsOk;
}

u32 ChooseFileName(const RecordAttributes& found, const NtfsAttribute** attr, NtfsFileName* fn)
{
    return ChooseFileName(found.hasFileName ? &found.fileName : nullptr,
                          found.hasNextFileName ? &found.nextFileName : nullptr, attr, fn);
}

// The data block of a $DATA attribute (see Ntfs.h), from the pool; null when the pool refuses.
u8* MakeDataBlock(const NtfsData& data)
{
    if (data.resident)
    {
        auto* block = static_cast<u8*>(g_MemPool.Alloc(4));
        if (block)
        {
            block[0] = 3;
            block[1] = 0;
            StoreLe16(block + 2, static_cast<u16>(data.valueOffset));
        }
        return block;
    }
    // The run list lies inside its 1024-byte record, so even the long form holds it whole.
    const u32 length =
        static_cast<u32>(std::min<std::size_t>(data.runList.Size(), kDataBlockLongLimit));
    const bool longForm = length >= kDataBlockLongForm;
    auto* block = static_cast<u8*>(
        g_MemPool.Alloc(static_cast<int>(longForm ? kDataBlockLongLimit + 1 : length + 1)));
    if (block)
    {
        block[0] = longForm ? kDataBlockLongForm : static_cast<u8>(length);
        std::memcpy(block + 1, data.runList.Data(), length);
    }
    return block;
}

// The header and form fields of the engine's attribute struct.
void FillAttrHeader(const NtfsAttribute& a, NtfsAttr& attr)
{
    attr.type = a.type;
    attr.length = a.length;
    attr.nonResident = a.nonResident ? 1 : 0;
    attr.nameLength = static_cast<u8>(a.name.Size() / 2);
    attr.nameOffset = a.nameOffset;
    attr.flags = a.flags;
    attr.id = a.id;
    if (a.nonResident)
    {
        attr.firstVcn = a.lowestVcn;
        attr.lastVcn = a.highestVcn;
        attr.runsOffset = a.runsOffset;
        attr.compressionUnit = a.compressionUnit;
        attr.reserved24 = a.content.U32(kAttrReserved24);
        attr.allocatedSize = a.allocatedSize;
        attr.dataSize = a.dataSize;
        attr.initializedSize = a.initializedSize;
    }
    else
    {
        attr.valueLength = a.valueLength;
        attr.valueOffset = a.valueOffset;
        attr.indexed = a.indexed;
        attr.padding = a.content.U8(kAttrPadding);
    }
}

void FillFileName(const NtfsFileName& fn, NtfsAttr& attr)
{
    attr.parentRef = fn.parentRef;
    attr.created = fn.created;
    attr.modified = fn.modified;
    attr.mftChanged = fn.mftChanged;
    attr.accessed = fn.accessed;
    attr.fnAllocatedSize = fn.allocatedSize & kLow48;
    attr.fnRealSize = fn.realSize & kLow48;
    attr.fnFlags = fn.flags;
    attr.reparse = fn.reparse;
    attr.fnNameLength = fn.nameLength;
    attr.nameSpace = fn.nameSpace;
}
} // namespace

u8* NtfsDataBlock(const NtfsData& data)
{
    return MakeDataBlock(data);
}

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

u32 ExtractResidentValue(u8* record, u32 recordSize, u32 valueOffset, u64 size, u32* start,
                         u32* length)
{
    // A torn record keeps every stride as read: patching some of them would mix two writes.
    (void)ApplyUpdateSequence(record, recordSize);
    const u32 first = valueOffset < recordSize ? valueOffset : recordSize;
    const u64 room = recordSize - first;
    *start = first;
    *length = static_cast<u32>(size < room ? size : room);
    return valueOffset <= recordSize && size <= room ? kOk : kErrBadNtfs;
}

void CNtfs::ConvertTimes(RecordReads& reads, const NtfsStandardInformation& si,
                         NtfsRecordInfo& info)
{
    ZoneOffsets* zones = &reads.m_zones;
    // The three times are often one instant: each distinct one is converted once (the zone
    // lookup is the dearest step of a parse).
    FileTimeToFoundTime(si.created, info.created, zones);
    if (si.accessed == si.created)
        info.accessed = info.created;
    else
        FileTimeToFoundTime(si.accessed, info.accessed, zones);
    if (reads.m_skipModified)
        return;
    if (si.modified == si.created)
        info.modified = info.created;
    else if (si.modified == si.accessed)
        info.modified = info.accessed;
    else
        FileTimeToFoundTime(si.modified, info.modified, zones);
}

u32 CNtfs::ParseRecordHeader(ByteView bytes, NtfsRecordInfo& info, MftRecordHeader* header)
{
    info.data = nullptr;
    info.size = 0;
    info.resident = 0;
    info.streams.clear();
    info.name.clear();
    info.parent = 0;
    info.parentSequence = 0;

    if (DecodeMftRecordHeader(bytes, header) != kNtfsOk)
        return kErrBadNtfs;
    info.sequence = header->sequence;
    info.inUse = (header->flags & kRecFlagInUse) ? 1 : 0;
    if ((header->flags & (kRecFlagInUse | kRecFlagDirectory)) == kRecFlagInUse)
        return kErrRecordInUse;
    return kOk;
}

u32 CNtfs::ParseRecordImpl(RecordReads& reads, CMftRecord& record, u64 number, NtfsRecordInfo& info,
                           const MftRecordHeader* known) const
{
    MftRecordHeader header;
    if (known != nullptr)
        header = *known;
    else if (const u32 rc = ParseRecordHeader(record.View(), info, &header); rc != kOk)
        return rc;
    const bool directory = (header.flags & kRecFlagDirectory) != 0;
    info.attribute = directory ? 0x10 : 0x20;

    // A torn record (a stride without the update sequence number) is parsed as read.
    (void)record.ApplyFixups();

    // A missing or damaged attribute skips the record: nothing found (5). Attributes that did
    // not fit the base record are read from its extension records.
    NtfsFileAttributes& found = reads.m_file;
    GatherScratch scratch;
    (void)GatherFile(reads.m_reader, *reads.m_mft, record, number, &found, &scratch);
    NtfsStandardInformation si;
    if (!found.hasStandardInfo || DecodeStandardInformation(found.standardInfo, &si) != kNtfsOk)
        return kErrTransfer;
    ConvertTimes(reads, si, info);
    // The file's data: its unnamed $DATA (the piece that starts it, which holds the sizes), or
    // in a record without an attribute list whatever $DATA comes first.
    const NtfsAttribute* unnamed = nullptr;
    for (const NtfsAttribute& data : found.datas)
    {
        if (data.name.Size() == 0 && (!data.nonResident || data.lowestVcn == 0))
        {
            unnamed = &data;
            break;
        }
    }
    if (!unnamed && !found.hasAttributeList && !found.datas.empty())
        unnamed = &found.datas.front();
    NtfsData data;
    if (!directory && (!unnamed || DecodeData(*unnamed, &data) != kNtfsOk))
        return kErrTransfer;
    const NtfsAttribute* chosen = nullptr;
    NtfsFileName fn;
    if (ChooseFileName(found.fileNames.empty() ? nullptr : &found.fileNames[0],
                       found.fileNames.size() < 2 ? nullptr : &found.fileNames[1], &chosen,
                       &fn) != kNtfsOk)
        return kErrTransfer;
    info.name = NameText(fn);
    info.parent = static_cast<s64>(fn.parentRef & kLow48);
    info.parentSequence = static_cast<u16>(fn.parentRef >> 48);
    if (!directory)
    {
        info.resident = data.resident ? 1 : 0;
        // The whole 64-bit data size: files of 4 GiB and more keep their length.
        info.size = data.size;
        info.data = MakeDataBlock(data);
        // Its named streams, each once, by the piece that starts it.
        for (const NtfsAttribute& named : found.datas)
        {
            if (&named == unnamed || named.name.Size() == 0 ||
                (named.nonResident && named.lowestVcn != 0))
                continue;
            NtfsNamedStream stream{NtfsAttributeName(named), 0};
            NtfsData value;
            (void)DecodeData(named, &value);
            stream.size = value.size;
            info.streams.push_back(std::move(stream));
        }
    }
    return kOk;
}

u32 CNtfs::ParseRecordHeader(NtfsRecordHeader& header, const u8* record, u32 size)
{
    header = NtfsRecordHeader{};
    const ByteView r(record, record != nullptr ? size : 0);
    MftRecordHeader h;
    if (DecodeMftRecordHeader(r, &h) != kNtfsOk)
        return kErrBadNtfs;
    std::memcpy(header.signature, r.Data(), 4);
    header.usaOffset = h.usaOffset;
    header.usaCount = h.usaCount;
    header.lsn = h.lsn;
    header.sequence = h.sequence;
    header.linkCount = h.linkCount;
    header.attrOffset = h.attrOffset;
    header.flags = h.flags;
    header.bytesInUse = h.bytesInUse;
    header.bytesAlloc = h.bytesAllocated;
    header.baseRecord = h.baseRecord;
    header.nextAttrId = h.nextAttrId;
    header.reserved2A = h.reserved2A;
    header.recordNumber = h.recordNumber;
    header.usn = r.U16(h.usaOffset);
    // The array is copied only when it lies wholly inside the record.
    const std::size_t bytes = static_cast<std::size_t>(h.usaCount) * 2;
    if (bytes > 0 && r.Has(h.usaOffset, bytes))
    {
        header.usa = static_cast<u16*>(g_MemPool.Alloc(static_cast<int>(bytes)));
        if (header.usa)
            std::memcpy(header.usa, r.Data() + h.usaOffset, bytes);
    }
    return kOk;
}

int CNtfs::ApplyFixups(const u16* entries, int apply, int count, u8* record, u32 size)
{
    if (!entries)
        return 1;
    if (record == nullptr)
        return 0;
    return PatchUpdateSequence(record, size, entries,
                               count > 0 ? static_cast<std::size_t>(count) : 0, apply != 0)
               ? 1
               : 0;
}

u32 CNtfs::FindAttribute(NtfsAttr& attr, u32& cursor, u32 type, const u8* bytes, u32 size)
{
    attr = NtfsAttr{};
    const ByteView record(bytes, bytes != nullptr ? size : 0);
    CAttributeIterator walk(record, cursor);
    NtfsAttribute a;
    if (walk.Find(type, &a) != kNtfsOk)
    {
        cursor = 0xFFFFFFFF;
        return kErrTransfer;
    }
    cursor = a.offset;
    FillAttrHeader(a, attr);
    if (type == kTypeStandardInformation)
    {
        NtfsStandardInformation si;
        if (DecodeStandardInformation(a, &si) == kNtfsOk)
        {
            attr.created = si.created;
            attr.modified = si.modified;
            attr.mftChanged = si.mftChanged;
            attr.accessed = si.accessed;
            attr.fileAttributes = si.fileAttributes;
            attr.maxVersions = si.maxVersions;
            attr.version = si.version;
            attr.classId = si.classId;
            attr.ownerId = si.ownerId;
            attr.securityId = si.securityId;
            attr.quotaCharged = si.quotaCharged;
            attr.usn = si.usn;
        }
    }
    else if (type == kTypeFileName)
    {
        NtfsFileName fn;
        if (DecodeFileName(a, &fn) == kNtfsOk)
        {
            FillFileName(fn, attr);
            // The name goes into a pool block of UTF-8 (at most three bytes per UTF-16 unit),
            // the text ended by a zero byte.
            const u32 units = fn.NameUnits();
            if (units > 0)
            {
                attr.nameText =
                    static_cast<char*>(g_MemPool.Alloc(static_cast<int>(units * 3 + 1)));
                if (attr.nameText)
                    (void)Utf16LeToUtf8(fn.name.Data(), units, attr.nameText, units * 3 + 1, false);
            }
        }
    }
    else if (type == kTypeData)
    {
        NtfsData data;
        (void)DecodeData(a, &data);
        attr.data = MakeDataBlock(data);
    }
    return kOk;
}

u32 CNtfs::GetFileName(std::string& name, NtfsAttr& attr, const u8* record, u32 size)
{
    name.clear();
    attr = NtfsAttr{};
    const ByteView bytes(record, record != nullptr ? size : 0);
    if (!bytes.Has(0, 4) || bytes.U32(0) != kFileSignature)
        return kErrBadNtfs;
    RecordAttributes found;
    GatherAttributes(bytes, &found);
    const NtfsAttribute* chosen = nullptr;
    NtfsFileName fn;
    if (ChooseFileName(found, &chosen, &fn) != kNtfsOk)
        return kErrTransfer;
    FillAttrHeader(*chosen, attr);
    FillFileName(fn, attr);
    name = NameText(fn).str();
    return kOk;
}

u32 CNtfs::DecodeRuns(const u8* runs, int limit, std::vector<NtfsRun>& out)
{
    out.clear();
    if (!runs)
        return kErrTransfer;
    std::vector<NtfsExtent> extents;
    const u32 rc = DecodeRunList(runs, limit > 0 ? static_cast<std::size_t>(limit) : 0, &extents);
    // A run is yielded only when it and every run before it can be held: one left out would
    // put all later ones at the wrong place in the data.
    for (const NtfsExtent& extent : extents)
    {
        if (!FitsNtfsRun(extent))
            return kErrBadNtfs;
        out.push_back(NtfsRun{static_cast<u32>(extent.lcn), static_cast<u32>(extent.length)});
    }
    return rc == kNtfsOk ? kOk : kErrBadNtfs;
}
