// One MFT record: its header decoded through a bounded view, and its update sequence checked in
// every stride before any stride is patched.
#include "ntfs/MftRecord.h"

#include <algorithm>
#include <cstring>

#include "ntfs/MftRecordLayout.h"
#include "ntfs/NtfsResult.h"

using namespace ntfs;

u32 DecodeMftRecordHeader(ByteView bytes, MftRecordHeader* out)
{
    *out = MftRecordHeader{};
    if (!bytes.Has(0, kRecHeaderBytes) || bytes.U32(kRecSignature) != kFileSignature)
        return kNtfsCorrupt;
    out->usaOffset = bytes.U16(kRecUsaOffset);
    out->usaCount = bytes.U16(kRecUsaCount);
    out->lsn = bytes.U64(kRecLsn);
    out->sequence = bytes.U16(kRecSequence);
    out->linkCount = bytes.U16(kRecLinkCount);
    out->attrOffset = bytes.U16(kRecAttrOffset);
    out->flags = bytes.U16(kRecFlags);
    out->bytesInUse = bytes.U32(kRecBytesInUse);
    out->bytesAllocated = bytes.U32(kRecBytesAlloc);
    out->baseRecord = bytes.U64(kRecBaseRecord);
    out->nextAttrId = bytes.U16(kRecNextAttrId);
    out->reserved2A = bytes.U16(kRecReserved2A);
    out->recordNumber = bytes.U32(kRecRecordNumber);
    return kNtfsOk;
}

u32 ApplyUpdateSequence(u8* bytes, std::size_t size)
{
    if (!bytes || size < kRecHeaderBytes)
        return kNtfsCorrupt;
    const u32 offset = LoadLe16(bytes + kRecUsaOffset);
    const u32 count = LoadLe16(bytes + kRecUsaCount);
    // The array sits in the header, ahead of the first stride's last word, on a word boundary;
    // it names at least one stride, and no more than the record holds. A record smaller than a
    // stride has none: its array holds the update sequence number alone.
    const u32 least = size < kUpdateStride ? 1 : 2;
    if (offset % 2 != 0 || count < least || offset + 2 * count > kUpdateStride - 2 ||
        offset + 2 * count > size)
        return kNtfsCorrupt;
    if (count - 1 > size / kUpdateStride)
        return kNtfsCorrupt;
    // Writers never use 0 as the update sequence number; a record that holds it was never
    // protected by this array (PatchUpdateSequence refuses it).
    u16 entries[kUpdateStride / 2]; // the array ends inside the first stride
    for (u32 i = 0; i < count; ++i)
        entries[i] = LoadLe16(bytes + offset + std::size_t{2} * i);
    return PatchUpdateSequence(bytes, size, entries, count, true) ? kNtfsOk : kNtfsCorrupt;
}

bool PatchUpdateSequence(u8* bytes, std::size_t size, const u16* entries, std::size_t count,
                         bool apply)
{
    if (!bytes || !entries || count < 1 || entries[0] == 0)
        return false;
    const std::size_t strides = std::min(count - 1, size / kUpdateStride);
    auto last = [bytes](std::size_t k) { return bytes + (k + 1) * kUpdateStride - 2; };
    if (!apply)
    {
        for (std::size_t k = 0; k < strides; ++k)
            StoreLe16(last(k), entries[0]);
        return true;
    }
    // Every stride is checked before any is patched: a torn record stays as read.
    for (std::size_t k = 0; k < strides; ++k)
    {
        if (LoadLe16(last(k)) != entries[0])
            return false;
    }
    for (std::size_t k = 0; k < strides; ++k)
        StoreLe16(last(k), entries[k + 1]);
    return true;
}

void CMftRecord::Assign(const u8* bytes, std::size_t size)
{
    Detach();
    m_bytes.assign(bytes, bytes + size);
    m_fixed = false;
}

u8* CMftRecord::Fill(std::size_t size)
{
    Detach();
    m_bytes.resize(size);
    m_fixed = false;
    return m_bytes.data();
}

void CMftRecord::Attach(u8* bytes, std::size_t size)
{
    m_attached = bytes;
    m_attachedSize = bytes != nullptr ? size : 0;
    m_fixed = false;
}

void CMftRecord::Detach()
{
    if (m_attached == nullptr)
        return;
    m_attached = nullptr;
    m_attachedSize = 0;
    m_bytes.clear();
    m_fixed = false;
}

u32 CMftRecord::DecodeHeader(MftRecordHeader* out) const
{
    return DecodeMftRecordHeader(View(), out);
}

u32 CMftRecord::ApplyFixups()
{
    if (m_fixed)
        return kNtfsOk;
    const u32 rc = ApplyUpdateSequence(m_attached ? m_attached : m_bytes.data(), Size());
    m_fixed = rc == kNtfsOk;
    return rc;
}
