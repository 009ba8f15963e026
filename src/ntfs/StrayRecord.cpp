// An MFT record found anywhere on a volume, read alone: header, update sequence, names, times
// and the unnamed data's description.
#include "ntfs/StrayRecord.h"

#include "ntfs/AttributeIterator.h"
#include "ntfs/AttributeLayout.h"
#include "ntfs/AttributeValues.h"
#include "ntfs/FileNameLayout.h"
#include "ntfs/MftRecord.h"
#include "ntfs/MftRecordLayout.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"
#include "platform/Unicode.h"

using namespace ntfs;

namespace
{
constexpr u32 kMaxNameUnits = 255;

// True when the $FILE_NAME of next should replace chosen's: chosen is a DOS name (alone or
// shared with Win32) and next has a name.
bool Prefer(const NtfsFileName& chosen, const NtfsFileName& next)
{
    return (chosen.nameSpace == kNameSpaceDos || chosen.nameSpace == kNameSpaceWin32AndDos) &&
           next.nameSpace != kNameSpaceDos && next.NameUnits() > 0;
}

// Takes the name, parent and times of fn.
void TakeFileName(const NtfsFileName& fn, StrayRecord* out)
{
    char text[kMaxNameUnits * 3 + 1];
    out->name.assign(text, Utf16LeToUtf8(fn.name.Data(), fn.NameUnits(), text, sizeof text, false));
    out->parentReference = fn.parentRef;
}

// Takes the unnamed $DATA that starts the stream. False when it cannot be decoded.
bool TakeData(const NtfsAttribute& attr, StrayRecord* out)
{
    NtfsData data;
    if (DecodeData(attr, &data) != kNtfsOk)
        return false;
    out->size = data.size;
    out->resident = data.resident;
    if (data.resident)
        out->valueOffset = data.valueOffset;
    else
        out->runList.assign(data.runList.Data(), data.runList.Data() + data.runList.Size());
    return true;
}
} // namespace

u32 StrayRecordBytes(const u8* bytes, std::size_t size)
{
    if (size < kRecHeaderBytes || LoadLe32(bytes) != kFileSignature)
        return 0;
    const u32 allocated = LoadLe32(bytes + kRecBytesAlloc);
    return allocated == 1024 || allocated == 4096 ? allocated : 0;
}

u32 ParseStrayRecord(u8* bytes, std::size_t size, StrayRecord* out)
{
    *out = StrayRecord{};
    MftRecordHeader header;
    if (bytes == nullptr || DecodeMftRecordHeader(ByteView{bytes, size}, &header) != kNtfsOk ||
        header.usaOffset < kRecHeaderBytes || header.baseRecord != 0 ||
        header.bytesAllocated > size || header.bytesInUse > header.bytesAllocated)
        return kNtfsCorrupt;
    const std::size_t bytesUsed = header.bytesAllocated != 0 ? header.bytesAllocated : size;
    if (ApplyUpdateSequence(bytes, bytesUsed) != kNtfsOk)
        return kNtfsCorrupt;
    out->number = header.recordNumber;
    out->sequence = header.sequence;
    out->lsn = header.lsn;
    out->recordBytes = static_cast<u32>(bytesUsed);
    out->inUse = (header.flags & kRecFlagInUse) != 0;
    out->folder = (header.flags & kRecFlagDirectory) != 0;

    CAttributeIterator walk(ByteView{bytes, bytesUsed});
    NtfsAttribute attr;
    NtfsFileName chosen;
    bool named = false;
    bool hasData = false;
    bool hasTimes = false;
    while (walk.Next(&attr) == kNtfsOk && attr.type <= kTypeData)
    {
        NtfsStandardInformation si;
        NtfsFileName fn;
        if (attr.type == kTypeStandardInformation && !hasTimes &&
            DecodeStandardInformation(attr, &si) == kNtfsOk)
        {
            out->created = si.created;
            out->accessed = si.accessed;
            hasTimes = true;
        }
        else if (attr.type == kTypeFileName && DecodeFileName(attr, &fn) == kNtfsOk &&
                 fn.NameUnits() > 0 && (!named || Prefer(chosen, fn)))
        {
            chosen = fn;
            named = true;
        }
        else if (attr.type == kTypeData && attr.name.Size() == 0 && !hasData &&
                 (!attr.nonResident || attr.lowestVcn == 0))
            hasData = TakeData(attr, out);
    }
    if (!named || (!out->folder && !hasData))
        return kNtfsCorrupt;
    TakeFileName(chosen, out);
    if (!hasTimes)
    {
        out->created = chosen.created;
        out->accessed = chosen.accessed;
    }
    if (out->folder)
        out->size = 0;
    return kNtfsOk;
}
