// The result view's rows: what the list shows for the volume list, a volume root or one folder,
// with type descriptions, icon indexes and time texts. The widgets only render these rows.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"
#include "records/FoundItem.h"

struct VolumeEntry;

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

// The result view's state and its operations: the folder shown, the volume it lies on, the file
// types learnt so far and the rows of the last fill. Dialog thread only. The catalogue shows it
// under its own member names (CCatalog::m_curPath, ShowFolder, ...).
class CResultView
{
public:
    // Puts in the two built-in file types ("Directory" and "File"/"Unknown File") and forgets
    // every other one.
    void InitFileTypes();
    // Replaces *rows with the content of m_curPath on volume: the list of volumes when m_curPath
    // is empty, else ".." (below a root), the folders (last found first), then the files (first
    // found first). Sets m_fileCount to the number of file rows.
    void ShowFolder(const std::vector<VolumeEntry>& volumes, const VolumeEntry& volume,
                    std::vector<ResultRow>* rows);
    // Appends to *rows a "Directory" row for each next level of m_curPath that items lie below
    // but that no folder row of *rows names.
    void AddLevelRows(const VolumeEntry& volume, std::vector<ResultRow>* rows);
    // Opens the row named text (a volume text, a folder name of the shown folder, or "..") of
    // volumes and refills *rows. False when nothing changed (rows and state are left as they
    // are).
    bool Navigate(const std::vector<VolumeEntry>& volumes, const std::string& text,
                  std::vector<ResultRow>* rows);
    // Replaces extension (without its dot) by its description and sets *image to its type
    // index, learning the type through m_fileTypes the first time it is seen.
    void GetFileType(std::string& extension, s32* image);
    // The time as the locale's short date, two blanks and the locale's time.
    std::string FormatTime(const FoundTime& time);

    char m_timeBuf[160] = {};             // date text (first 80 bytes) and time text (last 80)
    s32 m_curVolume = 0;                  // index in the volume list of the volume shown
    std::string m_curPath;                // folder shown; empty: the list of volumes
    std::vector<std::string> m_typeExts;  // file-type keys known to the view
    std::vector<std::string> m_typeNames; // file-type descriptions, parallel to m_typeExts
    u32 m_fileCount = 0;                  // files shown by the last fill
    std::vector<std::string> m_typeIcons; // icon names of each file type, parallel to m_typeExts
    IFileTypes* m_fileTypes = nullptr;    // the desktop's file-type database; not owned
};
