// Working lists of one step of a search that are dropped together when it ends (the cluster
// assignment's: a dozen lists of up to megabytes each). They are handed out in turn from blocks
// mapped on huge pages and never given back one by one. The first touch of fresh memory is
// most of what such a step costs, and a huge page takes it one page fault per 2 MiB instead of
// one per 4 KiB; lists of their own would each start a page, and a heap block of its own each.
//
// A dropped arena's blocks are kept, touched already, for the next arena of the same search
// (the condition pass after the assignment), up to kSpareBytes, until ReleaseScratchSpares.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <vector>

#include "platform/Types.h"

class ScratchArena final : public std::pmr::memory_resource
{
public:
    ScratchArena() = default;
    ~ScratchArena() override;
    ScratchArena(const ScratchArena&) = delete;
    ScratchArena& operator=(const ScratchArena&) = delete;

    // For the lists' allocators (std::pmr containers): valid while the arena lives.
    [[nodiscard]] std::pmr::memory_resource* Resource() { return this; }

private:
    struct Block
    {
        u8* bytes;
        std::size_t size;
    };

    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    // Memory goes back with the arena, not list by list.
    void do_deallocate(void* /*p*/, std::size_t /*bytes*/, std::size_t /*alignment*/) override {}
    [[nodiscard]] bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override
    {
        return this == &other;
    }
    // Starts a block of at least bytes: a spare when one is large enough, else a fresh one.
    void NewBlock(std::size_t bytes);

    // One huge page first; each further block twice as large as the last, up to 256 MiB.
    static constexpr std::size_t kFirstBlock = std::size_t{2} << 20;
    static constexpr std::size_t kLargestBlock = std::size_t{256} << 20;
    // No list of a search comes near this; a larger request is refused, not mapped.
    static constexpr std::size_t kMaxList = std::size_t{1} << 40;
    std::vector<Block> m_blocks;
    u8* m_next = nullptr;
    std::size_t m_left = 0;
    std::size_t m_blockSize = kFirstBlock;
};

// How many bytes of dropped arenas' blocks are kept for the next arena at most.
inline constexpr std::size_t kSpareBytes = std::size_t{64} << 20;

// Unmaps the blocks kept from dropped arenas; a search calls it when it ends.
void ReleaseScratchSpares();

// The bytes of blocks kept from dropped arenas.
[[nodiscard]] std::size_t ScratchSpareBytes();
