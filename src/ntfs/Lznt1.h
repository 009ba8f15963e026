// LZNT1, the compression of NTFS compressed attributes: one compression unit's stored bytes
// decompressed into a caller's buffer, every read and write bounded.
#pragma once

#include <cstddef>

#include "platform/Types.h"

// Bytes one chunk decompresses to at most; chunk k of a unit lands at offset k * 4096.
inline constexpr std::size_t kLznt1ChunkSize = 4096;

// Decompresses the chunks in in[0, inSize) into out[0, outSize).
//
// The input is a sequence of chunks, each a 2-byte header (bits 0-11: data size - 1; bit 15:
// compressed) and its data; a header of 0, or the end of the input, ends the stream. A
// compressed chunk is a series of tag bytes, each followed by up to 8 tokens (a clear bit: one
// literal byte; a set bit: a 2-byte back-reference into the chunk's output so far, its split
// between offset and length depending on the position within the chunk); an uncompressed chunk
// is its data as is. A chunk that yields fewer than 4096 bytes and is followed by another
// leaves zeros up to the next 4096-byte boundary of out.
//
// Returns kNtfsOk when the stream ends or out is full (the rest of the input is not looked at),
// with *produced the bytes written. Returns kNtfsCorrupt when a chunk runs past inSize, yields
// more than 4096 bytes, or holds a back-reference to before the chunk's start or a truncated
// one; *produced is then what was decoded before the fault, and the bytes of out past it are
// unspecified (the caller zero-fills the rest of the unit). in may be null only when inSize is
// 0, out only when outSize is 0; produced must not be null.
[[nodiscard]] u32 DecompressLznt1(const u8* in, std::size_t inSize, u8* out, std::size_t outSize,
                                  std::size_t* produced);
