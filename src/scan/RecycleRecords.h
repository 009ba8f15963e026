// The records a Recycle Bin keeps about each recycled file: the $I file beside each $R data file
// (Vista and later), and the INFO2 file of the older RECYCLER folders with its Dc<n> data
// files. Each parser is a function of the bytes and reads only inside them.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Types.h"

// What a record says about one recycled file.
struct RecycledOrigin
{
    std::string path;  // the file's full path before it was recycled, UTF-8 ("C:\docs\a.txt")
    u64 size = 0;      // its size then, in bytes
    u64 deletedAt = 0; // when it was recycled (FILETIME: 100 ns since 1601, UTC)
    u32 index = 0;     // INFO2: the n of its data file Dc<n>; 0 for a $I record
    u32 drive = 0;     // INFO2: its drive, 0 for A: on; 0 for a $I record
};

// $I record layout (both versions): a u64 format version (1: Vista to 8, 2: Windows 10 on),
// the u64 size and the u64 FILETIME of the deletion; version 1 then holds the path in 260
// UTF-16 units ended by U+0000, version 2 a u32 count of UTF-16 units (its U+0000 included)
// and the path.
namespace RecycleIndexLayout
{
inline constexpr std::size_t kVersion = 0x00;   // u64 format version
inline constexpr std::size_t kSize = 0x08;      // u64 original size
inline constexpr std::size_t kDeletedAt = 0x10; // u64 FILETIME of the deletion
inline constexpr std::size_t kPathV1 = 0x18;    // version 1: UTF-16 path, 260 units
inline constexpr std::size_t kPathUnitsV1 = 260;
inline constexpr std::size_t kPathLengthV2 = 0x18; // version 2: u32 path length in units
inline constexpr std::size_t kPathV2 = 0x1C;       // version 2: UTF-16 path
// The longest path Windows handles, in UTF-16 units: a bound on what a record may claim.
inline constexpr std::size_t kMostPathUnits = 32767;
} // namespace RecycleIndexLayout

// INFO2 layout: a 20-byte header whose u32 at 0x0C gives the size of each record (800 on
// Windows 2000 and XP, 280 before them, without the UTF-16 path); the records follow.
namespace Info2Layout
{
inline constexpr std::size_t kRecordSize = 0x0C; // u32 bytes per record
inline constexpr std::size_t kHeader = 0x14;     // the records start here
inline constexpr std::size_t kAnsiPath = 0x000;  // 260 bytes, ended by 0; its first byte is
                                                 // 0 once the file left the bin
inline constexpr std::size_t kAnsiPathBytes = 260;
inline constexpr std::size_t kIndex = 0x104;       // u32 n of the data file Dc<n>
inline constexpr std::size_t kDrive = 0x108;       // u32 drive number, 0 for A:
inline constexpr std::size_t kDeletedAt = 0x10C;   // u64 FILETIME of the deletion
inline constexpr std::size_t kSize = 0x114;        // u32 original size
inline constexpr std::size_t kUnicodePath = 0x118; // 260 UTF-16 units, ended by U+0000
inline constexpr std::size_t kUnicodePathUnits = 260;
inline constexpr std::size_t kShortestRecord = 0x118; // up to the UTF-16 path
inline constexpr std::size_t kLongestRecord = 0x10000;
} // namespace Info2Layout

// Decodes a $I record. False when bytes hold none: an unknown version, a path that does not
// lie inside the bytes (version 2 claims its length) or is empty.
[[nodiscard]] bool ParseRecycleIndex(std::span<const u8> bytes, RecycledOrigin* out);

// Decodes the records of an INFO2 file, in file order, those with a path and a data file
// number; an unusable header gives none. At most bytes.size() / 280 records.
[[nodiscard]] std::vector<RecycledOrigin> ParseInfo2(std::span<const u8> bytes);

// Where a recycled file is listed below the made-up Recycle Bin folder: its original path
// without the drive (or the "\\" of a network path), split at '\' and '/', with empty and "."
// levels left out and ".." made "_..", so that no level can lead anywhere else. *levels ends
// with the file's own name. False when no level is left.
[[nodiscard]] bool RecycledLevels(std::string_view path, std::vector<std::string>* levels);

// What a recycle-bin name is: the $I record or the $R data of suffix (the text after the two
// letters, case kept), an INFO2 file, a Dc<n> data file of number n, or none of them. A
// deleted FAT entry has lost its first byte, so "_I..." and "_R..." count as well.
enum class RecycleName : u8
{
    kOther,
    kIndex, // $I...
    kData,  // $R...
    kInfo2, // INFO2
    kDc,    // Dc<n>[.ext]
};
[[nodiscard]] RecycleName ClassifyRecycleName(std::string_view name, std::string_view* suffix,
                                              u32* number);
