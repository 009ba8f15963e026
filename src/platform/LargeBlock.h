// A buffer of megabytes that one search fills once (a FAT held in memory): mapped on its own
// and, where the system allows it, backed by transparent huge pages, so that its first touch
// costs one page fault per 2 MiB instead of one per 4 KiB.
#pragma once

#include "platform/Types.h"

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
    u64 m_mapped = 0; // bytes mapped from m_bytes on
};

// Advises the whole huge pages inside bytes bytes at p (memory not yet touched, as a
// container's reserved capacity) to be backed by huge pages. A hint only, never an error.
void AdviseHugePages(const void* p, u64 bytes);
