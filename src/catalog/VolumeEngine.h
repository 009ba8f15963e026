// The seam between the file systems and everything above them. Each file system implements one
// engine: it opens a volume entry, searches it into the catalogue, says where a find's data
// lies as a stream of extents (or as bytes held in its metadata), hands out a reader of those
// bytes in order, and answers whether a cluster is in use. The search control picks the engine;
// the recovery copies any stream through one loop over that reader; nothing above the engines
// asks which file system it has.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "catalog/FindTimes.h"
#include "catalog/StreamReader.h"
#include "catalog/VolumeEntry.h"
#include "platform/Types.h"
#include "records/FoundItem.h"

class AllocationMap;
class CCatalog;
class CDirectRW;

// A stretch of a stream's clusters.
struct StreamExtent
{
    u64 vcn = 0;       // first cluster of the stream it covers
    u64 lcn = 0;       // its first cluster on the volume; unused for a hole
    u64 length = 0;    // clusters
    bool hole = false; // never written: reads as zeros
};

// Where a find's data lies.
struct DataStream
{
    u64 size = 0;          // bytes of data the find claims
    bool resident = false; // the data is held in the metadata: residentBytes
    std::vector<u8> residentBytes;
    std::vector<StreamExtent> extents; // in stream order, each lying on the volume
    u64 clusterBytes = 0;
    u64 firstLcn = 0;            // the cluster that starts at dataStart (2 on FAT, 0 on NTFS)
    u64 dataStart = 0;           // byte offset of that cluster on the engine's reader
    u64 initializedSize = ~0ull; // bytes past it were never written and read as zeros
    u32 compressionUnit = 0;     // clusters of one LZNT1 compression unit; 0: stored as is
    bool encrypted = false;      // the bytes are stored encrypted and copied as they are
    // Compressed in units other than those its metadata names: damaged, read in the usual ones.
    bool compressionDamaged = false;

    // Bytes the extents can give, at most size.
    [[nodiscard]] u64 ReadableBytes() const
    {
        if (resident)
            return residentBytes.size();
        u64 clusters = 0;
        for (const StreamExtent& e : extents)
            clusters += e.length;
        const u64 bytes =
            clusterBytes != 0 && clusters > ~0ull / clusterBytes ? ~0ull : clusters * clusterBytes;
        return bytes < size ? bytes : size;
    }
    // Byte offset on the reader of cluster lcn.
    [[nodiscard]] u64 ByteOf(u64 lcn) const { return dataStart + (lcn - firstLcn) * clusterBytes; }
};

// A volume's clusters as carving sees them: cluster firstLcn begins at byte dataStart of the
// engine's DataReader, and the volume's clusters are firstLcn .. endLcn - 1.
struct ClusterGeometry
{
    u64 clusterBytes = 0;
    u64 firstLcn = 0;
    u64 endLcn = 0;
    u64 dataStart = 0;
};

// Results of DescribeStream besides 0.
inline constexpr u32 kStreamUnreadable = 5; // the metadata that tells could not be read
inline constexpr u32 kStreamClipped = 36;   // described, but cut to what the metadata holds

class IVolumeEngine
{
public:
    virtual ~IVolumeEngine() = default;

    // Opens the volume of the drive entry.name into entry (fsType, reader, and the engine's own
    // VolumeState with its parsers and geometry). False when it is not this file system or
    // cannot be read; the caller drops the entry.
    [[nodiscard]] virtual bool Open(VolumeEntry& entry) const = 0;
    // Adds a find of the search to entry.items by the file system's rule (CCatalog::AddItem
    // forwards here); by default every find is appended.
    virtual void AddFind(VolumeEntry& entry, FoundItem item) const
    {
        entry.items.push_back(std::move(item));
    }
    // Searches the volume into entry.items, posting WM_SCAN_NOTIFY per find; stops early when
    // the run flag is cleared. Returns 0 or the engine's status.
    [[nodiscard]] virtual u32 Search(CCatalog& catalog, VolumeEntry& entry) const = 0;
    // The deep search, when it is asked for: reads the whole volume once (scan/DeepPass.h) and
    // adds to entry.items, marked deep, what the volume's metadata no longer links (folders
    // and records of an earlier format, names left in index slack). Called after Search, before
    // LoadAllocation, so that the deep finds are judged and laid out with the others; a deep
    // find whose clusters the engine cannot tell for sure is marked inferred. Stops early when
    // the run flag is cleared. Returns 0 or the engine's status. By default nothing is added.
    [[nodiscard]] virtual u32 DeepSearch(CCatalog& /*catalog*/, VolumeEntry& /*entry*/) const
    {
        return 0;
    }
    // The volume's clusters for carving (open volume). False when the engine offers none: its
    // volume is then not carved.
    [[nodiscard]] virtual bool Geometry(VolumeEntry& /*entry*/, ClusterGeometry* /*geometry*/) const
    {
        return false;
    }
    // Fills *map with the volume's allocation state (a bit per cluster, by cluster number), read
    // in windows from the FAT, the exFAT allocation bitmap or the NTFS $Bitmap. Called after
    // Search, before EndSearch. Returns 0, kErrNoMemory, or kErrUnsupported when the state
    // cannot be read whole (a read failed, or the run flag was cleared meanwhile).
    [[nodiscard]] virtual u32 LoadAllocation(VolumeEntry& entry, AllocationMap* map) const = 0;
    // Called once the search has read what it needs: the reader may be closed.
    virtual void EndSearch(VolumeEntry& entry) const = 0;
    // Bytes of one cluster: the unit of the extents and of the recovery's chunks.
    [[nodiscard]] virtual u64 ClusterBytes(const VolumeEntry& entry) const = 0;
    // The reader through which the volume's data is read, opened (again) when needed.
    [[nodiscard]] virtual CDirectRW* DataReader(VolumeEntry& entry) const = 0;
    // Where item's data lies. 0, kStreamClipped (*stream holds what there is), or
    // kStreamUnreadable.
    [[nodiscard]] virtual u32 DescribeStream(VolumeEntry& entry, const FoundItem& item,
                                             DataStream* stream) const = 0;
    // A reader of stream's bytes in order, for a copy of chunkBytes a chunk (see StreamReader.h):
    // stream is what DescribeStream gave for a find of this engine's volume, reader what
    // DataReader gave; both must outlive the reader. nullptr when the stream cannot be read.
    // Engines whose streams are stored as they are keep this one; one whose streams may be
    // coded (NTFS compression) hands those out decoded.
    [[nodiscard]] virtual std::unique_ptr<IStreamReader>
    OpenStream(CDirectRW* reader, const DataStream& stream, u64 chunkBytes) const
    {
        return OpenExtentStream(reader, stream, chunkBytes);
    }
    // True when the search already knows that item's data needs no cluster (it is kept inside
    // the file's own record): judging such a find then reads nothing. False when it cannot tell
    // without DescribeStream.
    [[nodiscard]] virtual bool KnownWithoutClusters(const VolumeEntry& /*entry*/,
                                                    const FoundItem& /*item*/) const
    {
        return false;
    }
    // The times a timeline lists for item, in Unix seconds: what the volume's metadata holds
    // of them (the NTFS engine reads the file's record again for its write and MFT-change
    // times). Returns 0, or kStreamUnreadable when the metadata could not be read again; *times
    // then holds what the search noted. By default: the creation and access times the search
    // noted.
    [[nodiscard]] virtual u32 ReadTimes(VolumeEntry& /*entry*/, const FoundItem& item,
                                        FindTimes* times) const
    {
        *times = NotedTimes(item);
        return 0;
    }
    // Whether cluster is in use by a live file: 0 with *inUse set, or kErrUnsupported when the
    // engine cannot tell.
    [[nodiscard]] virtual u32 ClusterInUse(VolumeEntry& entry, u64 cluster, bool* inUse) const = 0;
    // True when the items of one folder stand together in entry.items (the result view then
    // stops at the end of that run).
    [[nodiscard]] virtual bool FoldersContiguous() const = 0;
    // Gives back what the items hold beyond their plain fields (their payloads).
    virtual void ReleaseItems(VolumeEntry& entry) const = 0;
};
