// ZIP and the formats built on it: local headers walked from the start, the central directory
// found from its end record, every entry's data checked against its CRC-32.
#include <algorithm>
#include <array>
#include <vector>

#include "carve/ContentCheck.h"
#include "carve/DocRead.h"
#include "carve/ZipLayout.h"
#include "platform/ByteOrder.h"

namespace
{
constexpr std::size_t kMaxKeep = std::size_t{256} * 1024; // the most of a title-holding entry kept

// Fills the ZIP64 extra field's values for the fields the fixed header left at 0xFFFFFFFF.
void ApplyZip64(std::span<const u8> extra, u64* usize, u64* csize, u64* offset)
{
    std::size_t p = 0;
    while (p + 4 <= extra.size())
    {
        const u16 id = LoadLe16(extra.data() + p);
        const u16 len = LoadLe16(extra.data() + p + 2);
        p += 4;
        if (len > extra.size() - p)
            return;
        if (id == 0x0001)
        {
            std::size_t q = p;
            for (u64* v : {usize, csize, offset})
            {
                if (v == nullptr || *v != 0xFFFFFFFF)
                    continue;
                if (q + 8 > p + len)
                    return;
                *v = LoadLe64(extra.data() + q);
                q += 8;
            }
            return;
        }
        p += len;
    }
}

struct Walk
{
    IContentSource& src;
    u64 size;
    InflateBudget budget;
    ZipTraits traits;
    std::vector<ZipEntry> entries; // as the central directory lists them
    bool unverifiable = false;     // an entry zlib cannot check (encrypted, other method)
};

// Checks the entry's data at dataOff: CRC-32 of the stored bytes or of the inflated ones.
ZipData CheckData(Walk& w, const ZipEntry& e, u64 dataOff, std::string* keep)
{
    if ((e.flags & kFlagEncrypted) != 0 ||
        (e.method != kMethodStored && e.method != kMethodDeflate))
        return ZipData::kUnverifiable;
    if (e.method == kMethodStored)
    {
        if (e.csize > w.budget.left)
        {
            w.budget.exhausted = true; // entries may share their bytes: reads are budgeted too
            return ZipData::kUnverifiable;
        }
        w.budget.left -= e.csize;
        u32 crc = 0;
        if (e.csize != e.usize || !Crc32Range(w.src, dataOff, e.csize, &crc) || crc != e.crc)
            return ZipData::kBad;
        if (keep != nullptr)
        {
            keep->resize(static_cast<std::size_t>(std::min<u64>(e.csize, kMaxKeep)));
            if (!ReadExact(w.src, dataOff,
                           std::span<u8>(reinterpret_cast<u8*>(keep->data()), keep->size())))
                return ZipData::kBad;
        }
        return ZipData::kGood;
    }
    const InflateOutcome r =
        InflateRange(w.src, dataOff, e.csize, e.usize, -15, &w.budget, keep, kMaxKeep);
    if (w.budget.exhausted)
        return ZipData::kUnverifiable;
    if (!r.ended || r.consumed != e.csize || r.produced != e.usize || r.crc != e.crc)
        return ZipData::kBad;
    return ZipData::kGood;
}

// Reads the local header the central entry points at, checks that it names the same file with
// the same sizes, then the data; sets the entry's end (past any data descriptor).
void CheckEntry(Walk& w, ZipEntry& e, std::string_view name)
{
    std::array<u8, kLocalSize> h{};
    if (!ReadExact(w.src, e.offset, h) || LoadLe32(h.data()) != kLocalSig)
        return;
    const u16 flags = LoadLe16(h.data() + kLocFlags);
    const u64 nameLen = LoadLe16(h.data() + kLocNameLen);
    const u64 extraLen = LoadLe16(h.data() + kLocExtraLen);
    std::string localName(static_cast<std::size_t>(nameLen), '\0');
    if (LoadLe16(h.data() + kLocMethod) != e.method ||
        !ReadExact(w.src, e.offset + kLocalSize,
                   std::span<u8>(reinterpret_cast<u8*>(localName.data()), localName.size())) ||
        localName != name)
        return;
    if ((flags & kFlagDescriptor) == 0)
    {
        u64 usize = LoadLe32(h.data() + kLocUsize);
        u64 csize = LoadLe32(h.data() + kLocCsize);
        std::vector<u8> extra(static_cast<std::size_t>(extraLen));
        if (!ReadExact(w.src, e.offset + kLocalSize + nameLen, extra))
            return;
        ApplyZip64(extra, &usize, &csize, nullptr);
        if (LoadLe32(h.data() + kLocCrc) != e.crc || usize != e.usize || csize != e.csize)
            return;
    }
    const u64 dataOff = e.offset + kLocalSize + nameLen + extraLen;
    if (dataOff > w.size || e.csize > w.size - dataOff)
        return;
    std::string keep;
    const bool wanted = ZipWantsContent(name);
    e.data = CheckData(w, e, dataOff, wanted ? &keep : nullptr);
    e.end = dataOff + e.csize;
    if ((flags & kFlagDescriptor) != 0)
    {
        std::array<u8, 4> sig{};
        const bool hasSig = ReadExact(w.src, e.end, sig) && LoadLe32(sig.data()) == kDescriptorSig;
        e.end += (hasSig ? 4 : 0) + (e.zip64 ? 20 : 12);
        if (e.end > w.size)
            e.data = ZipData::kBad;
    }
    if (e.data == ZipData::kGood && wanted)
        ZipNoteContent(name, keep, e.offset == 0, &w.traits);
}

// Walks the central directory [cdOff, cdOff + cdSize) of count entries, checking each.
bool WalkCentral(Walk& w, u64 cdOff, u64 cdSize, u64 count)
{
    if (cdOff > w.size || cdSize > w.size - cdOff || count > cdSize / kCentralSize)
        return false;
    u64 p = cdOff;
    for (u64 i = 0; i < count; ++i)
    {
        std::array<u8, kCentralSize> h{};
        if (p + kCentralSize > cdOff + cdSize || !ReadExact(w.src, p, h) ||
            LoadLe32(h.data()) != kCentralSig)
            return false;
        const u64 nameLen = LoadLe16(h.data() + kCenNameLen);
        const u64 extraLen = LoadLe16(h.data() + kCenExtraLen);
        const u64 recLen = kCentralSize + nameLen + extraLen + LoadLe16(h.data() + kCenCommentLen);
        if (recLen > cdOff + cdSize - p)
            return false;
        std::vector<u8> var(static_cast<std::size_t>(nameLen + extraLen));
        if (!ReadExact(w.src, p + kCentralSize, var))
            return false;
        ZipEntry e;
        e.flags = LoadLe16(h.data() + kCenFlags);
        e.method = LoadLe16(h.data() + kCenMethod);
        e.crc = LoadLe32(h.data() + kCenCrc);
        e.csize = LoadLe32(h.data() + kCenCsize);
        e.usize = LoadLe32(h.data() + kCenUsize);
        e.offset = LoadLe32(h.data() + kCenOffset);
        e.zip64 = e.csize == 0xFFFFFFFF || e.usize == 0xFFFFFFFF;
        ApplyZip64(std::span<const u8>(var).subspan(static_cast<std::size_t>(nameLen)), &e.usize,
                   &e.csize, &e.offset);
        const std::string name(reinterpret_cast<const char*>(var.data()),
                               static_cast<std::size_t>(nameLen));
        ZipNoteName(name, &w.traits);
        CheckEntry(w, e, name);
        w.unverifiable = w.unverifiable || e.data == ZipData::kUnverifiable;
        w.entries.push_back(e);
        p += recLen;
    }
    return p == cdOff + cdSize;
}

// The central directory an end record at eocdOff describes (through the ZIP64 locator and
// record when present): its offset, size and entry count.
bool ReadEocd(Walk& w, u64 eocdOff, u64* cdOff, u64* cdSize, u64* count, u64* end)
{
    std::array<u8, kEocdSize> h{};
    if (!ReadExact(w.src, eocdOff, h) || LoadLe32(h.data()) != kEocdSig)
        return false;
    *end = eocdOff + kEocdSize + LoadLe16(h.data() + kEocdCommentLen);
    if (*end > w.size)
        return false;
    *count = LoadLe16(h.data() + 10);
    *cdSize = LoadLe32(h.data() + 12);
    *cdOff = LoadLe32(h.data() + 16);
    std::array<u8, kZip64LocatorSize> loc{};
    if (eocdOff >= kZip64LocatorSize && ReadExact(w.src, eocdOff - kZip64LocatorSize, loc) &&
        LoadLe32(loc.data()) == kZip64LocatorSig)
    {
        std::array<u8, 56> z{};
        const u64 zOff = LoadLe64(loc.data() + 8);
        if (!ReadExact(w.src, zOff, z) || LoadLe32(z.data()) != kZip64EocdSig)
            return false;
        *count = LoadLe64(z.data() + 32);
        *cdSize = LoadLe64(z.data() + 40);
        *cdOff = LoadLe64(z.data() + 48);
    }
    return true;
}
} // namespace

ContentCheck CheckZip(IContentSource& source)
{
    ContentCheck check;
    // type stays kNone unless the entries tell a format built on ZIP: the type asked for holds.
    check.verdict = FindContent::kDamaged;
    Walk w{source, source.Size(), MakeInflateBudget(source.Size()), {}, {}, false};
    std::array<u8, 4> sig{};
    if (!ReadExact(source, 0, sig))
        return check;
    u64 cdOff = 0;
    u64 cdSize = 0;
    u64 count = 0;
    u64 end = 0;
    // An archive of no entries is its end record alone.
    if (LoadLe32(sig.data()) == kEocdSig && ReadEocd(w, 0, &cdOff, &cdSize, &count, &end) &&
        count == 0 && cdSize == 0 && cdOff == 0)
    {
        check.verdict = FindContent::kValid;
        check.end = check.validBytes = end;
        return check;
    }
    if (LoadLe32(sig.data()) != kLocalSig)
        return check;
    u64 eocd = ZipFindEocdForward(source, &w.budget);
    if (eocd == kZipNoEocd)
        eocd = ZipFindEocdScan(source);
    if (eocd == kZipNoEocd)
        eocd = ZipFindEocdBackward(source);
    bool whole = eocd != kZipNoEocd && ReadEocd(w, eocd, &cdOff, &cdSize, &count, &end);
    whole = whole && WalkCentral(w, cdOff, cdSize, count);
    if (const CarveType refined = ZipRefinedType(w.traits); refined != CarveType::kZip)
        check.type = refined;
    check.title = CleanTitle(w.traits.title);
    // Bytes vouched for: entries in the order of their offsets, contiguous from the start, up
    // to the first whose data did not hold.
    std::sort(w.entries.begin(), w.entries.end(),
              [](const ZipEntry& a, const ZipEntry& b) { return a.offset < b.offset; });
    u64 vouched = 0;
    for (const ZipEntry& e : w.entries)
    {
        if (e.data != ZipData::kGood || e.offset > vouched)
            break;
        vouched = std::max(vouched, e.end);
    }
    bool allGood = true;
    bool anyBad = false;
    for (const ZipEntry& e : w.entries)
    {
        allGood = allGood && e.data == ZipData::kGood;
        anyBad = anyBad || e.data == ZipData::kBad;
    }
    if (whole)
    {
        check.end = end;
        if (allGood && w.entries.size() == count)
        {
            check.validBytes = end;
            check.verdict = FindContent::kValid;
            return check;
        }
        if (!anyBad)
            check.verdict = FindContent::kNone; // sound as far as zlib can check it
        check.validBytes = vouched;
        return check;
    }
    check.validBytes = std::max(vouched, ZipForwardVouched(source, &w.budget));
    return check;
}
