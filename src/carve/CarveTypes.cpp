#include "carve/CarveTypes.h"

#include <array>
#include <cctype>
#include <string>

namespace
{
constexpr std::array<std::string_view, static_cast<std::size_t>(CarveType::kCount)> kExtensions = {
    "",    "jpg",  "png",  "gif", "bmp", "tif", "cr2",    "nef", "arw",  "dng",  "mp4",
    "mov", "3gp",  "heic", "avi", "wav", "mp3", "pdf",    "zip", "docx", "xlsx", "pptx",
    "odt", "epub", "doc",  "xls", "ppt", "rtf", "sqlite", "gz",  "7z",   "txt",
};

struct Alias
{
    std::string_view ext;
    CarveType type;
};

// Extensions other than the ones carved files are named with.
constexpr Alias kAliases[] = {
    {"jpeg", CarveType::kJpeg}, {"jpe", CarveType::kJpeg},  {"jfif", CarveType::kJpeg},
    {"tiff", CarveType::kTiff}, {"m4v", CarveType::kMp4},   {"m4a", CarveType::kMp4},
    {"qt", CarveType::kMov},    {"3g2", CarveType::k3gp},   {"heif", CarveType::kHeic},
    {"docm", CarveType::kDocx}, {"xlsm", CarveType::kXlsx}, {"pptm", CarveType::kPptx},
    {"ods", CarveType::kOdt},   {"odp", CarveType::kOdt},   {"sqlite3", CarveType::kSqlite},
    {"tgz", CarveType::kGzip},  {"text", CarveType::kText},
};
} // namespace

std::string_view CarveExtension(CarveType type)
{
    const auto index = static_cast<std::size_t>(type);
    return index < kExtensions.size() ? kExtensions[index] : std::string_view();
}

CarveType CarveTypeOfExtension(std::string_view ext)
{
    if (ext.empty() || ext.size() > 8)
        return CarveType::kNone;
    std::string lower(ext);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (std::size_t i = 1; i < kExtensions.size(); ++i)
        if (kExtensions[i] == lower)
            return static_cast<CarveType>(i);
    for (const Alias& alias : kAliases)
        if (alias.ext == lower)
            return alias.type;
    return CarveType::kNone;
}

CarveType CarveFamily(CarveType type)
{
    switch (type)
    {
    case CarveType::kDocx:
    case CarveType::kXlsx:
    case CarveType::kPptx:
    case CarveType::kOdt:
    case CarveType::kEpub:
        return CarveType::kZip;
    case CarveType::kXls:
    case CarveType::kPpt:
        return CarveType::kDoc;
    case CarveType::kCr2:
    case CarveType::kNef:
    case CarveType::kArw:
    case CarveType::kDng:
        return CarveType::kTiff;
    case CarveType::kMov:
    case CarveType::k3gp:
    case CarveType::kHeic:
        return CarveType::kMp4;
    case CarveType::kWav:
        return CarveType::kAvi;
    default:
        return type;
    }
}
