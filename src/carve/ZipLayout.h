// ZIP's on-disk records and what the ZIP validator's parts share: the entries the central
// directory lists, the walks that find its end record, and what the names and contents of the
// entries tell of the file (the format built on ZIP, a title).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "carve/CarveTypes.h"
#include "carve/ContentSource.h"
#include "carve/DocRead.h"
#include "platform/Types.h"

// Local file header.
inline constexpr u32 kLocalSig = 0x04034b50;
inline constexpr std::size_t kLocalSize = 30;
inline constexpr std::size_t kLocFlags = 0x06;    // general purpose bit flag
inline constexpr std::size_t kLocMethod = 0x08;   // compression method
inline constexpr std::size_t kLocCrc = 0x0E;      // crc-32
inline constexpr std::size_t kLocCsize = 0x12;    // compressed size
inline constexpr std::size_t kLocUsize = 0x16;    // uncompressed size
inline constexpr std::size_t kLocNameLen = 0x1A;  // file name length
inline constexpr std::size_t kLocExtraLen = 0x1C; // extra field length
// Central directory file header.
inline constexpr u32 kCentralSig = 0x02014b50;
inline constexpr std::size_t kCentralSize = 46;
inline constexpr std::size_t kCenFlags = 0x08;
inline constexpr std::size_t kCenMethod = 0x0A;
inline constexpr std::size_t kCenCrc = 0x10;
inline constexpr std::size_t kCenCsize = 0x14;
inline constexpr std::size_t kCenUsize = 0x18;
inline constexpr std::size_t kCenNameLen = 0x1C;
inline constexpr std::size_t kCenExtraLen = 0x1E;
inline constexpr std::size_t kCenCommentLen = 0x20;
inline constexpr std::size_t kCenOffset = 0x2A; // relative offset of local header
// Data descriptor, end of central directory record, ZIP64 record and locator.
inline constexpr u32 kDescriptorSig = 0x08074b50;
inline constexpr u32 kEocdSig = 0x06054b50;
inline constexpr std::size_t kEocdSize = 22;
inline constexpr std::size_t kEocdCommentLen = 0x14;
inline constexpr u32 kZip64EocdSig = 0x06064b50;
inline constexpr u32 kZip64LocatorSig = 0x07064b50;
inline constexpr std::size_t kZip64LocatorSize = 20;
inline constexpr u16 kFlagEncrypted = 0x0001;
inline constexpr u16 kFlagDescriptor = 0x0008;
inline constexpr u16 kMethodStored = 0;
inline constexpr u16 kMethodDeflate = 8;
inline constexpr u64 kZipNoEocd = ~u64{0};

enum class ZipData : u8
{
    kBad = 0,      // missing, cut, or its CRC-32 does not hold
    kGood,         // its CRC-32 holds
    kUnverifiable, // encrypted, a method zlib does not know, or past the inflate budget
};

// An entry as the central directory lists it, and what its check found.
struct ZipEntry
{
    u64 offset = 0; // of its local header
    u64 end = 0;    // past its data (and data descriptor)
    u64 csize = 0;
    u64 usize = 0;
    u32 crc = 0;
    u16 flags = 0;
    u16 method = 0;
    bool zip64 = false;
    ZipData data = ZipData::kBad;
};

// What the names and contents of the entries tell.
struct ZipTraits
{
    std::string mimetype; // of a "mimetype" entry stored first
    bool contentTypes = false;
    bool word = false;
    bool xl = false;
    bool ppt = false;
    std::string title; // raw, cleaned by the caller
};

// The end record's offset found by walking the local headers from the start and then the
// central directory; kZipNoEocd when the walk breaks.
[[nodiscard]] u64 ZipFindEocdForward(IContentSource& source, InflateBudget* budget);
// The last end record in the last 64 KiB of Size() whose central directory ends where it
// starts; kZipNoEocd when there is none.
[[nodiscard]] u64 ZipFindEocdBackward(IContentSource& source);
// The first end record from the start on that fits, as ZipFindEocdBackward takes them: for a
// file whose local entries cannot be stepped over (stored entries of unknown length, ZIP64
// sizes) and that other bytes follow (a carved file's source runs on past its end).
[[nodiscard]] u64 ZipFindEocdScan(IContentSource& source);
// Bytes from the start whose local entries hold (sizes in their headers, CRC-32 checked), for
// a file whose central directory cannot be reached.
[[nodiscard]] u64 ZipForwardVouched(IContentSource& source, InflateBudget* budget);

void ZipNoteName(std::string_view name, ZipTraits* traits);
[[nodiscard]] bool ZipWantsContent(std::string_view name);
void ZipNoteContent(std::string_view name, const std::string& content, bool first,
                    ZipTraits* traits);
[[nodiscard]] CarveType ZipRefinedType(const ZipTraits& traits);
// The text of the first <dc:title> element in xml, entities decoded; empty when none.
[[nodiscard]] std::string XmlDcTitle(std::string_view xml);
