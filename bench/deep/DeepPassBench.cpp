// Bench driver: the deep search's one read of a whole volume (RunDeepPass) over an image, with a
// visitor that does what every engine's visitor does first: looks at the start of every cluster
// (here for a FAT folder's "." entry) and counts. Prints the bytes read, the time and the rate,
// so that the read can be set beside dd of the same image.
//
//   deep-pass-bench IMAGE [UNIT]      (UNIT: the cluster size in bytes, default 4096)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "catalog/Catalog.h"
#include "disk/File_RW.h"
#include "platform/DriveTable.h"
#include "platform/EventSink.h"
#include "scan/DeepPass.h"

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: deep-pass-bench IMAGE [UNIT]\n");
        return 2;
    }
    const u32 unit = argc > 2 ? static_cast<u32>(std::strtoul(argv[2], nullptr, 10)) : 4096;
    if (unit == 0 || unit % 512 != 0)
    {
        std::fprintf(stderr, "deep-pass-bench: the unit must be a multiple of 512\n");
        return 2;
    }
    DriveSource source;
    source.drive = "Z:";
    source.path = argv[1];
    g_DriveTable.Register(source);
    CFile_RW reader;
    if (reader.Open("Z:", 512) != 0)
    {
        std::fprintf(stderr, "deep-pass-bench: cannot open %s\n", argv[1]);
        return 1;
    }
    std::error_code error;
    const u64 end = std::filesystem::file_size(argv[1], error);
    if (error || end == 0)
    {
        std::fprintf(stderr, "deep-pass-bench: no size for %s\n", argv[1]);
        return 1;
    }

    CCatalog catalog;
    NullEventSink sink;
    catalog.m_sink = &sink;
    VolumeEntry entry;
    entry.name = "Z:";
    u64 dots = 0;
    u64 seen = 0;
    g_bRunning = 1;
    const auto start = std::chrono::steady_clock::now();
    const bool whole = RunDeepPass(catalog, entry, &reader, DeepRange{0, end, unit, 0},
                                   [&](const DeepBlock& block)
                                   {
                                       for (std::size_t at = 0; at + 32 <= block.own; at += unit)
                                           dots += std::memcmp(block.bytes.data() + at,
                                                               ".          \x10", 12) == 0;
                                       seen += block.own;
                                   });
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    catalog.m_sink = nullptr;
    std::printf("read %llu bytes in %.3f s (%.0f MiB/s); %llu clusters start with a \".\" entry\n",
                static_cast<unsigned long long>(seen), took.count(),
                static_cast<double>(seen) / (1 << 20) / took.count(),
                static_cast<unsigned long long>(dots));
    return whole && seen == end ? 0 : 1;
}
