// Opening FAT test volumes the way the search start does, and recording scan reports.
#pragma once

#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalog/Catalog.h"
#include "disk/Mem_RW.h"
#include "fat/FatBootSector.h"
#include "fat/FatTable.h"
#include "platform/EventSink.h"
#include "scan/fat/FatEngine.h"
#include "scan/fat/FatVolumeState.h"

// A sink that keeps every notification.
class RecordingSink final : public IEventSink
{
public:
    struct Event
    {
        u32 message;
        u32 code;
        std::string text;
        u32 extra;
    };
    void Post(u32 message, u32 code, const std::string& text, u32 extra) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        events.push_back({message, code, text, extra});
    }
    std::vector<Event> events;

private:
    std::mutex m_mutex;
};

// Whole image file as bytes (a plain block read: test volumes run to tens of MiB).
inline std::vector<u8> ReadImage(const std::string& path)
{
    std::vector<u8> bytes;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return bytes;
    bytes.resize(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// Builds a FAT volume entry over image bytes: reader, boot sector, FAT table and geometry, as
// the search start fills them. Returns false when the image is no usable FAT volume.
inline bool OpenFatVolume(std::vector<u8> image, VolumeEntry& volume, u32 readerSectorSize = 512)
{
    if (image.size() < 512)
        return false;
    std::vector<u8> sector0(image.begin(), image.begin() + 512);
    volume.name = "C:";
    volume.reader = std::make_unique<CMem_RW>(std::move(image), readerSectorSize);
    FatVolumeState& state = *NewFatState(volume);
    state.boot = std::make_unique<FatBootSector>();
    if (!state.boot->Parse(sector0.data() + 11))
        return false;
    u32 type = kFsNone;
    (void)state.boot->GetFatType(&type);
    volume.fsType = type;
    volume.engine = &FatEngine();
    state.table = std::make_unique<FatTable>();
    if (!state.table->Attach(volume.reader.get(), *state.boot))
        return false;
    state.sectorsPerCluster = state.boot->GetBpb()->sectorsPerCluster;
    state.clusterCount = static_cast<u32>(state.boot->GetClusterLimit(true));
    state.bytesPerSector = state.boot->GetBytesPerSector();
    return true;
}
