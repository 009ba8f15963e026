// A memory source for the validator harnesses that ends the run (a crash the fuzzer keeps) when
// a validator reads from past the bytes it was given, or, with whole set, reads a span that
// runs past them.
#pragma once

#include <cstdlib>
#include <span>

#include "carve/ContentSource.h"

class StrictSource final : public IContentSource
{
public:
    explicit StrictSource(std::span<const u8> bytes, bool whole = false)
        : m_inner(bytes), m_size(bytes.size()), m_whole(whole)
    {
    }
    [[nodiscard]] u64 Size() const override { return m_size; }
    [[nodiscard]] std::size_t Read(u64 offset, std::span<u8> out) override
    {
        if (offset > m_size || (m_whole && out.size() > m_size - offset))
            std::abort();
        return m_inner.Read(offset, out);
    }

private:
    MemorySource m_inner;
    u64 m_size;
    bool m_whole;
};
