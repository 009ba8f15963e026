// Directory-block decoding over arbitrary bytes: every short entry, the long-name reader from
// every start, the walks the scanner makes over a block, and the checks of a deleted folder's
// later clusters.
#include <cstdlib>
#include <cstring>

#include "fat/FatDir.h"
#include "fat/FatDirBlock.h"
#include "scan/fat/FatScan.h"

namespace
{
void CheckName(const char* name)
{
    // The name is always NUL-terminated inside its field.
    if (memchr(name, 0, kFatNameSize) == nullptr)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size)
{
    if (size > 64 * 1024)
        return 0;
    // A copy of exactly size bytes, so that any read past the block is caught.
    u8* block = size ? static_cast<u8*>(std::malloc(size)) : nullptr;
    if (size)
        std::memcpy(block, data, size);
    const u32 blockSize = static_cast<u32>(size);

    FatDirBuffer buffer;
    buffer.Attach(block, blockSize);
    FatEntryInfo info;
    for (s32 offset = -32; offset <= static_cast<s32>(blockSize) + 32; offset += 16)
    {
        DecodeEntry(buffer, info, offset);
        CheckName(info.name);
    }
    for (s32 start = -32; start <= static_cast<s32>(blockSize); start += 32)
    {
        char out[kFatNameSize];
        u32 outSize = start >= 0 && start % 64 == 0 ? kFatNameSize : 7;
        ReadLongName(buffer, out, outSize, size ? block[0] : 0, start);
        if (memchr(out, 0, outSize) == nullptr)
            std::abort();
    }

    u32 entryNumber = size > 1 ? block[1] : 0;
    u32 deleted = 0;
    for (int round = 0; round < 2; ++round)
        while (NextDirEntry(buffer, info, entryNumber, deleted, 16))
            CheckName(info.name);
    for (u32 n = 0; GetEntryByIndex(buffer, info, n) == 0; ++n)
        CheckName(info.name);
    (void)CheckDirBlock(block, blockSize, size > 2 ? block[2] * 100u : 0);
    // The checks of a deleted folder's later clusters; one that passes has no slot after its
    // end-of-directory mark that begins otherwise.
    if (CheckDirContinuation(block, blockSize, size > 3 ? block[3] * 100u : 0) && blockSize >= 32)
    {
        bool ended = false;
        for (u32 at = 0; at + 32 <= blockSize; at += 32)
        {
            if (ended && block[at] != 0)
                std::abort();
            ended = ended || block[at] == 0;
        }
        if (ended != HasDirEnd(block, blockSize))
            std::abort();
    }

    std::free(block);
    return 0;
}
