// The gap search: a carved file's clusters from its first on, contiguous while its validator
// agrees, and where it breaks, the continuation among the free clusters after the break that
// carries the validation furthest (one gap, then a second).
#include "carve/GapSearch.h"

#include <algorithm>

#include "carve/HeaderSearch.h"

namespace
{
constexpr u64 kScreenClusters = 4; // clusters past the junction a candidate is screened on
// Bytes past the junction a candidate is screened on at least: a validator vouches for its
// bytes only up to a margin before where it stopped (a JPEG's 4 KiB), so a screening of small
// clusters must reach past that margin to tell a continuation from none.
constexpr u64 kScreenBytes = 16u << 10;
constexpr std::size_t kFullChecks = 4; // candidates validated in full after the screening
constexpr std::size_t kMostTies = 64;  // and at most this many that screened as well as the best
// Clusters past a continuation that held but did not validate in full that the others at
// its junction are looked for in.
constexpr u64 kAfterHeld = 64;
constexpr u64 kBackoff = 2; // clusters before the break the junction may lie at
// Clusters past the cluster holding the break a junction is tried at, at most: as far as the
// validator says the break may reach (ContentCheck::breakReach).
constexpr u64 kForwardClusters = 64;

using Runs = std::vector<CarveRun>;

// Clusters of cb bytes that hold bytes (without overflow for any bytes).
constexpr u64 CeilDiv(u64 bytes, u64 cb)
{
    return bytes / cb + (bytes % cb != 0 ? 1 : 0);
}

// Clusters past the junction a candidate is screened on.
constexpr u64 ScreenWindow(u64 cb)
{
    return std::max(kScreenClusters, CeilDiv(kScreenBytes, cb) + 1);
}

u64 ClusterCount(const Runs& runs)
{
    u64 count = 0;
    for (const CarveRun& run : runs)
        count += run.length;
    return count;
}

// The volume cluster of the file's cluster index (index < ClusterCount(runs)).
u64 ClusterAt(const Runs& runs, u64 index)
{
    for (const CarveRun& run : runs)
    {
        if (index < run.length)
            return run.first + index;
        index -= run.length;
    }
    return 0;
}

// The first count clusters of runs.
Runs Prefix(const Runs& runs, u64 count)
{
    Runs out;
    for (const CarveRun& run : runs)
    {
        if (count == 0)
            break;
        out.push_back({run.first, std::min(run.length, count)});
        count -= out.back().length;
    }
    return out;
}

void Append(Runs& runs, u64 cluster)
{
    if (!runs.empty() && runs.back().first + runs.back().length == cluster)
        ++runs.back().length;
    else
        runs.push_back({cluster, 1});
}

struct Tried
{
    Runs runs;
    ContentCheck check;
};

// A layout that validates beats one that does not; else the one that validated further.
bool Better(const Tried& a, const Tried& b)
{
    const bool aValid = a.check.verdict == FindContent::kValid;
    const bool bValid = b.check.verdict == FindContent::kValid;
    if (aValid != bValid)
        return aValid;
    return !aValid && a.check.validBytes > b.check.validBytes;
}

// The progress of a continuation that validates: more than any that does not.
constexpr u64 kValidProgress = ~u64{0} >> 1;

// A continuation tried at a junction: clusters from first on (piece 0), or pieces of piece
// clusters with gap clusters between them.
struct Continuation
{
    u64 first = 0;
    u64 piece = 0;
    u64 gap = 0;
    u64 progress = 0;  // bytes validated past the junction on the screening
    bool held = false; // it held to the end of the screening, as far as the validator tells
};

// A continuation that validates screens better than one that held to the end of the
// screening, which screens better than one that broke; among those that broke, the one that
// went further is better. Those that held are equals: where a validator places a break inside
// its margin says nothing of which continuation is the file's.
int Rank(const Continuation& next)
{
    return next.held ? (next.progress == kValidProgress ? 2 : 1) : 0;
}

bool ScreensBetter(const Continuation& a, const Continuation& b)
{
    if (Rank(a) != Rank(b))
        return Rank(a) > Rank(b);
    return Rank(a) == 0 && a.progress > b.progress;
}

bool ScreensAsWell(const Continuation& a, const Continuation& b)
{
    return !ScreensBetter(b, a);
}

class Search
{
public:
    Search(const ContentValidator& validate, ICarveSpace& space, const GapLimits& limits,
           u64 limitBytes, const ContinuationFilter& mayContinue)
        : m_validate(validate), m_space(space), m_limits(limits), m_cb(space.ClusterBytes()),
          m_limitBytes(limitBytes), m_maxClusters(CeilDiv(limitBytes, m_cb)),
          m_mayContinue(mayContinue)
    {
    }

    [[nodiscard]] u64 ClusterBytes() const { return m_cb; }
    [[nodiscard]] u64 MaxClusters() const { return m_maxClusters; }
    [[nodiscard]] bool Exhausted() const { return m_tries >= m_limits.maxTries; }
    [[nodiscard]] u64 Bytes(const Runs& runs) const
    {
        return std::min(ClusterCount(runs) * m_cb, m_limitBytes);
    }

    ContentCheck Check(const Runs& runs)
    {
        ++m_tries;
        LayoutSource source(m_space, runs, Bytes(runs));
        return m_validate(source);
    }

    // Adds free clusters from cluster on while the layout stays within total clusters.
    void Extend(Runs& runs, u64 cluster, u64 total) const
    {
        for (u64 count = ClusterCount(runs);
             count < total && cluster < m_space.EndCluster() && m_space.Free(cluster);
             ++count, ++cluster)
            Append(runs, cluster);
    }

    // Adds the clusters of next from its first on (pieces and gaps when it has a piece).
    void Continue(Runs& runs, const Continuation& next, u64 total) const
    {
        if (next.piece == 0)
        {
            Extend(runs, next.first, total);
            return;
        }
        u64 count = ClusterCount(runs);
        for (u64 at = next.first; count < total; at += next.piece + next.gap)
            for (u64 k = 0; k < next.piece; ++k, ++count)
            {
                const u64 cluster = at + k;
                if (count >= total || cluster >= m_space.EndCluster() || !m_space.Free(cluster))
                    return;
                Append(runs, cluster);
            }
    }

    // True when cluster may continue a file: free, no other file's header, not all zeros.
    bool MayContinue(u64 cluster)
    {
        if (!m_space.Free(cluster))
            return false;
        m_scratch.resize(static_cast<std::size_t>(m_cb));
        const std::size_t got = m_space.ReadClusters(cluster, 1, m_scratch);
        if (got < m_scratch.size())
            return false;
        if (MatchHeader(m_scratch) != CarveType::kNone)
            return false;
        if (m_mayContinue && !m_mayContinue(m_scratch))
            return false;
        return std::any_of(m_scratch.begin(), m_scratch.end(), [](u8 c) { return c != 0; });
    }

    // The bytes of the file's last clusters up to held, without the zeros they end with.
    u64 TrimZeros(const Runs& runs, u64 held)
    {
        m_scratch.resize(static_cast<std::size_t>(m_cb));
        for (u64 index = CeilDiv(held, m_cb); index-- > 0;)
        {
            const std::size_t got = m_space.ReadClusters(ClusterAt(runs, index), 1, m_scratch);
            const std::size_t bytes = std::min<std::size_t>(
                got, static_cast<std::size_t>(std::min(m_cb, held - index * m_cb)));
            for (std::size_t i = bytes; i-- > 0;)
                if (m_scratch[i] != 0)
                    return index * m_cb + i + 1;
        }
        return 0;
    }

    // The bytes of the layout up to held that come before the next cluster where a header
    // begins (a type no validator knows ends where the next file begins).
    u64 BeforeNextHeader(const Runs& runs, u64 held)
    {
        const u64 clusters = CeilDiv(held, m_cb);
        m_scratch.resize(static_cast<std::size_t>(m_cb));
        for (u64 index = 1; index < clusters; ++index)
        {
            const std::size_t got = m_space.ReadClusters(ClusterAt(runs, index), 1, m_scratch);
            if (MatchHeader(std::span<const u8>(m_scratch).first(
                    std::min(got, m_scratch.size()))) != CarveType::kNone)
                return index * m_cb;
        }
        return held;
    }

    [[nodiscard]] const GapLimits& Limits() const { return m_limits; }
    [[nodiscard]] u64 EndCluster() const { return m_space.EndCluster(); }

private:
    const ContentValidator& m_validate;
    ICarveSpace& m_space;
    const GapLimits& m_limits;
    u64 m_cb;
    u64 m_limitBytes;
    u64 m_maxClusters;
    const ContinuationFilter& m_mayContinue;
    u32 m_tries = 0;
    std::vector<u8> m_scratch;
};

// Screens next on a layout cut window clusters past the junction: sets its progress, the bytes
// it validated past the junction (0 when no further than floor, the layout before), and
// whether it held to the end of the screening (the break, if any, may lie in its last cluster).
void Screen(Search& search, const Runs& prefix, Continuation& next, u64 window, u64 floor)
{
    Runs screen = prefix;
    const u64 kept = ClusterCount(prefix);
    search.Continue(screen, next, std::min(kept + window, search.MaxClusters()));
    const ContentCheck check = search.Check(screen);
    if (check.verdict == FindContent::kValid)
    {
        next.progress = kValidProgress;
        next.held = true;
        return;
    }
    const u64 junction = kept * search.ClusterBytes();
    next.progress =
        check.validBytes > floor && check.validBytes > junction ? check.validBytes - junction : 0;
    next.held = next.progress != 0 &&
                (check.ranOut || check.validBytes + search.ClusterBytes() >= search.Bytes(screen));
}

// Validates the first kept clusters of runs followed by next in full; keeps the layout in best
// when it is better. Returns the bytes it validated (0 when no try was left).
u64 Validate(Search& search, const Runs& runs, u64 kept, const Continuation& next, Tried& best)
{
    if (search.Exhausted())
        return 0;
    Tried tried{Prefix(runs, kept), {}};
    search.Continue(tried.runs, next, search.MaxClusters());
    tried.check = search.Check(tried.runs);
    const u64 validated = tried.check.validBytes;
    if (Better(tried, best))
        best = std::move(tried);
    return validated;
}

// Validates the continuations found at junction kept in full, and the same pieces and gaps
// repeated where one broke again after whole clusters. True when best is valid.
bool TryJunction(Search& search, const Tried& current, u64 kept,
                 const std::vector<Continuation>& found, Tried& best)
{
    for (const Continuation& next : found)
    {
        const u64 validated = Validate(search, current.runs, kept, next, best);
        if (best.check.verdict == FindContent::kValid)
            return true;
        const u64 lastKept = ClusterAt(current.runs, kept - 1);
        const u64 junction = kept * search.ClusterBytes();
        const u64 piece = validated > junction ? (validated - junction) / search.ClusterBytes() : 0;
        if (next.piece != 0 || piece == 0 || next.first == lastKept + 1)
            continue;
        const Continuation stride{next.first, piece, next.first - lastKept - 1, 0};
        Validate(search, current.runs, kept, stride, best);
        if (best.check.verdict == FindContent::kValid)
            return true;
    }
    return false;
}

// The continuations of the file after its first kept clusters, nearest first. One that held
// to the end of its screening is validated in full at once: the nearest that validates is the
// file's, and the search for it ends there (true; best is then valid). The others that carried
// the validation past the junction are left in found, best first, at most kFullChecks (and
// the ties of the best), to be validated in full after; held tells whether any held.
bool ScreenJunction(Search& search, const Tried& current, u64 kept, Tried& best,
                    std::vector<Continuation>& found, bool& held)
{
    const Runs& runs = current.runs;
    const u64 floor = current.check.validBytes;
    const Runs prefix = Prefix(runs, kept);
    const u64 cb = search.ClusterBytes();
    const u64 total = ClusterCount(runs);
    const u64 lastKept = ClusterAt(runs, kept - 1);
    u64 end = std::min(search.EndCluster(), lastKept + search.Limits().maxGap + 2);
    const u64 window = ScreenWindow(cb);
    std::size_t full = 0;
    for (u64 c = lastKept + 1; c < end && full < kFullChecks && !search.Exhausted(); ++c)
    {
        // The layout as it was continues at ClusterAt(runs, kept): tried already.
        if ((kept < total && c == ClusterAt(runs, kept)) || !search.MayContinue(c))
            continue;
        Continuation next{c, 0, 0, 0, false};
        Screen(search, prefix, next, window, floor);
        const u64 piece = next.progress / cb;
        if (!next.held && piece >= 1 && c > lastKept + 1 && !search.Exhausted())
        {
            // Whole clusters fit and then the file broke again: files written side by side,
            // a piece of each in turn. Try the pieces and gaps repeated.
            Continuation stride{c, piece, c - lastKept - 1, 0, false};
            Screen(search, prefix, stride, std::max(window, 3 * piece), floor);
            if (ScreensBetter(stride, next))
                next = stride;
        }
        if (next.held)
        {
            // Continuations that held are equals, however near the screening's end each one's
            // break was placed: a validator that vouches for its bytes only up to a margin
            // before where it stopped cannot rank them (a photo's data and another photo's,
            // decoded in step for a while).
            held = true;
            ++full;
            if (TryJunction(search, current, kept, {next}, best))
                return true;
            // The file's own continuation lies near the first that held, if that one is not it
            // (a photo's data decoded in step for a while): the search goes no further.
            end = std::min(end, c + kAfterHeld + 1);
        }
        else if (next.progress != 0)
            found.push_back(next);
    }
    std::stable_sort(found.begin(), found.end(), ScreensBetter);
    // Every one that went as far as the best is validated in full as well.
    std::size_t keep = kFullChecks;
    while (keep < found.size() && keep < kMostTies && ScreensAsWell(found[keep], found[0]))
        ++keep;
    if (found.size() > keep)
        found.resize(keep);
    return false;
}

// The junctions tried for a break in cluster broken of a layout of total clusters: the
// cluster holding the break, then those after it the file may still own (a validator places a
// break at or before where the file stopped holding), then a cluster or two before it (one
// that notices a break late).
std::vector<u64> Junctions(u64 broken, u64 total, u64 cb, u64 reach)
{
    std::vector<u64> out{broken};
    const u64 forward = std::min(CeilDiv(reach, cb), kForwardClusters);
    for (u64 k = broken + 1; k <= total && k <= broken + forward; ++k)
        out.push_back(k);
    for (u64 k = broken - 1; k >= 1 && k + kBackoff >= broken; --k)
        out.push_back(k);
    return out;
}

// One more gap in current's layout where its validation broke: each junction the break
// allows, the best continuations there validated in full.
Tried BridgeGap(Search& search, const Tried& current)
{
    const u64 total = ClusterCount(current.runs);
    const u64 broken = std::clamp<u64>(current.check.validBytes / search.ClusterBytes(), 1, total);
    if (broken == total && total >= search.MaxClusters())
        return current; // it broke where its cap stops it: nothing may follow
    Tried best = current;
    const u64 reach = current.check.breakReach;
    std::vector<u64> junctions = Junctions(broken, total, search.ClusterBytes(), reach);
    // The first cluster of the layout from the break on that cannot be the file's (another
    // file's header, bytes the type never holds), or the layout's end where a cluster no
    // longer free ended it, bounds the junction, and is where it most likely lies: it is tried
    // first, and none after it.
    const u64 last = std::min(
        total, broken + 1 + std::min(CeilDiv(reach, search.ClusterBytes()), kForwardClusters));
    for (u64 k = broken; k <= last; ++k)
    {
        if (k == total ? total >= search.MaxClusters()
                       : k == last || search.MayContinue(ClusterAt(current.runs, k)))
            continue;
        std::erase_if(junctions, [k](u64 kept) { return kept >= k; });
        junctions.insert(junctions.begin(), k);
        break;
    }
    for (const u64 kept : junctions)
    {
        if (search.Exhausted())
            break;
        std::vector<Continuation> found;
        bool held = false;
        if (ScreenJunction(search, current, kept, best, found, held) ||
            TryJunction(search, current, kept, found, best))
            return best;
        // A continuation that held over the whole screening ends the search for the junction;
        // one that only went a little further may be another file's data the decoder took in
        // step for a while, and the junctions after are tried too.
        if (held)
            break;
    }
    return best;
}

CarveLayout Finish(Search& search, const Tried& best, u64 knownSize)
{
    const u64 cb = search.ClusterBytes();
    const u64 held = search.Bytes(best.runs);
    u64 size = held;
    if (knownSize != 0)
        size = held; // the metadata's size, as far as the clusters hold it
    else if (best.check.verdict == FindContent::kNone)
        size = search.TrimZeros(best.runs, search.BeforeNextHeader(best.runs, held));
    else if (best.check.verdict != FindContent::kValid)
        size = std::min(best.check.validBytes, held);
    else if (best.check.end != 0)
        size = std::min(best.check.end, held);
    else
        size = search.TrimZeros(best.runs, held); // no end in the structure: up to the zeros
    CarveLayout out;
    out.runs = Prefix(best.runs, CeilDiv(size, cb));
    out.size = size;
    out.check = best.check;
    return out;
}
} // namespace

CarveLayout LayOutWith(const ContentValidator& validate, u64 first, ICarveSpace& space,
                       const GapLimits& limits, u64 knownSize, u64 cap,
                       const ContinuationFilter& mayContinue)
{
    const u64 cb = space.ClusterBytes();
    if (cb == 0 || first < space.FirstCluster() || first >= space.EndCluster() ||
        !space.Free(first))
        return {};
    const u64 clusters = space.EndCluster() - first;
    u64 limitBytes = clusters > ~u64{0} / cb ? ~u64{0} : clusters * cb;
    if (knownSize != 0)
        limitBytes = std::min(limitBytes, knownSize);
    else if (cap != 0)
        limitBytes = std::min(limitBytes, cap);
    Search search(validate, space, limits, limitBytes, mayContinue);
    Tried best;
    search.Extend(best.runs, first, search.MaxClusters());
    best.check = search.Check(best.runs);
    // With no validator for the type there is nothing to search gaps by.
    for (u32 gaps = 0; gaps < limits.maxGaps && best.check.verdict == FindContent::kDamaged &&
                       !search.Exhausted();
         ++gaps)
    {
        Tried next = BridgeGap(search, best);
        if (!Better(next, best))
            break;
        best = std::move(next);
    }
    return Finish(search, best, knownSize);
}

CarveLayout LayOutCarved(CarveType type, u64 first, ICarveSpace& space, const GapLimits& limits,
                         u64 knownSize)
{
    const ContentValidator validate = [type](IContentSource& source)
    { return ValidateContent(type, source); };
    const ContinuationFilter filter = [type](std::span<const u8> cluster)
    { return MayContinueAs(type, cluster); };
    return LayOutWith(validate, first, space, limits, knownSize, CarveCap(type), filter);
}

bool MayContinueAs(CarveType type, std::span<const u8> cluster)
{
    if (type == CarveType::kText)
        return IsTextCluster(cluster);
    if (IsTextCluster(cluster))
        return false;
    if (CarveFamily(type) != CarveType::kJpeg)
        return true;
    // Entropy-coded data holds 0xFF only stuffed (FF 00), as a restart marker, or as fill
    // bytes before a marker; the end of image may come, and after it the cluster's slack.
    for (std::size_t i = 0; i + 1 < cluster.size(); ++i)
    {
        if (cluster[i] != 0xFF)
            continue;
        const u8 next = cluster[i + 1];
        if (next == 0xD9)
            return true;
        if (next != 0x00 && next != 0xFF && (next < 0xD0 || next > 0xD7))
            return false;
    }
    return true;
}
