// The mapping pairs decoder: every field is bounded before it is read, offsets are
// sign-extended, and each run is checked before it is kept.
#include "ntfs/RunList.h"

#include <limits>

#include "ntfs/NtfsResult.h"

namespace
{
constexpr u32 kMaxFieldBytes = 8;
constexpr u64 kMaxVcn = static_cast<u64>(std::numeric_limits<s64>::max());

// The field of size bytes at p, little-endian, zero-extended.
u64 LoadUnsigned(const u8* p, u32 size)
{
    u64 v = 0;
    for (u32 k = 0; k < size; ++k)
        v |= static_cast<u64>(p[k]) << (8 * k);
    return v;
}

// The same field sign-extended from its top bit.
s64 LoadSigned(const u8* p, u32 size)
{
    u64 v = LoadUnsigned(p, size);
    if (size < kMaxFieldBytes && (p[size - 1] & 0x80) != 0)
        v |= ~0ull << (8 * size);
    return static_cast<s64>(v);
}
} // namespace

u32 DecodeRunList(const u8* bytes, std::size_t size, std::vector<NtfsExtent>* out)
{
    return DecodeRunList(bytes, size, 0, kNtfsVcnUnknown, out);
}

u32 DecodeRunList(const u8* bytes, std::size_t size, u64 firstVcn, u64 lastVcn,
                  std::vector<NtfsExtent>* out)
{
    out->clear();
    if (!bytes || firstVcn > kMaxVcn)
        return kNtfsCorrupt;
    // One past the last cluster the runs may reach.
    const u64 vcnEnd = lastVcn == kNtfsVcnUnknown || lastVcn >= kMaxVcn ? kMaxVcn : lastVcn + 1;
    u64 vcn = firstVcn;
    s64 lcn = 0; // first cluster of the last run with clusters: the base of the next offset
    std::size_t i = 0;
    // Each pair takes at least its header byte: the walk ends within size steps.
    while (i < size)
    {
        const u8 header = bytes[i];
        if (header == 0)
            return kNtfsOk;
        const u32 lengthSize = header & 0x0F;
        const u32 offsetSize = header >> 4;
        if (lengthSize == 0 || lengthSize > kMaxFieldBytes || offsetSize > kMaxFieldBytes ||
            lengthSize + offsetSize >= size - i)
            return kNtfsCorrupt;
        const u64 length = LoadUnsigned(bytes + i + 1, lengthSize);
        if (length == 0 || vcn > vcnEnd || length > vcnEnd - vcn)
            return kNtfsCorrupt;
        NtfsExtent extent;
        extent.vcn = vcn;
        extent.length = length;
        if (offsetSize == 0)
            extent.hole = true;
        else
        {
            const s64 delta = LoadSigned(bytes + i + 1 + lengthSize, offsetSize);
            // lcn is never below 0, so only a positive delta can carry the sum out of range.
            if (delta > 0 && lcn > std::numeric_limits<s64>::max() - delta)
                return kNtfsCorrupt;
            lcn += delta;
            if (lcn < 0)
                return kNtfsCorrupt;
            extent.lcn = static_cast<u64>(lcn);
        }
        out->push_back(extent);
        vcn += length;
        i += 1 + lengthSize + offsetSize;
    }
    return kNtfsCorrupt;
}
