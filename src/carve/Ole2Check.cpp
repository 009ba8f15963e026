// OLE2 compound files (DOC, XLS, PPT): the header, the FAT sectors the DIFAT lists, the
// directory and every stream's chain bounded and loop-free within the file.
#include <algorithm>
#include <array>
#include <vector>

#include "carve/ContentCheck.h"
#include "carve/DocRead.h"
#include "carve/Ole2Title.h"
#include "platform/ByteOrder.h"

namespace
{
// Compound file header.
constexpr u8 kOleSig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHdrMajor = 0x1A;       // major version (3 or 4)
constexpr std::size_t kHdrByteOrder = 0x1C;   // 0xFFFE
constexpr std::size_t kHdrSectorShift = 0x1E; // 9 or 12
constexpr std::size_t kHdrMiniShift = 0x20;   // 6
constexpr std::size_t kHdrFatCount = 0x2C;    // number of FAT sectors
constexpr std::size_t kHdrDirStart = 0x30;    // first directory sector
constexpr std::size_t kHdrMiniCutoff = 0x38;  // mini stream cutoff size (4096)
constexpr std::size_t kHdrMiniFatStart = 0x3C;
constexpr std::size_t kHdrDifatStart = 0x44;
constexpr std::size_t kHdrDifatCount = 0x48;
constexpr std::size_t kHdrDifat = 0x4C; // the first 109 FAT sector numbers
constexpr std::size_t kHeaderDifat = 109;
// Sector numbers with a meaning of their own.
constexpr u32 kMaxRegSect = 0xFFFFFFFA;
constexpr u32 kEndOfChain = 0xFFFFFFFE;
constexpr u32 kFreeSect = 0xFFFFFFFF;
// Directory entry.
constexpr std::size_t kDirEntrySize = 128;
constexpr std::size_t kDirNameLen = 0x40; // bytes of the UTF-16 name with its NUL
constexpr std::size_t kDirType = 0x42;    // 0 unused, 1 storage, 2 stream, 5 root
constexpr std::size_t kDirStart = 0x74;
constexpr std::size_t kDirSize = 0x78;
constexpr u64 kMaxDirEntries = u64{1} << 20;
constexpr std::size_t kMiniSector = 64;     // 1 << mini sector shift
constexpr u64 kMaxSummary = u64{64} * 1024; // of the summary stream read for its title

struct Ole
{
    Ole(IContentSource& source, u64 sourceSize) : src(source), size(sourceSize) {}
    IContentSource& src;
    u64 size;
    u32 shift = 9;
    std::vector<u32> fat;
    std::vector<u8> seen;            // sectors some chain already took
    std::vector<u32> miniStream;     // the root's chain: the sectors of the mini stream
    std::vector<u32> miniFatSectors; // the mini FAT's chain
    std::vector<u32> summarySectors; // "\005SummaryInformation" when a regular stream
    u32 summaryStart = kEndOfChain;  // its first mini sector when it lives in the mini stream
    u64 summarySize = 0;
};

u64 SectorOffset(const Ole& ole, u64 sector)
{
    return (sector + 1) << ole.shift;
}

bool SectorInside(const Ole& ole, u64 sector)
{
    return sector <= kMaxRegSect && SectorOffset(ole, sector) + (u64{1} << ole.shift) <= ole.size;
}

// The FAT sector numbers: the header's 109, then the DIFAT chain's.
bool FatSectors(Ole& ole, const u8* hdr, std::vector<u32>* out)
{
    const u32 count = LoadLe32(hdr + kHdrFatCount);
    if (count > (ole.size >> ole.shift))
        return false;
    for (std::size_t i = 0; i < kHeaderDifat && out->size() < count; ++i)
        out->push_back(LoadLe32(hdr + kHdrDifat + 4 * i));
    u32 difat = LoadLe32(hdr + kHdrDifatStart);
    const u32 difatCount = LoadLe32(hdr + kHdrDifatCount);
    const std::size_t per = (std::size_t{1} << ole.shift) / 4 - 1;
    std::vector<u8> buf(std::size_t{1} << ole.shift);
    // One DIFAT sector per pass, at most difatCount of them.
    for (u32 n = 0; out->size() < count; ++n)
    {
        if (n >= difatCount || !SectorInside(ole, difat) ||
            !ReadExact(ole.src, SectorOffset(ole, difat), buf))
            return false;
        for (std::size_t i = 0; i < per && out->size() < count; ++i)
            out->push_back(LoadLe32(buf.data() + 4 * i));
        difat = LoadLe32(buf.data() + 4 * per);
    }
    return true;
}

bool ReadFat(Ole& ole, const u8* hdr)
{
    std::vector<u32> sectors;
    if (!FatSectors(ole, hdr, &sectors))
        return false;
    std::vector<u8> buf(std::size_t{1} << ole.shift);
    for (const u32 s : sectors)
    {
        if (!SectorInside(ole, s) || !ReadExact(ole.src, SectorOffset(ole, s), buf))
            return false;
        for (std::size_t i = 0; i < buf.size(); i += 4)
            ole.fat.push_back(LoadLe32(buf.data() + i));
    }
    ole.seen.assign(ole.fat.size(), 0);
    return true;
}

// Follows the chain from start; false when it leaves the file, loops, crosses another chain
// or holds fewer than minSectors sectors. The sectors it takes are appended to out when given.
bool FollowChain(Ole& ole, u32 start, u64 minSectors, std::vector<u32>* out)
{
    u64 n = 0;
    // Each step marks a sector seen: at most fat.size() steps.
    for (u32 s = start; s != kEndOfChain; s = ole.fat[s])
    {
        if (s >= ole.fat.size() || ole.seen[s] != 0 || !SectorInside(ole, s))
            return false;
        ole.seen[s] = 1;
        if (out != nullptr)
            out->push_back(s);
        ++n;
    }
    return n >= minSectors;
}

// A directory entry's name, its characters past ASCII as '?'.
std::string EntryName(const u8* entry)
{
    const u16 nameLen = LoadLe16(entry + kDirNameLen);
    std::string name;
    for (std::size_t i = 0; i + 2 <= std::min<std::size_t>(nameLen, 64); i += 2)
    {
        const u16 c = LoadLe16(entry + i);
        if (c == 0)
            break;
        name.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return name;
}

// The stream names that tell the document's kind.
CarveType KindOfName(const std::string& name)
{
    if (name == "WordDocument")
        return CarveType::kDoc;
    if (name == "Workbook" || name == "Book")
        return CarveType::kXls;
    if (name == "PowerPoint Document")
        return CarveType::kPpt;
    return CarveType::kNone;
}

// Checks every directory entry's chain; sets the kind the stream names tell.
bool CheckDirectory(Ole& ole, const std::vector<u32>& dirSectors, u32 cutoff, CarveType* kind)
{
    std::vector<u8> buf(std::size_t{1} << ole.shift);
    u64 entries = 0;
    for (const u32 s : dirSectors)
    {
        if (!ReadExact(ole.src, SectorOffset(ole, s), buf))
            return false;
        for (std::size_t e = 0; e < buf.size(); e += kDirEntrySize)
        {
            const u8* d = buf.data() + e;
            const u8 type = d[kDirType];
            if (type == 0 || type == 1 || ++entries > kMaxDirEntries)
                continue;
            if (type != 2 && type != 5)
                return false;
            const u64 size = ole.shift == 9 ? LoadLe32(d + kDirSize) : LoadLe64(d + kDirSize);
            const u32 start = LoadLe32(d + kDirStart);
            const std::string name = type == 2 ? EntryName(d) : std::string();
            if (*kind == CarveType::kNone)
                *kind = KindOfName(name);
            const bool summary = name == "\005SummaryInformation" && ole.summarySize == 0;
            std::vector<u32>* keep = type == 5 ? &ole.miniStream
                                     : summary ? &ole.summarySectors
                                               : nullptr;
            // The root's chain is the mini stream; small streams live in it.
            if ((type == 5 || size >= cutoff) && size != 0 &&
                !FollowChain(ole, start, (size + (u64{1} << ole.shift) - 1) >> ole.shift, keep))
                return false;
            if (summary)
            {
                ole.summarySize = size;
                ole.summaryStart = size < cutoff ? start : kEndOfChain;
            }
        }
    }
    return true;
}
// The bytes of the mini stream's chain from mini sector start, at most max of them.
std::vector<u8> ReadMini(const Ole& ole, u32 start, u64 max)
{
    std::vector<u32> miniFat;
    std::vector<u8> buf(std::size_t{1} << ole.shift);
    for (const u32 s : ole.miniFatSectors)
    {
        if (!ReadExact(ole.src, SectorOffset(ole, s), buf))
            return {};
        for (std::size_t i = 0; i < buf.size(); i += 4)
            miniFat.push_back(LoadLe32(buf.data() + i));
    }
    std::vector<u8> out;
    std::array<u8, kMiniSector> mini{};
    // Each step takes kMiniSector bytes of at most max: bounded.
    for (u32 m = start; m < miniFat.size() && out.size() < max; m = miniFat[m])
    {
        const u64 at = u64{m} * kMiniSector;
        const u64 idx = at >> ole.shift;
        if (idx >= ole.miniStream.size() ||
            !ReadExact(ole.src, SectorOffset(ole, ole.miniStream[idx]) + (at & (buf.size() - 1)),
                       mini))
            return {};
        out.insert(out.end(), mini.begin(), mini.end());
    }
    return out;
}

// The "\005SummaryInformation" stream's bytes, at most kMaxSummary of them.
std::vector<u8> ReadSummary(const Ole& ole)
{
    const u64 max = std::min<u64>(ole.summarySize, kMaxSummary);
    std::vector<u8> out;
    if (ole.summarySize == 0)
        return out;
    if (ole.summaryStart != kEndOfChain)
        out = ReadMini(ole, ole.summaryStart, max);
    std::vector<u8> buf(std::size_t{1} << ole.shift);
    for (const u32 s : ole.summarySectors)
    {
        if (out.size() >= max || !ReadExact(ole.src, SectorOffset(ole, s), buf))
            break;
        out.insert(out.end(), buf.begin(), buf.end());
    }
    out.resize(std::min<std::size_t>(out.size(), static_cast<std::size_t>(max)));
    return out;
}
} // namespace

ContentCheck CheckOle2(IContentSource& source)
{
    ContentCheck check;
    // type stays kNone unless a stream's name tells the kind: the type asked for holds.
    check.verdict = FindContent::kDamaged;
    std::array<u8, kHeaderSize> hdr{};
    if (!ReadExact(source, 0, hdr) || !std::equal(kOleSig, kOleSig + 8, hdr.begin()))
        return check;
    Ole ole(source, source.Size());
    const u16 major = LoadLe16(hdr.data() + kHdrMajor);
    ole.shift = LoadLe16(hdr.data() + kHdrSectorShift);
    if (LoadLe16(hdr.data() + kHdrByteOrder) != 0xFFFE ||
        LoadLe16(hdr.data() + kHdrMiniShift) != 6 ||
        !((major == 3 && ole.shift == 9) || (major == 4 && ole.shift == 12)))
        return check;
    check.validBytes = kHeaderSize;
    if (!ReadFat(ole, hdr.data()))
        return check;
    std::vector<u32> dirSectors;
    CarveType kind = CarveType::kNone;
    const u32 cutoff = LoadLe32(hdr.data() + kHdrMiniCutoff);
    const u32 miniFat = LoadLe32(hdr.data() + kHdrMiniFatStart);
    if (!FollowChain(ole, LoadLe32(hdr.data() + kHdrDirStart), 1, &dirSectors) ||
        (miniFat != kEndOfChain && miniFat != kFreeSect &&
         !FollowChain(ole, miniFat, 1, &ole.miniFatSectors)) ||
        !CheckDirectory(ole, dirSectors, cutoff, &kind))
        return check;
    if (kind != CarveType::kNone)
        check.type = kind;
    check.title = Ole2SummaryTitle(ReadSummary(ole));
    // The file ends with the highest sector the FAT uses.
    u64 highest = 0;
    for (u64 s = 0; s < ole.fat.size(); ++s)
        if (ole.fat[s] != kFreeSect)
            highest = s;
    check.end = (highest + 2) << ole.shift;
    if (check.end > ole.size)
    {
        check.end = 0;
        return check;
    }
    check.verdict = FindContent::kValid;
    check.validBytes = check.end;
    return check;
}
