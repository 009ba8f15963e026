// Fuzzes the JPEG validator over the input as a whole file: whatever its markers and entropy-
// coded data claim, the check ends, stays within the input, and calls nothing valid whose end
// lies past it.
#include <cstdlib>

#include "carve/ContentCheck.h"

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
    MemorySource source(std::span<const u8>(data, size));
    const ContentCheck check = CheckJpeg(source);
    Check(check.validBytes <= size);
    Check(check.end <= size);
    if (check.verdict == FindContent::kValid)
        Check(check.end != 0 && check.validBytes == check.end);
    return 0;
}
