// What the NTFS engine keeps of a volume: its parser (which holds the device open for the
// search and the recovery) and the names of the named data streams its finds stand for; and
// what it keeps of a find, the data block of items made without a record number.
#pragma once

#include <memory>
#include <new>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "catalog/VolumeEntry.h"
#include "ntfs/Ntfs.h"
#include "records/FoundItem.h"

class NtfsVolumeState final : public VolumeState
{
public:
    std::unique_ptr<CNtfs> ntfs; // the volume's parser; null until opened
    // The names of the named data streams the items stand for (FoundItem::stream).
    std::vector<std::string> streamNames;
};

// The NTFS state of entry; null for any other. The class is final, so its type alone
// tells, without a walk of the hierarchy (the engine asks once per find).
[[nodiscard]] inline NtfsVolumeState* NtfsStateOf(VolumeEntry& entry)
{
    VolumeState* state = entry.state.get();
    return state != nullptr && typeid(*state) == typeid(NtfsVolumeState)
               ? static_cast<NtfsVolumeState*>(state)
               : nullptr;
}
[[nodiscard]] inline const NtfsVolumeState* NtfsStateOf(const VolumeEntry& entry)
{
    const VolumeState* state = entry.state.get();
    return state != nullptr && typeid(*state) == typeid(NtfsVolumeState)
               ? static_cast<const NtfsVolumeState*>(state)
               : nullptr;
}
// The NTFS parser of entry; null when it has none.
[[nodiscard]] inline CNtfs* NtfsOf(VolumeEntry& entry)
{
    NtfsVolumeState* state = NtfsStateOf(entry);
    return state != nullptr ? state->ntfs.get() : nullptr;
}
// Gives entry a new NTFS state holding ntfs (replacing any state it had) and returns it; null
// when memory is short (entry then has no state).
inline NtfsVolumeState* SetNtfsState(VolumeEntry& entry, std::unique_ptr<CNtfs> ntfs)
{
    auto* state = new (std::nothrow) NtfsVolumeState();
    entry.state.reset(state);
    if (state != nullptr)
        state->ntfs = std::move(ntfs);
    return state;
}

// The data block of an item made at search time (its base record's $DATA attribute in a
// memory-pool block); null when it has none.
[[nodiscard]] inline const u8* RecordDataOf(const FoundItem& item)
{
    return static_cast<const u8*>(item.Payload(FindPayload::kRecordData));
}
