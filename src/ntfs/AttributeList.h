// The value of $ATTRIBUTE_LIST decoded into its entries, one per attribute record of a file
// whose attributes spill over into extension records; and the check that an extension record
// belongs to a base record.
#pragma once

#include <vector>

#include "platform/ByteOrder.h"
#include "platform/Types.h"

struct NtfsAttrListEntry
{
    u32 type = 0;
    u64 lowestVcn = 0; // first cluster of the attribute record's runs (0 for a resident one)
    u64 record = 0;    // MFT record holding the attribute record (48 bits)
    u16 sequence = 0;  // that record's sequence number when the list was written
    u16 id = 0;        // attribute instance within that record
    ByteView name;     // UTF-16LE, 2 bytes a unit, into the value; empty for an unnamed attribute
};

// Decodes value into *out (emptied first), entries in their stored order. Each entry holds its
// type, record length, name length and offset, lowest VCN, segment reference and attribute
// instance in 0x1A bytes, then usually the name, and is usually padded to 8 bytes. An entry is
// accepted when its length is at least 0x1A and ends inside value, and its name (if any) lies
// after the fixed part and inside the entry; the order of the entries is not checked. Returns
// kNtfsOk when the entries fill value exactly, or kNtfsCorrupt at the first entry that breaks a
// check (a length below 0x1A, 0 included, or past the value's end, a name outside the entry, or
// bytes left over too few for an entry); *out then keeps the entries decoded before it. At most
// value.Size() / 0x1A entries result.
[[nodiscard]] u32 DecodeAttributeList(ByteView value, std::vector<NtfsAttrListEntry>* out);

// True when an extension record whose header names baseReferenceInExtension (the base file
// record segment reference at 0x20) belongs to the base record number baseRecord with sequence
// number baseSequence: the record numbers are equal and the reference carries the base's
// sequence number, or, when the base is no longer in use (baseInUse false), the one it had
// before it was freed. A reference with sequence number 0 names no base record (a base record
// itself holds 0 there).
[[nodiscard]] bool NtfsExtensionBelongs(u64 baseReferenceInExtension, u64 baseRecord,
                                        u16 baseSequence, bool baseInUse);
