// What the recovery asks of the system about its destination: free space, file identities and
// the partitions of a disk. Tests replace it with a fake.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/DriveTable.h"
#include "platform/Types.h"

struct PathFacts
{
    bool isDirectory = false;
    bool isBlockDevice = false;
    u64 device = 0;    // device of the file system that holds the path
    u64 rawDevice = 0; // the device a block-device node stands for
    u64 inode = 0;
};

// The file behind a loop device (or behind the loop device a partition belongs to), and the
// byte offset in that file at which the device (or partition) starts.
struct LoopFacts
{
    std::string file;
    u64 offset = 0;
};

struct PartitionFacts
{
    u64 device = 0;      // device number of the partition
    u64 startSector = 0; // first 512-byte sector on its disk
};

class IRecoveryHost
{
public:
    virtual ~IRecoveryHost() = default;

    // Free space of the file system that holds path: the block size and the blocks an
    // ordinary user may still fill. False when it cannot be queried.
    [[nodiscard]] virtual bool FreeSpace(const std::string& path, u64* blockSize,
                                         u64* freeBlocks) = 0;
    // Identity of path (links followed), or nothing when it does not exist.
    [[nodiscard]] virtual std::optional<PathFacts> Stat(const std::string& path) = 0;
    // Partitions of the whole-disk device disk, or none.
    [[nodiscard]] virtual std::vector<PartitionFacts> Partitions(u64 disk) = 0;
    // The backing file of device when it is a loop device or a partition of one, or nothing.
    [[nodiscard]] virtual std::optional<LoopFacts> LoopBacking(u64 device) = 0;
    // What the mounts of the file system with device number device were mounted from, as the
    // mount table names them (a device node, an image file given to a FUSE driver, or a word
    // such as "tmpfs").
    [[nodiscard]] virtual std::vector<std::string> MountSources(u64 device) = 0;
};

// The mount sources of a mount table in /proc/self/mountinfo form whose device number (the
// third field, major:minor) is device; octal escapes such as \040 are decoded.
[[nodiscard]] std::vector<std::string> ParseMountSources(const std::string& mountInfo, u64 device);

// The host in use: the system's (statvfs, stat, /sys/dev/block) unless a test set another.
IRecoveryHost& RecoveryHost();
// The system's host, whatever is set.
IRecoveryHost& SystemRecoveryHost();
// Replaces the host; null restores the system's. Not to be called while a recovery runs.
void SetRecoveryHost(IRecoveryHost* host);

// The deepest existing folder on the way to path (path itself when it exists; "." or "/" at
// the latest).
[[nodiscard]] std::string NearestExisting(IRecoveryHost& host, const std::string& path);

// True when the file system that holds folder (or would hold it, once created) is the source
// volume itself: the block device the source names, or for a whole disk registered with a
// byte offset, the partition of that disk that starts there; for an image file, a loop device
// over that same file and offset (the image mounted). The mount table is asked too: a file
// system mounted straight from the image file (a FUSE driver given the file), from the source
// device, or from a loop device over the image, clashes. A folder beside an image never does.
[[nodiscard]] bool DestinationIsSource(IRecoveryHost& host, const std::string& folder,
                                       const DriveSource& source);
// The same for a destination folder already open: dest holds its facts (device and inode).
[[nodiscard]] bool DestinationFactsAreSource(IRecoveryHost& host, const PathFacts& dest,
                                             const DriveSource& source);
