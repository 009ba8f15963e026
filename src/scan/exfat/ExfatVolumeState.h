// What the exFAT engine keeps of a volume: the cluster state it shares with FAT, and its boot
// region, FAT and bitmap windows and the stream records of its finds; and what it keeps of a
// find, its stream record.
#pragma once

#include "exfat/ExfatVolume.h"
#include "records/FoundItem.h"
#include "scan/ClusterVolume.h"
#include <memory>
#include <typeinfo>

struct LiveEntries;

class ExfatVolumeState final : public ClusterVolumeState
{
public:
    ExfatVolumeState();
    ~ExfatVolumeState() override; // where LiveEntries is known

    ExfatVolume exfat;
    // The live files the normal search met, kept for the cluster assignment that follows the
    // deep search; null otherwise.
    std::unique_ptr<LiveEntries> liveForDeep;
};

// The exFAT state of entry; null for any other. The class is final, so its type alone
// tells, without a walk of the hierarchy (the engine asks once per find).
[[nodiscard]] inline ExfatVolumeState* ExfatStateOf(VolumeEntry& entry)
{
    VolumeState* state = entry.state.get();
    return state != nullptr && typeid(*state) == typeid(ExfatVolumeState)
               ? static_cast<ExfatVolumeState*>(state)
               : nullptr;
}
[[nodiscard]] inline const ExfatVolumeState* ExfatStateOf(const VolumeEntry& entry)
{
    const VolumeState* state = entry.state.get();
    return state != nullptr && typeid(*state) == typeid(ExfatVolumeState)
               ? static_cast<const ExfatVolumeState*>(state)
               : nullptr;
}

// The stream record of an exFAT find; null when it has none.
[[nodiscard]] inline const ExfatStreamInfo* StreamRecordOf(const FoundItem& item)
{
    return static_cast<const ExfatStreamInfo*>(item.Payload(FindPayload::kStreamRecord));
}
