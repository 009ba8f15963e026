// Fuzzes the finding aids over hostile finds: the preview's read through any stream description
// (extents, holes, compression units, sizes) of a small volume must stay inside the limit and
// the volume, and its text and hex renderings must take any bytes; the filter must take any
// name and pattern.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "catalog/Catalog.h"
#include "catalog/FindFilter.h"
#include "catalog/VolumeEngine.h"
#include "disk/Mem_RW.h"
#include "platform/Status.h"
#include "recovery/PreviewReader.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

class FuzzEngine final : public IVolumeEngine
{
public:
    bool Open(VolumeEntry&) const override { return true; }
    u32 Search(CCatalog&, VolumeEntry&) const override { return 0; }
    u32 LoadAllocation(VolumeEntry&, AllocationMap*) const override { return kErrUnsupported; }
    void EndSearch(VolumeEntry&) const override {}
    u64 ClusterBytes(const VolumeEntry&) const override { return stream.clusterBytes; }
    CDirectRW* DataReader(VolumeEntry&) const override { return reader; }
    u32 DescribeStream(VolumeEntry&, const FoundItem&, DataStream* out) const override
    {
        *out = stream;
        return kOk;
    }
    u32 ClusterInUse(VolumeEntry&, u64, bool*) const override { return kErrUnsupported; }
    bool FoldersContiguous() const override { return true; }
    void ReleaseItems(VolumeEntry&) const override {}

    DataStream stream;
    CDirectRW* reader = nullptr;
};

template <typename T> T Take(const std::uint8_t*& data, std::size_t& size)
{
    T value{};
    const std::size_t n = size < sizeof value ? size : sizeof value;
    if (n == 0)
        return value;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}
} // namespace

// Input: u64 size, u64 limit (cut to 1 MiB), u8 cluster shift, u8 flags, u16 unit, u64
// initialized size, u8 extent count N, N x (u64 vcn, u64 lcn, u64 length, u8 hole), u8 name
// length, the name, the pattern; the rest is the volume (at most 64 KiB).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzEngine engine;
    DataStream& s = engine.stream;
    s.size = Take<u64>(data, size);
    const u64 limit = Take<u64>(data, size) % (1u << 20);
    s.clusterBytes = u64{1} << (Take<u8>(data, size) % 17);
    const u8 flags = Take<u8>(data, size);
    s.resident = (flags & 1) != 0;
    s.compressionUnit = Take<u16>(data, size) % 64;
    s.initializedSize = Take<u64>(data, size);
    for (u8 n = Take<u8>(data, size) % 16; n > 0 && size > 0; --n)
    {
        StreamExtent e;
        e.vcn = Take<u64>(data, size);
        e.lcn = Take<u64>(data, size);
        e.length = Take<u64>(data, size);
        e.hole = (Take<u8>(data, size) & 1) != 0;
        s.extents.push_back(e);
    }
    const std::size_t nameLength = std::min<std::size_t>(Take<u8>(data, size), size);
    const std::string name(reinterpret_cast<const char*>(data), nameLength);
    data += nameLength;
    size -= nameLength;
    const std::size_t patternLength = std::min<std::size_t>(size, 32);
    const std::string pattern(reinterpret_cast<const char*>(data), patternLength);
    data += patternLength;
    size -= patternLength;
    if (s.resident)
        s.residentBytes.assign(data, data + std::min<std::size_t>(size, 4096));
    CMem_RW reader(std::vector<u8>(data, data + std::min<std::size_t>(size, 64u << 10)));
    engine.reader = &reader;
    VolumeEntry volume;
    volume.engine = &engine;
    FoundItem item;
    item.name = name;
    std::vector<u8> bytes;
    (void)ReadPreview(volume, item, limit, &bytes);
    Check(bytes.size() <= limit && bytes.size() <= s.size);
    (void)LooksLikeText(bytes);
    Check(PreviewText(bytes).size() <= 2 * bytes.size());
    (void)HexDump(bytes);

    FindFilter filter;
    filter.SetName(pattern);
    filter.SetType(static_cast<FindType>(flags % kFindTypeCount));
    (void)filter.Matches(item);
    (void)filter.TypeOf(name);
    return 0;
}
