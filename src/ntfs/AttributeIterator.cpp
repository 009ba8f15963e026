// The attribute walk: every field is checked against the bytes in use and against the
// attribute's own length, in 64-bit arithmetic, before anything is handed out.
#include "ntfs/AttributeIterator.h"

#include "ntfs/AttributeLayout.h"
#include "ntfs/MftRecordLayout.h"
#include "ntfs/NtfsResult.h"

using namespace ntfs;

namespace
{
// True when [offset, offset + length) lies inside [0, size), without overflow.
bool Inside(u64 offset, u64 length, u64 size)
{
    return offset <= size && length <= size - offset;
}
} // namespace

CAttributeIterator::CAttributeIterator(ByteView record) : m_record(record)
{
    Start(m_record.U16(kRecAttrOffset));
}

CAttributeIterator::CAttributeIterator(ByteView record, u32 offset) : m_record(record)
{
    Start(offset);
}

void CAttributeIterator::Start(u32 offset)
{
    // The bytes in use bound the walk: the record's tail past them is slack.
    const u64 used = m_record.U32(kRecBytesInUse);
    if (!m_record.Has(0, kRecHeaderBytes) || used > m_record.Size() ||
        offset % kAttrAlignment != 0 || offset < kRecHeaderBytes || offset >= used)
    {
        m_state = kNtfsCorrupt;
        return;
    }
    m_used = static_cast<u32>(used);
    m_offset = offset;
}

u32 CAttributeIterator::Next(NtfsAttribute* out)
{
    if (m_state != kNtfsOk)
        return m_state;
    // The walk ends at the end marker; the bytes in use must reach it.
    const ByteView rest = m_record.Sub(m_offset, m_used - m_offset);
    if (!rest.Has(0, 4))
        return m_state = kNtfsCorrupt;
    const u32 type = rest.U32(kAttrType);
    if (type == kAttrEnd)
        return m_state = kNtfsNotFound;
    const u64 length = rest.U32(kAttrLength);
    // A known header, type order (the attribute list relies on it), whole 8-byte units, and the
    // attribute inside the bytes in use; each step moves on by at least a header.
    if (type == 0 || type < m_lastType || length < kAttrResidentHeader ||
        length % kAttrAlignment != 0 || !Inside(0, length, rest.Size()))
        return m_state = kNtfsCorrupt;
    const ByteView a = rest.Sub(0, length);

    // Filled in place, without a copy: the walk runs for every record of a scan.
    NtfsAttribute& attr = *out;
    attr = NtfsAttribute{};
    attr.offset = m_offset;
    attr.type = type;
    attr.length = static_cast<u32>(length);
    attr.flags = a.U16(kAttrFlags);
    attr.id = a.U16(kAttrId);
    attr.content = a;
    const u8 form = a.U8(kAttrNonResident);
    const u64 nameBytes = 2 * u64{a.U8(kAttrNameLength)};
    attr.nameOffset = a.U16(kAttrNameOffset);
    if (form > 1 || (nameBytes > 0 && !Inside(attr.nameOffset, nameBytes, length)))
        return m_state = kNtfsCorrupt;
    attr.name = a.Sub(attr.nameOffset, nameBytes);
    attr.nonResident = form == 1;
    if (attr.nonResident)
    {
        attr.lowestVcn = a.U64(kAttrLowestVcn);
        attr.highestVcn = a.U64(kAttrHighestVcn);
        attr.runsOffset = a.U16(kAttrRunsOffset);
        attr.compressionUnit = a.U16(kAttrCompressionUnit);
        attr.allocatedSize = a.U64(kAttrAllocatedSize);
        attr.dataSize = a.U64(kAttrDataSize);
        attr.initializedSize = a.U64(kAttrInitializedSize);
        if (length < kAttrNonResidentHeader || attr.runsOffset > length)
            return m_state = kNtfsCorrupt;
        attr.value = a.Sub(attr.runsOffset, length - attr.runsOffset);
    }
    else
    {
        attr.valueLength = a.U32(kAttrValueLength);
        attr.valueOffset = a.U16(kAttrValueOffset);
        attr.indexed = a.U8(kAttrIndexed);
        if (!Inside(attr.valueOffset, attr.valueLength, length))
            return m_state = kNtfsCorrupt;
        attr.value = a.Sub(attr.valueOffset, attr.valueLength);
    }
    m_offset += attr.length;
    m_lastType = type;
    return kNtfsOk;
}

u32 CAttributeIterator::Find(u32 type, NtfsAttribute* out)
{
    u32 rc = kNtfsOk;
    while ((rc = Next(out)) == kNtfsOk)
    {
        if (out->type == type)
            return kNtfsOk;
        if (out->type > type)
            return kNtfsNotFound;
    }
    return rc;
}
