// Crafted NTFS structures for unit tests and fuzz harnesses: FILE records with their update
// sequence arrays, and a small in-memory volume (boot sector, MFT described by record 0).
#pragma once

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/Types.h"

namespace ntfstest
{
inline constexpr u32 kRecord = 1024;

struct FileName
{
    std::u16string name;
    u64 parent = 5;    // record number
    u16 parentSeq = 5; // sequence number in the reference
    u8 nameSpace = 1;  // Win32
};

struct RecordLayout
{
    u16 flags = 0; // bit 0 in use, bit 1 directory
    u16 sequence = 1;
    bool standardInfo = true;
    u64 created = 0; // FILETIMEs
    u64 accessed = 0;
    u64 modified = 0;
    std::vector<FileName> names;
    enum class Data
    {
        None,
        Resident,
        NonResident
    } data = Data::None;
    std::vector<u8> value;     // resident value
    std::vector<u8> runList;   // non-resident mapping pairs (terminator included by caller)
    u64 dataSize = 0;          // non-resident data size
    u64 allocatedSize = ~0ull; // non-resident; ~0: the data size rounded up to 4 KiB
    bool fixups = true;        // store the update sequence number in the stride ends
    u16 usn = 0x0A0B;
};

// Appends one attribute at offset at; returns the offset after it.
inline u32 PutResident(std::vector<u8>& r, u32 at, u32 type, const std::vector<u8>& value, u16 id)
{
    const u32 length = (0x18 + static_cast<u32>(value.size()) + 7) & ~7u;
    if (at + length + 8 > kRecord)
        throw std::length_error("attribute does not fit the record");
    StoreLe32(&r[at], type);
    StoreLe32(&r[at + 4], length);
    r[at + 8] = 0;
    StoreLe16(&r[at + 0x0E], id);
    StoreLe32(&r[at + 0x10], static_cast<u32>(value.size()));
    StoreLe16(&r[at + 0x14], 0x18);
    if (!value.empty())
        std::memcpy(&r[at + 0x18], value.data(), value.size());
    return at + length;
}

inline u32 PutNonResident(std::vector<u8>& r, u32 at, u32 type, const std::vector<u8>& runs,
                          u64 dataSize, u16 id, u64 allocatedSize = ~0ull)
{
    const u32 length = (0x40 + static_cast<u32>(runs.size()) + 7) & ~7u;
    if (at + length + 8 > kRecord)
        throw std::length_error("attribute does not fit the record");
    StoreLe32(&r[at], type);
    StoreLe32(&r[at + 4], length);
    r[at + 8] = 1;
    StoreLe16(&r[at + 0x0E], id);
    StoreLe16(&r[at + 0x20], 0x40);
    StoreLe64(&r[at + 0x28], allocatedSize != ~0ull ? allocatedSize : (dataSize + 4095) & ~4095ull);
    StoreLe64(&r[at + 0x30], dataSize);
    StoreLe64(&r[at + 0x38], dataSize);
    if (!runs.empty())
        std::memcpy(&r[at + 0x40], runs.data(), runs.size());
    return at + length;
}

inline std::vector<u8> FileNameValue(const FileName& fn)
{
    std::vector<u8> v(0x42 + fn.name.size() * 2, 0);
    StoreLe64(&v[0], fn.parent | (static_cast<u64>(fn.parentSeq) << 48));
    v[0x40] = static_cast<u8>(fn.name.size());
    v[0x41] = fn.nameSpace;
    for (std::size_t i = 0; i < fn.name.size(); ++i)
        StoreLe16(&v[0x42 + 2 * i], static_cast<u16>(fn.name[i]));
    return v;
}

// A 1024-byte FILE record as it lies on disk.
inline std::vector<u8> BuildRecord(const RecordLayout& s)
{
    std::vector<u8> r(kRecord, 0);
    std::memcpy(r.data(), "FILE", 4);
    StoreLe16(&r[0x04], 0x30); // update sequence array offset
    StoreLe16(&r[0x06], 3);    // USN + two strides
    StoreLe16(&r[0x10], s.sequence);
    StoreLe16(&r[0x12], 1);
    StoreLe16(&r[0x14], 0x38); // first attribute
    StoreLe16(&r[0x16], s.flags);
    StoreLe32(&r[0x1C], kRecord);
    u32 at = 0x38;
    u16 id = 0;
    if (s.standardInfo)
    {
        std::vector<u8> si(0x48, 0);
        StoreLe64(&si[0x00], s.created);
        StoreLe64(&si[0x08], s.modified);
        StoreLe64(&si[0x18], s.accessed);
        at = PutResident(r, at, 0x10, si, id++);
    }
    for (const FileName& fn : s.names)
        at = PutResident(r, at, 0x30, FileNameValue(fn), id++);
    if (s.data == RecordLayout::Data::Resident)
        at = PutResident(r, at, 0x80, s.value, id++);
    else if (s.data == RecordLayout::Data::NonResident)
        at = PutNonResident(r, at, 0x80, s.runList, s.dataSize, id++, s.allocatedSize);
    StoreLe32(&r[at], 0xFFFFFFFF);
    StoreLe32(&r[0x18], at + 8);
    StoreLe16(&r[0x28], id);
    // Update sequence array: the USN, then the real last words of both strides.
    StoreLe16(&r[0x30], s.usn);
    std::memcpy(&r[0x32], &r[510], 2);
    std::memcpy(&r[0x34], &r[1022], 2);
    if (s.fixups)
    {
        StoreLe16(&r[510], s.usn);
        StoreLe16(&r[1022], s.usn);
    }
    return r;
}

// Ends a record built attribute by attribute at offset at: end marker, bytes in use and the
// update sequence array over both strides.
inline void FinishRecord(std::vector<u8>& r, u32 at, u64 baseReference)
{
    std::memcpy(r.data(), "FILE", 4);
    StoreLe16(&r[0x04], 0x30);
    StoreLe16(&r[0x06], 3);
    StoreLe16(&r[0x10], 1);
    StoreLe16(&r[0x14], 0x38);
    StoreLe16(&r[0x16], 1);
    StoreLe32(&r[0x1C], kRecord);
    StoreLe64(&r[0x20], baseReference);
    StoreLe32(&r[at], 0xFFFFFFFF);
    StoreLe32(&r[0x18], at + 8);
    StoreLe16(&r[0x30], 0x0A0B);
    std::memcpy(&r[0x32], &r[510], 2);
    std::memcpy(&r[0x34], &r[1022], 2);
    StoreLe16(&r[510], 0x0A0B);
    StoreLe16(&r[1022], 0x0A0B);
}

// An attribute list entry: type, lowest VCN, the record holding the attribute, its id.
inline std::vector<u8> ListEntry(u32 type, u64 vcn, u64 record, u16 id)
{
    std::vector<u8> e(0x20, 0);
    StoreLe32(&e[0], type);
    StoreLe16(&e[4], 0x20);
    e[7] = 0x1A;
    StoreLe64(&e[8], vcn);
    StoreLe64(&e[0x10], record | (u64{1} << 48));
    StoreLe16(&e[0x18], id);
    return e;
}

// A volume of 512-byte sectors and 1024-byte clusters whose MFT holds recordCount records
// from cluster mftCluster on, in one run. Records not set are zero (no "FILE").
class VolumeBuilder
{
public:
    explicit VolumeBuilder(u32 recordCount, u32 mftCluster = 4)
        : m_count(recordCount), m_mftCluster(mftCluster)
    {
        m_image.assign((static_cast<std::size_t>(mftCluster) + recordCount + 4) * 1024, 0);
        u8* b = m_image.data();
        std::memcpy(b + 3, "NTFS    ", 8);
        StoreLe16(b + 0x0B, 512);
        b[0x0D] = 2;
        StoreLe64(b + 0x28, m_image.size() / 512 - 1);
        StoreLe64(b + 0x30, mftCluster);
        StoreLe64(b + 0x38, 2);
        StoreLe32(b + 0x40, 1);
        StoreLe32(b + 0x44, 4);
        StoreLe16(b + 0x1FE, 0xAA55);
        RecordLayout mft;
        mft.flags = 1;
        mft.sequence = 1;
        mft.names.push_back(FileName{u"$MFT", 5, 5, 3});
        mft.data = RecordLayout::Data::NonResident;
        mft.runList = MftRuns();
        mft.dataSize = static_cast<u64>(recordCount) * 1024;
        Set(0, mft);
        RecordLayout root;
        root.flags = 3;
        root.sequence = 5;
        root.names.push_back(FileName{u".", 5, 5, 3});
        Set(5, root);
    }

    void Set(u32 record, const RecordLayout& layout) { SetRaw(record, BuildRecord(layout)); }
    void SetRaw(u32 record, const std::vector<u8>& bytes)
    {
        std::memcpy(m_image.data() + RecordOffset(record), bytes.data(), kRecord);
    }
    [[nodiscard]] std::size_t RecordOffset(u32 record) const
    {
        return (static_cast<std::size_t>(m_mftCluster) + record) * 1024;
    }
    [[nodiscard]] const std::vector<u8>& Image() const { return m_image; }
    [[nodiscard]] std::vector<u8>& Image() { return m_image; }

private:
    [[nodiscard]] std::vector<u8> MftRuns() const
    {
        // One run: 4-byte length, 4-byte offset.
        std::vector<u8> runs = {0x44, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        StoreLe32(&runs[1], m_count);
        StoreLe32(&runs[5], m_mftCluster);
        return runs;
    }

    std::vector<u8> m_image;
    u32 m_count;
    u32 m_mftCluster;
};
} // namespace ntfstest
