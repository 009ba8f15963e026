// FAT directory entries: decoding 32-byte short entries, rebuilding long file names from the
// long-name parts in front of them (also for deleted entries), and DOS date/time decoding.
#pragma once

#include "platform/Types.h"
#include "platform/Unicode.h"
#include "records/FoundItem.h"

// Layout of a 32-byte short directory entry.
namespace FatDirLayout
{
inline constexpr u32 kEntrySize = 32;
inline constexpr u32 kName = 0x00;         // 8 + 3 bytes, space padded; 0xE5 deleted, 0x00 free
inline constexpr u32 kAttr = 0x0B;         // attribute byte
inline constexpr u32 kNtRes = 0x0C;        // case flags of a name without a long name
inline constexpr u32 kCrtTimeTenth = 0x0D; // creation time, 10 ms units (0-199)
inline constexpr u32 kCrtTime = 0x0E;      // creation time hh:5 mm:6 ss/2:5
inline constexpr u32 kCrtDate = 0x10;      // creation date (year-1980):7 month:4 day:5
inline constexpr u32 kLstAccDate = 0x12;   // last access date
inline constexpr u32 kFstClusHi = 0x14;    // first cluster, high word
inline constexpr u32 kWrtTime = 0x16;      // write time
inline constexpr u32 kWrtDate = 0x18;      // write date
inline constexpr u32 kFstClusLo = 0x1A;    // first cluster, low word
inline constexpr u32 kFileSize = 0x1C;     // file size in bytes

// Long-name part (attribute & 0x3F == 0x0F), stored in front of its short entry.
inline constexpr u32 kLfnOrd = 0x00;    // sequence byte; 0x40 marks the last part
inline constexpr u32 kLfnName1 = 0x01;  // characters 1-5, UTF-16LE
inline constexpr u32 kLfnType = 0x0C;   // entry type, 0 for a name part
inline constexpr u32 kLfnChksum = 0x0D; // checksum of the short name
inline constexpr u32 kLfnName2 = 0x0E;  // characters 6-11
inline constexpr u32 kLfnName3 = 0x1C;  // characters 12-13

inline constexpr u8 kDeletedMark = 0xE5;
inline constexpr u8 kAttrDirectory = 0x10;
inline constexpr u8 kAttrArchive = 0x20;
inline constexpr u8 kAttrLongNameMask = 0x3F;
inline constexpr u8 kAttrLongName = 0x0F;
// Case flags in kNtRes: the base name, or the extension, is shown in lower case.
inline constexpr u8 kCaseLowerBase = 0x08;
inline constexpr u8 kCaseLowerExt = 0x10;
} // namespace FatDirLayout

// Bytes of the collected long name: 255 UTF-16 units, the longest name FAT stores (20 parts of
// 13 units hold 260; the units past 255 are never part of a name).
inline constexpr u32 kLongNameWorkSize = 255 * 2;
// Name field of a decoded entry: the UTF-8 form of 255 UTF-16 units (at most 3 bytes per unit;
// a surrogate pair takes 4 bytes for 2 units) plus the terminating NUL.
inline constexpr u32 kFatNameSize = 255 * 3 + 1;
// Slots of the per-block index of real entries.
inline constexpr u32 kDirIndexSlots = 1000;

// One decoded short entry.
struct FatEntryInfo
{
    char name[kFatNameSize] = {}; // UTF-8, NUL-terminated: the long name or the 8.3 name
    u8 attr = 0;                  // attribute byte as stored
    FoundTime created;            // creation date and time (10 ms count rounded in)
    FoundTime accessed;           // last access date with the creation time of day
    FoundTime written;            // write date and time
    u32 firstCluster = 0;         // high word << 16 | low word, as stored
    u32 size = 0;                 // file size
};

// One directory block being parsed: the block (not owned), its size, the positions of its real
// entries and a 256-byte pool work area for collecting long names.
class FatDirBuffer
{
public:
    FatDirBuffer();
    ~FatDirBuffer();
    FatDirBuffer(const FatDirBuffer&) = delete;
    FatDirBuffer& operator=(const FatDirBuffer&) = delete;

    // Attaches a block of size bytes. Its real entries (every entry except the block's last
    // one that is not a long-name part and not all zero, at most 1000) are recorded when first
    // asked for: a live folder's walk never asks, and the index cost more than its decoding.
    void Attach(const u8* data, u32 size);

    [[nodiscard]] const u8* Data() const { return m_data; }
    [[nodiscard]] u32 Size() const { return m_size; }
    [[nodiscard]] u8* Work() const { return m_work; }
    // Entry number of real entry n, or -1 when there is none.
    [[nodiscard]] s32 Index(u32 n) const
    {
        IndexEntries();
        return n < m_indexCount ? m_index[n] : -1;
    }
    // Number of real entries recorded.
    [[nodiscard]] u32 IndexCount() const
    {
        IndexEntries();
        return m_indexCount;
    }

private:
    void IndexEntries() const;

    u8* m_work = nullptr;
    const u8* m_data = nullptr;
    u32 m_size = 0;
    mutable bool m_indexed = false;
    mutable s32 m_index[kDirIndexSlots] = {};
    mutable u32 m_indexCount = 0;
};

// Decodes the short entry at byte offset `offset` of the attached block into info: the long
// name when the parts in front of it carry its checksum (for a deleted entry the lost first
// short-name byte is rebuilt from the long name, or else is the one plausible byte that gives
// the parts' checksum), else the 8.3 name with its case flags applied. An offset that is
// negative, not a multiple of 32 or not wholly inside the block leaves info untouched.
void DecodeEntry(const FatDirBuffer& buffer, FatEntryInfo& info, s32 offset);

// Collects the long name whose parts run backwards from the part at byte offset `start` and
// carry `checksum`, and converts it to UTF-8 in out (size bytes, at most kFatNameSize; size is
// lowered to that bound). Returns the number of name bytes written (0 when none); out is
// always NUL-terminated.
int ReadLongName(const FatDirBuffer& buffer, char* out, u32& size, u8 checksum, s32 start);

// The long-name checksum of an 11-byte short name.
[[nodiscard]] u8 ShortNameChecksum(const u8* name11);

// Decodes a DOS date and time (with the 10 ms count of creation times) into out, clamping
// out-of-range months and days.
void DecodeDosTime(FoundTime& out, u16 date, u16 time, u8 tenMs);
