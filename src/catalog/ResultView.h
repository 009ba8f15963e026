// The result view's rows: what the list shows for the volume list, a volume root or one folder,
// with type descriptions, icon indexes and time texts. The widgets only render these rows.
#pragma once

#include <string>

#include "platform/Types.h"
#include "records/FoundItem.h"

// Image indexes of the result view: the type index of a row, or none.
inline constexpr s32 kImageNone = -1;  // volume rows and ".."
inline constexpr s32 kImageFolder = 0; // the built-in type "Directory"
inline constexpr s32 kImageFile = 1;   // the built-in type "File" ("Unknown File")

// The icon names of the two built-in types, in the desktop icon theme's naming.
inline constexpr const char* kFolderIconName = "folder";
inline constexpr const char* kFileIconName = "text-x-generic";

// One row of the result list.
struct ResultRow
{
    std::string name;        // first column: volume text, "..", or the item's name
    std::string description; // "Directory", the file type's description, or empty
    std::string size;        // "%.2f KB" for files; empty for folders, volumes and ".."
    std::string access;      // the item's access time as the locale shows it; empty when none
    s32 image = kImageNone;  // type index (image i shows type i), or kImageNone
    std::string condition;   // the file's condition (ConditionLabel); empty for the other rows
};

// The condition of a file as the listings show it: "good", "unknown", ..., with the share of
// damaged clusters after a partial or overwritten one ("partial 40%"); empty for a folder.
[[nodiscard]] std::string ConditionLabel(const FoundItem& item);

// A file's size as the "Size" column shows it: size / 1024 in single precision with two
// decimals and " KB". The decimal point is always '.', whatever the locale's numeric format.
[[nodiscard]] std::string SizeText(u64 size);

// What the desktop knows about a file-name extension.
struct FileTypeInfo
{
    std::string description; // human-readable type name; empty when the desktop has none
    std::string icons;       // theme icon names, most specific first, separated by '\n'
};

// The desktop's file-type database (the shared MIME database on Linux; tests use a fake).
class IFileTypes
{
public:
    virtual ~IFileTypes() = default;

    // Fills *info for extension (without its dot, case kept). False when the extension is not
    // known; *info is then left empty.
    virtual bool Lookup(const std::string& extension, FileTypeInfo* info) = 0;
};
