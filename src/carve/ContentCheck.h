// What a format's validator says of a file's bytes: whether its structure holds, how far it
// held, where the structure says the file ends, and what the file tells of itself (a photo's
// date taken, a document's title). The same validators judge carved files and the content of
// every deleted find of a known type.
//
// Every validator reads only through its source and never past Size(), keeps its memory and
// time bounded by the bytes it reads (whatever a hostile header claims), and never throws.
#pragma once

#include <string>

#include "carve/CarveTypes.h"
#include "carve/ContentSource.h"
#include "platform/Types.h"
#include "records/FoundItem.h"

struct ContentCheck
{
    // kValid: the structure holds from the start to its end, which lies within Size().
    // kDamaged: it breaks (or Size() ends before the structure does). kNone: no validator.
    FindContent verdict = FindContent::kNone;
    // Bytes from the start the structure vouches for: on a valid file its end; on a damaged
    // one the break lies at or after this offset, as near it as the format lets tell.
    u64 validBytes = 0;
    // On a damaged file: how many bytes past validBytes the break may still lie (a validator
    // that places it conservatively, before where it stopped holding); 0 when it is exact.
    u64 breakReach = 0;
    // On a damaged file: nothing in the bytes read broke; the source ended before the
    // structure did (a file cut short, or the first part of a layout tried).
    bool ranOut = false;
    // The file's length as its structure gives it (JPEG's EOI, PNG's IEND, ZIP's end of
    // central directory, box and chunk sizes, SQLite's page count), when it was reached; 0
    // when the format gives none (text, a stream without a length) or it was not reached.
    u64 end = 0;
    // The type the bytes show, refined from the one asked for (a ZIP that is a DOCX, an OLE2
    // file that is a workbook, a TIFF that is a NEF); the type asked for when nothing refines it.
    CarveType type = CarveType::kNone;
    std::string title; // the title the file holds (PDF, office documents), UTF-8; may be empty
    FoundTime taken;   // a photo's EXIF date taken; zero when it has none
};

// Validates source as a file of type (any type of a family goes to the family's validator).
[[nodiscard]] ContentCheck ValidateContent(CarveType type, IContentSource& source);

// The validators, one per format family. Each sets type to what it found.
[[nodiscard]] ContentCheck CheckJpeg(IContentSource& source);
[[nodiscard]] ContentCheck CheckPng(IContentSource& source);
[[nodiscard]] ContentCheck CheckGif(IContentSource& source);
[[nodiscard]] ContentCheck CheckBmp(IContentSource& source);
[[nodiscard]] ContentCheck CheckTiff(IContentSource& source); // TIFF and CR2, NEF, ARW, DNG
[[nodiscard]] ContentCheck CheckBmff(IContentSource& source); // MP4, MOV, 3GP, HEIC
[[nodiscard]] ContentCheck CheckRiff(IContentSource& source); // AVI, WAV
[[nodiscard]] ContentCheck CheckMp3(IContentSource& source);
[[nodiscard]] ContentCheck CheckZip(IContentSource& source); // ZIP, DOCX, XLSX, PPTX, ODT, EPUB
[[nodiscard]] ContentCheck CheckPdf(IContentSource& source);
[[nodiscard]] ContentCheck CheckOle2(IContentSource& source); // DOC, XLS, PPT
[[nodiscard]] ContentCheck CheckRtf(IContentSource& source);
[[nodiscard]] ContentCheck CheckSqlite(IContentSource& source);
[[nodiscard]] ContentCheck CheckGzip(IContentSource& source);
[[nodiscard]] ContentCheck Check7z(IContentSource& source);
// UTF-8 text: valid up to the first byte that is not text (end is there); never refined.
[[nodiscard]] ContentCheck CheckText(IContentSource& source);
