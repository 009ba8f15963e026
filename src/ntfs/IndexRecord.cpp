// Index records: the header and its update sequence checked before anything is read, the
// entries in use walked by their own lengths, then the slack past them searched 8 bytes at a
// time for entries that still hold a whole file name.
#include "ntfs/IndexRecord.h"

#include <utility>

#include "ntfs/FileNameLayout.h"
#include "ntfs/FileReference.h"
#include "ntfs/IndexRecordLayout.h"
#include "ntfs/MftRecord.h"
#include "ntfs/MftRecordLayout.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"
#include "platform/Unicode.h"

using namespace ntfs;

namespace
{
// Where the entries of a record lie once its header checked out: [first, inUseEnd) in use,
// [inUseEnd, blockEnd) slack. All are offsets from the record's start, inside the record.
struct NodeBounds
{
    u32 first = 0;
    u32 inUseEnd = 0;
    u32 blockEnd = 0;
};

constexpr u32 kMaxNameUnits = 255;

// Checks the header and the index node header of the record at bytes. The record's size comes
// from the node's allocated size; it is a whole number of update sequence strides, each one
// named in the array, and no more than the bytes at hand. The array follows the fixed header,
// the entries follow the array, the bytes in use lie between them and the allocation's end.
bool DecodeBounds(ByteView v, IndexRecordInfo* info, NodeBounds* out)
{
    if (!v.Has(0, kIxHeaderBytes) || v.U32(kIxSignature) != kIndxSignature)
        return false;
    const u64 blockBytes = u64{kIxNode} + v.U32(kIxNode + kInAllocated);
    if (blockBytes < kUpdateStride || blockBytes % kUpdateStride != 0 || blockBytes > v.Size())
        return false;
    if (v.U16(kIxUsaCount) != blockBytes / kUpdateStride + 1)
        return false;
    const u64 first = u64{kIxNode} + v.U32(kIxNode + kInEntriesOffset);
    const u64 inUseEnd = u64{kIxNode} + v.U32(kIxNode + kInIndexLength);
    const u32 usaOffset = v.U16(kIxUsaOffset);
    const u64 usaEnd = usaOffset + u64{2} * v.U16(kIxUsaCount);
    if (usaOffset < kIxHeaderBytes || usaEnd > first || first > inUseEnd || inUseEnd > blockBytes)
        return false;
    info->vcn = v.U64(kIxVcn);
    info->blockBytes = static_cast<u32>(blockBytes);
    out->first = static_cast<u32>(first);
    out->inUseEnd = static_cast<u32>(inUseEnd);
    out->blockEnd = static_cast<u32>(blockBytes);
    return true;
}

// True when the name's units hold no U+0000, no '/' and no unpaired surrogate: what a name
// NTFS stored can hold, and what stale bytes in the slack rarely do.
bool NameUnitsValid(const u8* units, u32 count)
{
    for (u32 i = 0; i < count; ++i)
    {
        const u16 unit = LoadLe16(units + std::size_t{2} * i);
        if (unit == 0 || unit == '/')
            return false;
        if (unit >= 0xD800 && unit <= 0xDBFF)
        {
            if (i + 1 >= count)
                return false;
            const u16 next = LoadLe16(units + std::size_t{2} * (i + 1));
            if (next < 0xDC00 || next > 0xDFFF)
                return false;
            ++i;
        }
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
            return false;
    }
    return true;
}

// Decodes the $FILE_NAME key (the view holds the key's bytes, no more) into *out. The name's
// length is 1 to 255 units and lies inside the key. Strict (for the slack): the name's units
// must be valid, the name space one of the four and the parent reference's record number not 0.
// Returns false when the key does not hold a name.
bool DecodeKey(ByteView key, bool strict, IndexNameEntry* out)
{
    if (!key.Has(0, kFnName))
        return false;
    const u32 units = key.U8(kFnNameLength);
    if (units == 0 || !key.Has(kFnName, std::size_t{2} * units))
        return false;
    const u8* name = key.Data() + kFnName;
    out->parentReference = key.U64(kFnParent);
    out->nameSpace = key.U8(kFnNameSpace);
    if (strict && (out->nameSpace > kNameSpaceWin32AndDos ||
                   NtfsRefRecord(out->parentReference) == 0 || !NameUnitsValid(name, units)))
        return false;
    char text[kMaxNameUnits * 3 + 1];
    const u32 length = Utf16LeToUtf8(name, units, text, sizeof text, false);
    out->name.assign(text, length);
    out->created = key.U64(kFnCreated);
    out->modified = key.U64(kFnModified);
    out->mftChanged = key.U64(kFnMftChanged);
    out->accessed = key.U64(kFnAccessed);
    out->allocatedSize = key.U64(kFnAllocSize);
    out->realSize = key.U64(kFnRealSize);
    out->fileAttributes = key.U32(kFnFlags);
    return true;
}

// The entries in use, from the first to the one that ends the node. An entry too short for its
// header, or running past the bytes in use, ends the walk (each step moves forward by at least
// the header's size); an entry whose key holds no name is passed over.
void ReadEntriesInUse(ByteView v, const NodeBounds& node, std::vector<IndexNameEntry>* entries)
{
    u32 pos = node.first;
    while (node.inUseEnd - pos >= kIeHeaderBytes)
    {
        const u32 length = v.U16(pos + kIeLength);
        const u32 keyLength = v.U16(pos + kIeKeyLength);
        const u32 flags = v.U32(pos + kIeFlags);
        if (length < kIeHeaderBytes || length > node.inUseEnd - pos ||
            (flags & kIeFlagLastEntry) != 0)
            return;
        const u32 tail = (flags & kIeFlagSubNode) != 0 ? 8 : 0;
        IndexNameEntry entry;
        if (keyLength + tail <= length - kIeHeaderBytes &&
            DecodeKey(v.Sub(pos + kIeKey, keyLength), false, &entry))
        {
            entry.fileReference = v.U64(pos + kIeFileReference);
            entries->push_back(std::move(entry));
        }
        pos += length;
    }
}

// True when the bytes at pos of the slack look like a whole index entry inside the record: no
// flags but the sub-node one, a key long enough for a name, and the entry's length exactly
// that of its header and key rounded up to 8 bytes, plus the sub-node VCN when it has one.
// The caller leaves room for the header and the key's fixed part at pos. One load covers the
// entry length, key length and flags, which rule out nearly every step of the slack.
bool PlausibleEntryAt(ByteView v, u32 pos, u32 blockEnd)
{
    const u64 word = v.U64(pos + kIeLength);
    const u32 length = static_cast<u32>(word & 0xFFFF);
    const u32 keyLength = static_cast<u32>((word >> 16) & 0xFFFF);
    const u32 flags = static_cast<u32>(word >> 32);
    if (flags > kIeFlagSubNode || keyLength < kFnName + 2 || length > blockEnd - pos)
        return false;
    const u32 tail = flags == kIeFlagSubNode ? 8 : 0;
    return length == ((kIeHeaderBytes + keyLength + 7) & ~7u) + tail;
}

bool SameEntry(const IndexNameEntry& a, const IndexNameEntry& b)
{
    return a.fileReference == b.fileReference && a.parentReference == b.parentReference &&
           a.nameSpace == b.nameSpace && a.name == b.name;
}

// Every plausible entry of the slack, at each 8-byte step (stale entries overlap, so a find
// does not move the search past itself); one that repeats an entry in use or an earlier find
// is left out.
void ReadSlack(ByteView v, const NodeBounds& node, std::vector<IndexNameEntry>* entries,
               std::size_t firstOfRecord)
{
    const u32 start = (node.inUseEnd + 7) & ~7u;
    for (u32 pos = start;
         pos < node.blockEnd && node.blockEnd - pos >= kIeHeaderBytes + kFnName + 2; pos += 8)
    {
        if (!PlausibleEntryAt(v, pos, node.blockEnd))
            continue;
        IndexNameEntry entry;
        if (!DecodeKey(v.Sub(pos + kIeKey, v.U16(pos + kIeKeyLength)), true, &entry))
            continue;
        entry.fileReference = v.U64(pos + kIeFileReference);
        entry.inSlack = true;
        bool repeat = false;
        for (std::size_t i = firstOfRecord; i < entries->size() && !repeat; ++i)
            repeat = SameEntry((*entries)[i], entry);
        if (!repeat)
            entries->push_back(std::move(entry));
    }
}
} // namespace

u32 ReadIndexRecord(u8* bytes, std::size_t size, IndexRecordInfo* info,
                    std::vector<IndexNameEntry>* entries)
{
    if (bytes == nullptr || info == nullptr || entries == nullptr)
        return kNtfsCorrupt;
    IndexRecordInfo header;
    NodeBounds node;
    if (!DecodeBounds(ByteView(bytes, size), &header, &node))
        return kNtfsCorrupt;
    if (ApplyUpdateSequence(bytes, node.blockEnd) != kNtfsOk)
        return kNtfsCorrupt;
    *info = header;
    const ByteView v(bytes, node.blockEnd);
    const std::size_t firstOfRecord = entries->size();
    ReadEntriesInUse(v, node, entries);
    ReadSlack(v, node, entries, firstOfRecord);
    return kNtfsOk;
}
