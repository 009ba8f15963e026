// The bytes a validator reads: a file's stream, or a layout of clusters carving is trying, read
// at any offset. Validators never read past Size().
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>

#include "platform/Types.h"

class IContentSource
{
public:
    virtual ~IContentSource() = default;
    // Bytes the file may have: its size for a find, the most a carved file of the type may take
    // before the next cluster it cannot own.
    [[nodiscard]] virtual u64 Size() const = 0;
    // Reads up to out.size() bytes at offset into out; returns how many were read: fewer at
    // Size() or where the medium could not be read (a validator then takes the file as broken
    // there).
    [[nodiscard]] virtual std::size_t Read(u64 offset, std::span<u8> out) = 0;
};

// A source over bytes in memory (tests, fuzzers, a file read whole).
class MemorySource final : public IContentSource
{
public:
    explicit MemorySource(std::span<const u8> bytes) : m_bytes(bytes) {}
    [[nodiscard]] u64 Size() const override { return m_bytes.size(); }
    [[nodiscard]] std::size_t Read(u64 offset, std::span<u8> out) override
    {
        if (offset >= m_bytes.size())
            return 0;
        const std::size_t n =
            std::min<std::size_t>(out.size(), m_bytes.size() - static_cast<std::size_t>(offset));
        if (n != 0)
            std::memcpy(out.data(), m_bytes.data() + offset, n);
        return n;
    }

private:
    std::span<const u8> m_bytes;
};
