// The NTFS volume parser, its file side: a file's attributes gathered over its base record and
// the extension records its $ATTRIBUTE_LIST names, and the layout of its data streams.
#include "ntfs/NtfsFile.h"

#include <algorithm>
#include <cstring>

#include "ntfs/AttributeLayout.h"
#include "ntfs/AttributeList.h"
#include "ntfs/Ntfs.h"
#include "ntfs/NtfsResult.h"
#include "platform/Status.h"
#include "platform/Unicode.h"

using namespace ntfs;

namespace
{
// An attribute list holds at most 256 KiB; a longer one is damage.
constexpr u64 kMaxAttributeListBytes = 256u << 10;
// Extension records read for one file at most: an attribute list of 256 KiB names fewer.
constexpr std::size_t kMaxExtensionRecords = 4096;
// NTFS compresses in units of 2^4 clusters, on volumes whose clusters hold at most 4 KiB.
constexpr u16 kCompressionShift = 4;
constexpr u64 kMaxCompressedClusterBytes = 4096;

// Walks one record's attributes up to $DATA into out; the base record also gives its
// $STANDARD_INFORMATION and $ATTRIBUTE_LIST (*list).
void WalkRecord(ByteView record, bool base, NtfsFileAttributes* out, NtfsAttribute* list)
{
    CAttributeIterator walk(record);
    NtfsAttribute attr;
    while (walk.Next(&attr) == kNtfsOk && attr.type <= kTypeData)
    {
        if (attr.type == kTypeStandardInformation && base && !out->hasStandardInfo)
        {
            out->standardInfo = attr;
            out->hasStandardInfo = true;
        }
        else if (attr.type == kTypeAttributeList && base && !out->hasAttributeList)
        {
            *list = attr;
            out->hasAttributeList = true;
        }
        else if (attr.type == kTypeFileName)
            out->fileNames.push_back(attr);
        else if (attr.type == kTypeData)
            out->datas.push_back(attr);
    }
}
} // namespace

std::string NtfsAttributeName(const NtfsAttribute& attr)
{
    const u32 units = static_cast<u32>(attr.name.Size() / 2);
    if (units == 0)
        return {};
    std::string text(std::size_t{units} * 3 + 1, '\0');
    text.resize(Utf16LeToUtf8(attr.name.Data(), units, text.data(), text.size(), false));
    return text;
}

bool NtfsStreamNameIs(const NtfsAttribute& data, const std::string& name)
{
    if (name.empty() || data.name.Size() == 0)
        return name.empty() && data.name.Size() == 0;
    return NtfsAttributeName(data) == name;
}

u32 CNtfs::ReadNonResidentValue(CDirectRW* reader, const NtfsAttribute& attr, u64 limit,
                                std::vector<u8>* out) const
{
    out->clear();
    const u64 clusterBytes = ClusterBytes();
    if (!attr.nonResident || reader == nullptr || clusterBytes == 0 || attr.dataSize > limit)
        return kNtfsCorrupt;
    std::vector<NtfsExtent> runs;
    const u32 decoded = DecodeRunList(attr.value.Data(), attr.value.Size(), &runs);
    out->assign(attr.dataSize, 0);
    u64 at = 0;
    for (const NtfsExtent& run : runs)
    {
        if (at >= out->size())
            break;
        // Clusters past the value's end are not read: no product of a damaged length wraps.
        const u64 left = out->size() - at;
        const u64 bytes = run.length > left / clusterBytes ? left : run.length * clusterBytes;
        if (!run.hole)
        {
            u32 done = 0;
            if (run.lcn > static_cast<u64>(INT64_MAX) / clusterBytes ||
                reader->ReadBytes(out->data() + at, static_cast<u32>(bytes), &done,
                                  static_cast<s64>(run.lcn * clusterBytes)) != kOk ||
                done < bytes)
                return kNtfsIoError;
        }
        at += bytes;
    }
    return decoded == kNtfsOk && at >= out->size() ? kNtfsOk : kNtfsCorrupt;
}

u32 CNtfs::GatherFile(CDirectRW* reader, CMftReader& mft, const CMftRecord& record, u64 number,
                      NtfsFileAttributes* out, GatherScratch* scratch) const
{
    out->Clear();
    NtfsAttribute list;
    WalkRecord(record.View(), true, out, &list);
    if (!out->hasAttributeList)
        return kNtfsOk;
    if (reader == nullptr)
        return kNtfsCorrupt;

    MftRecordHeader header;
    (void)record.DecodeHeader(&header);
    ByteView value = list.value;
    if (list.nonResident)
    {
        std::vector<u8>& listBytes = scratch->listBytes;
        if (ReadNonResidentValue(reader, list, kMaxAttributeListBytes, &listBytes) != kNtfsOk)
            return kNtfsCorrupt;
        value = ByteView(listBytes.data(), listBytes.size());
    }
    std::vector<NtfsAttrListEntry> entries;
    u32 rc = DecodeAttributeList(value, &entries);
    // The extension records, each once, in the order the list names them.
    std::vector<u64> numbers;
    for (const NtfsAttrListEntry& entry : entries)
    {
        if (entry.record != number &&
            std::find(numbers.begin(), numbers.end(), entry.record) == numbers.end() &&
            numbers.size() < kMaxExtensionRecords)
            numbers.push_back(entry.record);
    }
    // Views into the extension records stay valid: the vector never grows past this.
    std::vector<CMftRecord>& extensions = scratch->extensions;
    extensions.clear();
    extensions.reserve(numbers.size());
    const bool inUse = (header.flags & 1) != 0;
    for (const u64 ext : numbers)
    {
        u32 status = kOk;
        extensions.emplace_back();
        CMftRecord& extension = extensions.back();
        MftRecordHeader extHeader;
        if (ext > static_cast<u64>(INT64_MAX) ||
            mft.Read(*reader, static_cast<s64>(ext), &extension, &status) != kNtfsOk ||
            extension.DecodeHeader(&extHeader) != kNtfsOk ||
            !NtfsExtensionBelongs(extHeader.baseRecord, number, header.sequence, inUse))
        {
            // A record that cannot be read or belongs to another file adds nothing.
            extensions.pop_back();
            rc = kNtfsCorrupt;
            continue;
        }
        (void)extension.ApplyFixups();
        WalkRecord(extension.View(), false, out, &list);
    }
    return rc;
}

u32 CNtfs::ReadHeaderOf(u64 number, CMftRecord* record)
{
    if (!m_valid || !m_reader || number > static_cast<u64>(INT64_MAX))
        return kNtfsNotFound;
    u32 status = kOk;
    const u32 read = m_mft.Read(*m_reader, static_cast<s64>(number), record, &status);
    if (read != kNtfsOk)
        return read;
    MftRecordHeader header;
    return record->DecodeHeader(&header) == kNtfsOk ? kNtfsOk : kNtfsCorrupt;
}

u32 CNtfs::DescribeData(u64 number, const std::string& stream, NtfsStreamLayout* out)
{
    *out = NtfsStreamLayout{};
    CMftRecord record;
    if (const u32 read = ReadHeaderOf(number, &record); read != kNtfsOk)
        return read;
    (void)record.ApplyFixups();
    NtfsFileAttributes file;
    GatherScratch scratch;
    // An extension record that cannot be read or belongs elsewhere adds nothing: the pieces it
    // would hold are missing, which the gap between pieces shows.
    (void)GatherFile(m_reader.get(), m_mft, record, number, &file, &scratch);
    std::vector<const NtfsAttribute*> pieces;
    for (const NtfsAttribute& data : file.datas)
    {
        if (NtfsStreamNameIs(data, stream))
            pieces.push_back(&data);
    }
    // A record without an unnamed $DATA of its own has its first $DATA taken for the file's.
    if (pieces.empty() && stream.empty() && !file.hasAttributeList && !file.datas.empty())
        pieces.push_back(&file.datas.front());
    if (pieces.empty())
        return kNtfsNotFound;
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const NtfsAttribute* a, const NtfsAttribute* b)
                     { return a->lowestVcn < b->lowestVcn; });

    const NtfsAttribute& first = *pieces.front();
    out->flags = first.flags;
    if (!first.nonResident)
    {
        out->resident = true;
        out->value.assign(first.value.Data(), first.value.Data() + first.value.Size());
        out->size = first.valueLength;
        out->initializedSize = out->size;
        return kNtfsOk;
    }
    out->size = first.dataSize;
    out->initializedSize = first.initializedSize;
    out->encrypted = (first.flags & kNtfsAttrEncrypted) != 0;
    if ((first.flags & kNtfsAttrCompressedMask) != 0)
    {
        // Another unit (0 included) is damage: the data is still read in the units NTFS
        // writes, never copied as stored, and the copy is known not to be sound.
        out->compressionUnit = 1u << kCompressionShift;
        out->compressionDamaged = first.compressionUnit != kCompressionShift ||
                                  ClusterBytes() > kMaxCompressedClusterBytes;
    }
    // The pieces follow one another without a gap; the runs stop at the first that does not.
    u64 next = 0;
    for (const NtfsAttribute* piece : pieces)
    {
        if (piece->nonResident != first.nonResident || piece->lowestVcn != next)
        {
            out->complete = false;
            break;
        }
        std::vector<NtfsExtent> runs;
        const u32 rc = DecodeRunList(piece->value.Data(), piece->value.Size(), piece->lowestVcn,
                                     piece->highestVcn, &runs);
        for (const NtfsExtent& run : runs)
        {
            out->extents.push_back(run);
            next = run.vcn + run.length;
        }
        if (rc != kNtfsOk)
        {
            out->complete = false;
            break;
        }
    }
    return kNtfsOk;
}

u32 CNtfs::ReadStandardInformation(u64 number, NtfsStandardInformation* out)
{
    *out = NtfsStandardInformation{};
    CMftRecord record;
    if (const u32 read = ReadHeaderOf(number, &record); read != kNtfsOk)
        return read;
    // A record whose update sequence does not hold is torn: its times cannot be trusted.
    if (record.ApplyFixups() != kNtfsOk)
        return kNtfsCorrupt;
    // $STANDARD_INFORMATION always stands in the base record, first of its attributes.
    CAttributeIterator walk(record.View());
    NtfsAttribute attr;
    const u32 found = walk.Find(kTypeStandardInformation, &attr);
    if (found != kNtfsOk)
        return found;
    return DecodeStandardInformation(attr, out);
}
