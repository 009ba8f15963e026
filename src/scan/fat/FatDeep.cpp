// The FAT engine's deep search: the first clusters of folders anywhere on the data region,
// found in one pass by their "." and ".." entries, linked through ".." into trees whose tops
// take made-up names under the volume root, and their entries catalogued as deep finds.
#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "catalog/Catalog.h"
#include "fat/FatDeepFolders.h"
#include "fat/FatFolderWalk.h"
#include "platform/EventSink.h"
#include "platform/Format.h"
#include "platform/Status.h"
#include "scan/DeepPass.h"
#include "scan/fat/FatEngine.h"
#include "scan/fat/FatScan.h"
#include "scan/fat/FatVolumeState.h"

using namespace FatDirLayout;

namespace
{
constexpr std::size_t kNone = ~std::size_t{0};

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

// The folders the pass found that the search had not catalogued, and how far the deep search
// has come with each.
class DeepFolders
{
public:
    // heads: those the pass found; known: the first clusters of the folders catalogued.
    DeepFolders(std::vector<FatFolderHead> heads, std::vector<u32> known)
        : m_heads(std::move(heads)), m_known(std::move(known))
    {
        std::sort(m_known.begin(), m_known.end());
        std::erase_if(m_heads, [this](const FatFolderHead& h) { return Known(h.cluster); });
        m_reached.assign(m_heads.size(), 0);
        m_climbed.assign(m_heads.size(), 0);
    }

    [[nodiscard]] std::size_t Count() const { return m_heads.size(); }
    [[nodiscard]] const FatFolderHead& Head(std::size_t i) const { return m_heads[i]; }
    [[nodiscard]] bool Reached(std::size_t i) const { return m_reached[i] != 0; }
    void Reach(std::size_t i) { m_reached[i] = 1; }

    // The head of cluster, or kNone.
    [[nodiscard]] std::size_t IndexOf(u32 cluster) const
    {
        const auto at =
            std::lower_bound(m_heads.begin(), m_heads.end(), cluster,
                             [](const FatFolderHead& h, u32 c) { return h.cluster < c; });
        return at != m_heads.end() && at->cluster == cluster
                   ? static_cast<std::size_t>(at - m_heads.begin())
                   : kNone;
    }

    [[nodiscard]] bool Known(u32 cluster) const
    {
        return std::binary_search(m_known.begin(), m_known.end(), cluster);
    }

    // Whether folder i has no parent among the folders found: it names the root, or a cluster
    // that opens no folder the search did not catalogue already.
    [[nodiscard]] bool ParentLost(std::size_t i) const
    {
        return m_heads[i].parent == 0 || IndexOf(m_heads[i].parent) == kNone;
    }

    // The top of the unreached folders above i: up through the parents none of whose entries
    // named their child, until a parent is lost, reached, or passed on an earlier climb. A
    // loop of ".." met on this climb ends at the folder it closes on. Each folder is climbed
    // through once over all calls.
    [[nodiscard]] std::size_t Top(std::size_t i)
    {
        ++m_climb;
        std::size_t cur = i;
        while (m_climbed[cur] == 0)
        {
            m_climbed[cur] = m_climb;
            const std::size_t up = IndexOf(m_heads[cur].parent);
            if (m_heads[cur].parent == 0 || up == kNone || m_reached[up] != 0)
                break;
            if (m_climbed[up] != 0)
                return m_climbed[up] == m_climb ? up : cur;
            cur = up;
        }
        return cur;
    }

private:
    std::vector<FatFolderHead> m_heads; // in the order of their clusters
    std::vector<u32> m_known;           // first clusters of the folders catalogued, sorted
    std::vector<u8> m_reached;          // catalogued by the deep search
    std::vector<u32> m_climbed;         // the climb (Top) that passed each; 0: none
    u32 m_climb = 0;                    // climbs so far (at most one a folder)
};

// The deep search of one volume after its pass: catalogues the folders found and their trees.
class DeepTrees
{
public:
    DeepTrees(CCatalog& catalog, VolumeEntry& volume, const FatFolderSource& source,
              DeepFolders& folders)
        : m_catalog(catalog), m_volume(volume), m_source(source), m_folders(folders),
          m_walker(source, &g_bRunning), m_skip([this](u32 cluster) { return SkipFolder(cluster); })
    {
    }

    // Catalogues every folder found: first those whose parent is lost, then the tops of those
    // left over, each with the tree under it.
    void Run()
    {
        for (std::size_t i = 0; i < m_folders.Count() && Running(); ++i)
            if (m_folders.ParentLost(i) && !m_folders.Reached(i))
                AddTree(i);
        for (std::size_t i = 0; i < m_folders.Count() && Running(); ++i)
            if (!m_folders.Reached(i))
                AddTree(m_folders.Top(i));
    }

private:
    // A folder entry in the folder of cluster m_current is passed over when it names a folder
    // the search catalogued, or one found by the pass that another folder's entry took or whose
    // ".." names another parent. Otherwise the folder it names is taken here.
    bool SkipFolder(u32 cluster)
    {
        if (m_folders.Known(cluster))
            return true;
        const std::size_t i = m_folders.IndexOf(cluster);
        if (i == kNone)
            return false;
        if (m_folders.Reached(i) || m_folders.Head(i).parent != m_current)
            return true;
        m_folders.Reach(i);
        return false;
    }

    void AddTree(std::size_t i);

    CCatalog& m_catalog;
    VolumeEntry& m_volume;
    FatFolderSource m_source;
    DeepFolders& m_folders;
    FatFolderWalk m_walker;
    FatFolderFilter m_skip;
    u32 m_current = 0; // first cluster of the folder being walked
    u32 m_counter = 0; // folders named so far
};

// Catalogues folder i under a made-up name in the volume root, then walks it and every folder
// catalogued below it, breadth-first. A folder whose first cluster the FAT names in use holds
// another's data now: it is left out.
void DeepTrees::AddTree(std::size_t i)
{
    m_folders.Reach(i);
    const FatFolderHead& head = m_folders.Head(i);
    const u32 use = m_source.table->GetEntry(head.cluster);
    if (use != 0 && use != FatTable::kUnreadable)
        return;
    FoundItem top;
    top.path = m_volume.name;
    top.name = Format("Folder_%u_", ++m_counter);
    top.attr = kAttrDirectory;
    top.deleted = 1;
    top.deep = 1;
    top.inferred = 1;
    top.first = head.cluster;
    DecodeDosTime(top.created, head.createdDate, head.createdTime, head.createdTenth);
    DecodeDosTime(top.accessed, head.accessDate, head.createdTime, 0);
    const std::size_t from = m_volume.items.size();
    m_catalog.Post(WM_SCAN_NOTIFY, kScanFind, m_volume.name + "\\" + top.name, kAttrDirectory);
    m_catalog.AddItem(std::move(top), m_volume);
    for (std::size_t k = from; k < m_volume.items.size() && Running(); ++k)
    {
        const FoundItem& item = m_volume.items[k];
        if ((item.attr & kAttrDirectory) == 0 || item.deep == 0)
            continue;
        // A copy: the list grows, and may move, while the folder is walked.
        const FoundItem dir = item;
        m_current = static_cast<u32>(dir.first);
        bool overwritten = false;
        (void)ScanFatDeepFolder(m_catalog, dir, m_volume, m_walker, m_skip, &overwritten);
        if (overwritten)
            m_volume.items[k].condition = FindCondition::kOverwritten;
    }
}
} // namespace

u32 CFatEngine::DeepSearch(CCatalog& catalog, VolumeEntry& entry) const
{
    FatVolumeState* state = FatStateOf(entry);
    if (state == nullptr || !state->boot || !state->table || !entry.reader)
        return kErrBadFatBoot;
    const FatFolderSource source{.reader = entry.reader.get(),
                                 .boot = state->boot.get(),
                                 .table = state->table.get(),
                                 .bytesPerSector = state->bytesPerSector,
                                 .sectorsPerCluster = state->sectorsPerCluster,
                                 .clusterCount = state->clusterCount};
    s64 firstSector = 2;
    if (!source.Usable() || state->clusterCount < 2 ||
        !state->boot->ClusterToSector(&firstSector) || firstSector < 0)
        return kErrBadFatBoot;
    const u32 clusterBytes = state->sectorsPerCluster * state->bytesPerSector;
    DeepRange range;
    range.start = static_cast<u64>(firstSector) * state->bytesPerSector;
    // The clusters up to the volume's last, and no byte past its end.
    range.end = std::min(range.start + static_cast<u64>(state->clusterCount - 1) * clusterBytes,
                         state->boot->GetTotalSectors() * state->bytesPerSector);
    if (range.end <= range.start)
        return kOk;
    range.unit = clusterBytes;
    FatFolderHeads heads(clusterBytes, state->clusterCount);
    (void)RunDeepPass(
        catalog, entry, entry.reader.get(), range,
        [&](const DeepBlock& block)
        {
            heads.Visit(block.bytes.first(block.own),
                        2 + (block.offset - range.start) / clusterBytes, block.unreadableUnits);
        },
        [&heads] { return heads.Heads().size(); });
    if (!Running())
        return kOk;
    DeepFolders folders(heads.Take(), state->dirIndex);
    const std::size_t before = entry.items.size();
    DeepTrees(catalog, entry, source, folders).Run();
    if (entry.items.size() == before)
        return kOk;
    // Laid out with the other finds; the clusters of a deep find are never known for sure.
    ReassignFatFinds(entry);
    for (std::size_t k = before; k < entry.items.size(); ++k)
        entry.items[k].inferred = 1;
    return kOk;
}
