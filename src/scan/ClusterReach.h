// The clusters the deleted finds of a FAT or exFAT volume can reach, and the owner of each
// cluster in use among them: the cluster assignment's view of the volume, kept in memory in
// proportion to the finds and their reach, not to the volume.
#pragma once

#include <memory_resource>
#include <span>
#include <vector>

#include "catalog/AllocationMap.h"
#include "platform/Types.h"

// Owner values of a cluster besides a live file's number (1 .. live count).
inline constexpr u32 kOwnerFree = 0;
inline constexpr u32 kOwnerSystem = 0xFFFFFFFEu;  // never a file's: bad cluster, root folder
inline constexpr u32 kOwnerUnknown = 0xFFFFFFFFu; // in use, by no live file that was found

// Where one find starts and how many clusters its size needs.
struct ReachStart
{
    u64 first = 0;
    u64 clusters = 0;
};

class ClusterReach
{
public:
    explicit ClusterReach(std::pmr::memory_resource* memory = std::pmr::get_default_resource())
        : m_windows(memory), m_owner(memory)
    {
    }

    // Works out the windows the finds reach over the volume's clusters low .. high, whose use
    // allocation gives (a bit per cluster; clusters outside it count as in use): finds whose
    // first clusters lie close together share a window, which runs on until it holds as many
    // free clusters as its finds need together. A find that needs more than the free clusters
    // after its first one adds only its first cluster. starts must be sorted by first cluster.
    // False when memory is short (the reach is then empty).
    [[nodiscard]] bool Build(const AllocationMap& allocation, u64 low, u64 high,
                             std::span<const ReachStart> starts);

    // The owner of cluster c: kOwnerFree when free, else what Set recorded inside the windows,
    // else kOwnerUnknown.
    [[nodiscard]] u32 Owner(u64 c) const;
    // Records the owner of a cluster in use inside the windows that has none yet.
    enum class Mark : u8
    {
        kSet,    // recorded
        kPassed, // outside the windows, or free: nothing to record
        kHeld,   // recorded already: a chain walk that meets it stops
    };
    Mark Set(u64 c, u32 owner);
    // The place of cluster c among the clusters of the windows, or kOutside.
    [[nodiscard]] u64 Slot(u64 c) const;
    static constexpr u64 kOutside = ~0ull;
    // Clusters the windows hold together.
    [[nodiscard]] u64 Size() const { return m_owner.size(); }
    [[nodiscard]] const AllocationMap* Allocation() const { return m_allocation; }
    // The windows as [first, last] pairs, for their owners' marking.
    struct Window
    {
        u64 first = 0;
        u64 last = 0;
        u64 at = 0; // slot of first
    };
    [[nodiscard]] std::span<const Window> Windows() const { return m_windows; }

private:
    const AllocationMap* m_allocation = nullptr;
    std::pmr::vector<Window> m_windows;
    std::pmr::vector<u32> m_owner;    // per slot; kOwnerUnknown until set
    mutable std::size_t m_recent = 0; // the window last looked up: lookups go forward mostly
};
