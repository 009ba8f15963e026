// Fuzzes what recovery decodes of a volume by itself: the resident value of an MFT record (with
// its update sequence fixup) must stay inside the record, and the sparse flags of a run list
// must pair one to one with the runs the decoder yields.
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

    std::vector<NtfsRun> decoded;
    (void)CNtfs::DecodeRuns(runs.data(), static_cast<int>(runs.size()), decoded);
    Check(SparseRuns(runs.data(), static_cast<int>(runs.size())).size() == decoded.size());

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
