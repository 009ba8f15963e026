// PDF: the last "startxref" whose offset lands on a cross-reference section, every object the
// sections list where they say, each object's body whole, and the /Prev chain of earlier
// revisions.
#include <algorithm>
#include <deque>
#include <vector>

#include "carve/ContentCheck.h"
#include "carve/PdfLex.h"

namespace
{
constexpr std::size_t kChunk = std::size_t{64} * 1024;
constexpr std::size_t kMaxEofs = 4096;       // the last %%EOF markers kept
constexpr std::size_t kMaxSections = 1024;   // revisions followed along /Prev
constexpr u64 kMaxEntries = u64{1} << 22;    // cross-reference entries checked at most
constexpr std::size_t kTrailerWindow = 4096; // a trailer dictionary is read this far

struct Pdf
{
    IContentSource& src;
    u64 size;
    InflateBudget budget;
    std::vector<u64> objects;                 // offsets of the objects checked
    std::vector<u64> sections;                // offsets of the sections walked
    std::vector<std::pair<u64, u64>> numbers; // object number, offset (newest section first)
    u64 badAt = kPdfNone;                     // the lowest offset found wrong
    u64 infoNum = 0;
    bool haveInfo = false;
    bool unchecked = false; // entries too many, or a stream this reader cannot decode
};

void Bad(Pdf& pdf, u64 at)
{
    pdf.badAt = std::min(pdf.badAt, at);
}

// The offset "startxref N" before the %%EOF at eof gives; kPdfNone when there is none.
u64 StartXref(IContentSource& src, u64 eof)
{
    const u64 from = eof > 64 ? eof - 64 : 0;
    const std::string text = PdfBytesAt(src, from, static_cast<std::size_t>(eof - from));
    const std::size_t k = text.rfind("startxref");
    if (k == std::string::npos)
        return kPdfNone;
    std::size_t i = k + 9;
    u64 n = 0;
    if (!PdfNumber(text, &i, &n))
        return kPdfNone;
    while (i < text.size() && PdfIsSpace(text[i]))
        ++i;
    return i == text.size() ? n : kPdfNone;
}

// Offset past the end of line after the %%EOF at eof.
u64 PastEof(IContentSource& src, u64 eof)
{
    const std::string eol = PdfBytesAt(src, eof + 5, 2);
    u64 end = eof + 5;
    if (!eol.empty() && eol[0] == '\r')
        ++end;
    if (end - eof - 5 < eol.size() && eol[static_cast<std::size_t>(end - eof - 5)] == '\n')
        ++end;
    return end;
}

// True when the %%EOF at eof ends the file: a startxref stands before it, and what follows it
// (past blanks) cannot begin a revision, which starts with an object, a cross-reference
// section or a comment. The search for markers stops there: a carved file's source runs on
// over free clusters (zeros, other files' bytes) as far as its cap.
bool EndsFile(IContentSource& src, u64 eof)
{
    if (StartXref(src, eof) == kPdfNone)
        return false;
    const u64 from = PastEof(src, eof);
    if (from >= src.Size())
        return false;
    const std::string next = PdfBytesAt(src, from, 64);
    std::size_t i = 0;
    while (i < next.size() && next[i] != '\0' && PdfIsSpace(static_cast<unsigned char>(next[i])))
        ++i;
    if (i == next.size())
        return false; // blanks only, as far as seen: a revision may still follow
    const char c = next[i];
    return !((c >= '0' && c <= '9') || c == '%' || c == 'x');
}

// Offsets of the "%%EOF" markers within Size(), the last kMaxEofs of them, in one pass.
std::deque<u64> FindEofs(IContentSource& src)
{
    std::deque<u64> eofs;
    const u64 size = src.Size();
    // Chunks overlap by four bytes, so that a marker across two is seen once.
    for (u64 p = 0; p < size;)
    {
        const std::string buf =
            PdfBytesAt(src, p, static_cast<std::size_t>(std::min<u64>(kChunk, size - p)));
        for (std::size_t hit = buf.find("%%EOF"); hit != std::string::npos;
             hit = buf.find("%%EOF", hit + 5))
        {
            if (!eofs.empty() && eofs.back() >= p + hit)
                continue;
            if (eofs.size() == kMaxEofs)
                eofs.pop_front();
            eofs.push_back(p + hit);
            if (EndsFile(src, p + hit))
                return eofs;
        }
        if (buf.size() <= 4 || p + buf.size() >= size)
            break;
        p += buf.size() - 4;
    }
    return eofs;
}

// Checks that the object an in-use entry places at off is there.
void CheckEntry(Pdf& pdf, u64 num, u64 off, u64 gen)
{
    std::size_t len = 0;
    if (!PdfObjectHeader(PdfBytesAt(pdf.src, off, 48), num, gen, &len))
        Bad(pdf, off);
    else
        pdf.objects.push_back(off);
    pdf.numbers.emplace_back(num, off);
}

// Checks the in-use entries of the table whose subsections start at pos; sets *trailer to the
// offset of "trailer". False when the table's own syntax breaks.
bool WalkTable(Pdf& pdf, u64 pos, u64* trailer)
{
    // Each subsection moves pos forward; the entries are bounded by kMaxEntries.
    for (std::size_t guard = 0; guard < kMaxEntries; ++guard)
    {
        const std::string line = PdfBytesAt(pdf.src, pos, 64);
        std::size_t i = 0;
        while (i < line.size() && PdfIsSpace(line[i]))
            ++i;
        if (line.compare(i, 7, "trailer") == 0)
        {
            *trailer = pos + i;
            return true;
        }
        u64 first = 0;
        u64 count = 0;
        if (!PdfNumber(line, &i, &first) || !PdfNumber(line, &i, &count))
            return false;
        while (i < line.size() && (line[i] == ' ' || line[i] == '\r' || line[i] == '\n'))
            ++i;
        pos += i;
        if (count > (pdf.size - std::min(pos, pdf.size)) / 20 ||
            pdf.numbers.size() + count > kMaxEntries)
        {
            pdf.unchecked = pdf.numbers.size() + count > kMaxEntries;
            return false;
        }
        for (u64 e = 0; e < count; e += kChunk / 20)
        {
            const u64 n = std::min<u64>(count - e, kChunk / 20);
            const std::string rows =
                PdfBytesAt(pdf.src, pos + e * 20, static_cast<std::size_t>(n * 20));
            if (rows.size() != n * 20)
                return false;
            for (u64 r = 0; r < n; ++r)
            {
                const std::string_view row =
                    std::string_view(rows).substr(static_cast<std::size_t>(r * 20), 20);
                std::size_t j = 0;
                u64 off = 0;
                u64 gen = 0;
                if (!PdfNumber(row, &j, &off) || !PdfNumber(row, &j, &gen) || j + 2 > row.size())
                    return false;
                const char kind = row[j + 1];
                if (kind != 'n' && kind != 'f')
                    return false;
                const u64 num = first + e + r;
                if (kind != 'n' || off == 0 || num == 0)
                    continue;
                CheckEntry(pdf, num, off, gen);
            }
        }
        pos += count * 20;
    }
    return false;
}

// Checks the section at pos (a table or a cross-reference stream); returns its /Prev offset,
// kPdfNone when it has none, or sets badAt when it does not hold.
u64 WalkSection(Pdf& pdf, u64 pos)
{
    const std::string head = PdfBytesAt(pdf.src, pos, 48);
    std::string dict;
    if (head.compare(0, 4, "xref") == 0)
    {
        u64 trailer = 0;
        if (!WalkTable(pdf, pos + 4, &trailer))
        {
            Bad(pdf, pos);
            return kPdfNone;
        }
        dict = PdfBytesAt(pdf.src, trailer, kTrailerWindow);
        dict = dict.substr(0, dict.find("startxref"));
    }
    else
    {
        std::size_t i = 0;
        u64 num = 0;
        u64 gen = 0;
        std::size_t len = 0;
        if (!PdfNumber(head, &i, &num) || !PdfNumber(head, &i, &gen) ||
            !PdfObjectHeader(head, num, gen, &len))
        {
            Bad(pdf, pos);
            return kPdfNone;
        }
        dict = PdfBytesAt(pdf.src, pos, kTrailerWindow);
        dict = dict.substr(0, dict.find("stream"));
        const std::size_t type = dict.find("/Type");
        if (type == std::string::npos || dict.find("/XRef", type) == std::string::npos)
        {
            Bad(pdf, pos);
            return kPdfNone;
        }
        pdf.objects.push_back(pos);
        std::vector<PdfXrefEntry> entries;
        const PdfXrefDecode decoded = PdfDecodeXrefStream(
            pdf.src, pos, dict, kMaxEntries - pdf.numbers.size(), &pdf.budget, &entries);
        if (decoded == PdfXrefDecode::kBroken)
        {
            Bad(pdf, pos);
            return kPdfNone;
        }
        pdf.unchecked = pdf.unchecked || decoded == PdfXrefDecode::kUndecodable;
        for (const PdfXrefEntry& e : entries)
            if (e.offset != pos && e.num != 0)
                CheckEntry(pdf, e.num, e.offset, e.gen);
    }
    pdf.sections.push_back(pos);
    u64 info = 0;
    if (!pdf.haveInfo && PdfDictRef(dict, "/Info", &info))
    {
        pdf.infoNum = info;
        pdf.haveInfo = true;
    }
    u64 prev = 0;
    return PdfDictNumber(dict, "/Prev", &prev) ? prev : kPdfNone;
}

// Walks the revisions from the section at start; false when it is not a section at all.
bool WalkRevisions(Pdf& pdf, u64 start)
{
    const std::string head = PdfBytesAt(pdf.src, start, 48);
    std::size_t i = 0;
    u64 num = 0;
    u64 gen = 0;
    std::size_t len = 0;
    const bool table = head.compare(0, 4, "xref") == 0;
    if (!table && !(PdfNumber(head, &i, &num) && PdfNumber(head, &i, &gen) &&
                    PdfObjectHeader(head, num, gen, &len)))
        return false;
    u64 pos = start;
    for (std::size_t n = 0; pos != kPdfNone && n < kMaxSections; ++n)
    {
        if (pos >= pdf.size ||
            std::find(pdf.sections.begin(), pdf.sections.end(), pos) != pdf.sections.end())
        {
            Bad(pdf, std::min(pos, pdf.size));
            break;
        }
        pos = WalkSection(pdf, pos);
    }
    return true;
}

// Each object's body, up to the next object or section.
void CheckBodies(Pdf& pdf, u64 end)
{
    std::vector<u64> bounds = pdf.objects;
    bounds.insert(bounds.end(), pdf.sections.begin(), pdf.sections.end());
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
    std::sort(pdf.objects.begin(), pdf.objects.end());
    pdf.objects.erase(std::unique(pdf.objects.begin(), pdf.objects.end()), pdf.objects.end());
    for (const u64 off : pdf.objects)
    {
        const auto next = std::upper_bound(bounds.begin(), bounds.end(), off);
        const u64 limit = next == bounds.end() ? end : *next;
        if (!PdfObjectBodyHolds(pdf.src, off, limit, &pdf.budget))
            Bad(pdf, off);
    }
}

} // namespace

ContentCheck CheckPdf(IContentSource& source)
{
    ContentCheck check;
    check.type = CarveType::kPdf;
    check.verdict = FindContent::kDamaged;
    const std::string head = PdfBytesAt(source, 0, 8);
    if (head.size() < 8 || head.compare(0, 5, "%PDF-") != 0 || head[6] != '.' || head[5] < '1' ||
        head[5] > '2' || head[7] < '0' || head[7] > '9')
        return check;
    Pdf pdf{source, source.Size(), MakeInflateBudget(source.Size()), {}, {}, {}, kPdfNone, 0,
            false,  false};
    const std::deque<u64> eofs = FindEofs(source);
    for (auto it = eofs.rbegin(); it != eofs.rend(); ++it)
    {
        const u64 start = StartXref(source, *it);
        if (start == kPdfNone || start >= *it || !WalkRevisions(pdf, start))
            continue;
        check.end = PastEof(source, *it);
        CheckBodies(pdf, check.end);
        break;
    }
    if (check.end == 0)
        return check; // no startxref lands on a section
    u64 title = kPdfNone;
    for (const auto& [num, off] : pdf.numbers)
        if (pdf.haveInfo && num == pdf.infoNum && title == kPdfNone)
            title = off;
    if (title != kPdfNone && pdf.badAt == kPdfNone)
        check.title = PdfInfoTitle(source, title);
    if (pdf.badAt == kPdfNone && !pdf.unchecked)
    {
        check.verdict = pdf.budget.exhausted ? FindContent::kNone : FindContent::kValid;
        check.validBytes = check.end;
        return check;
    }
    if (pdf.unchecked && pdf.badAt == kPdfNone)
        check.verdict = FindContent::kNone;
    // Vouched for: up to the furthest object found whole before the first wrong offset.
    u64 vouched = 0;
    for (const u64 off : pdf.objects)
        if (off < pdf.badAt)
            vouched = std::max(vouched, off);
    check.validBytes = std::min(vouched, pdf.badAt);
    return check;
}
