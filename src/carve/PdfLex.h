// The PDF validator's parts: reading tokens at offsets of a source, the objects a
// cross-reference section lists, and the title of the document information dictionary.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "carve/ContentSource.h"
#include "carve/DocRead.h"
#include "platform/Types.h"

inline constexpr u64 kPdfNone = ~u64{0};

[[nodiscard]] inline bool PdfIsSpace(int c)
{
    return c == 0 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

// Up to n bytes at offset (fewer at Size()).
[[nodiscard]] std::string PdfBytesAt(IContentSource& src, u64 offset, std::size_t n);

// Offset of the first token at or after from and before limit; kPdfNone when there is none.
[[nodiscard]] u64 PdfFind(IContentSource& src, u64 from, u64 limit, std::string_view token);

// Parses an unsigned decimal number at text[*i] (after white space); false when none.
[[nodiscard]] bool PdfNumber(std::string_view text, std::size_t* i, u64* value);

// True when text starts (after at most two white-space bytes) with "<num> <gen> obj"; *headerLen
// is set past "obj".
[[nodiscard]] bool PdfObjectHeader(std::string_view text, u64 num, u64 gen, std::size_t* headerLen);

// The value of /Key in a dictionary's text when it is a direct number (not "n g R").
[[nodiscard]] bool PdfDictNumber(std::string_view dict, std::string_view key, u64* value);
// The object number of /Key when it is a reference "n g R".
[[nodiscard]] bool PdfDictRef(std::string_view dict, std::string_view key, u64* num);

// Checks the body of the object whose header is at offset (it lies before limit, the next
// object or section): a stream's /Length lands on "endstream" and a /FlateDecode stream
// inflates whole; "endobj" closes it before limit.
[[nodiscard]] bool PdfObjectBodyHolds(IContentSource& src, u64 offset, u64 limit,
                                      InflateBudget* budget);

// The /Title of the information dictionary at offset as UTF-8 (PDFDocEncoding, UTF-16BE with
// its byte-order mark or UTF-8 with its own), when it is a direct string; empty otherwise.
[[nodiscard]] std::string PdfInfoTitle(IContentSource& src, u64 offset);

// An object a cross-reference stream places in the file (type 1 entries only).
struct PdfXrefEntry
{
    u64 num = 0;
    u64 offset = 0;
    u64 gen = 0;
};

enum class PdfXrefDecode : u8
{
    kDecoded,     // its entries are in out
    kUndecodable, // a filter or predictor this reader does not apply: not checked
    kBroken,      // its dictionary, data or rows do not hold
};

// Decodes the cross-reference stream whose object starts at pos, with dict the text of its
// dictionary (from pos up to "stream"): /W, /Index, /FlateDecode and PNG predictors. At most
// maxEntries entries.
[[nodiscard]] PdfXrefDecode PdfDecodeXrefStream(IContentSource& src, u64 pos, std::string_view dict,
                                                u64 maxEntries, InflateBudget* budget,
                                                std::vector<PdfXrefEntry>* out);
