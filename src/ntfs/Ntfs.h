// The NTFS volume parser: opens a volume, finds the MFT, reads its FILE records and
// gives the search and recovery what they need of them, and the data block that tells recovery
// where data lies, on top of the parsers of ntfs/ (boot sector, record, attributes, run list).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "disk/DirectRW.h"
#include "ntfs/AttributeValues.h"
#include "ntfs/MftReader.h"
#include "ntfs/MftRecord.h"
#include "ntfs/NtfsBootSector.h"
#include "ntfs/NtfsFile.h"
#include "ntfs/RunList.h"
#include "platform/Types.h"
#include "records/FoundItem.h"

// One stretch of clusters of a run list, as DecodeRuns yields it: 32-bit, without VCN or hole
// mark (NtfsExtent carries both).
struct NtfsRun
{
    u32 startCluster = 0;
    u32 clusterCount = 0;
};

// Header of a FILE record. usa is a g_MemPool copy of the update sequence array (count
// entries, the update sequence number first) owned by the receiver, or null.
struct NtfsRecordHeader
{
    u8 signature[4] = {};
    u16 usaOffset = 0;    // 0x04
    u16 usaCount = 0;     // 0x06, entries including the update sequence number
    u64 lsn = 0;          // 0x08
    u16 sequence = 0;     // 0x10
    u16 linkCount = 0;    // 0x12
    u16 attrOffset = 0;   // 0x14, first attribute
    u16 flags = 0;        // 0x16, bit 0 in use, bit 1 directory
    u32 bytesInUse = 0;   // 0x18
    u32 bytesAlloc = 0;   // 0x1C
    u64 baseRecord = 0;   // 0x20
    u16 nextAttrId = 0;   // 0x28
    u16 reserved2A = 0;   // 0x2A
    u32 recordNumber = 0; // 0x2C
    u16 usn = 0;          // first entry of the update sequence array
    u16* usa = nullptr;
};

// One parsed attribute. Pool blocks (nameText, data) belong to the holder.
struct NtfsAttr
{
    u32 type = 0;
    u32 length = 0;
    u8 nonResident = 0;
    u8 nameLength = 0;
    u16 nameOffset = 0;
    u16 flags = 0;
    u16 id = 0;
    // Resident form.
    u32 valueLength = 0;
    u16 valueOffset = 0;
    u8 indexed = 0;
    u8 padding = 0;
    // Non-resident form.
    u64 firstVcn = 0;
    u64 lastVcn = 0;
    u16 runsOffset = 0;
    u16 compressionUnit = 0;
    u32 reserved24 = 0;
    u64 allocatedSize = 0;
    u64 dataSize = 0;
    u64 initializedSize = 0;
    // $STANDARD_INFORMATION (and the $FILE_NAME times).
    s64 created = 0;
    s64 modified = 0;
    s64 mftChanged = 0;
    s64 accessed = 0;
    u32 fileAttributes = 0;
    u32 maxVersions = 0;
    u32 version = 0;
    u32 classId = 0;
    u32 ownerId = 0;
    u32 securityId = 0;
    u64 quotaCharged = 0;
    u64 usn = 0;
    // $FILE_NAME.
    u64 parentRef = 0;
    u64 fnAllocatedSize = 0; // low 48 bits
    u64 fnRealSize = 0;      // low 48 bits
    u32 fnFlags = 0;
    u32 reparse = 0;
    u8 fnNameLength = 0;
    u8 nameSpace = 0;         // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    char* nameText = nullptr; // UTF-8 text in a pool block, or null
    // $DATA.
    u8* data = nullptr; // data block (see below), a pool block, or null
};

// A named data stream of a file.
struct NtfsNamedStream
{
    std::string name; // UTF-8
    u64 size = 0;
};

// What the search keeps of one record.
struct NtfsRecordInfo
{
    s64 parent = 0;    // parent folder's record number (low 48 bits of the reference)
    u64 record = 0;    // record number that was read
    u16 attribute = 0; // 0x10 folder, 0x20 file
    u8 resident = 0;   // 1 when $DATA is resident
    ItemName name;     // UTF-8 name, empty when none
    FoundTime created;
    FoundTime accessed;
    FoundTime modified;     // unset by a parser that skips it (CNtfs::SkipModifiedTime)
    u64 size = 0;           // data size in bytes; 0 for folders
    u8* data = nullptr;     // data block, null for folders; owned by the receiver
    u16 parentSequence = 0; // sequence number of the parent reference (top 16 bits)
    u16 sequence = 0;       // the record's own sequence number
    u8 inUse = 0;           // 1 when the record's in-use flag is set
    std::vector<NtfsNamedStream> streams; // a file's named $DATA streams, in record order
};

// The data block, kept as a find's payload (FindPayload::kRecordData):
//   byte 0 = L, then L bytes. Resident $DATA: L = 3, a 0 byte, then the u16 offset of the
//   value within its 1024-byte record. Non-resident: the run list exactly as on disk (mapping
//   pairs, terminator, padding to the attribute's end).
//   A run list of 255 bytes or more is stored in the long form: byte 0 = 0xFF and the block is
//   1024 bytes, the run list followed by zero bytes; its limit is kDataBlockLongLimit.
// Byte 1 tells resident (0) from non-resident (the first run header).
inline constexpr u8 kDataBlockLongForm = 0xFF;
inline constexpr u32 kDataBlockLongLimit = 1023;

// The data block of a $DATA attribute, from the pool (the receiver frees it); null when the pool
// refuses.
[[nodiscard]] u8* NtfsDataBlock(const NtfsData& data);
// True when block describes resident data; *valueOffset then holds the value's offset in the
// record.
[[nodiscard]] bool NtfsDataIsResident(const u8* block, u16* valueOffset);
// Run bytes and the limit to hand to DecodeRuns or DecodeRunList for a non-resident data block
// (run bytes = block + 1). Returns false for a null or resident block.
[[nodiscard]] bool NtfsDataRunList(const u8* block, const u8** runs, int* limit);
// The value of a resident attribute inside an MFT record of recordSize bytes as read from disk:
// applies the record's update sequence fixups (ApplyUpdateSequence: all strides or, when one
// does not carry the update sequence number, none), then bounds the value [valueOffset,
// valueOffset + size) to the record. Returns 0 when the whole value lies inside the record, 36
// when it was clipped (*start and *length then give the part inside).
[[nodiscard]] u32 ExtractResidentValue(u8* record, u32 recordSize, u32 valueOffset, u64 size,
                                       u32* start, u32* length);

class CNtfs
{
public:
    // The classic record size, and the least the record buffer holds.
    static constexpr u32 kRecordSize = 1024;
    static constexpr u32 kReaderSectorSize = 512;
    // Record sizes this parser reads: every power of two in between.
    static constexpr u32 kMinRecordBytes = 256;
    static constexpr u32 kMaxRecordBytes = 65536;
    // Largest cluster: 2 MiB.
    static constexpr u64 kMaxClusterBytes = 2u << 20;

    // Takes a device reader on the drive table (CFile_RW).
    CNtfs();
    // Uses the given reader instead (tests and fuzzers hand in a CMem_RW).
    explicit CNtfs(std::unique_ptr<CDirectRW> reader);
    virtual ~CNtfs();
    CNtfs(const CNtfs&) = delete;
    CNtfs& operator=(const CNtfs&) = delete;

    // Opens drive, checks the boot sector and loads the MFT extent; closes the device again
    // when keepOpen is 0. Returns 0, 1 (no reader), 5 (record 0 without $DATA), 36 (boot sector
    // or record 0 refused) or the reader's codes.
    [[nodiscard]] u32 Open(const std::string& drive, int keepOpen);
    void Close();

    // Checks the boot sector in the sector buffer. Returns 0 or 36.
    [[nodiscard]] u32 ParseBootSector();
    // Reads record 0 and decodes its $DATA run list into the MFT's extents (with the pieces
    // its $ATTRIBUTE_LIST names in extension records); the record count covers them as far as
    // they lie on the volume and the device and as far as the $DATA sizes reach. Returns 0, 1 (not
    // open), 5 (no $DATA), 36 (no "FILE", resident $DATA, or a run list that cannot be decoded) or
    // the reader's codes.
    [[nodiscard]] u32 LoadMftRuns();
    // value in: record number; out: the record's first sector (512-byte units). 1 found,
    // 0 not in the MFT's extent.
    [[nodiscard]] int RecordToSector(s64& value) const;
    // The record operations: thin forms of the record, attribute and run-list parsers (ntfs/)
    // on a FILE record of size bytes handed in, which they leave as it is unless named.
    // Header of the record. Returns 0 or 36 (no "FILE").
    [[nodiscard]] static u32 ParseRecordHeader(NtfsRecordHeader& header, const u8* record,
                                               u32 size);
    // Update sequence fixups on the record, with the entries given (the update sequence number
    // first, count of them). apply 1 checks the strides in order and patches them, putting the
    // record back as read at the first mismatch; apply 0 writes the update sequence number
    // back. Returns 1 (done, or no entries) or 0 (mismatch, an update sequence number of 0, or
    // count below 1).
    static int ApplyFixups(const u16* entries, int apply, int count, u8* record, u32 size);
    class RecordReads;
    // Reads record n and parses it. Returns 0, 1 (not open), 5 (out of range; no attribute),
    // 6 (in-use file), 36 (no "FILE") or the reader's codes.
    [[nodiscard]] u32 ReadRecord(NtfsRecordInfo& info, s64 record);
    // ReadRecord through reads of another thread (see RecordReads), the volume kept open: it
    // changes nothing of the parser, so threads that each bring their own reads share one.
    [[nodiscard]] u32 ReadRecord(RecordReads& reads, NtfsRecordInfo& info, s64 record) const;
    // True when the last ReadRecord failed because the device did not deliver the record (not
    // because its bytes break the format or it holds no find).
    [[nodiscard]] bool LastReadFailed() const;
    // True when record lies in the read-ahead batch of reads and its header marks a file in
    // use, which ReadRecord would turn away (6): most records of a disk, told by two fields of
    // their header without a decode. False tells nothing; ReadRecord decides then.
    [[nodiscard]] bool BatchedFileInUse(const RecordReads& reads, s64 record) const;
    // Reads of this open volume's records for another thread, through reader (open on the same
    // volume), reading ahead. Null when the volume is not open or there is no memory.
    [[nodiscard]] std::unique_ptr<RecordReads>
    NewRecordReads(std::unique_ptr<CDirectRW> reader) const;
    // Parses the record, as ReadRecord does one it read. Returns 0, 5, 6 or 36.
    [[nodiscard]] u32 ParseRecord(NtfsRecordInfo& info, const u8* record, u32 size);
    // Finds the next attribute of type from cursor on in the record, as it lies there (no
    // fixups applied). Returns 0 (cursor at it) or 5 (none, or the walk met a damaged
    // attribute; cursor set to 0xFFFFFFFF).
    [[nodiscard]] static u32 FindAttribute(NtfsAttr& attr, u32& cursor, u32 type, const u8* record,
                                           u32 size);
    // The preferred name of the record (a Win32 or POSIX name over a DOS one). Returns 0, 5,
    // 36.
    [[nodiscard]] static u32 GetFileName(std::string& name, NtfsAttr& attr, const u8* record,
                                         u32 size);
    // Decodes a run list of at most limit bytes (see DecodeRunList), yielding the runs in order
    // up to the first one an NtfsRun cannot hold: a hole, or a start cluster or a cluster count
    // of 2^32 or more. Returns 0; 5 (null); 36 when the list ended early (no end within limit,
    // an impossible pair, or a run it cannot hold), keeping the runs before.
    [[nodiscard]] static u32 DecodeRuns(const u8* runs, int limit, std::vector<NtfsRun>& out);
    // Where the data stream stream (empty: the file's own data) of the file whose base record
    // is number lies, read again from the record and its extension records. Returns kNtfsOk,
    // kNtfsNotFound (no such record or stream), kNtfsCorrupt or kNtfsIoError.
    [[nodiscard]] u32 DescribeData(u64 number, const std::string& stream, NtfsStreamLayout* out);
    // The $STANDARD_INFORMATION of the record number (its four times as FILETIMEs), read again.
    // Returns kNtfsOk, kNtfsNotFound (no such record, or none in it), kNtfsCorrupt (no "FILE",
    // a torn update sequence, a damaged attribute) or kNtfsIoError.
    [[nodiscard]] u32 ReadStandardInformation(u64 number, NtfsStandardInformation* out);
    // FILETIME (UTC, 100 ns since 1601) to the local time of the machine's time zone.
    static void FileTimeToFoundTime(s64 fileTime, FoundTime& out);

    // The zone's offsets from UTC by hour, as learnt: looking the zone up is the dearest step of
    // a record's parse, and the files of a disk cluster in time. An hour is kept only when its
    // first and last second have the same offset (no change of zone rule inside), so a kept
    // offset is the one the lookup would give. Belongs to one parser: a change of the process's
    // time zone meets a new parser.
    class ZoneOffsets
    {
    public:
        // The offset in seconds of local time from UTC at unixTime; false when the zone
        // lookup fails.
        bool At(s64 unixTime, s64* offset);

    private:
        struct Hour
        {
            s64 hour = -1; // hours since 1970 (floor); -1: empty (never an hour kept: see At)
            s64 offset = 0;
        };
        Hour m_hours[64];
    };
    // FileTimeToFoundTime with the zone's offsets taken from (and learnt into) zones.
    static void FileTimeToFoundTime(s64 fileTime, FoundTime& out, ZoneOffsets* zones);

    // One thread's reads of MFT records: its device reader, its read-ahead batch, the room its
    // parses reuse from one record to the next and the zone offsets they learnt. The parser
    // holds one for its own ReadRecord; another thread reading records of the same volume
    // brings its own (NewRecordReads).
    class RecordReads
    {
    public:
        RecordReads() = default;
        RecordReads(const RecordReads&) = delete;
        RecordReads& operator=(const RecordReads&) = delete;

        // See CNtfs::LastReadFailed.
        [[nodiscard]] bool LastReadFailed() const { return m_lastReadFailed; }
        // The next ReadRecord starts a new read-ahead batch wherever it lies (a scan that jumps
        // ahead).
        void RestartReadAhead() { m_mft->RestartReadAhead(); }
        // See CNtfs::SkipModifiedTime.
        void SkipModifiedTime(bool on) { m_skipModified = on; }

    private:
        friend class CNtfs;
        std::unique_ptr<CDirectRW> m_ownReader; // another thread's reader, or null
        CMftReader m_ownMft;                    // another thread's batch over the MFT's extents
        CDirectRW* m_reader = nullptr;          // the reader the records are read through
        CMftReader* m_mft = &m_ownMft;          // the extents and batch they are read through
        bool m_batched = true;                  // the read-ahead batch is consulted
        // The attributes of the record being parsed, kept so that their lists keep their room
        // from one record to the next; they point into the parse's own buffers and are read
        // only in it.
        NtfsFileAttributes m_file;
        ZoneOffsets m_zones; // the zone offsets the parsed times met
        bool m_skipModified = false;
        bool m_lastReadFailed = false;
    };

    // When on, ReadRecord leaves NtfsRecordInfo::modified unset: a search shows the creation
    // and access times only, and a zone lookup per record is spared.
    void SkipModifiedTime(bool on) { m_reads.m_skipModified = on; }

    // Volume figures for recovery, in the reader's 512-byte sectors.
    [[nodiscard]] u32 GetSectorsPerCluster() const;
    [[nodiscard]] u32 GetBytesPerSector() const;
    // Bytes of one MFT record: 1024 until a boot sector says otherwise.
    [[nodiscard]] u32 GetRecordSize() const { return m_recordBytes; }
    // Clusters of the volume, from its sector count and sizes (0 before a boot sector was
    // accepted).
    [[nodiscard]] u64 VolumeClusters() const
    {
        const u64 clusterBytes = ClusterBytes();
        return clusterBytes == 0 ? 0 : m_boot.totalSectors / (clusterBytes / m_boot.bytesPerSector);
    }
    // Bytes of one cluster (0 before a boot sector was accepted).
    [[nodiscard]] u64 ClusterBytes() const { return u64{m_unitsPerCluster} * kReaderSectorSize; }

    [[nodiscard]] CDirectRW* Reader() const { return m_reader.get(); }
    [[nodiscard]] u64 RecordCount() const { return m_recordCount; }
    // When record 0's run list claims more of the MFT than its $DATA sizes hold (a damaged run
    // list): the records it claims, and the records the sizes hold, where the record count
    // stops. Both 0 when the run list agrees with the sizes.
    [[nodiscard]] u64 MftRecordsClaimed() const { return m_mftRecordsClaimed; }
    [[nodiscard]] u64 MftRecordsHeld() const { return m_mftRecordsHeld; }
    // MFT records after RecordCount that lie inside the volume but past the end of its source
    // (an image cut short): not searched, 0 when none.
    [[nodiscard]] u64 MftRecordsPastSource() const { return m_mftRecordsPastSource; }
    // The sector whose backup boot sector Open used because sector 0 could not be read (the
    // volume's last), 0 when sector 0 was read.
    [[nodiscard]] u64 BackupBootSector() const { return m_backupBootSector; }
    // The total sectors the boot sector claims when the source holds fewer (Boot() then gives
    // those the source holds, and the volume is searched that far), 0 when it holds them all.
    [[nodiscard]] u64 ClaimedSectors() const { return m_claimedSectors; }
    [[nodiscard]] u32 IsValid() const { return m_valid; }
    // The MFT's extents, and the same as NtfsRun (up to the first one an NtfsRun cannot hold).
    [[nodiscard]] const std::vector<NtfsExtent>& MftExtents() const { return m_mft.Extents(); }
    [[nodiscard]] std::vector<NtfsRun> MftRuns() const;

    // Sequential scans: when on, ReadRecord reads the MFT ahead in large batches and serves
    // the following records from memory. Reads of other records do not disturb the batch.
    void SetReadAhead(bool on);
    // The next ReadRecord starts a new batch wherever it lies (a scan that jumps ahead).
    void RestartReadAhead() { m_mft.RestartReadAhead(); }

    // The boot sector's parameter block as read.
    using BootParams = NtfsBootParams;
    [[nodiscard]] const BootParams& Boot() const { return m_boot; }

private:
    // An NtfsRun holds an extent with clusters whose start and count lie below 2^32.
    [[nodiscard]] static bool FitsNtfsRun(const NtfsExtent& extent)
    {
        return !extent.hole && extent.lcn <= 0xFFFFFFFFu && extent.length <= 0xFFFFFFFFu;
    }
    // Reads record number through the parser's reader and checks its header (fixups not yet
    // applied). kNtfsOk, kNtfsNotFound (no volume, or a number past any record), the read's
    // failure, or kNtfsCorrupt.
    [[nodiscard]] u32 ReadHeaderOf(u64 number, CMftRecord* record);
    // known: the record's header as ParseRecordHeader already read it into info from the same
    // bytes, or null to read it here.
    [[nodiscard]] u32 ParseRecordImpl(RecordReads& reads, CMftRecord& record, u64 number,
                                      NtfsRecordInfo& info,
                                      const MftRecordHeader* known = nullptr) const;
    // The parser's own reads, through its reader and its MFT extents.
    RecordReads& OwnReads();
    // info's three times from $STANDARD_INFORMATION's, each distinct instant converted once.
    static void ConvertTimes(RecordReads& reads, const NtfsStandardInformation& si,
                             NtfsRecordInfo& info);
    // The first step of a parse: clears info's per-record fields and decodes the header into
    // *header. kOk, kErrBadNtfs, or kErrRecordInUse for a file record in use.
    [[nodiscard]] static u32 ParseRecordHeader(ByteView bytes, NtfsRecordInfo& info,
                                               MftRecordHeader* header);
    // What a gather reads besides the base record, held by its caller: the extension records,
    // into which the gathered attributes point (so it outlives their use), and a non-resident
    // attribute list. Empty, it costs a record without an attribute list nothing.
    struct GatherScratch
    {
        std::vector<CMftRecord> extensions;
        std::vector<u8> listBytes;
    };
    // Gathers the attributes of the file whose base record (number, fixups applied) is record,
    // following its $ATTRIBUTE_LIST into the extension records that name it as their base,
    // read through reader and mft. Returns kNtfsOk, or kNtfsCorrupt when the list or an
    // extension record could not be read or belongs elsewhere (*out holds what could be
    // gathered).
    [[nodiscard]] u32 GatherFile(CDirectRW* reader, CMftReader& mft, const CMftRecord& record,
                                 u64 number, NtfsFileAttributes* out, GatherScratch* scratch) const;
    // The value of a non-resident attribute of at most limit bytes, read through its runs.
    [[nodiscard]] u32 ReadNonResidentValue(CDirectRW* reader, const NtfsAttribute& attr, u64 limit,
                                           std::vector<u8>* out) const;
    // Appends to extents the MFT's runs held in the extension records of record 0 (record,
    // fixups applied) that its $ATTRIBUTE_LIST names. True when any were added.
    bool ExtendMftExtents(const CMftRecord& record, std::vector<NtfsExtent>* extents);
    // Clusters of the MFT that its $DATA attribute's sizes account for; u64 max when they are
    // too small to be the MFT's.
    [[nodiscard]] u64 MftSizeClusters(u64 allocatedSize, u64 dataSize) const;
    [[nodiscard]] u32 ReadSectors(void* buffer, u32 count, u64 sector);
    // Reads the backup boot sector, the volume's last, into the sector buffer (zeros when it
    // cannot be found or read) and notes where it lies.
    void ReadBackupBootSector();
    // True when reader sector sector lies on the source (delivered, or failing to read).
    [[nodiscard]] bool SectorOnSource(u64 sector) const;
    // The reader sectors the source holds (found by reads), ~0 when past 2^62.
    [[nodiscard]] u64 SourceSectors() const;
    // Cuts the boot sector's total sectors to what the source holds, keeping the claim.
    void FitVolumeToSource();

    std::unique_ptr<CDirectRW> m_reader;
    u64 m_recordCount = 0;
    u64 m_mftRecordsClaimed = 0;    // records a run list that overstates the MFT claims
    u64 m_mftRecordsHeld = 0;       // records its $DATA sizes hold then
    u64 m_mftRecordsPastSource = 0; // see MftRecordsPastSource
    u64 m_backupBootSector = 0;     // see BackupBootSector
    u64 m_claimedSectors = 0;       // see ClaimedSectors
    BootParams m_boot;
    std::vector<u8> m_sector = std::vector<u8>(kRecordSize); // the boot sector, then record 0
    u32 m_recordBytes = kRecordSize;
    u32 m_valid = 0;
    int m_keepOpen = 0;
    std::string m_drive;
    CMftReader m_mft;          // the MFT's extents and the reads of its records
    RecordReads m_reads;       // the parser's own reads of records (through m_mft)
    u32 m_unitsPerCluster = 0; // 512-byte reader sectors per cluster
};
