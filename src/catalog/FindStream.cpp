#include "catalog/FindStream.h"

#include <utility>
#include <vector>

namespace
{
u32 DescribeCarved(const VolumeEntry& volume, const FoundItem& item, DataStream* stream)
{
    std::vector<StreamExtent> extents = std::move(stream->extents);
    extents.clear();
    *stream = DataStream{};
    stream->extents = std::move(extents);
    stream->size = item.size;
    const CarvedFiles& carved = volume.carved;
    if (item.runsAt >= carved.files.size() || carved.clusterBytes == 0)
        return kStreamUnreadable;
    stream->clusterBytes = carved.clusterBytes;
    stream->firstLcn = carved.firstLcn;
    stream->dataStart = carved.dataStart;
    u64 vcn = 0;
    for (const CarvedExtent& run : carved.files[item.runsAt].extents)
    {
        stream->extents.push_back(StreamExtent{vcn, run.lcn, run.length, false});
        vcn += run.length;
    }
    return stream->ReadableBytes() < item.size ? kStreamClipped : 0;
}
} // namespace

u32 DescribeFind(VolumeEntry& volume, const FoundItem& item, DataStream* stream)
{
    if (item.carved != 0)
        return DescribeCarved(volume, item, stream);
    if (volume.engine == nullptr)
        return kStreamUnreadable;
    return volume.engine->DescribeStream(volume, item, stream);
}
