// Bench driver: searches an NTFS image (as drive N:) into a catalogue, then times the result
// list's work on the folder with the most finds: opening it, filtering it by name, by type and
// by both, and sorting it by name, size and time. Prints the median of several runs of each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalog/Catalog.h"
#include "catalog/ResultList.h"
#include "ntfs/Ntfs.h"
#include "platform/DriveTable.h"
#include "scan/ntfs/NtfsEngine.h"
#include "scan/ntfs/NtfsScan.h"
#include "scan/ntfs/NtfsVolumeState.h"

namespace
{
constexpr int kRuns = 5;

class QuietSink final : public IEventSink
{
public:
    void Post(u32, u32, const std::string&, u32) override {}
};

// Median wall time of kRuns runs of work, in milliseconds.
double MedianMs(const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i)
    {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        times.push_back(took.count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The folder that holds the most finds.
std::string BusiestFolder(const VolumeEntry& entry)
{
    std::unordered_map<std::string, std::size_t> counts;
    for (const FoundItem& item : entry.items)
        ++counts[item.path.str()];
    auto best = std::max_element(counts.begin(), counts.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    return best == counts.end() ? std::string() : best->first;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: result-list-bench IMAGE\n");
        return 2;
    }
    DriveSource source;
    source.drive = "N:";
    source.path = argv[1];
    g_DriveTable.Register(source);
    CCatalog catalog;
    QuietSink sink;
    catalog.m_sink = &sink;
    VolumeEntry entry;
    entry.fsType = kFsNtfs;
    entry.name = "N:";
    entry.engine = &NtfsEngine();
    CNtfs& ntfs = *SetNtfsState(entry, std::make_unique<CNtfs>())->ntfs;
    if (const u32 rc = ntfs.Open("N:", 1); rc != 0)
    {
        std::fprintf(stderr, "result-list-bench: open failed with status %u\n", rc);
        return 1;
    }
    g_bRunning = 1;
    (void)ScanNtfsVolume(catalog, entry);
    catalog.m_volumes.push_back(std::move(entry));
    catalog.m_curVolume = 0;
    catalog.m_curPath = BusiestFolder(catalog.m_volumes[0]);

    ResultList list;
    list.Open(catalog);
    std::printf("finds %zu; folder %s: %zu rows\n", catalog.m_volumes[0].items.size(),
                catalog.m_curPath.c_str(), list.Count());
    if (list.Count() > 2)
        std::printf("names such as %s, %s\n", list.Row(1).row.name.c_str(),
                    list.Row(list.Count() - 1).row.name.c_str());
    std::printf("| step | median ms | rows |\n|---|---:|---:|\n");
    auto step = [&](const char* what, const std::function<void()>& work)
    {
        const double ms = MedianMs(work);
        std::printf("| %s | %.1f | %zu |\n", what, ms, list.Count());
    };
    step("open the folder", [&] { list.Open(catalog); });
    step("sort by name", [&] { list.SetSort(ResultColumn::kName, true); });
    step("sort by size, reversed", [&] { list.SetSort(ResultColumn::kSize, false); });
    step("sort by time", [&] { list.SetSort(ResultColumn::kAccess, true); });
    list = ResultList();
    list.Filter().SetName("7");
    step("filter: name holds \"7\"", [&] { list.Open(catalog); });
    list.Filter().SetName("f*99? notes.*");
    step("filter: wildcard f*99? notes.*", [&] { list.Open(catalog); });
    list.Filter().SetName("");
    list.Filter().SetType(FindType::kDocuments);
    step("filter: Documents", [&] { list.Open(catalog); });
    list.Filter().SetType(FindType::kAll);
    list.Filter().SetName("NOTES");
    step("filter: name holds \"NOTES\" (every file)", [&] { list.Open(catalog); });
    step("sort the matches by time", [&] { list.SetSort(ResultColumn::kAccess, true); });

    catalog.ResetVolumes();
    return 0;
}
