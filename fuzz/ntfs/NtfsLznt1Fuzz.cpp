// Fuzzes the LZNT1 decompressor: the first 2 bytes give the output size (little-endian), the rest
// is the compressed unit. What comes out must not depend on the output size: a smaller buffer
// gets the same first bytes and ends cleanly.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "ntfs/Lznt1.h"
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
    if (size < 2)
        return 0;
    const std::size_t outSize = LoadLe16(data);
    // Exact-size copies, so that a read or write past either is caught by the sanitizer.
    const std::vector<u8> in(data + 2, data + size);
    std::vector<u8> out(outSize);
    std::size_t produced = 0;
    const u32 rc = DecompressLznt1(in.data(), in.size(), out.data(), out.size(), &produced);
    Check((rc == kNtfsOk || rc == kNtfsCorrupt) && produced <= outSize);
    if (produced == 0)
        return 0;

    const std::size_t cut = produced / 2;
    std::vector<u8> part(cut);
    std::size_t partProduced = 0;
    Check(DecompressLznt1(in.data(), in.size(), part.data(), part.size(), &partProduced) ==
              kNtfsOk &&
          partProduced == cut && std::equal(part.begin(), part.end(), out.begin()));
    return 0;
}
