// Fuzzes what recovery decodes of a volume by itself: the resident value of an MFT record (with
// its update sequence fixup) must stay inside the record, and the runs of a run list, holes
// marked, must follow each other without gap.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ntfs/Ntfs.h"
#include "platform/Status.h"
#include "recovery/Recovery.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}
} // namespace

// Input: u16 value offset, u64 size, u8 run-list length L, L run bytes, then the record.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 11)
        return 0;
    u16 valueOffset = 0;
    u64 valueSize = 0;
    std::memcpy(&valueOffset, data, 2);
    std::memcpy(&valueSize, data + 2, 8);
    std::size_t runLength = data[10];
    std::size_t at = 11;
    if (runLength > size - at)
        runLength = size - at;
    // The run bytes in a block of their own, so that a read past them is caught.
    std::vector<u8> runs(data + at, data + at + runLength);
    at += runLength;

    std::vector<NtfsExtent> extents;
    (void)DecodeRunList(runs.data(), runs.size(), &extents);
    u64 vcn = 0;
    for (const NtfsExtent& extent : extents)
    {
        Check(extent.vcn == vcn && extent.length > 0);
        vcn += extent.length;
    }

    std::vector<u8> record(CNtfs::kRecordSize);
    std::memcpy(record.data(), data + at, std::min<std::size_t>(size - at, record.size()));
    u32 start = 0;
    u32 length = 0;
    const u32 status = ExtractResidentValue(record.data(), CNtfs::kRecordSize, valueOffset,
                                            valueSize, &start, &length);
    Check(start <= CNtfs::kRecordSize && length <= CNtfs::kRecordSize - start);
    Check(status == kOk ? (start == valueOffset && length == valueSize) : status == kErrBadNtfs);
    return 0;
}
