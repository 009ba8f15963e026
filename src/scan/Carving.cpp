#include "scan/Carving.h"

#include <algorithm>
#include <utility>

#include "catalog/Catalog.h"
#include "platform/EventSink.h"
#include "platform/Format.h"
#include "scan/VolumeClusters.h"

namespace
{
constexpr u8 kAttrFolder = 0x10;
constexpr u8 kAttrArchive = 0x20; // the front ends count an item with this bit as a file
constexpr std::size_t kTitleBytes = 64;
constexpr u64 kSectorBytes = 512;
// Candidates between two progress notices.
constexpr std::size_t kProgressStep = 64;

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

// True when every cluster of runs lies on the volume and is free: a layout that is not is never
// kept, whatever the gap search said.
bool AllFree(const ICarveSpace& space, std::span<const CarveRun> runs)
{
    for (const CarveRun& run : runs)
    {
        if (run.length == 0 || run.first < space.FirstCluster() ||
            run.first >= space.EndCluster() || run.length > space.EndCluster() - run.first)
            return false;
        for (u64 c = run.first; c < run.first + run.length; ++c)
            if (!space.Free(c))
                return false;
    }
    return true;
}

// Bytes of the clusters first .. first + count - 1 up to their last byte that is not zero.
u64 TextBytes(ICarveSpace& space, u64 first, u64 count)
{
    const u64 clusterBytes = space.ClusterBytes();
    std::vector<u8> cluster(static_cast<std::size_t>(clusterBytes));
    for (u64 k = count; k-- > 0;)
    {
        const std::size_t got = space.ReadClusters(first + k, 1, cluster);
        for (std::size_t i = std::min<std::size_t>(got, cluster.size()); i-- > 0;)
            if (cluster[i] != 0)
                return k * clusterBytes + i + 1;
    }
    return 0;
}

// The text file of the free clusters first .. first + count - 1; its check's validBytes is 0
// when there is none.
CarveLayout TextLayout(ICarveSpace& space, u64 first, u64 count, const CarveSteps& steps)
{
    CarveLayout layout;
    const u64 clusterBytes = space.ClusterBytes();
    layout.size = TextBytes(space, first, count);
    if (layout.size == 0)
        return layout;
    layout.runs.push_back(CarveRun{first, (layout.size + clusterBytes - 1) / clusterBytes});
    LayoutSource source(space, layout.runs, layout.size);
    layout.check = steps.checkText(source);
    layout.check.type = CarveType::kText;
    return layout;
}

// The text files of the text runs, over the clusters still free, split where a header begins
// and at the type's cap.
void CarveText(ICarveSpace& space, const std::function<void(std::span<const CarveRun>)>& take,
               std::span<const TextRun> textRuns, const std::vector<u64>& headers,
               const CarveSteps& steps, std::vector<CarveLayout>* out)
{
    const u64 clusterBytes = space.ClusterBytes();
    const u64 cap = CarveCap(CarveType::kText);
    const u64 capClusters = cap == 0 ? ~0ull : std::max<u64>(1, cap / clusterBytes);
    const auto isHeader = [&headers](u64 c)
    { return std::binary_search(headers.begin(), headers.end(), c); };
    for (const TextRun& run : textRuns)
    {
        const u64 end = std::min<u64>(
            space.EndCluster(), run.length > ~0ull - run.first ? ~0ull : run.first + run.length);
        u64 c = std::max(run.first, space.FirstCluster());
        while (c < end && Running())
        {
            if (!space.Free(c))
            {
                ++c;
                continue;
            }
            const u64 start = c++;
            while (c < end && c - start < capClusters && space.Free(c) && !isHeader(c))
                ++c;
            CarveLayout layout = TextLayout(space, start, c - start, steps);
            if (layout.check.validBytes == 0)
                continue;
            take(layout.runs);
            out->push_back(std::move(layout));
        }
    }
}

// The condition of a carved file: valid in one run good, in several inferred; anything else
// partial by the share of its size that did not validate.
void Judge(const CarveLayout& layout, FoundItem* item)
{
    item->SetContent(layout.check.verdict);
    if (layout.check.verdict == FindContent::kValid)
    {
        item->inferred = layout.runs.size() > 1 ? 1 : 0;
        item->condition = layout.runs.size() > 1 ? FindCondition::kInferred : FindCondition::kGood;
        return;
    }
    item->condition = FindCondition::kPartial;
    const u64 size = std::max<u64>(layout.size, 1);
    const u64 broken = size - std::min(layout.check.validBytes, size);
    // Rounded up, so that a break near the end still shows.
    const u64 pct = broken <= ~0ull / 100 ? (broken * 100) / size + ((broken * 100) % size != 0)
                                          : broken / (size / 100);
    item->overwrittenPct = static_cast<u8>(std::clamp<u64>(pct, 1, 100)) & 0x7Fu;
}

FoundItem CarvedFolder(const std::string& path, std::string_view name)
{
    FoundItem folder;
    folder.path = path;
    folder.name = name;
    folder.attr = kAttrFolder;
    folder.deleted = 1;
    folder.deep = 1;
    folder.inferred = 1;
    folder.carved = 1;
    return folder;
}
} // namespace

std::vector<CarveLayout> CarveLayouts(ICarveSpace& space,
                                      const std::function<void(std::span<const CarveRun>)>& take,
                                      std::span<const CarveCandidate> candidates,
                                      std::span<const TextRun> textRuns, const CarveSteps& steps,
                                      const CarveProgress& progress)
{
    std::vector<CarveLayout> out;
    if (space.ClusterBytes() == 0)
        return out;
    std::vector<CarveCandidate> order(candidates.begin(), candidates.end());
    std::stable_sort(order.begin(), order.end(),
                     [](const CarveCandidate& a, const CarveCandidate& b)
                     { return a.cluster < b.cluster; });
    std::vector<u64> headers;
    headers.reserve(order.size());
    for (std::size_t i = 0; i < order.size() && Running(); ++i)
    {
        if (progress && i % kProgressStep == 0)
            progress(i, order.size());
        const CarveCandidate& candidate = order[i];
        if (candidate.type == CarveType::kNone || !space.Free(candidate.cluster))
            continue;
        CarveLayout layout = steps.layOut(candidate.type, candidate.cluster, space);
        if (layout.check.validBytes == 0 || layout.size == 0 || layout.runs.empty() ||
            layout.runs.front().first != candidate.cluster || !AllFree(space, layout.runs))
            continue;
        if (layout.check.type == CarveType::kNone)
            layout.check.type = candidate.type;
        take(layout.runs);
        out.push_back(std::move(layout));
    }
    if (!Running())
        return out;
    if (progress)
        progress(order.size(), order.size());
    for (const CarveCandidate& candidate : order)
        headers.push_back(candidate.cluster);
    std::sort(headers.begin(), headers.end());
    CarveText(space, take, textRuns, headers, steps, &out);
    return out;
}

std::string CarvedName(u64 sector, std::string_view title, std::string_view ext)
{
    std::string kept;
    for (const char c : title)
    {
        const auto byte = static_cast<unsigned char>(c);
        const bool banned = byte < 0x20 || byte == 0x7F ||
                            std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos;
        kept += banned ? '_' : c;
    }
    if (kept.size() > kTitleBytes)
    {
        // Cut at the start of a UTF-8 character.
        std::size_t cut = kTitleBytes;
        while (cut > 0 && (static_cast<unsigned char>(kept[cut]) & 0xC0u) == 0x80u)
            --cut;
        kept.resize(cut);
    }
    const std::size_t from = kept.find_first_not_of(' ');
    kept.erase(0, from == std::string::npos ? kept.size() : from);
    while (!kept.empty() && (kept.back() == ' ' || kept.back() == '.'))
        kept.pop_back();
    std::string name = Format("f%07llu", static_cast<unsigned long long>(sector));
    if (!kept.empty())
        name += " - " + kept;
    name += '.';
    name += ext;
    return name;
}

void AddCarvedFinds(CCatalog* catalog, VolumeEntry& volume, const ClusterGeometry& geometry,
                    std::vector<CarveLayout> layouts)
{
    if (layouts.empty() || geometry.clusterBytes == 0)
        return;
    // The files of one extension together, in the order carved.
    std::stable_sort(layouts.begin(), layouts.end(),
                     [](const CarveLayout& a, const CarveLayout& b)
                     { return CarveExtension(a.check.type) < CarveExtension(b.check.type); });
    CarvedFiles& carved = volume.carved;
    carved.clusterBytes = geometry.clusterBytes;
    carved.firstLcn = geometry.firstLcn;
    carved.dataStart = geometry.dataStart;
    const std::string top = volume.name + "\\Carved";
    std::vector<FoundItem> found;
    found.push_back(CarvedFolder(volume.name, "Carved"));
    std::string_view lastExt;
    for (const CarveLayout& layout : layouts)
    {
        const std::string_view ext = CarveExtension(layout.check.type);
        if (found.size() == 1 || ext != lastExt)
            found.push_back(CarvedFolder(top, ext));
        lastExt = ext;
    }
    for (CarveLayout& layout : layouts)
    {
        const std::string_view ext = CarveExtension(layout.check.type);
        const u64 first = layout.runs.front().first;
        const u64 sector =
            (geometry.dataStart + (first - geometry.firstLcn) * geometry.clusterBytes) /
            kSectorBytes;
        FoundItem item;
        item.path = top + "\\" + std::string(ext);
        item.name = CarvedName(sector, layout.check.title, ext);
        item.size = layout.size;
        item.first = first;
        item.attr = kAttrArchive;
        item.deleted = 1;
        item.deep = 1;
        item.carved = 1;
        item.runsAt = static_cast<u32>(carved.files.size());
        if (layout.check.taken.year != 0)
            item.created = layout.check.taken;
        Judge(layout, &item);
        CarvedFile file{layout.size, {}};
        for (const CarveRun& run : layout.runs)
            file.extents.push_back(CarvedExtent{run.first, run.length});
        carved.files.push_back(std::move(file));
        found.push_back(std::move(item));
    }
    for (FoundItem& item : found)
    {
        if (catalog != nullptr)
            catalog->Post(WM_SCAN_NOTIFY, kScanFind, item.path + "\\" + item.name.str(), item.attr);
        volume.items.push_back(std::move(item));
    }
}

void CarveVolume(CCatalog& catalog, VolumeEntry& volume, VolumeClusters& clusters,
                 const CarveScan& scan, const CarveSteps& steps)
{
    if (!Running() || !clusters.known || clusters.geometry.clusterBytes == 0 ||
        volume.engine == nullptr)
        return;
    CDirectRW* reader = volume.engine->DataReader(volume);
    if (reader == nullptr)
        return;
    VolumeCarveSpace space(clusters, reader);
    const auto take = [&space](std::span<const CarveRun> runs) { space.Take(runs); };
    const auto progress = [&catalog](std::size_t done, std::size_t total)
    {
        catalog.Post(WM_SCAN_NOTIFY, kScanDeepProgress, Format("Carving: %zu of %zu", done, total),
                     total == 0 ? 1000u : static_cast<u32>(done * 1000 / total));
    };
    std::vector<CarveLayout> layouts =
        CarveLayouts(space, take, scan.Candidates(), scan.TextRuns(), steps, progress);
    AddCarvedFinds(&catalog, volume, clusters.geometry, std::move(layouts));
}
