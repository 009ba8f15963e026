// A bounded walk over the attribute records of one MFT record. Each step is checked before the
// attribute is handed out: it lies inside the record's bytes in use, starts on an 8-byte
// boundary, keeps the type order, and its name and value (or mapping pairs) lie inside it.
#pragma once

#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"
#include "platform/Types.h"

// One attribute record as the walk checked it, with views into the record's bytes.
struct NtfsAttribute
{
    u32 offset = 0; // of the attribute within the record
    u32 type = 0;
    u32 length = 0;
    bool nonResident = false;
    u16 flags = 0;
    u16 id = 0;
    u16 nameOffset = 0;
    ByteView name;    // UTF-16LE, the attribute's name length in units
    ByteView value;   // resident: the value; non-resident: the mapping pairs to the end
    ByteView content; // the whole attribute record
    // Resident form.
    u32 valueLength = 0;
    u16 valueOffset = 0;
    u8 indexed = 0;
    // Non-resident form.
    u64 lowestVcn = 0;
    u64 highestVcn = 0;
    u16 runsOffset = 0;
    u16 compressionUnit = 0;
    u64 allocatedSize = 0;
    u64 dataSize = 0;
    u64 initializedSize = 0;
};

class CAttributeIterator
{
public:
    // Walks record from its first attribute (the header's offset at 0x14).
    explicit CAttributeIterator(ByteView record);
    // Walks record from offset on, which must be where an attribute starts.
    CAttributeIterator(ByteView record, u32 offset);

    // The next attribute. Returns kNtfsOk (*out filled), kNtfsNotFound at the end marker, or
    // kNtfsCorrupt when the record or the attribute breaks one of the checks (*out then holds
    // nothing to use); once it has returned anything but kNtfsOk it returns that again.
    [[nodiscard]] u32 Next(NtfsAttribute* out);
    // The next attribute of type: kNtfsOk, kNtfsNotFound (the end marker, or an attribute of a
    // later type, which the walk has then passed: the order says none follows) or kNtfsCorrupt.
    // *out holds the attribute only on kNtfsOk.
    [[nodiscard]] u32 Find(u32 type, NtfsAttribute* out);

private:
    void Start(u32 offset);

    ByteView m_record;
    u32 m_used = 0;        // bytes in use
    u32 m_offset = 0;      // of the next attribute
    u32 m_lastType = 0;    // type of the last attribute handed out
    u32 m_state = kNtfsOk; // while the walk goes on
};
