// Large blocks: an anonymous mapping aligned to the huge-page size and advised to use huge
// pages. The hint is only a hint: without transparent huge pages the block is ordinary memory.
#include "platform/LargeBlock.h"

#include <sys/mman.h>

#include <cstdint>

namespace
{
constexpr u64 kHugePage = u64{2} << 20;
} // namespace

u8* MapHugePages(u64 bytes)
{
    if (bytes == 0 || bytes > (u64{1} << 40))
        return nullptr;
    // Rounded up to whole huge pages, with one more to align the start.
    const u64 rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    const u64 span = rounded + kHugePage;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    // The pointer is moved on to the next huge-page boundary; the slack in front of it and
    // behind the block's end goes back at once.
    u8* base = static_cast<u8*>(raw);
    const u64 lead = (kHugePage - reinterpret_cast<std::uintptr_t>(raw) % kHugePage) % kHugePage;
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
        munmap(block, (bytes + kHugePage - 1) / kHugePage * kHugePage);
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
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const u64 lead = (kHugePage - start % kHugePage) % kHugePage;
    if (p == nullptr || bytes < lead + kHugePage)
        return;
    // madvise takes a mutable pointer but changes no bytes.
    u8* first = const_cast<u8*>(static_cast<const u8*>(p)) + lead;
    (void)madvise(first, (bytes - lead) / kHugePage * kHugePage, MADV_HUGEPAGE);
}

void AdviseSmallPages(const void* p, u64 bytes)
{
    constexpr u64 kPage = 4096;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const u64 lead = (kPage - start % kPage) % kPage;
    if (p == nullptr || bytes < lead + kPage)
        return;
    u8* first = const_cast<u8*>(static_cast<const u8*>(p)) + lead;
    (void)madvise(first, (bytes - lead) / kPage * kPage, MADV_NOHUGEPAGE);
}
