// What the exFAT engine keeps of a volume: the cluster state it shares with FAT, and its boot
// region, FAT and bitmap windows and the stream records of its finds; and what it keeps of a
// find, its stream record.
#pragma once

#include "exfat/ExfatVolume.h"
#include "records/FoundItem.h"
#include "scan/ClusterVolume.h"

class ExfatVolumeState final : public ClusterVolumeState
{
public:
    ExfatVolume exfat;
};

// The exFAT state of entry; null for any other.
[[nodiscard]] inline ExfatVolumeState* ExfatStateOf(VolumeEntry& entry)
{
    return dynamic_cast<ExfatVolumeState*>(entry.state.get());
}
[[nodiscard]] inline const ExfatVolumeState* ExfatStateOf(const VolumeEntry& entry)
{
    return dynamic_cast<const ExfatVolumeState*>(entry.state.get());
}

// The stream record of an exFAT find; null when it has none.
[[nodiscard]] inline const ExfatStreamInfo* StreamRecordOf(const FoundItem& item)
{
    return static_cast<const ExfatStreamInfo*>(item.Payload(FindPayload::kStreamRecord));
}
