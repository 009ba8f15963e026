// Working lists of one step of a search that are dropped together when it ends (the cluster
// assignment's: a dozen lists of up to megabytes each). They are handed out in turn from blocks
// mapped on huge pages and never given back one by one. The first touch of fresh memory is
// most of what such a step costs, and a huge page takes it one page fault per 2 MiB instead of
// one per 4 KiB; lists of their own would each start a page, and a heap block of its own each.
#pragma once

#include <cstddef>
#include <memory_resource>

#include "platform/Types.h"

// Memory straight from MapHugePages, for the arena to carve up.
class HugePageResource final : public std::pmr::memory_resource
{
private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void* p, std::size_t bytes, std::size_t alignment) override;
    [[nodiscard]] bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override
    {
        return this == &other;
    }
};

class ScratchArena
{
public:
    ScratchArena() = default;
    ScratchArena(const ScratchArena&) = delete;
    ScratchArena& operator=(const ScratchArena&) = delete;

    // For the lists' allocators (std::pmr containers): valid while the arena lives.
    [[nodiscard]] std::pmr::memory_resource* Resource() { return &m_lists; }

private:
    // One huge page first; each further block half as large again as the last.
    static constexpr std::size_t kFirstBlock = std::size_t{2} << 20;
    HugePageResource m_pages;
    std::pmr::monotonic_buffer_resource m_lists{kFirstBlock, &m_pages};
};
