// Fuzzes the run-list decoder: the first 16 bytes give the attribute's first and last VCN (a
// shorter input decodes from VCN 0 with no last VCN), the rest is the list. The runs must follow
// each other from the first VCN without gap, and CNtfs::DecodeRuns must yield a prefix of them.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ntfs/Ntfs.h"
#include "ntfs/NtfsResult.h"
#include "ntfs/RunList.h"
#include "platform/Status.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    u64 firstVcn = 0;
    u64 lastVcn = kNtfsVcnUnknown;
    if (size >= 16)
    {
        std::memcpy(&firstVcn, data, 8);
        std::memcpy(&lastVcn, data + 8, 8);
        data += 16;
        size -= 16;
    }
    // An exact-size copy, so that a read past the list is caught by the sanitizer.
    const std::vector<u8> bytes(data, data + size);
    std::vector<NtfsExtent> extents;
    const u32 rc = DecodeRunList(bytes.data(), bytes.size(), firstVcn, lastVcn, &extents);
    Check(rc == kNtfsOk || rc == kNtfsCorrupt);
    u64 vcn = firstVcn;
    for (const NtfsExtent& extent : extents)
    {
        Check(extent.vcn == vcn && extent.length > 0 && (!extent.hole || extent.lcn == 0));
        Check(extent.length <= (1ull << 63) - vcn);
        vcn += extent.length;
        Check(lastVcn == kNtfsVcnUnknown || vcn - 1 <= lastVcn);
    }

    if (bytes.empty())
        return 0;
    if (firstVcn != 0 || lastVcn != kNtfsVcnUnknown)
        (void)DecodeRunList(bytes.data(), bytes.size(), &extents);
    std::vector<NtfsRun> runs;
    const u32 facade = CNtfs::DecodeRuns(bytes.data(), static_cast<int>(bytes.size()), runs);
    Check(runs.size() <= extents.size());
    for (std::size_t i = 0; i < runs.size(); ++i)
        Check(!extents[i].hole && runs[i].startCluster == extents[i].lcn &&
              runs[i].clusterCount == extents[i].length);
    Check(runs.size() == extents.size() ? facade == kOk || facade == kErrBadNtfs
                                        : facade == kErrBadNtfs);
    return 0;
}
