// The exFAT deep search over a hostile heap: the input is the heap of a small volume whose boot
// region and FAT are made here (512-byte clusters, the root in cluster 2, the input's first
// cluster), searched normally and then deeply, and its finds judged. Sets that hold their own
// folder, cycles of folders, nesting without end and sets cut off at the heap's end must all
// end, with every deep find placed under a lost folder and none of unknown chain judged good.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "catalog/Catalog.h"
#include "disk/Mem_RW.h"
#include "exfat/ExfatBoot.h"
#include "exfat/ExfatLayout.h"
#include "platform/ByteOrder.h"
#include "scan/FindConditions.h"
#include "scan/exfat/ExfatDeep.h"
#include "scan/exfat/ExfatDeepTree.h"
#include "scan/exfat/ExfatEngine.h"
#include "scan/exfat/ExfatScan.h"
#include "scan/exfat/ExfatVolumeState.h"

namespace
{
constexpr u32 kSector = 512;
constexpr u32 kFatSector = 24; // sectors
constexpr u32 kFatSectors = 8; // 1024 entries
constexpr u32 kHeapOffset = 32;
constexpr u32 kClusters = 1000;
constexpr std::size_t kMaxInput = std::size_t{kClusters} * kSector;

// A volume of kClusters clusters of one sector whose heap starts with heap.
std::vector<u8> Volume(const u8* heap, std::size_t size)
{
    using namespace ExfatLayout;
    std::vector<u8> v(std::size_t{kHeapOffset + kClusters} * kSector, 0);
    u8* boot = v.data();
    boot[0] = 0xEB;
    boot[1] = 0x76;
    boot[2] = 0x90;
    std::memcpy(boot + kFileSystemName, "EXFAT   ", 8);
    StoreLe64(boot + kVolumeLength, kHeapOffset + kClusters);
    StoreLe32(boot + ExfatLayout::kFatOffset, kFatSector);
    StoreLe32(boot + ExfatLayout::kFatLength, kFatSectors);
    StoreLe32(boot + kClusterHeapOffset, kHeapOffset);
    StoreLe32(boot + kClusterCount, kClusters);
    StoreLe32(boot + kRootCluster, kFirstCluster);
    StoreLe16(boot + kRevision, 0x0100);
    boot[kBytesPerSectorShift] = 9;
    boot[kSectorsPerClusterShift] = 0;
    boot[kNumberOfFats] = 1;
    StoreLe16(boot + kBootSignature, 0xAA55);
    const u32 sum = ExfatBootChecksum(ByteView(v.data(), v.size()), kSector);
    for (u32 i = 0; i < kSector; i += 4)
        StoreLe32(v.data() + kChecksumSector * kSector + i, sum);
    // The media and reserved entries, and the root's one cluster.
    u8* fat = v.data() + std::size_t{kFatSector} * kSector;
    StoreLe32(fat, 0xFFFFFFF8u);
    StoreLe32(fat + 4, kFatEnd);
    StoreLe32(fat + 8, kFatEnd);
    if (size != 0)
        std::memcpy(v.data() + std::size_t{kHeapOffset} * kSector, heap, size);
    return v;
}

// Whether a deep find lost its chain: more than one cluster, and no NoFatChain flag.
bool ChainUnknown(const FoundItem& item)
{
    const ExfatStreamInfo* info = StreamRecordOf(item);
    return (item.attr & 0x10) == 0 && info != nullptr && !info->noFatChain &&
           info->dataLength > kSector;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    std::vector<u8> image = Volume(data, size);
    CCatalog catalog;
    catalog.m_deepSearch = true;
    VolumeEntry volume;
    volume.name = "C:";
    volume.engine = &ExfatEngine();
    volume.reader = std::make_unique<CMem_RW>(image.data(), image.size(), kSector);
    if (!AttachExfatVolume(volume))
        std::abort(); // the boot region made above is valid
    g_bRunning = 1;
    (void)ScanExfatVolume(catalog, volume);
    (void)DeepSearchExfatVolume(catalog, volume);
    AssessConditions(volume);
    for (const FoundItem& item : volume.items)
    {
        if (item.deep == 0)
            continue;
        const std::string path = item.path.str();
        const std::string name = item.name.str();
        if (item.deleted != 1 || path.rfind("C:\\Folder_", 0) != 0 ||
            name.find_first_of("\\/") != std::string::npos ||
            std::count(path.begin(), path.end(), '\\') > kMaxDeepLevels + 1 ||
            (ChainUnknown(item) && item.condition == FindCondition::kGood))
            std::abort();
    }
    return 0;
}
