// exFAT entry sets recognised anywhere in the heap.
#include "exfat/ExfatLooseSets.h"

#include <algorithm>
#include <utility>

#include "exfat/ExfatLayout.h"

using namespace ExfatLayout;

std::size_t ExfatLooseSets::ClusterIndex(u32 cluster) const
{
    const auto at = std::lower_bound(clusters.begin(), clusters.end(), cluster,
                                     [](const ExfatSetCluster& c, u32 n) { return c.cluster < n; });
    return at != clusters.end() && at->cluster == cluster
               ? static_cast<std::size_t>(at - clusters.begin())
               : clusters.size();
}

namespace
{
// Whether the slot at at may start a set: a File entry (live or deleted) with a plausible
// secondary count, followed by a Stream Extension of the same state. Most slots of a volume
// fail this at the first byte, so the decoder is asked only about these.
bool MayStartSet(ByteView bytes, std::size_t at)
{
    const u8 type = bytes.U8(at + kEntryType);
    if ((type | kInUse) != kTypeFile)
        return false;
    const u32 secondary = bytes.U8(at + kSecondaryCount);
    if (secondary < kMinSecondaryCount || secondary > kMaxSecondaryCount)
        return false;
    const u8 stream = bytes.U8(at + kEntrySize + kEntryType);
    return stream == (kTypeStream & ~(type & kInUse ? 0 : kInUse));
}
} // namespace

void FindExfatLooseSets(ByteView bytes, std::size_t clusterBytes, u32 cluster,
                        ExfatLooseSets* found)
{
    if (clusterBytes < kEntrySize || bytes.Size() < clusterBytes)
        return;
    const std::size_t before = found->sets.size();
    for (std::size_t at = 0; at + kEntrySize <= clusterBytes;)
    {
        if (!MayStartSet(bytes, at))
        {
            at += kEntrySize;
            continue;
        }
        ExfatEntrySet set;
        if (DecodeExfatEntrySet(bytes.Sub(at, bytes.Size() - at), &set) !=
                ExfatSetResult::kDecoded ||
            !set.checksumOk)
        {
            at += kEntrySize;
            continue;
        }
        const std::size_t entries = set.entries;
        found->sets.push_back(ExfatLooseSet{std::move(set), cluster, static_cast<u32>(at)});
        at += entries * kEntrySize;
    }
    if (found->sets.size() == before)
        return;
    found->clusters.push_back(ExfatSetCluster{
        cluster, static_cast<u32>(before), static_cast<u32>(found->sets.size() - before),
        bytes.U8(clusterBytes - kEntrySize + kEntryType) == kTypeEndOfDirectory});
}
