// Large blocks: an anonymous mapping aligned to the huge-page size and advised to use huge
// pages. The hint is only a hint: without transparent huge pages the block is ordinary memory.
#include "platform/LargeBlock.h"

#include <sys/mman.h>

#include <cstdint>

namespace
{
// Gives advice on the whole pages of pageBytes that lie inside bytes bytes at p.
void AdviseWholePages(const void* p, u64 bytes, u64 pageBytes, int advice)
{
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const u64 lead = (pageBytes - start % pageBytes) % pageBytes;
    if (p == nullptr || bytes < lead + pageBytes)
        return;
    // madvise takes a mutable pointer but changes no bytes.
    u8* first = const_cast<u8*>(static_cast<const u8*>(p)) + lead;
    (void)madvise(first, (bytes - lead) / pageBytes * pageBytes, advice);
}
} // namespace

u8* MapHugePages(u64 bytes)
{
    if (bytes == 0 || bytes > (u64{1} << 40))
        return nullptr;
    // Rounded up to whole huge pages, with one more to align the start.
    const u64 rounded = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    const u64 span = rounded + kHugePageBytes;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    // The pointer is moved on to the next huge-page boundary; the slack in front of it and
    // behind the block's end goes back at once.
    u8* base = static_cast<u8*>(raw);
    const u64 lead =
        (kHugePageBytes - reinterpret_cast<std::uintptr_t>(raw) % kHugePageBytes) % kHugePageBytes;
    if (lead > 0)
        munmap(base, lead);
    if (span > lead + rounded)
        munmap(base + lead + rounded, span - lead - rounded);
    (void)madvise(base + lead, rounded, MADV_HUGEPAGE);
    return base + lead;
}

void UnmapHugePages(u8* block, u64 bytes)
{
    if (block != nullptr && bytes != 0)
        munmap(block, (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes);
}

bool LargeBlock::Allocate(u64 bytes)
{
    Release();
    m_bytes = MapHugePages(bytes);
    if (m_bytes == nullptr)
        return false;
    m_size = bytes;
    return true;
}

void LargeBlock::Release()
{
    UnmapHugePages(m_bytes, m_size);
    m_bytes = nullptr;
    m_size = 0;
}

void AdviseHugePages(const void* p, u64 bytes)
{
    AdviseWholePages(p, bytes, kHugePageBytes, MADV_HUGEPAGE);
}

void AdviseSmallPages(const void* p, u64 bytes)
{
    AdviseWholePages(p, bytes, 4096, MADV_NOHUGEPAGE);
}
