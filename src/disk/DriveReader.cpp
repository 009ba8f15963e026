// Picking the sector reader for a drive by the format the drive table recorded.
#include "disk/DriveReader.h"

#include <new>
#include <optional>

#include "disk/Ewf_RW.h"
#include "disk/File_RW.h"
#include "platform/DriveTable.h"

std::unique_ptr<CDirectRW> NewDriveReader(const std::string& drive)
{
    std::optional<DriveSource> source = g_DriveTable.Find(drive);
    if (source && source->format == SourceFormat::Ewf)
        return std::unique_ptr<CDirectRW>(new (std::nothrow) CEwf_RW());
    return std::unique_ptr<CDirectRW>(new (std::nothrow) CFile_RW());
}
