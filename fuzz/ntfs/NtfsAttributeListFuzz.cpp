// Fuzzes the attribute list decoder over a value of the input's bytes: every entry's name lies in
// the value, and the walk yields no more entries than the value has room for. The first 19 bytes
// also drive the extension record check.
#include <cstdlib>
#include <vector>

#include "ntfs/AttributeList.h"
#include "ntfs/FileReference.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    // An exact-size copy, so that a read past the value is caught by the sanitizer.
    const std::vector<u8> bytes(data, data + size);
    const ByteView value(bytes.data(), bytes.size());
    std::vector<NtfsAttrListEntry> entries;
    const u32 rc = DecodeAttributeList(value, &entries);
    Check(rc == kNtfsOk || rc == kNtfsCorrupt);
    Check(entries.size() <= size / 0x1A);
    for (const NtfsAttrListEntry& e : entries)
    {
        Check(e.name.Size() % 2 == 0 && e.record <= kNtfsRecordMask);
        if (e.name.Size() != 0)
            Check(e.name.Data() >= bytes.data() &&
                  e.name.Data() + e.name.Size() <= bytes.data() + bytes.size());
    }

    if (size >= 19)
    {
        const u64 reference = LoadLe64(data);
        const u64 record = LoadLe64(data + 8) & kNtfsRecordMask;
        const u16 sequence = LoadLe16(data + 16);
        const bool inUse = (data[18] & 1) != 0;
        if (NtfsExtensionBelongs(reference, record, sequence, inUse))
            Check(NtfsRefRecord(reference) == record && NtfsRefSequence(reference) != 0);
    }
    return 0;
}
