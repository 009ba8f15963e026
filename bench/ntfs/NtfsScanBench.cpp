// Bench driver: opens an NTFS image as drive N: and runs ScanNtfsVolume over it, printing the
// number of items (and, with --paths, every item's full text) so that it can be timed against
// peer tools. With --mft-extent it prints the MFT's byte ranges instead ("offset length" lines).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "catalog/Catalog.h"
#include "mempool/MemPool.h"
#include "ntfs/Ntfs.h"
#include "platform/DriveTable.h"
#include "scan/ntfs/NtfsEngine.h"
#include "scan/ntfs/NtfsScan.h"
#include "scan/ntfs/NtfsVolumeState.h"

namespace
{
class CountingSink final : public IEventSink
{
public:
    explicit CountingSink(bool print) : m_print(print) {}
    void Post(u32, u32, const std::string& text, u32 extra) override
    {
        (extra & 0x10) ? ++folders : ++files;
        if (m_print)
            std::printf("%s\n", text.c_str());
    }
    u64 files = 0;
    u64 folders = 0;

private:
    bool m_print;
};
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: ntfs-scan-bench IMAGE [--paths|--mft-extent]\n");
        return 2;
    }
    const std::string mode = argc > 2 ? argv[2] : "";
    DriveSource source;
    source.drive = "N:";
    source.path = argv[1];
    g_DriveTable.Register(source);

    CCatalog catalog;
    CountingSink sink(mode == "--paths");
    catalog.m_sink = &sink;
    VolumeEntry entry;
    entry.fsType = kFsNtfs;
    entry.name = "N:";
    CNtfs& ntfs = *SetNtfsState(entry, std::make_unique<CNtfs>())->ntfs;
    const u32 rc = ntfs.Open("N:", 1);
    if (rc != 0)
    {
        std::fprintf(stderr, "ntfs-scan-bench: open failed with status %u\n", rc);
        return 1;
    }
    if (mode == "--mft-extent")
    {
        const u64 cluster = u64{ntfs.GetSectorsPerCluster()} * 512;
        for (const NtfsExtent& extent : ntfs.MftExtents())
        {
            if (extent.hole)
                break;
            std::printf("%llu %llu\n", static_cast<unsigned long long>(extent.lcn * cluster),
                        static_cast<unsigned long long>(extent.length * cluster));
        }
        return 0;
    }
    g_bRunning = 1;
    const auto start = std::chrono::steady_clock::now();
    (void)ScanNtfsVolume(catalog, entry);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::fprintf(stderr, "scan %.3f s; records %llu, items %zu: %llu files, %llu folders\n",
                 took.count(), static_cast<unsigned long long>(ntfs.RecordCount()),
                 entry.items.size(), static_cast<unsigned long long>(sink.files),
                 static_cast<unsigned long long>(sink.folders));
    // Released from the last to the first, as the catalogue's reset does.
    NtfsEngine().ReleaseItems(entry);
    return 0;
}
