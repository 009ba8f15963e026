// Fuzzes the update sequence fixup of a record of the input's size: either every stride the
// header counts ends in the update sequence number and gets its saved word back, or nothing at
// all changes; no other byte ever does.
#include <cstdlib>
#include <vector>

#include "ntfs/MftRecord.h"
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
    const std::vector<u8> disk(data, data + size);
    std::vector<u8> bytes = disk;
    const u32 rc = ApplyUpdateSequence(bytes.data(), bytes.size());
    if (rc != kNtfsOk)
    {
        Check(rc == kNtfsCorrupt && bytes == disk);
        return 0;
    }
    const u32 offset = LoadLe16(&disk[4]);
    const u32 strides = LoadLe16(&disk[6]) - 1u;
    for (std::size_t i = 0; i < size; ++i)
    {
        const std::size_t stride = i / 512;
        if (i % 512 >= 510 && stride < strides)
        {
            Check(LoadLe16(&disk[stride * 512 + 510]) == LoadLe16(&disk[offset]));
            Check(bytes[i] == disk[offset + 2 * (stride + 1) + i % 2]);
        }
        else
            Check(bytes[i] == disk[i]);
    }
    // The record object applies the same fixups to its own copy.
    CMftRecord record;
    record.Assign(disk.data(), disk.size());
    Check(record.ApplyFixups() == kNtfsOk && record.FixupsApplied());
    Check(std::vector<u8>(record.Bytes(), record.Bytes() + record.Size()) == bytes);
    return 0;
}
