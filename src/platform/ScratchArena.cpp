// The blocks of a scratch arena.
#include "platform/ScratchArena.h"

#include <new>

#include "platform/LargeBlock.h"

void* HugePageResource::do_allocate(std::size_t bytes, std::size_t alignment)
{
    // The blocks start on a huge-page boundary, which satisfies any alignment up to 2 MiB.
    u8* block = alignment <= kHugePageBytes ? MapHugePages(bytes) : nullptr;
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void HugePageResource::do_deallocate(void* p, std::size_t bytes, std::size_t /*alignment*/)
{
    UnmapHugePages(static_cast<u8*>(p), bytes);
}
