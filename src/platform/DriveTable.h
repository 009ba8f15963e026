// The drive table: maps drive texts such as "C:" to the image files and block devices that
// stand behind them, so that the engines can keep addressing volumes by drive text.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Types.h"

// Drive types with the values of the Windows drive-type query; image files count as fixed.
enum class DriveType : u32
{
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6,
};

// How the bytes of a source are stored: as they are (an image file or block device), or as
// an Expert Witness image whose media libewf decodes.
enum class SourceFormat : u32
{
    Raw = 0,
    Ewf = 1,
};

// The file-system name (DriveSource::fileSystem) of a drive that holds no FAT, exFAT or NTFS
// volume and is carved by its contents, sector by sector (registered only for the deep search).
inline constexpr const char* kRawFileSystem = "raw";

struct DriveSource
{
    std::string drive; // "C:"
    std::string path;  // image file or block device
    u64 offset = 0;    // byte offset of the volume inside path (partitions of a whole disk)
    u64 length = 0;    // byte length of the volume; 0 means up to the end of path
    SourceFormat format = SourceFormat::Raw; // offset and length count bytes of the media
    bool fromCommandLine = true;
    DriveType driveType = DriveType::Fixed;
    std::string fileSystem; // "FAT12", "FAT16", "FAT32", "FAT", "NTFS", or "" (none recognised)
    std::string label;      // volume label in UTF-8, "" when the volume has none
    std::string display;    // the source as shown to users: "disk.img (partition 5)", "/dev/sdb1"
    std::string note;       // what the probe wants users to know, "" when nothing
};

// The name a drive shows in the drive list: its label, or the usual name of its drive type
// ("Local Disk", "Removable Disk", ...), followed by the drive text in brackets.
[[nodiscard]] std::string ShellDisplayName(const DriveSource& source);

class DriveTable
{
public:
    // Registers path under the given drive text ("X:"); replaces an earlier entry of that letter.
    void Register(const DriveSource& source);
    // Registers path under the next free letter from C: on and returns its drive text, or an
    // empty text when every letter is taken.
    std::string RegisterNext(const std::string& path, u64 offset = 0, u64 length = 0);
    [[nodiscard]] std::optional<DriveSource> Find(const std::string& drive) const;
    [[nodiscard]] std::vector<DriveSource> All() const;
    // The probe's notes of the drives that have one, each as "X: note", in drive order.
    [[nodiscard]] std::vector<std::string> Notes() const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<DriveSource> m_sources; // sorted by drive letter
};

// The process-wide drive table.
extern DriveTable g_DriveTable;
