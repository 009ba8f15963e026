// The FAT deep search (the folder recogniser of fat/FatDeepFolders.h over every cluster, the
// linking of the folders through "..", their walks and the cluster assignment) after the normal
// search, over a mutated small volume held in memory, then the conditions. Inputs shorter than
// the volume are padded with zeros, so that seeds can leave out an image's empty tail.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "catalog/Catalog.h"
#include "disk/Mem_RW.h"
#include "fat/FatDeepFolders.h"
#include "scan/FindConditions.h"
#include "scan/fat/FatEngine.h"
#include "scan/fat/FatVolumeState.h"

namespace
{
constexpr size_t kVolumeBytes = 64 * 1024;
constexpr size_t kMaxInput = 256 * 1024;

class NullSink final : public IEventSink
{
public:
    void Post(u32, u32, const std::string&, u32) override {}
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    std::vector<u8> image(size < kVolumeBytes ? kVolumeBytes : size, 0);
    if (size)
        std::memcpy(image.data(), data, size);

    // The recogniser alone, over the input's own bytes at every 512-byte boundary.
    FatFolderHeads heads(512, 0x0FFFFFF5);
    heads.Visit(std::span<const u8>(data, size), 2, nullptr);
    for (const FatFolderHead& head : heads.Heads())
        if (head.parent == head.cluster || head.parent == 1)
            std::abort();

    CCatalog catalog;
    NullSink sink;
    catalog.m_sink = &sink;
    catalog.m_deepSearch = true;
    VolumeEntry volume;
    volume.name = "C:";
    if (!FatEngine().OpenOn(volume, std::make_unique<CMem_RW>(image.data(), image.size(), 512)))
        return 0;
    g_bRunning = 1;
    (void)FatEngine().Search(catalog, volume);
    const size_t before = volume.items.size();
    (void)FatEngine().DeepSearch(catalog, volume);
    AssessConditions(volume);
    for (size_t k = before; k < volume.items.size(); ++k)
    {
        const FoundItem& item = volume.items[k];
        // Every deep find is deleted and never judged good: its clusters are a guess.
        if (item.deep == 0 || item.deleted == 0 || item.inferred == 0 ||
            item.condition == FindCondition::kGood)
            std::abort();
    }
    return 0;
}
