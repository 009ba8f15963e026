// Scan control: the drive selection turned into the scan job list, file-system detection per
// drive, the search thread, and the stop of both worker threads.
#include "scan/SearchControl.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <thread>

#include "catalog/Catalog.h"
#include "catalog/VolumeEngine.h"
#include "platform/DriveDiscovery.h"
#include "platform/DriveTable.h"
#include "platform/EventSink.h"
#include "platform/Format.h"
#include "platform/ScratchArena.h"
#include "platform/Status.h"
#include "platform/VolumeProbe.h"
#include "scan/Carving.h"
#include "scan/ContentChecks.h"
#include "scan/FindConditions.h"
#include "scan/RecycleBin.h"
#include "scan/VolumeClusters.h"
#include "scan/exfat/ExfatEngine.h"
#include "scan/fat/FatEngine.h"
#include "scan/ntfs/NtfsEngine.h"
#include "scan/raw/RawEngine.h"

namespace
{
// Detection results.
constexpr u32 kDetectFat = 0;
constexpr u32 kDetectNtfs = 4;
constexpr u32 kDetectExfat = 5;
constexpr u32 kDetectOther = 7;
constexpr u32 kDetectRaw = 8;

const char kFindingText[] = "Finding deleted File(s)...";

// The file-system name of a source that was registered without one: the same libblkid probe
// that names the drives when they are registered. Empty when nothing is recognised.
std::string ProbeFileSystem(const DriveSource& source)
{
    VolumeInfo info;
    return ProbeSourceVolume(source, &info) == kOk ? info.fileSystem : std::string();
}

// The engine that searches what detection found: one line per file system.
const IVolumeEngine* EngineFor(u32 detected)
{
    switch (detected)
    {
    case kDetectFat:
        return &FatEngine();
    case kDetectNtfs:
        return &NtfsEngine();
    case kDetectExfat:
        return &ExfatEngine();
    case kDetectRaw:
        return &RawEngine();
    default:
        return nullptr;
    }
}

// The deep search of volume, with carving's header search fed every block its one read reads
// when the engine offers the volume's clusters (the scan then holds what it noted).
std::optional<CarveScan> DeepSearch(CCatalog& catalog, VolumeEntry& volume)
{
    std::optional<CarveScan> scan;
    ClusterGeometry geometry;
    if (volume.engine->Geometry(volume, &geometry) && geometry.clusterBytes != 0)
    {
        scan.emplace(geometry.dataStart, geometry.firstLcn, geometry.endLcn, geometry.clusterBytes);
        volume.deepTap = [&scan](u64 offset, std::span<const u8> bytes)
        { scan->Scan(offset, bytes); };
    }
    (void)volume.engine->DeepSearch(catalog, volume);
    volume.deepTap = nullptr;
    return scan;
}

// Joins worker unless it is the calling thread (a worker stopping the run from inside).
void JoinWorker(std::thread& worker)
{
    if (!worker.joinable() || worker.get_id() == std::this_thread::get_id())
        return;
    worker.join();
}
} // namespace

u32 CSearchControl::DetectFileSystem(const std::string& drive)
{
    if (drive.empty())
        return kDetectOther;
    std::optional<DriveSource> source = g_DriveTable.Find(drive);
    if (!source)
        return kDetectOther;
    std::string name = source->fileSystem;
    if (name.empty())
        name = ProbeFileSystem(*source);
    // exFAT and the like begin differently: the comparison is case sensitive.
    if (name.compare(0, 3, "FAT") == 0)
        return kDetectFat;
    if (name.compare(0, 4, "NTFS") == 0)
        return kDetectNtfs;
    if (name == "exFAT")
        return kDetectExfat;
    if (name == kRawFileSystem)
        return kDetectRaw;
    return kDetectOther;
}

u32 CSearchControl::Start(const std::string& selection)
{
    Stop(false);
    m_catalog.ResetVolumes();
    std::vector<VolumeEntry>& volumes = m_catalog.m_volumes;

    std::string rest = selection;
    for (std::size_t colon = rest.find(':'); colon != std::string::npos; colon = rest.find(':'))
    {
        std::string token = rest.substr(0, colon + 1);
        rest.erase(0, colon + 1);

        VolumeEntry entry;
        entry.name = token;
        const IVolumeEngine* engine = EngineFor(DetectFileSystem(token));
        // A drive that does not open is left out; entry's destructor frees what was made.
        if (engine != nullptr && engine->Open(entry))
            volumes.push_back(std::move(entry));
    }
    if (volumes.empty())
        return kErrTransfer;

    g_bRunning = 1;
    try
    {
        m_catalog.m_searchThread = std::thread(&CCatalog::SearchThreadProc, &m_catalog);
    }
    catch (const std::system_error&)
    {
        g_bRunning = 0;
        m_catalog.ResetVolumes();
        return kErrNoThread;
    }
    return kOk;
}

void CSearchControl::Search()
{
    // No start-up pause: events are queued, so the front end sees them after it has taken in
    // the search start, however early the first one comes.
    std::vector<VolumeEntry>& volumes = m_catalog.m_volumes;

    // The last selected volume is searched first, the first selected last.
    for (std::size_t i = volumes.size(); i-- > 0 && g_bRunning != 0;)
    {
        VolumeEntry& volume = volumes[i];
        m_catalog.Post(WM_SCAN_NOTIFY, kScanVolumeStart, kFindingText, 0);
        (void)volume.engine->Search(m_catalog, volume);
        const std::size_t searched = volume.items.size();
        std::optional<CarveScan> carveScan;
        if (m_catalog.m_deepSearch && g_bRunning != 0)
            carveScan = DeepSearch(m_catalog, volume);
        // While the reader is still open: the allocation state and the files' clusters. A stop
        // leaves the files unjudged as unknown. Then the deleted files' contents, judged by
        // their formats' validators (a wrong layout laid out again claims its new clusters).
        VolumeClusters clusters;
        AssessConditions(volume, &clusters);
        CheckContents(volume, clusters, {},
                      [this](std::size_t done, std::size_t total)
                      {
                          m_catalog.Post(WM_SCAN_NOTIFY, kScanDeepProgress,
                                         Format("Checking contents: %zu of %zu", done, total),
                                         static_cast<u32>(done * 1000 / total));
                      });
        // The files whose metadata is gone, by their contents, over the clusters left free.
        if (carveScan)
            CarveVolume(m_catalog, volume, clusters, *carveScan);
        volume.foldersScattered = volume.items.size() != searched;
        // The recycled files under the names they had, read from the records beside them.
        ListRecycledFinds(volume);
        volume.engine->EndSearch(volume);
        // The working lists' memory is kept between the steps of one volume, not beyond.
        ReleaseScratchSpares();
    }
    if (g_bRunning == 0)
        return;

    // The view state is set before the notice, so that the receiver finds it ready when it
    // lists the first selected volume.
    m_catalog.m_curPath = volumes[0].name;
    m_catalog.m_curVolume = 0;
    m_catalog.Post(WM_SCAN_NOTIFY, kScanFinished, std::string(), 0);
}

void CSearchControl::Stop(bool showResults)
{
    g_bRunning = 0;
    std::thread& search = m_catalog.m_searchThread;
    std::thread& recover = m_catalog.m_recoverThread;
    bool onWorker = std::this_thread::get_id() == search.get_id() ||
                    std::this_thread::get_id() == recover.get_id();
    JoinWorker(search);
    JoinWorker(recover);
    if (onWorker)
        return;
    if (showResults && !m_catalog.m_volumes.empty())
    {
        m_catalog.m_curPath = m_catalog.m_volumes[0].name;
        m_catalog.m_curVolume = 0;
    }
}

// The catalogue's search members, as the search control does them.

u32 CCatalog::StartSearch(const std::string& selection)
{
    return CSearchControl(*this).Start(selection);
}

u32 CCatalog::SearchThreadProc(void* catalogue)
{
    CSearchControl(*static_cast<CCatalog*>(catalogue)).Search();
    return 0;
}

void CCatalog::StopWorkers(bool showResults)
{
    CSearchControl(*this).Stop(showResults);
}

u32 CCatalog::DetectFileSystem(const std::string& drive)
{
    return CSearchControl::DetectFileSystem(drive);
}
