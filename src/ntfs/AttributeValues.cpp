// Decoders of attribute values: fixed fields through the bounded view, the name only as far as
// the value holds it.
#include "ntfs/AttributeValues.h"

#include "ntfs/FileNameLayout.h"
#include "ntfs/NtfsResult.h"
#include "ntfs/StandardInformationLayout.h"
#include "platform/ByteOrder.h"

using namespace ntfs;

u32 DecodeStandardInformation(const NtfsAttribute& attr, NtfsStandardInformation* out)
{
    *out = NtfsStandardInformation{};
    if (attr.nonResident)
        return kNtfsCorrupt;
    const ByteView& v = attr.value;
    out->created = static_cast<s64>(v.U64(kSiCreated));
    out->modified = static_cast<s64>(v.U64(kSiModified));
    out->mftChanged = static_cast<s64>(v.U64(kSiMftChanged));
    out->accessed = static_cast<s64>(v.U64(kSiAccessed));
    out->fileAttributes = v.U32(kSiFileAttributes);
    out->maxVersions = v.U32(kSiMaxVersions);
    out->version = v.U32(kSiVersion);
    out->classId = v.U32(kSiClassId);
    out->ownerId = v.U32(kSiOwnerId);
    out->securityId = v.U32(kSiSecurityId);
    out->quotaCharged = v.U64(kSiQuota);
    out->usn = v.U64(kSiUsn);
    return kNtfsOk;
}

u32 DecodeFileName(const NtfsAttribute& attr, NtfsFileName* out)
{
    *out = NtfsFileName{};
    if (attr.nonResident)
        return kNtfsCorrupt;
    const ByteView& v = attr.value;
    out->parentRef = v.U64(kFnParent);
    out->created = static_cast<s64>(v.U64(kFnCreated));
    out->modified = static_cast<s64>(v.U64(kFnModified));
    out->mftChanged = static_cast<s64>(v.U64(kFnMftChanged));
    out->accessed = static_cast<s64>(v.U64(kFnAccessed));
    out->allocatedSize = v.U64(kFnAllocSize);
    out->realSize = v.U64(kFnRealSize);
    out->flags = v.U32(kFnFlags);
    out->reparse = v.U32(kFnReparse);
    out->nameLength = v.U8(kFnNameLength);
    out->nameSpace = v.U8(kFnNameSpace);
    // The stored length, but no more than the value holds: Sub clips the view.
    out->name = v.Sub(kFnName, 2 * std::size_t{out->nameLength});
    if (out->name.Size() % 2 != 0)
        out->name = out->name.Sub(0, out->name.Size() - 1);
    return kNtfsOk;
}

u32 DecodeData(const NtfsAttribute& attr, NtfsData* out)
{
    *out = NtfsData{};
    out->resident = !attr.nonResident;
    if (out->resident)
    {
        out->size = attr.valueLength;
        // Inside the record: the iterator checked the value against the attribute.
        out->valueOffset = attr.offset + attr.valueOffset;
        return kNtfsOk;
    }
    out->size = attr.dataSize;
    out->runList = attr.value;
    out->lowestVcn = attr.lowestVcn;
    out->highestVcn = attr.highestVcn;
    out->allocatedSize = attr.allocatedSize;
    out->initializedSize = attr.initializedSize;
    return kNtfsOk;
}
