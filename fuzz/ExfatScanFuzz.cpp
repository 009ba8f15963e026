// A whole exFAT volume scan over a mutated small volume held in memory: the folder walks, the
// cluster-by-cluster read of deleted folders and the conditions of the finds. Inputs shorter
// than the volume are padded with zeros.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "catalog/Catalog.h"
#include "disk/Mem_RW.h"
#include "scan/FindConditions.h"
#include "scan/exfat/ExfatEngine.h"
#include "scan/exfat/ExfatScan.h"

namespace
{
constexpr size_t kVolumeBytes = 1024 * 1024;
constexpr size_t kMaxInput = 1024 * 1024;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    std::vector<u8> image(kVolumeBytes, 0);
    if (size)
        std::memcpy(image.data(), data, size);
    CCatalog catalog;
    VolumeEntry volume;
    volume.name = "C:";
    volume.engine = &ExfatEngine();
    volume.reader = std::make_unique<CMem_RW>(image.data(), image.size(), 512);
    if (!AttachExfatVolume(volume))
        return 0;
    g_bRunning = 1;
    (void)ScanExfatVolume(catalog, volume);
    AssessConditions(volume);
    for (const FoundItem& item : volume.items)
    {
        // Only a deleted folder is ever judged (overwritten, when its cluster is in use again);
        // a file without clusters is an empty one.
        const bool folder = (item.attr & 0x10) != 0;
        if (item.overwrittenPct > 100 || (!folder && item.condition == FindCondition::kNotJudged) ||
            (folder && item.condition != FindCondition::kNotJudged &&
             (item.deleted == 0 || item.condition != FindCondition::kOverwritten)) ||
            (!folder && item.first < 2 && item.size != 0))
            std::abort();
    }
    return 0;
}
