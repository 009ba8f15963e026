// The attribute list decoder: a bounded walk over the entries of one $ATTRIBUTE_LIST value, each
// entry's length and name checked before it is kept.
#include "ntfs/AttributeList.h"

#include "ntfs/AttributeLayout.h"
#include "ntfs/FileReference.h"
#include "ntfs/NtfsResult.h"

using namespace ntfs;

u32 DecodeAttributeList(ByteView value, std::vector<NtfsAttrListEntry>* out)
{
    out->clear();
    std::size_t offset = 0;
    // Each entry takes at least kListHeader bytes: the walk ends within Size() / 0x1A steps.
    while (offset < value.Size())
    {
        const ByteView rest = value.Sub(offset, value.Size() - offset);
        if (!rest.Has(0, kListHeader))
            return kNtfsCorrupt;
        const u16 length = rest.U16(kListLength);
        if (length < kListHeader || !rest.Has(0, length))
            return kNtfsCorrupt;
        const ByteView entry = rest.Sub(0, length);
        const std::size_t nameBytes = std::size_t{2} * entry.U8(kListNameLength);
        const u8 nameOffset = entry.U8(kListNameOffset);
        if (nameBytes != 0 && (nameOffset < kListHeader || !entry.Has(nameOffset, nameBytes)))
            return kNtfsCorrupt;
        NtfsAttrListEntry e;
        e.type = entry.U32(kListType);
        e.lowestVcn = entry.U64(kListLowestVcn);
        const u64 segment = entry.U64(kListSegment);
        e.record = NtfsRefRecord(segment);
        e.sequence = NtfsRefSequence(segment);
        e.id = entry.U16(kListId);
        if (nameBytes != 0)
            e.name = entry.Sub(nameOffset, nameBytes);
        out->push_back(e);
        offset += length;
    }
    return kNtfsOk;
}

bool NtfsExtensionBelongs(u64 baseReferenceInExtension, u64 baseRecord, u16 baseSequence,
                          bool baseInUse)
{
    const u16 sequence = NtfsRefSequence(baseReferenceInExtension);
    return sequence != 0 && NtfsRefRecord(baseReferenceInExtension) == baseRecord &&
           NtfsSequenceMatches(sequence, baseSequence, baseInUse);
}
