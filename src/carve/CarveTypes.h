// The file types carving and the content checks know, with the extension a carved file of each
// is named with and the folder it is listed under.
#pragma once

#include <string_view>

#include "platform/Types.h"

enum class CarveType : u8
{
    kNone = 0,
    kJpeg,
    kPng,
    kGif,
    kBmp,
    kTiff,
    kCr2,
    kNef,
    kArw,
    kDng,
    kMp4,
    kMov,
    k3gp,
    kHeic,
    kAvi,
    kWav,
    kMp3,
    kPdf,
    kZip,
    kDocx,
    kXlsx,
    kPptx,
    kOdt,
    kEpub,
    kDoc, // OLE2 compound file; kXls and kPpt when its streams tell
    kXls,
    kPpt,
    kRtf,
    kSqlite,
    kGzip,
    k7z,
    kText,
    kCount,
};

// The extension (without the dot) a carved file of type is named with, also the name of its
// folder under Carved: "jpg", "png", "docx"...; empty for kNone.
[[nodiscard]] std::string_view CarveExtension(CarveType type);

// The type a file named with extension ext (without the dot, any case) holds, as far as the
// name tells: "jpeg" and "jpg" are kJpeg, "docx" kDocx, "doc" kDoc. kNone when no validator
// knows the extension.
[[nodiscard]] CarveType CarveTypeOfExtension(std::string_view ext);

// The family a type is validated as: the ZIP-based types as kZip, the OLE2 ones as kDoc, the
// TIFF-based camera raws as kTiff, the ISO base media ones as kMp4, RIFF's as kAvi; any other
// type is its own family.
[[nodiscard]] CarveType CarveFamily(CarveType type);
