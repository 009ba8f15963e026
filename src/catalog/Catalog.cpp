// The catalogue: volume entries, the rule by which FAT finds are added, the reset, and the
// result view's operations as the catalogue names them.
#include "catalog/Catalog.h"

#include <algorithm>
#include <utility>

#include "catalog/AllocationMap.h"
#include "catalog/VolumeEngine.h"
#include "disk/DirectRW.h"
#include "exfat/ExfatVolume.h"
#include "fat/FatBootSector.h"
#include "fat/FatTable.h"
#include "mempool/MemPool.h"
#include "ntfs/Ntfs.h"

// On a cache line of its own: every worker reads it for each record, and a neighbour written as
// often (the memory pool's lock) made that line travel between the cores at each read.
alignas(64) std::atomic<u32> g_bRunning{0};
std::vector<SelEntry> g_Selection;

VolumeEntry::VolumeEntry() = default;
VolumeEntry::~VolumeEntry() = default;
VolumeEntry::VolumeEntry(VolumeEntry&&) noexcept = default;
VolumeEntry& VolumeEntry::operator=(VolumeEntry&&) noexcept = default;

const std::vector<std::size_t>* VolumeEntry::Lookup::ItemsWithFirst(const FoundItems& list,
                                                                    u64 first)
{
    if (list.size() < m_itemsSeen)
    {
        m_byFirst.clear();
        m_itemsSeen = 0;
    }
    for (; m_itemsSeen < list.size(); ++m_itemsSeen)
        m_byFirst[list[m_itemsSeen].first].push_back(m_itemsSeen);
    auto it = m_byFirst.find(first);
    return it == m_byFirst.end() ? nullptr : &it->second;
}

bool VolumeEntry::Lookup::FindDir(const std::vector<u32>& clusters, u32 cluster,
                                  std::size_t* position)
{
    if (clusters.size() < m_dirsSeen)
    {
        m_dirPosition.clear();
        m_dirsSeen = 0;
    }
    for (; m_dirsSeen < clusters.size(); ++m_dirsSeen)
        m_dirPosition.try_emplace(clusters[m_dirsSeen], m_dirsSeen);
    auto it = m_dirPosition.find(cluster);
    if (it == m_dirPosition.end())
        return false;
    *position = it->second;
    return true;
}

void VolumeEntry::Lookup::Clear()
{
    m_byFirst.clear();
    m_dirPosition.clear();
    m_itemsSeen = 0;
    m_dirsSeen = 0;
}

CCatalog::CCatalog() = default;

CCatalog::~CCatalog()
{
    // Workers poll the run flag; once it is clear they end at their next test.
    g_bRunning = 0;
    if (m_searchThread.joinable())
        m_searchThread.join();
    if (m_recoverThread.joinable())
        m_recoverThread.join();
    ResetVolumes();
}

void CCatalog::Post(u32 message, u32 code, const std::string& text, u32 extra) const
{
    if (m_sink != nullptr)
        m_sink->Post(message, code, text, extra);
}

int CCatalog::CompareTime(const FoundTime& a, const FoundTime& b)
{
    const s32 left[6] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
    const s32 right[6] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
    for (int i = 0; i < 6; ++i)
    {
        if (left[i] > right[i])
            return 1;
        if (left[i] < right[i])
            return -1;
    }
    return 0;
}

void CCatalog::AddItem(FoundItem item, VolumeEntry& volume)
{
    // A file of no bytes has no cluster (first 0): it is listed all the same.
    const bool emptyFile = item.first == 0 && item.size == 0 && (item.attr & 0x10) == 0;
    if (item.first > volume.clusterCount || (item.first < 2 && !emptyFile))
        return;
    if (item.attr & 0x10)
    {
        // first lies in [2, clusterCount], so it fits a cluster number.
        u32 cluster = static_cast<u32>(item.first);
        std::size_t k = 0;
        if (volume.lookup.FindDir(volume.dirIndex, cluster, &k))
        {
            // The folder is catalogued already (or excluded): the earliest item from index k on
            // with this first cluster may take the newer entry's name; the new entry is dropped.
            const std::vector<std::size_t>* same =
                volume.lookup.ItemsWithFirst(volume.items, item.first);
            if (same == nullptr)
                return;
            auto at = std::lower_bound(same->begin(), same->end(), k);
            if (at == same->end())
                return;
            FoundItem& found = volume.items[*at];
            // A live folder and a deleted entry of its cluster are two finds: the live one is
            // never hidden behind the deleted one (which lost the cluster to it), nor renamed
            // by it.
            if ((found.attr & 0x10) && (found.deleted == 0) != (item.deleted == 0))
            {
                if (item.deleted == 0)
                    volume.items.push_back(std::move(item));
                return;
            }
            if ((found.attr & 0x10) && CompareTime(item.accessed, found.accessed) == 1)
                found.name = std::move(item.name);
            return;
        }
        volume.dirIndex.push_back(cluster);
    }
    volume.items.push_back(std::move(item));
}

void CCatalog::ResetVolumes()
{
    for (std::size_t i = m_volumes.size(); i-- > 0;)
    {
        VolumeEntry& volume = m_volumes[i];
        volume.dirIndex.clear();
        if (volume.engine != nullptr)
            volume.engine->ReleaseItems(volume);
        volume.items.clear();
        volume.assignedRuns.clear();
        volume.streamNames.clear();
        volume.recycledFrom.clear();
        volume.lookup.Clear();
        volume.ntfs.reset();
        volume.fatBoot.reset();
        volume.fatTable.reset();
        volume.exfat.reset();
        volume.fatAllocation.reset();
        volume.reader.reset();
        volume.name.clear();
        volume.bytesPerSector = 0;
        volume.clusterCount = 0;
        volume.sectorsPerCluster = 0;
        volume.fsType = kFsNone;
        volume.engine = nullptr;
    }
    m_volumes.clear();
    m_fileCount = 0;
}

// The result view's operations, on the job list.

void CCatalog::InitFileTypes()
{
    m_view.InitFileTypes();
}

void CCatalog::ShowFolder(const VolumeEntry& volume, std::vector<ResultRow>* rows)
{
    m_view.ShowFolder(m_volumes, volume, rows);
}

void CCatalog::AddLevelRows(const VolumeEntry& volume, std::vector<ResultRow>* rows)
{
    m_view.AddLevelRows(volume, rows);
}

bool CCatalog::Navigate(const std::string& text, std::vector<ResultRow>* rows)
{
    return m_view.Navigate(m_volumes, text, rows);
}

void CCatalog::GetFileType(std::string& extension, s32* image)
{
    m_view.GetFileType(extension, image);
}

std::string CCatalog::FormatTime(const FoundTime& time)
{
    return m_view.FormatTime(time);
}
