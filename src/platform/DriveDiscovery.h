// Filling the drive table: the image files and block devices named on the command line, and
// the machine's block devices that hold FAT, exFAT or NTFS volumes. A whole disk with a partition
// table becomes one drive per FAT, exFAT or NTFS partition, read at the partition's offset.
#pragma once

#include <string>
#include <vector>

#include "platform/DriveTable.h"
#include "platform/PartitionTable.h"
#include "platform/Types.h"
#include "platform/VolumeProbe.h"

// One FAT, exFAT or NTFS volume inside an image file or block device.
struct SourceVolume
{
    u64 offset = 0;    // byte offset inside the source
    u64 length = 0;    // byte length; 0 for a volume that fills the whole source
    u32 partition = 0; // partition number, 0 when the volume is the whole source
    VolumeInfo info;
    bool lost = false; // found by the search for lost volumes (partition is 0)
    // Holds no FAT, exFAT or NTFS volume (info.fileSystem is kRawFileSystem): listed only for the
    // deep search, which carves it sector by sector.
    bool raw = false;
};

// What an image file or block device holds.
struct SourceLayout
{
    bool blockDevice = false;
    SourceFormat format = SourceFormat::Raw;        // Ewf: offsets and size count media bytes
    u64 size = 0;                                   // bytes
    PartitionScheme scheme = PartitionScheme::None; // table the volumes were found through
    u32 partitionCount = 0;                         // partitions the table lists
    bool damaged = false;                           // the partition table is partly unusable
    std::vector<SourceVolume> volumes;              // FAT, exFAT and NTFS volumes; raw ones
    bool lostSearchCut = false;                     // the search for lost volumes stopped at a cap
    u64 lostSearchStop = 0;                         // where it stopped: a byte offset
};

// Opens path read-only and lists its FAT, exFAT and NTFS volumes: the whole source when it holds
// one itself, otherwise (with splitPartitions) one per FAT, exFAT or NTFS partition of its
// partition table. An image file that begins with the Expert Witness signature is read as the media
// libewf decodes from it and its sibling segments (.E02, ...). Returns 0 (*layout filled; it may
// list no volume), 3 (path cannot be opened, or is neither a regular file nor a block device, or is
// an Expert Witness image that libewf cannot open; nothing else is opened) or 5 (its first sector
// cannot be read); on failure *errorNumber holds the system error number, kErrNotImageOrDevice or
// kErrBadEwfImage (SourceErrorText words each). With deep (and splitPartitions), a source that is
// not one volume itself is also searched for lost volumes (platform/LostVolumes.h) in the space
// its partition table leaves free; each one the probe confirms follows the table's volumes. With
// deep and raw, each partition that holds none of the three is listed raw in its place in the
// table (cut to the source), and a source that then lists nothing at all is listed raw whole
// (space no partition covers is not).
[[nodiscard]] u32 ReadSourceLayout(const std::string& path, bool splitPartitions,
                                   SourceLayout* layout, int* errorNumber, bool deep = false,
                                   bool raw = false);

// Probes the volume a drive-table entry names, through libewf for an Expert Witness image.
// Returns as ProbeVolume; 5 also when the source cannot be opened.
[[nodiscard]] u32 ProbeSourceVolume(const DriveSource& source, VolumeInfo* info);

// Registers the sources named on the command line, each "PATH" or "X:=PATH". Sources without
// a letter take C:, D:, ... in order, skipping letters already in use or given explicitly; the
// further volumes of a partitioned source take the next free letters after its first one.
// Returns the drive texts registered, in order. Every source that yields no drive, and every
// partition table read only in part, adds a message naming the path to *errors. With deep, whole
// disks are also searched for lost volumes, which take letters after the partitions' ones, and a
// source, or a partition of it, that holds no FAT, exFAT or NTFS volume becomes a raw drive.
std::vector<std::string> AddCommandLineSources(const std::vector<std::string>& args,
                                               std::vector<std::string>* errors, bool deep = false);

// What a user who may not open the machine's disks is told: raw block devices need root.
inline constexpr const char* kRunAsAdministratorText = "Run as administrator to search the disks.";

// A block device that the discovery could not open for lack of permission.
struct DeniedDevice
{
    std::string path; // the device node, "/dev/sda1"
    DriveType driveType = DriveType::Fixed;
};

// Registers the machine's block devices that hold FAT, exFAT or NTFS volumes under the next free
// letters, in device-name order: partitions the kernel knows, whole disks without such
// partitions (split through their own partition table), attached loop devices. Devices of size
// 0, devices that cannot be opened, and sources already in the table are left out of the
// table; when denied is given and the process is not root, the devices refused for lack of
// permission (EACCES, EPERM) are appended to it, so that the caller can tell the user why the
// list is short.
// sysRoot and devRoot replace /sys and /dev (tests point them at a made-up tree). With deep,
// whole disks without partitions the kernel knows are also searched for lost volumes.
// Returns the drive texts registered, in order.
std::vector<std::string> DiscoverBlockDevices(const std::string& sysRoot = "/sys",
                                              const std::string& devRoot = "/dev",
                                              std::vector<DeniedDevice>* denied = nullptr,
                                              bool deep = false);

// Drive type of a block device from its sysfs folder (/sys/class/block/NAME, a partition's
// folder counts as its disk's): CD-ROM for sr and SCSI type 5, RAM disk for ram and zram,
// remote for nbd and rbd, removable when the removable flag is set, fixed otherwise.
[[nodiscard]] DriveType ClassifyBlockDevice(const std::string& sysDevice);
