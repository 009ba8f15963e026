// Where a find's data lies, whoever found it: the engine for the finds of its search, the
// volume's carved layouts for the finds carving made. Every reader of a find's bytes (the
// recovery, the preview, the recycled-file records, the condition pass) asks here.
#pragma once

#include "catalog/VolumeEngine.h"
#include "catalog/VolumeEntry.h"
#include "platform/Types.h"
#include "records/FoundItem.h"

// As IVolumeEngine::DescribeStream: 0, kStreamClipped or kStreamUnreadable. A carved find's
// stream is its layout, stored as it is (the engine's OpenStream reads it plainly); a volume
// without an engine describes nothing.
[[nodiscard]] u32 DescribeFind(VolumeEntry& volume, const FoundItem& item, DataStream* stream);
