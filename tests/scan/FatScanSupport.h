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

// Opens a FAT volume entry over a reader (or image bytes) through the engine's own Open: reader,
// boot sector, FAT table and geometry, as the search start fills them. Returns false when the image
// is no usable FAT volume.
inline bool OpenFatVolume(std::unique_ptr<CDirectRW> reader, VolumeEntry& volume)
{
    volume.name = "C:";
    return FatEngine().OpenOn(volume, std::move(reader));
}

inline bool OpenFatVolume(std::vector<u8> image, VolumeEntry& volume)
{
    return OpenFatVolume(std::make_unique<CMem_RW>(std::move(image)), volume);
}
