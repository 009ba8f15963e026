// Fuzzes the exFAT entry-set decoder the way the folder walk drives it: the input is a folder's
// bytes, decoded set by set; every set stays inside the folder and names something.
#include <cstdint>
#include <cstdlib>

#include "exfat/ExfatEntrySet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ByteView folder(data, size);
    for (std::size_t at = 0; folder.Has(at, 32);)
    {
        ExfatEntrySet set;
        const ExfatSetResult r = DecodeExfatEntrySet(folder.Sub(at, size - at), &set);
        if (r != ExfatSetResult::kDecoded)
        {
            at += 32;
            continue;
        }
        if (set.entries < 3 || set.entries > set.secondaryCount + 1 ||
            !folder.Has(at, static_cast<std::size_t>(set.entries) * 32) || set.name.empty() ||
            set.name.size() > 255 * 3)
            std::abort();
        (void)ExfatTimeToFoundTime(set.created);
        (void)ExfatTimeToFoundTime(set.accessed);
        at += static_cast<std::size_t>(set.entries) * 32;
    }
    u32 first = 0;
    u64 length = 0;
    (void)FindExfatBitmap(folder, &first, &length);
    // The check of a cluster read on past a deleted folder's first: a cluster that holds
    // entries opens with one.
    bool ends = false;
    if (HoldsExfatEntries(folder, &ends) && (!folder.Has(0, 32) || folder.U8(0) == 0))
        std::abort();
    return 0;
}
