// Fuzzes the attribute walk of one MFT record and the value decoders on what it hands out:
// nothing handed out may reach past the bytes in use, and every view must lie in its attribute.
#include <cstdlib>
#include <vector>

#include "ntfs/AttributeIterator.h"
#include "ntfs/AttributeValues.h"
#include "ntfs/NtfsResult.h"
#include "ntfs/RunList.h"
#include "platform/Unicode.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

bool Within(const ByteView& inner, const ByteView& outer)
{
    return inner.Size() == 0 || (inner.Data() >= outer.Data() &&
                                 inner.Data() + inner.Size() <= outer.Data() + outer.Size());
}

// Walks from the start (or from offset) and decodes every attribute; returns the offsets seen.
std::vector<u32> Walk(const ByteView& record, const u32* offset)
{
    std::vector<u32> offsets;
    CAttributeIterator walk =
        offset ? CAttributeIterator(record, *offset) : CAttributeIterator(record);
    NtfsAttribute attr;
    u32 rc = kNtfsOk;
    u32 lastType = 0;
    while ((rc = walk.Next(&attr)) == kNtfsOk)
    {
        Check(attr.offset % 8 == 0 && attr.length >= 0x18 && attr.type >= lastType);
        Check(attr.offset + u64{attr.length} <= record.Size());
        Check(Within(attr.content, record) && Within(attr.name, attr.content) &&
              Within(attr.value, attr.content));
        lastType = attr.type;
        offsets.push_back(attr.offset);
        NtfsStandardInformation si;
        (void)DecodeStandardInformation(attr, &si);
        NtfsFileName fn;
        if (DecodeFileName(attr, &fn) == kNtfsOk)
        {
            Check(Within(fn.name, attr.value) && fn.NameUnits() <= fn.nameLength);
            std::vector<char> text(fn.NameUnits() * 3 + 1);
            Check(Utf16LeToUtf8(fn.name.Data(), fn.NameUnits(), text.data(),
                                static_cast<u32>(text.size()), false) < text.size());
        }
        NtfsData data;
        Check(DecodeData(attr, &data) == kNtfsOk);
        if (data.resident)
            Check(data.valueOffset + data.size <= record.Size());
        else
        {
            std::vector<NtfsExtent> extents;
            (void)DecodeRunList(data.runList.Data(), data.runList.Size(), data.lowestVcn,
                                data.highestVcn, &extents);
        }
    }
    Check(rc == kNtfsNotFound || rc == kNtfsCorrupt);
    return offsets;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    // An exact-size copy, so that a read past the record is caught by the sanitizer.
    const std::vector<u8> bytes(data, data + size);
    const ByteView record(bytes.data(), bytes.size());
    const std::vector<u32> offsets = Walk(record, nullptr);
    // A walk that starts at an attribute it handed out sees the same attributes from there.
    if (!offsets.empty())
    {
        const std::vector<u32> rest = Walk(record, &offsets.back());
        Check(!rest.empty() && rest.front() == offsets.back());
    }
    return 0;
}
