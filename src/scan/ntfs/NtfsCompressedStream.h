// The reader of an NTFS stream stored in compression units, handed out decoded: each unit of 16
// clusters is stored whole (all its clusters on the volume), compressed in LZNT1 (fewer
// clusters, then a hole), or not at all (a hole: zeros).
#pragma once

#include <memory>

#include "catalog/StreamReader.h"

// A reader of stream (its compressionUnit set) that reads its stored clusters through reader.
// stream must outlive it. nullptr when there is no reader, or the unit is larger than any
// writer makes.
[[nodiscard]] std::unique_ptr<IStreamReader> OpenCompressedStream(CDirectRW* reader,
                                                                  const DataStream& stream);
