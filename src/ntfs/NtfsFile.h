// One file's attributes gathered over its base record and, through its $ATTRIBUTE_LIST, over
// the extension records that name it as their base; and the layout of one of its data streams
// as the recovery reads it.
#pragma once

#include <string>
#include <vector>

#include "ntfs/AttributeIterator.h"
#include "ntfs/RunList.h"
#include "platform/Types.h"

// The attributes a parse reads, in the order met: the base record's first, then each extension
// record's in the order the attribute list names them. Views point into the records they came
// from, which the gatherer keeps until the next gathering.
struct NtfsFileAttributes
{
    NtfsAttribute standardInfo;
    bool hasStandardInfo = false;
    std::vector<NtfsAttribute> fileNames;
    std::vector<NtfsAttribute> datas; // every $DATA piece, named or not
    bool hasAttributeList = false;

    void Clear()
    {
        hasStandardInfo = false;
        fileNames.clear();
        datas.clear();
        hasAttributeList = false;
    }
};

// Attribute flags of a $DATA attribute.
inline constexpr u16 kNtfsAttrCompressedMask = 0x00FF;
inline constexpr u16 kNtfsAttrEncrypted = 0x4000;
inline constexpr u16 kNtfsAttrSparse = 0x8000;

// Where one data stream of a file lies.
struct NtfsStreamLayout
{
    bool resident = false;
    std::vector<u8> value; // resident: the value, as the record holds it after its fixups
    u64 size = 0;
    u64 initializedSize = 0; // bytes past it read as zeros
    u16 flags = 0;           // the first piece's attribute flags
    u32 compressionUnit = 0; // clusters of one compression unit; 0 when not compressed
    bool encrypted = false;
    std::vector<NtfsExtent> extents; // every piece's runs in VCN order
    bool complete = true; // false when a piece is missing or a run list is damaged: extents
                          // hold the runs in front of the gap
    // Compressed, but its unit field is not the one NTFS writes (compressionUnit then holds the
    // one NTFS writes).
    bool compressionDamaged = false;
};

// True when the UTF-16LE name of a $DATA attribute equals the UTF-8 name (empty: unnamed).
[[nodiscard]] bool NtfsStreamNameIs(const NtfsAttribute& data, const std::string& name);
// The UTF-8 text of an attribute's UTF-16LE name.
[[nodiscard]] std::string NtfsAttributeName(const NtfsAttribute& attr);
