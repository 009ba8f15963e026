// Fuzzes the run-list decoder with the limit set to the input's length.
#include <vector>

#include "ntfs/RunList.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    // An exact-size copy, so that a read past the limit is caught by the sanitizer.
    std::vector<u8> bytes(data, data + size);
    std::vector<NtfsExtent> extents;
    (void)DecodeRunList(bytes.data(), bytes.size(), &extents);
    return 0;
}
