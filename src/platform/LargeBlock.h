// A buffer of megabytes that one search fills once (a FAT held in memory): mapped on its own
// and, where the system allows it, backed by transparent huge pages, so that its first touch
// costs one page fault per 2 MiB instead of one per 4 KiB.
#pragma once

#include <cstddef>
#include <new>

#include "platform/Types.h"

// The size, and alignment, of a huge page.
inline constexpr u64 kHugePageBytes = u64{2} << 20;

// Maps bytes bytes aligned to 2 MiB and advised to use huge pages (zero until written); null
// when bytes is 0 or the memory cannot be had. UnmapHugePages takes the same byte count.
[[nodiscard]] u8* MapHugePages(u64 bytes);
void UnmapHugePages(u8* block, u64 bytes);

class LargeBlock
{
public:
    LargeBlock() = default;
    ~LargeBlock() { Release(); }
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;

    // Maps bytes bytes (not zeroed before first use: anonymous pages read as zero). False when
    // bytes is 0 or the memory cannot be had; any earlier block is released either way.
    [[nodiscard]] bool Allocate(u64 bytes);
    void Release();

    [[nodiscard]] u8* Bytes() const { return m_bytes; }
    [[nodiscard]] u64 Size() const { return m_size; }
    explicit operator bool() const { return m_bytes != nullptr; }

private:
    u8* m_bytes = nullptr;
    u64 m_size = 0;
};

// Advises the whole huge pages inside bytes bytes at p (memory not yet touched, as a
// container's reserved capacity) to be backed by huge pages. A hint only, never an error.
void AdviseHugePages(const void* p, u64 bytes);

// Advises the whole pages inside bytes bytes at p to stay small pages (a list reserved on huge
// pages that will hold little: each huge page it touches counts whole). A hint, never an error.
void AdviseSmallPages(const void* p, u64 bytes);

// An allocator for containers of megabytes that one search fills once (the owner table of the
// cluster assignment): their memory is mapped as a LargeBlock is, smaller ones come from the
// heap.
template <typename T> struct HugePageAllocator
{
    using value_type = T;
    static constexpr u64 kMappedFrom = u64{1} << 20;

    HugePageAllocator() = default;
    template <typename U> explicit HugePageAllocator(const HugePageAllocator<U>& /*other*/) {}

    // The names are those the standard containers call.
    T* allocate(std::size_t n) // NOLINT(readability-identifier-naming)
    {
        const u64 bytes = static_cast<u64>(n) * sizeof(T);
        if (bytes < kMappedFrom)
            return static_cast<T*>(::operator new(bytes));
        void* block = MapHugePages(bytes);
        if (block == nullptr)
            throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* p, std::size_t n) // NOLINT(readability-identifier-naming)
    {
        const u64 bytes = static_cast<u64>(n) * sizeof(T);
        if (bytes < kMappedFrom)
            ::operator delete(p);
        else
            UnmapHugePages(static_cast<u8*>(static_cast<void*>(p)), bytes);
    }
    friend bool operator==(const HugePageAllocator& /*a*/, const HugePageAllocator& /*b*/)
    {
        return true;
    }
};
