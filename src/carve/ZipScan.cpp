// The ZIP validator's walks to the end record, and what entry names and contents tell.
#include <algorithm>
#include <array>
#include <vector>

#include "carve/ZipLayout.h"
#include "platform/ByteOrder.h"

namespace
{
// One local entry as its header gives it; next is the offset past its data (and descriptor).
struct LocalStep
{
    bool ok = false;
    bool sized = false; // sizes in the header (no data descriptor)
    u64 dataOff = 0;
    u64 csize = 0;
    u32 crc = 0;
    u16 method = 0;
    u64 next = 0;
};

LocalStep StepLocal(IContentSource& src, u64 off, InflateBudget* budget)
{
    LocalStep s;
    std::array<u8, kLocalSize> h{};
    if (!ReadExact(src, off, h) || LoadLe32(h.data()) != kLocalSig)
        return s;
    const u16 flags = LoadLe16(h.data() + kLocFlags);
    s.method = LoadLe16(h.data() + kLocMethod);
    s.crc = LoadLe32(h.data() + kLocCrc);
    s.dataOff =
        off + kLocalSize + LoadLe16(h.data() + kLocNameLen) + LoadLe16(h.data() + kLocExtraLen);
    s.csize = LoadLe32(h.data() + kLocCsize);
    const u64 size = src.Size();
    if ((flags & kFlagDescriptor) == 0)
    {
        if (s.csize == 0xFFFFFFFF || s.dataOff > size || s.csize > size - s.dataOff)
            return s; // ZIP64 sizes: left to the central directory
        s.sized = true;
        s.next = s.dataOff + s.csize;
        s.ok = true;
        return s;
    }
    if (s.method != kMethodDeflate)
        return s; // a stored entry of unknown length: its end is found from the back
    const InflateOutcome r = InflateRange(src, s.dataOff, size, ~u64{0}, -15, budget);
    if (!r.ended)
        return s;
    s.next = s.dataOff + r.consumed;
    std::array<u8, 4> sig{};
    const bool hasSig = ReadExact(src, s.next, sig) && LoadLe32(sig.data()) == kDescriptorSig;
    s.next += hasSig ? 16 : 12;
    s.csize = r.consumed;
    s.ok = s.next <= size;
    return s;
}

u32 SigAt(IContentSource& src, u64 off)
{
    std::array<u8, 4> sig{};
    return ReadExact(src, off, sig) ? LoadLe32(sig.data()) : 0;
}

// Whether the end record rec (kEocdSize bytes) at off fits a file of src: its comment ends
// within Size(), and its central directory ends where it starts, or a ZIP64 locator stands
// before it (or its fields say ZIP64).
bool EocdFits(IContentSource& src, u64 off, const u8* rec)
{
    if (LoadLe32(rec) != kEocdSig)
        return false;
    const u64 cdSize = LoadLe32(rec + 12);
    const u64 cdOff = LoadLe32(rec + 16);
    const bool zip64 = cdOff == 0xFFFFFFFF || cdSize == 0xFFFFFFFF;
    return off + kEocdSize + LoadLe16(rec + kEocdCommentLen) <= src.Size() &&
           (zip64 || cdOff + cdSize == off ||
            (off >= kZip64LocatorSize && SigAt(src, off - kZip64LocatorSize) == kZip64LocatorSig));
}
} // namespace

u64 ZipFindEocdForward(IContentSource& source, InflateBudget* budget)
{
    u64 p = 0;
    // Every step moves past at least one header: bounded by Size().
    while (SigAt(source, p) == kLocalSig)
    {
        const LocalStep s = StepLocal(source, p, budget);
        if (!s.ok || s.next <= p)
            return kZipNoEocd;
        p = s.next;
    }
    while (SigAt(source, p) == kCentralSig)
    {
        std::array<u8, kCentralSize> h{};
        if (!ReadExact(source, p, h))
            return kZipNoEocd;
        p += kCentralSize + LoadLe16(h.data() + kCenNameLen) + LoadLe16(h.data() + kCenExtraLen) +
             LoadLe16(h.data() + kCenCommentLen);
    }
    if (SigAt(source, p) == kZip64EocdSig)
    {
        std::array<u8, 12> h{};
        if (!ReadExact(source, p, h) || LoadLe64(h.data() + 4) > source.Size())
            return kZipNoEocd;
        p += 12 + LoadLe64(h.data() + 4);
        if (SigAt(source, p) != kZip64LocatorSig)
            return kZipNoEocd;
        p += kZip64LocatorSize;
    }
    return SigAt(source, p) == kEocdSig ? p : kZipNoEocd;
}

u64 ZipFindEocdBackward(IContentSource& source)
{
    const u64 size = source.Size();
    if (size < kEocdSize)
        return kZipNoEocd;
    const u64 span = std::min<u64>(size, kEocdSize + 0xFFFF);
    std::vector<u8> tail(static_cast<std::size_t>(span));
    const u64 base = size - span;
    if (!ReadExact(source, base, tail))
        return kZipNoEocd;
    for (std::size_t i = tail.size() - kEocdSize + 1; i-- > 0;)
        if (EocdFits(source, base + i, tail.data() + i))
            return base + i;
    return kZipNoEocd;
}

u64 ZipFindEocdScan(IContentSource& source)
{
    constexpr std::size_t kChunk = std::size_t{64} << 10;
    std::vector<u8> buf(kChunk);
    const u64 size = source.Size();
    // Chunks overlap by a record less one byte, so that a record across two is seen once.
    for (u64 base = 0; base + kEocdSize <= size; base += kChunk - (kEocdSize - 1))
    {
        const auto want = static_cast<std::size_t>(std::min<u64>(kChunk, size - base));
        if (source.Read(base, std::span<u8>(buf.data(), want)) != want)
            return kZipNoEocd;
        for (std::size_t i = 0; i + kEocdSize <= want; ++i)
            if (buf[i] == 0x50 && EocdFits(source, base + i, buf.data() + i))
                return base + i;
        if (want < kChunk)
            break;
    }
    return kZipNoEocd;
}

u64 ZipForwardVouched(IContentSource& source, InflateBudget* budget)
{
    u64 p = 0;
    while (SigAt(source, p) == kLocalSig)
    {
        const LocalStep s = StepLocal(source, p, budget);
        if (!s.ok || !s.sized || s.next <= p)
            break;
        u32 crc = 0;
        if (s.method == kMethodStored)
        {
            if (!Crc32Range(source, s.dataOff, s.csize, &crc))
                break;
        }
        else if (s.method == kMethodDeflate)
        {
            const InflateOutcome r = InflateRange(source, s.dataOff, s.csize, ~u64{0}, -15, budget);
            if (!r.ended || r.consumed != s.csize)
                break;
            crc = r.crc;
        }
        else
            break;
        if (crc != s.crc)
            break;
        p = s.next;
    }
    return p;
}

void ZipNoteName(std::string_view name, ZipTraits* traits)
{
    traits->contentTypes = traits->contentTypes || name == "[Content_Types].xml";
    traits->word = traits->word || name.starts_with("word/");
    traits->xl = traits->xl || name.starts_with("xl/");
    traits->ppt = traits->ppt || name.starts_with("ppt/");
}

bool ZipWantsContent(std::string_view name)
{
    return name == "mimetype" || name == "docProps/core.xml" || name == "meta.xml" ||
           name.ends_with(".opf");
}

void ZipNoteContent(std::string_view name, const std::string& content, bool first,
                    ZipTraits* traits)
{
    if (name == "mimetype")
    {
        if (first)
            traits->mimetype = content.substr(0, 128);
        return;
    }
    if (traits->title.empty())
        traits->title = XmlDcTitle(content);
}

CarveType ZipRefinedType(const ZipTraits& t)
{
    if (t.mimetype.starts_with("application/vnd.oasis.opendocument."))
        return CarveType::kOdt;
    if (t.mimetype == "application/epub+zip")
        return CarveType::kEpub;
    if (t.contentTypes && t.word)
        return CarveType::kDocx;
    if (t.contentTypes && t.xl)
        return CarveType::kXlsx;
    if (t.contentTypes && t.ppt)
        return CarveType::kPptx;
    return CarveType::kZip;
}

namespace
{
// Decodes the XML entity at text[i] ('&'), appending it; returns the bytes it took (0: none).
std::size_t DecodeEntity(std::string_view text, std::size_t i, std::string* out)
{
    const std::size_t semi = text.find(';', i);
    if (semi == std::string_view::npos || semi - i > 10)
        return 0;
    const std::string_view ent = text.substr(i + 1, semi - i - 1);
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [n, c] : kNamed)
        if (ent == n)
        {
            out->push_back(c);
            return semi - i + 1;
        }
    if (ent.size() < 2 || ent[0] != '#')
        return 0;
    const bool hex = ent[1] == 'x' || ent[1] == 'X';
    u32 cp = 0;
    for (std::size_t k = hex ? 2 : 1; k < ent.size(); ++k)
    {
        const char c = ent[k];
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        if (d < 0 || cp > 0x10FFFF)
            return 0;
        cp = cp * (hex ? 16 : 10) + static_cast<u32>(d);
    }
    AppendUtf8(cp, out);
    return semi - i + 1;
}
} // namespace

std::string XmlDcTitle(std::string_view xml)
{
    std::size_t open = xml.find("<dc:title");
    while (open != std::string_view::npos && open + 9 < xml.size() && xml[open + 9] != '>' &&
           xml[open + 9] != ' ' && xml[open + 9] != '/')
        open = xml.find("<dc:title", open + 9);
    if (open == std::string_view::npos)
        return {};
    const std::size_t gt = xml.find('>', open);
    if (gt == std::string_view::npos || xml[gt - 1] == '/')
        return {};
    const std::size_t close = xml.find("</dc:title>", gt);
    if (close == std::string_view::npos)
        return {};
    const std::string_view raw = xml.substr(gt + 1, close - gt - 1);
    std::string out;
    for (std::size_t i = 0; i < raw.size() && out.size() < 4 * kMaxTitleBytes;)
    {
        const std::size_t took = raw[i] == '&' ? DecodeEntity(raw, i, &out) : 0;
        if (took == 0)
            out.push_back(raw[i]);
        i += took == 0 ? 1 : took;
    }
    return out;
}
