// FAT directory entries: short entries, long-name parts (live and deleted) and DOS times.
#include "fat/FatDir.h"

#include <cstring>

#include "mempool/MemPool.h"
#include "platform/ByteOrder.h"
#include "platform/Unicode.h"

using namespace FatDirLayout;

namespace
{
// Code page 437 (the original OEM code page of FAT short names) for bytes 0x80-0xFF.
constexpr u16 kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// Appends one short-name byte to out as UTF-8 (bytes 0x80 and above through code page 437).
void AppendOemByte(u8 b, char* out, u32& length)
{
    u8 bytes[4];
    u32 n = EncodeUtf8(b < 0x80 ? b : kCp437High[b - 0x80], bytes);
    std::memcpy(out + length, bytes, n);
    length += n;
}

bool IsLongNamePart(const u8* entry)
{
    return (entry[kAttr] & kAttrLongNameMask) == kAttrLongName;
}

// Whether b can open a short name: no blank, no lower-case letter, none of the bytes a short
// name never holds, and 0x05 for a name that starts with the byte 0xE5.
bool PlausibleFirstByte(u8 b)
{
    if (b <= 0x20 || b == kDeletedMark || b == 0x7F || (b >= 'a' && b <= 'z'))
        return b == 0x05;
    constexpr char kNever[] = "\"*+,./:;<=>?[\\]|";
    for (const char c : kNever)
        if (c != '\0' && static_cast<u8>(c) == b)
            return false;
    return true;
}

// The lost first byte of a deleted short name whose long-name parts carry checksum: the byte
// rebuilt from the long name's first character when it gives that checksum, else the one
// plausible byte that does (the checksum changes with every value of the first byte, so at
// most one of the 256 gives it). False when none does.
bool RestoreFirstByte(u8* shortName, u16 firstUnit, u8 checksum)
{
    u8 first[4];
    u32 cp = firstUnit;
    if (cp >= 0xD800 && cp <= 0xDFFF)
        cp = 0xFFFD;
    EncodeUtf8(cp, first);
    shortName[0] = first[0];
    if (shortName[0] >= 'a' && shortName[0] <= 'z')
        shortName[0] = static_cast<u8>(shortName[0] - 'a' + 'A');
    if (ShortNameChecksum(shortName) == checksum)
        return true;
    for (u32 b = 0; b < 256; ++b)
    {
        shortName[0] = static_cast<u8>(b);
        if (PlausibleFirstByte(shortName[0]) && ShortNameChecksum(shortName) == checksum)
            return true;
    }
    return false;
}

// Appends count bytes of a short name from name to raw, lowering A-Z when lower is set.
void AppendShortPart(const u8* name, u32 count, bool lower, u8* raw, u32& rawLength)
{
    for (u32 i = 0; i < count; ++i)
    {
        u8 b = name[i];
        if (lower && b >= 'A' && b <= 'Z')
            b = static_cast<u8>(b - 'A' + 'a');
        raw[rawLength++] = b;
    }
}

// The name bytes of a long-name part: characters 1-5, 6-11 and 12-13, two bytes each.
constexpr u32 kLongNamePartBytes = 26;

// Whether any name byte of a long-name part is 0xFF (padding, as the walk of a part reads it).
bool HasPadding(const u8* part)
{
    // A byte of v is 0xFF when that byte of ~v is zero; the bytes a shorter load leaves zero
    // are not.
    auto anyFF = [](u64 v)
    {
        const u64 x = ~v;
        return ((x - 0x0101010101010101ULL) & v & 0x8080808080808080ULL) != 0;
    };
    const u64 first8 = LoadLe64(part + kLfnName1);          // bytes 1-8
    const u64 second8 = LoadLe64(part + kLfnName2);         // bytes 14-21
    const u64 rest = LoadLe16(part + kLfnName1 + 8) |       // bytes 9-10
                     u64{LoadLe32(part + kLfnName3)} << 16; // bytes 28-31
    const u64 middle4 = LoadLe32(part + kLfnName2 + 8);     // bytes 22-25
    return anyFF(first8) || anyFF(second8) || anyFF(rest) || anyFF(middle4);
}
} // namespace

FatDirBuffer::FatDirBuffer()
{
    m_work = static_cast<u8*>(g_MemPool.Alloc(static_cast<int>(kLongNameWorkSize)));
}

FatDirBuffer::~FatDirBuffer()
{
    g_MemPool.Free(&m_work);
}

void FatDirBuffer::Attach(const u8* data, u32 size)
{
    m_data = data;
    m_size = size;
    m_indexed = false;
    m_indexCount = 0;
}

void FatDirBuffer::IndexEntries() const
{
    if (m_indexed)
        return;
    m_indexed = true;
    m_indexCount = 0;
    const u8* data = m_data;
    const u32 size = m_size;
    if (data == nullptr || size < kEntrySize)
        return;
    u32 end = size - size % kEntrySize;
    // The block's last entry is never recorded: only entries that end before the block does.
    for (u32 offset = 0; offset < end && m_indexCount < kDirIndexSlots; offset += kEntrySize)
    {
        if (offset >= size - kEntrySize)
            break;
        const u8* entry = data + offset;
        if (IsLongNamePart(entry))
            continue;
        bool used = false;
        for (u32 i = 0; i < kEntrySize && !used; ++i)
            used = entry[i] != 0;
        if (used)
            m_index[m_indexCount++] = static_cast<s32>(offset / kEntrySize);
    }
}

void DecodeDosTime(FoundTime& out, u16 date, u16 time, u8 tenMs)
{
    out.year = (date >> 9) + 1980;
    out.month = (date >> 5) & 15;
    out.day = date & 31;
    out.hour = time >> 11;
    out.minute = (time >> 5) & 63;
    out.second = (time & 31) * 2;
    if (tenMs > 99)
        out.second += 1;

    if (out.month < 1)
        out.month = 1;
    if (out.month > 12)
        out.month = 12;
    if (out.day == 0)
        out.day = 1;
    if (out.month == 2)
    {
        s32 cap = IsLeapYear(out.year) ? 29 : 28;
        if (out.day > cap)
            out.day = cap;
    }
    if ((out.month == 4 || out.month == 6 || out.month == 9 || out.month == 11) && out.day == 31)
        out.day = 30;
    // Hour 24 and minute or second 60 are kept as they stand.
    if (out.hour > 24)
        out.hour = 0;
    if (out.minute > 60)
        out.minute = 0;
    if (out.second > 60)
        out.second = 0;
}

u8 ShortNameChecksum(const u8* name11)
{
    u8 sum = 0;
    for (u32 i = 0; i < 11; ++i)
        sum = static_cast<u8>(static_cast<u8>((sum >> 1) | (sum << 7)) + name11[i]);
    return sum;
}

int ReadLongName(const FatDirBuffer& buffer, char* out, u32& size, u8 checksum, s32 start)
{
    if (out == nullptr || size == 0)
        return 0;
    if (size > kFatNameSize)
        size = kFatNameSize;
    // The name is written with its terminator and the work area read only as far as it was
    // filled: neither is cleared first (a kilobyte per entry of a folder walk).
    out[0] = '\0';
    u8* work = buffer.Work();
    const u8* data = buffer.Data();
    if (work == nullptr || data == nullptr)
        return 0;
    u32 collected = 0;

    // Name sections of a part: characters 1-5, 6-11 and 12-13.
    constexpr u32 kSections[3][2] = {
        {kLfnName1, kLfnName1 + 10}, {kLfnName2, kLfnName2 + 12}, {kLfnName3, kLfnName3 + 4}};
    const u64 blockSize = buffer.Size();
    // Each step moves one entry towards the block start, so the walk ends there at the latest.
    for (s64 p = start; p >= 0 && collected < kLongNameWorkSize; p -= kEntrySize)
    {
        if (static_cast<u64>(p) + kEntrySize > blockSize)
            break;
        const u8* part = data + p;
        if (!IsLongNamePart(part) || part[kLfnChksum] != checksum)
            break;
        bool complete = false;
        u32 endPos = 0;
        // A part without padding, whose 26 name bytes fit, is copied a section at a time: the
        // byte-by-byte loop below gives the same for it, and nearly every part is one.
        const bool whole = collected + kLongNamePartBytes <= kLongNameWorkSize && !HasPadding(part);
        if (whole)
        {
            std::memcpy(work + collected, part + kLfnName1, 10);
            std::memcpy(work + collected + 10, part + kLfnName2, 12);
            std::memcpy(work + collected + 22, part + kLfnName3, 4);
            collected += kLongNamePartBytes;
            endPos = kLfnName3 + 4;
        }
        for (u32 s = 0; s < 3 && !complete && !whole; ++s)
        {
            u32 i = kSections[s][0];
            bool onFF = false;
            for (; i < kSections[s][1]; ++i)
            {
                if (part[i] == 0xFF)
                {
                    onFF = true;
                    break;
                }
                if (collected >= kLongNameWorkSize)
                    break;
                work[collected++] = part[i];
            }
            if (s < 2 && onFF)
                complete = true; // padding inside the part: the name ends here
            endPos = i;
        }
        if (complete)
            break;
        if (part[kLfnOrd] != kDeletedMark)
        {
            // A live part: padding at the end of section 3 (or, when the section ran to its
            // end, the byte that follows the part) ends the name, and so does the last part.
            u64 at = static_cast<u64>(p) + endPos;
            if (at < blockSize && data[at] == 0xFF)
                break;
            if (part[kLfnOrd] & 0x40)
                break;
        }
    }
    return static_cast<int>(Utf16LeToUtf8(work, collected / 2, out, size, true));
}

void DecodeEntry(const FatDirBuffer& buffer, FatEntryInfo& info, s32 offset)
{
    const u8* data = buffer.Data();
    if (data == nullptr || offset < 0 || offset % static_cast<s32>(kEntrySize) != 0 ||
        static_cast<u64>(offset) + kEntrySize > buffer.Size())
        return;
    const u8* entry = data + offset;
    info.name[0] = '\0';

    if (offset >= static_cast<s32>(kEntrySize) && IsLongNamePart(entry - kEntrySize))
    {
        const u8* part = entry - kEntrySize;
        u8 shortName[11];
        std::memcpy(shortName, entry + kName, 11);
        // The lost first byte of a deleted name is found again through the parts' checksum;
        // without one that fits, the parts are not this entry's.
        const bool restored =
            shortName[0] != kDeletedMark ||
            RestoreFirstByte(shortName, LoadLe16(part + kLfnName1), part[kLfnChksum]);
        u32 size = kFatNameSize;
        if (restored)
            ReadLongName(buffer, info.name, size, ShortNameChecksum(shortName),
                         offset - static_cast<s32>(kEntrySize));
    }

    if (info.name[0] == '\0')
    {
        // Without a long name, the case flags say which parts of the 8.3 name are shown in
        // lower case.
        const u8 caseFlags = entry[kNtRes];
        u8 raw[12];
        u32 rawLength = 0;
        s32 last = -1;
        for (s32 i = 0; i < 8; ++i)
            if (entry[i] != ' ')
                last = i;
        AppendShortPart(entry, static_cast<u32>(last + 1), (caseFlags & kCaseLowerBase) != 0, raw,
                        rawLength);
        if (entry[8] != ' ' || entry[9] != ' ' || entry[10] != ' ')
        {
            raw[rawLength++] = '.';
            AppendShortPart(entry + 8, 3, (caseFlags & kCaseLowerExt) != 0, raw, rawLength);
        }
        if (rawLength > 0 && raw[0] == kDeletedMark)
            raw[0] = '_';
        u32 length = 0;
        for (u32 i = 0; i < rawLength; ++i)
            AppendOemByte(raw[i], info.name, length);
        info.name[length] = '\0';
    }

    info.attr = entry[kAttr];
    DecodeDosTime(info.created, LoadLe16(entry + kCrtDate), LoadLe16(entry + kCrtTime),
                  entry[kCrtTimeTenth]);
    DecodeDosTime(info.accessed, LoadLe16(entry + kLstAccDate), LoadLe16(entry + kCrtTime), 0);
    DecodeDosTime(info.written, LoadLe16(entry + kWrtDate), LoadLe16(entry + kWrtTime), 0);
    info.firstCluster =
        (static_cast<u32>(LoadLe16(entry + kFstClusHi)) << 16) | LoadLe16(entry + kFstClusLo);
    info.size = LoadLe32(entry + kFileSize);
}
