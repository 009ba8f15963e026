// Lost volumes, and sources of no file system, offered as drives after the sources were
// registered: what the wizard's drive list adds when its deep search is chosen.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"

// Registers the lost volumes (platform/LostVolumes.h) of the sources given (each "PATH" or
// "X:=PATH", as AddCommandLineSources takes them; a letter given there is not used again) and of
// the machine's whole disks that discovery reads, under the next free letters; a source given, or
// a partition of it, that holds no FAT, exFAT or NTFS volume (and no lost one) is registered raw
// (kRawFileSystem: only the deep search reads it). A volume already in the drive table (the same
// path at the same offset) is not registered again, so a second call adds nothing. A search cut
// short by its caps adds a message naming the path to *errors. sysRoot and devRoot replace /sys
// and /dev as for DiscoverBlockDevices. Returns the drive texts registered, in order.
std::vector<std::string> AddLostVolumeDrives(const std::vector<std::string>& sources,
                                             std::vector<std::string>* errors,
                                             const std::string& sysRoot = "/sys",
                                             const std::string& devRoot = "/dev");

// The message of a search for lost volumes on path that its caps cut short at a byte offset.
[[nodiscard]] std::string LostSearchCutText(const std::string& path, u64 stop);
