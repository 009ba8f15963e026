// A volume entry's special members and the lookups over its finds.
#include "catalog/VolumeEntry.h"

#include "disk/DirectRW.h"

VolumeState::~VolumeState() = default;

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
