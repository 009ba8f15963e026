// The per-folder name table of the FAT-family scans.
#include "scan/FindNames.h"

#include <functional>
#include <limits>

namespace
{
u32 HashOf(std::string_view name)
{
    const std::size_t h = std::hash<std::string_view>{}(name);
    return static_cast<u32>(h ^ (h >> 32));
}
} // namespace

std::string NameList::Unique(std::string name)
{
    // One lookup that also records the name: nearly every name is the first of its kind.
    const u32 hash = HashOf(name);
    Entry* known = Find(name, hash);
    if (known == nullptr)
    {
        (void)Add(name, hash);
        return name;
    }
    std::string counter = "_" + std::to_string(++known->counter) + "_";
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        name += counter;
    else
        name.insert(dot, counter);
    const u32 numbered = HashOf(name);
    if (Find(name, numbered) == nullptr)
        (void)Add(name, numbered);
    return name;
}

NameList::Entry* NameList::Find(std::string_view name, u32 hash)
{
    if (m_slots.empty())
        return nullptr;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask)
    {
        const u32 slot = m_slots[i];
        if (slot == 0)
            return nullptr;
        Entry& entry = m_entries[slot - 1];
        if (entry.hash == hash && entry.length == name.size() &&
            std::string_view(m_text).substr(entry.at, entry.length) == name)
            return &entry;
    }
}

bool NameList::Add(std::string_view name, u32 hash)
{
    constexpr std::size_t kMost = std::numeric_limits<u32>::max() / 4;
    if (m_entries.size() >= kMost || m_text.size() + name.size() > kMost)
        return false;
    // At most half the slots in use keeps the runs of the probe short.
    if ((m_entries.size() + 1) * 2 > m_slots.size())
        Grow();
    m_entries.push_back(
        Entry{static_cast<u32>(m_text.size()), static_cast<u32>(name.size()), hash, 0});
    m_text.append(name);
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = hash & mask;
    while (m_slots[i] != 0)
        i = (i + 1) & mask;
    m_slots[i] = static_cast<u32>(m_entries.size());
    return true;
}

void NameList::Grow()
{
    const std::size_t size = m_slots.empty() ? 64 : m_slots.size() * 2;
    m_slots.assign(size, 0);
    const std::size_t mask = size - 1;
    for (std::size_t k = 0; k < m_entries.size(); ++k)
    {
        std::size_t i = m_entries[k].hash & mask;
        while (m_slots[i] != 0)
            i = (i + 1) & mask;
        m_slots[i] = static_cast<u32>(k + 1);
    }
}
