// What the FAT engine keeps of a volume: the cluster state it shares with exFAT, its boot
// sector and FAT table, and where the boot sector was read from.
#pragma once

#include <memory>
#include <new>
#include <typeinfo>

#include "fat/FatBootSector.h"
#include "fat/FatTable.h"
#include "scan/ClusterVolume.h"

struct LiveEntries;

class FatVolumeState final : public ClusterVolumeState
{
public:
    // Out of line (scan/fat/FatEngine.cpp), where LiveEntries is known.
    FatVolumeState();
    ~FatVolumeState() override;
    FatVolumeState(const FatVolumeState&) = delete;
    FatVolumeState& operator=(const FatVolumeState&) = delete;

    std::unique_ptr<FatBootSector> boot; // null until read
    std::unique_ptr<FatTable> table;     // null until attached
    u64 backupBootSector = 0;            // FAT32: boot sector read from this backup; 0: none
    // The live files the search met, kept when a deep search follows: its finds are laid out
    // again with them. Null otherwise.
    std::unique_ptr<LiveEntries> live;
};

// The FAT state of entry; null for any other. The class is final, so its type alone
// tells, without a walk of the hierarchy (the engine asks once per find).
[[nodiscard]] inline FatVolumeState* FatStateOf(VolumeEntry& entry)
{
    VolumeState* state = entry.state.get();
    return state != nullptr && typeid(*state) == typeid(FatVolumeState)
               ? static_cast<FatVolumeState*>(state)
               : nullptr;
}
[[nodiscard]] inline const FatVolumeState* FatStateOf(const VolumeEntry& entry)
{
    const VolumeState* state = entry.state.get();
    return state != nullptr && typeid(*state) == typeid(FatVolumeState)
               ? static_cast<const FatVolumeState*>(state)
               : nullptr;
}
// Gives entry a new, empty FAT state (replacing any state it had) and returns it; null when
// memory is short (entry then has no state).
inline FatVolumeState* NewFatState(VolumeEntry& entry)
{
    auto* state = new (std::nothrow) FatVolumeState();
    entry.state.reset(state);
    return state;
}
