// A find's bytes in stream order, as its engine hands them out to a copy: bytes read from the
// volume, holes that read as zeros, bytes held in the metadata, bytes the engine decoded. The
// copy pulls pieces until the reader is at its end, and knows nothing of how they were stored.
#pragma once

#include <memory>

#include "platform/Types.h"

class CDirectRW;
struct DataStream;

// One stretch of the stream, next after the ones handed out before it.
struct StreamPiece
{
    const u8* data =
        nullptr;   // its bytes (the caller's buffer or the reader's own); none for a hole
    u64 bytes = 0; // bytes of the stream it covers; 0: no piece is left
    // Of them, the bytes at data that could be read, from the start. Fewer than bytes: the read
    // failed there, and the rest of the stream cannot be had. A hole has them all.
    u64 ready = 0;
    // Bytes per progress step: the piece counts as bytes / stepBytes steps, rounded up; 0 for a
    // piece that counts none.
    u64 stepBytes = 0;
    u64 volumeBytes = 0; // bytes read from the volume for it (what a read pacer counts)
    bool hole = false;   // never written: zeros, to be left as a hole in the copy
};

class IStreamReader
{
public:
    virtual ~IStreamReader() = default;

    // The next piece, at most room bytes of buffer filled (room: a whole number of the chunks
    // the reader was opened with, at least one). The piece's data stays valid until the next
    // call.
    [[nodiscard]] virtual StreamPiece Next(u8* buffer, u64 room) = 0;
    // True once every byte of the stream has been handed out.
    [[nodiscard]] virtual bool AtEnd() const = 0;
    // At the end: bytes after the last piece that were never written. They read as zeros and
    // are given by the copy's length alone.
    [[nodiscard]] virtual u64 TailZeros() const { return 0; }
    // True when some bytes handed out are not what was stored: a unit that did not decode whole,
    // handed out as far as it did with zeros for the rest.
    [[nodiscard]] virtual bool Damaged() const { return false; }
};

// The reader of a stream held in the metadata, or stored as it is in extents read through reader,
// chunkBytes at a time (a read that fails is tried again chunk by chunk, so that the chunks in
// front of a bad sector are still had). stream must outlive it. nullptr when the stream has
// bytes on the volume but no reader to read them.
[[nodiscard]] std::unique_ptr<IStreamReader>
OpenExtentStream(CDirectRW* reader, const DataStream& stream, u64 chunkBytes);
