// The values of the attributes the engine reads, each decoded into a small struct of its own:
// $STANDARD_INFORMATION, $FILE_NAME and $DATA. Also the UTF-16 to UTF-8 conversion of names.
#pragma once

#include <cstddef>

#include "ntfs/AttributeIterator.h"
#include "platform/Types.h"

struct NtfsStandardInformation
{
    s64 created = 0; // FILETIMEs
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
};

struct NtfsFileName
{
    u64 parentRef = 0; // record number (low 48 bits) and sequence number (top 16 bits)
    s64 created = 0;   // FILETIMEs
    s64 modified = 0;
    s64 mftChanged = 0;
    s64 accessed = 0;
    u64 allocatedSize = 0;
    u64 realSize = 0;
    u32 flags = 0;
    u32 reparse = 0;
    u8 nameLength = 0; // UTF-16 units, as stored
    u8 nameSpace = 0;  // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    ByteView name;     // UTF-16LE: the stored length, cut to what the value holds
    [[nodiscard]] u32 NameUnits() const { return static_cast<u32>(name.Size() / 2); }
};

struct NtfsData
{
    bool resident = false;
    u64 size = 0;        // resident: the value length; non-resident: the data size
    u32 valueOffset = 0; // resident: the value's offset within the record
    ByteView runList;    // non-resident: the mapping pairs, to the attribute's end
    u64 lowestVcn = 0;
    u64 highestVcn = 0;
    u64 allocatedSize = 0;
    u64 initializedSize = 0;
};

// Each returns kNtfsOk, or kNtfsCorrupt for a $STANDARD_INFORMATION or $FILE_NAME that is not
// resident (its value cannot lie in the record). Fields past the end of a short value read as 0
// ($STANDARD_INFORMATION of NTFS 1.x volumes holds only the first 0x30 bytes).
[[nodiscard]] u32 DecodeStandardInformation(const NtfsAttribute& attr,
                                            NtfsStandardInformation* out);
[[nodiscard]] u32 DecodeFileName(const NtfsAttribute& attr, NtfsFileName* out);
[[nodiscard]] u32 DecodeData(const NtfsAttribute& attr, NtfsData* out);
