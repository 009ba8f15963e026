// The windows of clusters the deleted finds reach, and their owners.
#include "scan/ClusterReach.h"

#include <algorithm>
#include <new>

bool ClusterReach::Build(const AllocationMap& allocation, u64 low, u64 high,
                         std::span<const ReachStart> starts)
{
    m_allocation = &allocation;
    m_windows.clear();
    m_owner.clear();
    m_recent = 0;
    if (high < low || starts.empty())
        return true;
    // The free clusters after each first cluster, counted from the last find down: a word of
    // the map at a time.
    std::pmr::vector<u64> freeAfter(starts.size(), 0, m_windows.get_allocator().resource());
    u64 counted = high; // free clusters after counted are in running
    u64 running = 0;
    for (std::size_t k = starts.size(); k-- > 0;)
    {
        const u64 first = std::clamp(starts[k].first, low, high);
        if (first < counted)
        {
            running += (counted - first) - allocation.CountInUse(first + 1, counted - first);
            counted = first;
        }
        freeAfter[k] = running;
    }
    try
    {
        Window window;
        u64 demand = 0;   // free clusters the finds of the window need
        u64 freeSeen = 0; // free clusters of the window up to window.last
        bool open = false;
        for (std::size_t k = 0; k < starts.size(); ++k)
        {
            const ReachStart& start = starts[k];
            if (start.first < low || start.first > high || start.clusters == 0)
                continue;
            const u64 need = start.clusters - 1 > freeAfter[k] ? 1 : start.clusters;
            if (!open || start.first > window.last + 1)
            {
                if (open)
                    m_windows.push_back(window);
                window = Window{start.first, start.first - 1, 0};
                demand = 0;
                freeSeen = 0;
                open = true;
            }
            demand += need;
            while (freeSeen < demand && window.last < high)
            {
                ++window.last;
                freeSeen += allocation.InUse(window.last) ? 0 : 1;
            }
            // A find whose first cluster is in use still holds it.
            window.last = std::max(window.last, start.first);
        }
        if (open)
            m_windows.push_back(window);
        u64 size = 0;
        for (Window& w : m_windows)
        {
            w.at = size;
            size += w.last - w.first + 1;
        }
        m_owner.assign(static_cast<std::size_t>(size), kOwnerUnknown);
    }
    catch (const std::bad_alloc&)
    {
        m_windows.clear();
        m_owner.clear();
        return false;
    }
    return true;
}

u64 ClusterReach::Slot(u64 c) const
{
    if (m_windows.empty())
        return kOutside;
    std::size_t k = m_recent < m_windows.size() ? m_recent : 0;
    if (c < m_windows[k].first || c > m_windows[k].last)
    {
        // The first window whose last cluster is at or after c.
        const auto it = std::lower_bound(m_windows.begin(), m_windows.end(), c,
                                         [](const Window& w, u64 v) { return w.last < v; });
        if (it == m_windows.end() || c < it->first)
            return kOutside;
        k = static_cast<std::size_t>(it - m_windows.begin());
        m_recent = k;
    }
    return m_windows[k].at + (c - m_windows[k].first);
}

u32 ClusterReach::Owner(u64 c) const
{
    if (m_allocation != nullptr && !m_allocation->InUse(c))
        return kOwnerFree;
    const u64 slot = Slot(c);
    return slot == kOutside ? kOwnerUnknown : m_owner[static_cast<std::size_t>(slot)];
}

ClusterReach::Mark ClusterReach::Set(u64 c, u32 owner)
{
    const u64 slot = Slot(c);
    if (slot == kOutside || m_allocation == nullptr || !m_allocation->InUse(c))
        return Mark::kPassed;
    u32& held = m_owner[static_cast<std::size_t>(slot)];
    if (held != kOwnerUnknown)
        return Mark::kHeld;
    held = owner;
    return Mark::kSet;
}
