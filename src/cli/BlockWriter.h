// Writes a long listing formatted on two threads: the items go in blocks, the calling thread
// formats the even blocks and a helper the odd ones, and the blocks are written in order, so
// that the output is byte for byte what one thread would write. On a disk of millions of finds
// the formatting is a large part of the listing's time, and the search has ended by then, so
// the second core is free.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

// Appends the text of the items from .. to - 1 to out.
using FormatItems = std::function<void(std::string& out, std::size_t from, std::size_t to)>;

// Formats items 0 .. count - 1 in blocks of blockItems and writes them to out in order. A
// listing of one block, or one whose helper cannot be started, is formatted on this thread.
// An exception thrown by format reaches the caller, after the helper has stopped.
void WriteInBlocks(std::size_t count, std::size_t blockItems, const FormatItems& format,
                   std::FILE* out);
