// One MFT record (a FILE record segment) in a buffer of its own: its header and the update
// sequence fixups, applied check-then-patch for any record size.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/Types.h"

// The record header's fields (see ntfs/MftRecordLayout.h).
struct MftRecordHeader
{
    u16 usaOffset = 0;
    u16 usaCount = 0; // entries, the update sequence number included
    u64 lsn = 0;
    u16 sequence = 0;
    u16 linkCount = 0;
    u16 attrOffset = 0;
    u16 flags = 0; // bit 0 in use, bit 1 directory
    u32 bytesInUse = 0;
    u32 bytesAllocated = 0;
    u64 baseRecord = 0;
    u16 nextAttrId = 0;
    u16 reserved2A = 0;
    u32 recordNumber = 0;
};

// Decodes the header of the record in bytes. Returns kNtfsOk, or kNtfsCorrupt when the bytes do
// not start with "FILE" or cannot hold the header.
[[nodiscard]] u32 DecodeMftRecordHeader(ByteView bytes, MftRecordHeader* out);

// Applies the update sequence of a multi-sector protected record of size bytes in place: the
// array named by the header (offset at 0x04, count at 0x06) must lie in the first stride before
// its last word, count - 1 strides of 512 bytes must fit in size (at least one, except in a
// record smaller than a stride, which has none), the update sequence number must not be 0, and
// every counted stride must end in it. Only then is each stride's last word
// replaced by its saved value. Returns kNtfsOk, or kNtfsCorrupt with the bytes left as they
// were (a torn or stale record, or a broken array).
[[nodiscard]] u32 ApplyUpdateSequence(u8* bytes, std::size_t size);

// The stride work of the update sequence, with the entries given: entries[0] is the update
// sequence number, entries[1..count-1] the saved values, one for each 512-byte stride from the
// start of bytes (as many strides as both count and size hold). apply true checks that every
// stride ends in the update sequence number and only then puts the saved values back; apply
// false writes the update sequence number over each stride's last word. False (bytes left as
// they were) for null bytes or entries, a count below 1, an update sequence number of 0, or a
// stride that does not end in it.
[[nodiscard]] bool PatchUpdateSequence(u8* bytes, std::size_t size, const u16* entries,
                                       std::size_t count, bool apply);

class CMftRecord
{
public:
    // Takes a copy of size bytes as read from disk; the fixups are not applied yet.
    void Assign(const u8* bytes, std::size_t size);
    // The record's buffer, resized to size bytes, for a read to fill; the fixups are not
    // applied yet.
    [[nodiscard]] u8* Fill(std::size_t size);

    // Works on size bytes the caller holds, in place, until Detach, Assign or Fill: the fixups
    // are applied to them. For a record inside a read-ahead batch, whose copy cost a scan as
    // much as the rest of the record's parse.
    void Attach(u8* bytes, std::size_t size);
    // Back to the record's own buffer, emptied, so that no earlier record's bytes stand in for
    // the one that was attached.
    void Detach();

    [[nodiscard]] const u8* Bytes() const { return m_attached ? m_attached : m_bytes.data(); }
    [[nodiscard]] std::size_t Size() const { return m_attached ? m_attachedSize : m_bytes.size(); }
    [[nodiscard]] ByteView View() const { return {Bytes(), Size()}; }

    // See DecodeMftRecordHeader.
    [[nodiscard]] u32 DecodeHeader(MftRecordHeader* out) const;
    // Applies the update sequence once (see ApplyUpdateSequence). Returns kNtfsOk, or
    // kNtfsCorrupt with the record left as read.
    [[nodiscard]] u32 ApplyFixups();
    [[nodiscard]] bool FixupsApplied() const { return m_fixed; }

private:
    std::vector<u8> m_bytes;
    u8* m_attached = nullptr; // the caller's bytes, when attached
    std::size_t m_attachedSize = 0;
    bool m_fixed = false;
};
