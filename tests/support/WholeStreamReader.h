// A stream reader for tests of stream consumers: hands out bytes the test made (a decoded or
// coded stream) as one piece of their size, then nothing more.
#pragma once

#include <utility>
#include <vector>

#include "catalog/StreamReader.h"

class WholeStreamReader final : public IStreamReader
{
public:
    explicit WholeStreamReader(std::vector<u8> bytes) : m_bytes(std::move(bytes)) {}
    StreamPiece Next(u8*, u64) override
    {
        StreamPiece piece;
        if (m_done)
            return piece;
        m_done = true;
        piece.data = m_bytes.data();
        piece.bytes = piece.ready = m_bytes.size();
        return piece;
    }
    bool AtEnd() const override { return m_done; }

private:
    std::vector<u8> m_bytes;
    bool m_done = false;
};
