// Carving's header search over arbitrary bytes: MatchHeader at every offset, IsTextCluster on
// every cluster, the scan of the bytes as a volume's blocks of any size, and the gap search
// over the bytes as free clusters with a validator that reads them.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "carve/GapSearch.h"
#include "carve/HeaderSearch.h"

namespace
{
constexpr std::size_t kMaxInput = std::size_t{64} * 1024;
constexpr u64 kCluster = 512;

// The input's bytes as clusters 2 onward; a cluster whose first byte is 0xEE is not free.
class BytesSpace final : public ICarveSpace
{
public:
    explicit BytesSpace(std::span<const u8> bytes) : m_bytes(bytes) {}
    [[nodiscard]] u64 ClusterBytes() const override { return kCluster; }
    [[nodiscard]] u64 FirstCluster() const override { return 2; }
    [[nodiscard]] u64 EndCluster() const override { return 2 + m_bytes.size() / kCluster; }
    [[nodiscard]] bool Free(u64 cluster) const override
    {
        if (cluster < 2 || cluster >= EndCluster())
            std::abort(); // the gap search asks only of the volume's clusters
        return m_bytes[(cluster - 2) * kCluster] != 0xEE;
    }
    [[nodiscard]] std::size_t ReadClusters(u64 cluster, u64 count, std::span<u8> out) override
    {
        if (cluster < 2 || cluster >= EndCluster() || out.size() < count * kCluster)
            std::abort();
        const std::size_t n =
            static_cast<std::size_t>(std::min<u64>(count, EndCluster() - cluster) * kCluster);
        std::memcpy(out.data(), m_bytes.data() + (cluster - 2) * kCluster, n);
        return n;
    }

private:
    std::span<const u8> m_bytes;
};

// Valid up to the first zero byte when a 0xFF byte comes before it, else damaged there.
ContentCheck CheckUntilZero(IContentSource& source)
{
    ContentCheck check;
    std::vector<u8> bytes(static_cast<std::size_t>(std::min<u64>(source.Size(), kMaxInput)));
    const std::size_t got = source.Read(0, bytes);
    if (got > bytes.size())
        std::abort();
    const auto zero = std::find(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(got), 0);
    check.validBytes = static_cast<u64>(zero - bytes.begin());
    const bool ended = std::find(bytes.begin(), zero, 0xFF) != zero && zero != bytes.end();
    check.verdict = ended ? FindContent::kValid : FindContent::kDamaged;
    check.end = ended ? check.validBytes : 0;
    return check;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    // A copy of exactly size bytes, so that any read past them is caught.
    const std::vector<u8> bytes(data, data + size);
    const std::span<const u8> view(bytes);
    for (std::size_t i = 0; i < size; ++i)
        if (MatchHeader(view.subspan(i, std::min(kHeaderBytes, size - i))) == CarveType::kText)
            std::abort();
    for (std::size_t i = 0; i < size; i += kCluster)
        (void)IsTextCluster(view.subspan(i, std::min<std::size_t>(kCluster, size - i)));

    // The scan over blocks whose size the first byte picks.
    const std::size_t block = size == 0 ? 1 : 1 + bytes[0] % 8 * 700;
    CarveScan scan(100, 2, 2 + size / kCluster, kCluster);
    for (std::size_t off = 0; off < size; off += block)
        scan.Scan(off, view.subspan(off, std::min(block, size - off)));
    u64 last = 0;
    for (const CarveCandidate& c : scan.Candidates())
    {
        if (c.cluster < 2 || c.cluster >= 2 + size / kCluster || c.cluster < last ||
            c.type == CarveType::kNone)
            std::abort();
        last = c.cluster + 1;
    }

    BytesSpace space(view);
    GapLimits limits;
    limits.maxTries = 64;
    for (u64 first = 2; first < space.EndCluster() && first < 6; ++first)
    {
        const CarveLayout layout = LayOutWith(CheckUntilZero, first, space, limits, 0, 8192);
        u64 clusters = 0;
        for (const CarveRun& run : layout.runs)
            clusters += run.length;
        if (clusters * kCluster < layout.size || layout.size > 8192)
            std::abort();
    }
    return 0;
}
