// The sector reader for a drive of the drive table: the device reader for image files and
// block devices, the Expert Witness reader for .E01 images.
#pragma once

#include <memory>
#include <string>

#include "disk/DirectRW.h"

// A closed reader of the kind the drive text's source needs (the device reader when the
// drive is not in the table, so that its Open reports the unknown drive); null only when
// there is no memory for it.
[[nodiscard]] std::unique_ptr<CDirectRW> NewDriveReader(const std::string& drive);
