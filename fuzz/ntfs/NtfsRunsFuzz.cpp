// Fuzzes the run-list decoder with the limit set to the input's length.
#include <vector>

#include "ntfs/Ntfs.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    // An exact-size copy, so that a read past the limit is caught by the sanitizer.
    std::vector<u8> bytes(data, data + size);
    std::vector<NtfsRun> runs;
    (void)CNtfs::DecodeRuns(bytes.data(), static_cast<int>(bytes.size()), runs);
    return 0;
}
