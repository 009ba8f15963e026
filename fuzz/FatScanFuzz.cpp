// A whole FAT volume scan (the engine's Open, the folder walk of fat/FatFolderWalk.h, the
// naming, the cluster assignment, the conditions and the content checks) over a mutated small
// volume held in memory. Inputs shorter than the volume are padded with zeros, so that seeds can
// leave out an image's empty tail. Two bytes of the boot sector's code area (0x1FC, 0x1FD), when
// not zero, name a sector whose reads fail.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "catalog/Catalog.h"
#include "disk/Faulty_RW.h"
#include "scan/ContentChecks.h"
#include "scan/FindConditions.h"
#include "scan/VolumeClusters.h"
#include "scan/fat/FatEngine.h"
#include "scan/fat/FatScan.h"
#include "scan/fat/FatVolumeState.h"

namespace
{
constexpr size_t kVolumeBytes = 64 * 1024;
constexpr size_t kMaxInput = 256 * 1024;

class CountingSink final : public IEventSink
{
public:
    void Post(u32, u32, const std::string& text, u32) override { m_bytes += text.size(); }

private:
    size_t m_bytes = 0;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    std::vector<u8> image(size < kVolumeBytes ? kVolumeBytes : size, 0);
    if (size)
        std::memcpy(image.data(), data, size);

    CCatalog catalog;
    CountingSink sink;
    catalog.m_sink = &sink;
    VolumeEntry volume;
    volume.name = "C:";
    auto reader = std::make_unique<CFaulty_RW>(image.data(), image.size(), 512);
    const u64 failing = image[0x1FC] | (image[0x1FD] << 8);
    if (failing != 0)
        reader->FailSector(failing);
    // Opened as the search start opens a volume.
    if (!FatEngine().OpenOn(volume, std::move(reader)))
        return 0;

    g_bRunning = 1;
    (void)ScanFatVolume(catalog, volume);
    // The allocation map from the FAT and every find's condition.
    volume.engine = &FatEngine();
    VolumeClusters clusters;
    AssessConditions(volume, &clusters);
    // The deleted files' contents read through the engine, their damaged layouts laid out
    // again over the volume's free clusters.
    CheckContents(volume, clusters);
    for (const FoundItem& item : volume.items)
    {
        // Only a deleted folder is ever judged (overwritten, when its cluster is in use again);
        // a file without clusters is an empty one.
        const bool folder = (item.attr & 0x10) != 0;
        if (item.overwrittenPct > 100 || (!folder && item.condition == FindCondition::kNotJudged) ||
            (folder && item.condition != FindCondition::kNotJudged &&
             (item.deleted == 0 || item.condition != FindCondition::kOverwritten)) ||
            (!folder && item.first < 2 && item.size != 0) ||
            (item.Content() != FindContent::kNone && (folder || item.deleted == 0)))
            std::abort();
    }
    return 0;
}
