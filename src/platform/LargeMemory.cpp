#include "platform/LargeMemory.h"

#include <sys/mman.h>

#include <cstdint>

void AdviseHugePages(void* start, std::size_t bytes)
{
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto from = (reinterpret_cast<std::uintptr_t>(start) + kHugePage - 1) & ~(kHugePage - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(kHugePage - 1);
    if (to > from)
        (void)madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}
