// The cluster assignment of deleted finds: the layout of all the finds of a volume with the
// fewest gaps, in the four steps ClusterAssignment.h gives with AssignClusters.
#include "scan/ClusterAssignment.h"

#include <algorithm>
#include <limits>

namespace
{
constexpr u32 kNoState = std::numeric_limits<u32>::max();

// What the sweep knows of one find that takes part: kept for those finds only, without a list
// of its own (a heap block per find was most of the sweep's memory and time on a volume of many
// small deleted files). Its runs go to one log for all finds, gathered per find at the end.
struct FindState
{
    u64 need = 0;      // clusters still wanted
    u64 lastGiven = 0; // the cluster it was given last
    u64 given = 0;
    u32 overwritten = 0;
    u32 lastRun = kNoRun; // its newest run in the log
    static constexpr u32 kNoRun = std::numeric_limits<u32>::max();
};

// A run as the sweep hands it out, tagged with the find (its state's number) it went to.
struct LoggedRun
{
    ClusterRun run;
    u32 state = 0;
};

void Give(std::pmr::vector<LoggedRun>& log, FindState& state, u32 stateNumber, u64 cluster,
          bool overwritten)
{
    ClusterRun* last = state.lastRun != FindState::kNoRun ? &log[state.lastRun].run : nullptr;
    if (last != nullptr && static_cast<u64>(last->first) + last->length == cluster &&
        last->length < std::numeric_limits<u32>::max())
    {
        ++last->length;
    }
    else
    {
        // A log numbered past u32 (billions of fragments) takes no more runs: the cluster is
        // not given.
        if (log.size() >= FindState::kNoRun)
            return;
        state.lastRun = static_cast<u32>(log.size());
        log.push_back(LoggedRun{ClusterRun{static_cast<u32>(cluster), 1}, stateNumber});
    }
    state.lastGiven = cluster;
    ++state.given;
    if (state.need > 0)
        --state.need;
    if (overwritten && state.overwritten < std::numeric_limits<u32>::max())
        ++state.overwritten;
}

// Whether a find may take a cluster.
enum class Take : u8
{
    kNever,       // held by a live file created before the find (or with it): stepped over
    kFree,        // free
    kOverwritten, // held now by a live file created after the find, or of unknown time
};

Take Takeable(const AssignInput& in, u64 cluster, const AssignFind& find)
{
    const u32 owner = in.reach.Owner(cluster);
    if (owner == kOwnerFree)
        return Take::kFree;
    if (owner == kOwnerSystem)
        return Take::kNever;
    if (owner == kOwnerUnknown || owner > in.liveCreated.size())
        return Take::kOverwritten;
    const u64 live = in.liveCreated[owner - 1];
    return live != kNoTime && find.created != kNoTime && live <= find.created ? Take::kNever
                                                                              : Take::kOverwritten;
}

bool CloseTimes(const AssignFind& a, const AssignFind& b)
{
    if (a.created == kNoTime || b.created == kNoTime)
        return false;
    const u64 d = a.created > b.created ? a.created - b.created : b.created - a.created;
    return d <= kConcurrentSeconds;
}

// Whether a was created strictly before b, both times known.
bool Earlier(const AssignFind& a, const AssignFind& b)
{
    return a.created != kNoTime && b.created != kNoTime && a.created < b.created;
}

// The last cluster of a find's own stretch (saturating).
u64 StretchEnd(const AssignFind& find)
{
    return find.clusters - 1 > ~0ull - find.first ? ~0ull : find.first + find.clusters - 1;
}

// How a find takes part.
enum class Role : u8
{
    kSweep,      // laid out by the sweep
    kContiguous, // known to be one run
    kStretch,    // its own stretch is free: taken as it is
    kClipped,    // its size is more than the volume can hold
};

// The working state of one assignment.
class Assigner
{
public:
    Assigner(const AssignInput& in, AssignOutput& out);
    void Run();

private:
    const AssignFind& FindOf(u32 p) const { return m_in.finds[m_primaries[p]]; }
    u32 OwnerAt(u64 c) const { return m_in.reach.Owner(c); }
    // Clusters outside the windows are taken by no find but a clipped one.
    bool IsTaken(u64 c) const
    {
        const u64 slot = m_in.reach.Slot(c);
        return slot != ClusterReach::kOutside && m_taken[static_cast<std::size_t>(slot)];
    }
    void Claim(u64 c)
    {
        const u64 slot = m_in.reach.Slot(c);
        if (slot != ClusterReach::kOutside)
            m_taken[static_cast<std::size_t>(slot)] = true;
    }
    u32 Group(u32 p);

    void ChoosePrimaries();
    void MarkClipped();
    void TakeContiguous();
    void GroupWrittenAtOnce();
    bool OwnStretchFree(u32 p) const;
    void TakeStretches();
    void Sweep();
    bool SweepAlone(u64& c, u64 stop);
    void Weigh(u64 c);
    void TakeClipped();
    void Gather();

    const AssignInput& m_in;
    AssignOutput& m_out;
    std::pmr::memory_resource* m_memory;
    u64 m_low;
    u64 m_high;
    std::pmr::vector<u32> m_primaries;
    std::pmr::vector<u32> m_stateOf;
    std::pmr::vector<bool> m_taken;
    std::pmr::vector<FindState> m_states;
    std::pmr::vector<Role> m_role;
    std::pmr::vector<u32> m_group;     // written at once: union of finds
    std::pmr::vector<bool> m_together; // written at once with another find
    std::pmr::vector<bool> m_undecided;
    std::pmr::vector<bool> m_yields;
    std::pmr::vector<LoggedRun> m_log;
    std::pmr::vector<u32> m_active; // started finds of the sweep that want more
};

Assigner::Assigner(const AssignInput& in, AssignOutput& out)
    : m_in(in), m_out(out), m_memory(in.finds.get_allocator().resource()), m_low(in.firstCluster),
      m_high(in.lastCluster), m_primaries(m_memory), m_stateOf(m_memory), m_taken(m_memory),
      m_states(m_memory), m_role(m_memory), m_group(m_memory), m_together(m_memory),
      m_undecided(m_memory), m_yields(m_memory), m_log(m_memory), m_active(m_memory)
{
}

void Assigner::Run()
{
    ChoosePrimaries();
    const std::size_t parts = m_primaries.size();
    m_taken.assign(static_cast<std::size_t>(m_in.reach.Size()), false);
    m_states.resize(parts);
    m_role.assign(parts, Role::kSweep);
    m_group.resize(parts);
    for (u32 p = 0; p < parts; ++p)
    {
        m_group[p] = p;
        m_states[p].need = FindOf(p).clusters;
        Claim(FindOf(p).first);
    }
    m_together.assign(parts, false);
    m_undecided.assign(parts, false);
    m_yields.assign(parts, false);
    m_log.reserve(parts);
    MarkClipped();
    TakeContiguous();
    GroupWrittenAtOnce();
    TakeStretches();
    Sweep();
    TakeClipped();
    Gather();
}

// One find per first cluster: of finds that share one, the most recently created takes part
// (its entry is the last that used the cluster); the others get nothing.
void Assigner::ChoosePrimaries()
{
    const std::size_t count = m_in.finds.size();
    std::pmr::vector<u32> order(m_memory);
    order.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
    {
        const AssignFind& find = m_in.finds[i];
        if (find.clusters > 0 && find.first >= m_low && find.first <= m_high)
            order.push_back(static_cast<u32>(i));
    }
    auto before = [&](u32 a, u32 b)
    {
        const AssignFind& fa = m_in.finds[a];
        const AssignFind& fb = m_in.finds[b];
        if (fa.first != fb.first)
            return fa.first < fb.first;
        if (fa.created != fb.created)
            return fa.created > fb.created;
        return a < b;
    };
    // The finds of files written one after the other are met in the order of their first
    // clusters already: one pass tells, where a sort of the sorted list takes many.
    if (!std::is_sorted(order.begin(), order.end(), before))
        std::sort(order.begin(), order.end(), before);
    m_primaries.reserve(order.size());
    m_stateOf.assign(count, kNoState);
    for (std::size_t k = 0; k < order.size(); ++k)
    {
        if (k > 0 && m_in.finds[order[k]].first == m_in.finds[order[k - 1]].first)
        {
            m_out.results[order[k]].shared = true;
            continue;
        }
        m_stateOf[order[k]] = static_cast<u32>(m_primaries.size());
        m_primaries.push_back(order[k]);
    }
}

// Step 1: the free clusters after each first one, counted from the last find down, a word of
// the allocation map at a time.
void Assigner::MarkClipped()
{
    const AllocationMap* map = m_in.reach.Allocation();
    u64 freeAfter = 0;
    u64 counted = m_high;
    for (std::size_t k = m_primaries.size(); k-- > 0;)
    {
        const AssignFind& find = FindOf(static_cast<u32>(k));
        if (find.first < counted)
        {
            const u64 span = counted - find.first;
            freeAfter += span - (map != nullptr ? map->CountInUse(find.first + 1, span) : span);
            counted = find.first;
        }
        if (find.clusters - 1 > freeAfter)
            m_role[k] = Role::kClipped;
    }
}

void Assigner::TakeContiguous()
{
    for (u32 p = 0; p < m_primaries.size(); ++p)
    {
        const AssignFind& find = FindOf(p);
        if (!find.contiguous || m_role[p] != Role::kSweep)
            continue;
        m_role[p] = Role::kContiguous;
        FindState& state = m_states[p];
        for (u64 c = find.first; state.need > 0 && c <= m_high; ++c)
        {
            if (c != find.first && IsTaken(c))
                break;
            const u32 owner = OwnerAt(c);
            if (owner == kOwnerSystem)
                break;
            Claim(c);
            Give(m_log, state, p, c, owner != kOwnerFree);
        }
    }
}

u32 Assigner::Group(u32 p)
{
    while (m_group[p] != p)
    {
        m_group[p] = m_group[m_group[p]];
        p = m_group[p];
    }
    return p;
}

// Finds written at once (see kConcurrentSeconds) form groups; their clusters alternate.
void Assigner::GroupWrittenAtOnce()
{
    for (u32 b = 1; b < m_primaries.size(); ++b)
    {
        if (m_role[b] != Role::kSweep)
            continue;
        for (u32 a = b; a-- > 0 && b - a <= kLookBack;)
        {
            if (m_role[a] != Role::kSweep || !CloseTimes(FindOf(a), FindOf(b)) ||
                FindOf(b).first > StretchEnd(FindOf(a)))
                continue;
            m_together[a] = true;
            m_together[b] = true;
            m_group[Group(b)] = Group(a);
        }
    }
}

// Whether find p's own stretch is free and holds no other find's first cluster but those of
// earlier finds reaching past its end (step 2).
bool Assigner::OwnStretchFree(u32 p) const
{
    const AssignFind& find = FindOf(p);
    const u64 end = StretchEnd(find);
    if (end > m_high)
        return false;
    u32 q = p + 1;
    for (u64 c = find.first; c <= end; ++c)
    {
        if (OwnerAt(c) != kOwnerFree)
            return false;
        if (q < m_primaries.size() && FindOf(q).first == c)
        {
            // Only a find the sweep would lay out can give way: one known to be one run, a
            // clipped one, or one written at once with another keeps its clusters.
            if (!Earlier(FindOf(q), find) || StretchEnd(FindOf(q)) <= end ||
                m_role[q] != Role::kSweep || m_together[q])
                return false;
            ++q;
            continue;
        }
        if (c != find.first && IsTaken(c))
            return false;
    }
    return true;
}

void Assigner::TakeStretches()
{
    std::pmr::vector<u32> stretches(m_memory);
    for (u32 p = 0; p < m_primaries.size(); ++p)
        if (m_role[p] == Role::kSweep && !m_together[p] && OwnStretchFree(p))
            stretches.push_back(p);
    for (const u32 p : stretches)
        m_role[p] = Role::kStretch;
    // An earlier find whose start a later one was written over keeps its own stretch too: the
    // clusters it shares with later finds count as overwritten.
    for (std::size_t k = 0, n = stretches.size(); k < n; ++k)
    {
        const u32 p = stretches[k];
        for (u32 q = p + 1; q < m_primaries.size() && FindOf(q).first <= StretchEnd(FindOf(p)); ++q)
            if (m_role[q] == Role::kSweep && !m_together[q])
            {
                m_role[q] = Role::kStretch;
                stretches.push_back(q);
            }
    }
    // The latest first: an earlier find meets the clusters a later one was written over.
    std::stable_sort(stretches.begin(), stretches.end(),
                     [&](u32 a, u32 b) { return FindOf(a).created > FindOf(b).created; });
    std::pmr::vector<bool> written(m_taken.size(), false, m_memory);
    for (const u32 p : stretches)
    {
        const AssignFind& find = FindOf(p);
        FindState& state = m_states[p];
        for (u64 c = find.first; c <= StretchEnd(find) && c <= m_high; ++c)
        {
            const u32 owner = OwnerAt(c);
            if (owner == kOwnerSystem)
                break;
            const u64 slot = m_in.reach.Slot(c);
            const bool wrote = slot != ClusterReach::kOutside && written[slot];
            const bool over = wrote || owner != kOwnerFree;
            if (slot != ClusterReach::kOutside)
                written[slot] = true;
            Claim(c);
            Give(m_log, state, p, c, over);
            m_yields[p] = m_yields[p] || over;
        }
    }
}

// Step 3.
void Assigner::Sweep()
{
    std::pmr::vector<u32> sweep(m_memory);
    for (u32 p = 0; p < m_primaries.size(); ++p)
        if (m_role[p] == Role::kSweep)
            sweep.push_back(p);
    m_active.reserve(sweep.size());
    std::size_t next = 0;
    u64 c = sweep.empty() ? m_high + 1 : FindOf(sweep[0]).first;
    while (c <= m_high)
    {
        if (next < sweep.size() && FindOf(sweep[next]).first == c)
        {
            const u32 p = sweep[next++];
            Give(m_log, m_states[p], p, c, OwnerAt(c) != kOwnerFree);
            if (m_states[p].need > 0)
                m_active.push_back(p);
            ++c;
            continue;
        }
        if (m_active.empty())
        {
            if (next >= sweep.size())
                break;
            c = FindOf(sweep[next]).first;
            continue;
        }
        const u64 stop = next < sweep.size() ? FindOf(sweep[next]).first : m_high + 1;
        if (m_active.size() == 1 && SweepAlone(c, stop))
            continue;
        if (!IsTaken(c))
            Weigh(c);
        ++c;
    }
}

// One started find alone, before the next one starts: the free clusters ahead go to it one
// after the other, with nothing to weigh (a deleted file's own clusters, still free, are most
// of a sweep). False, with nothing given, when the cluster at c is not free; anything else is
// left to the weighing.
bool Assigner::SweepAlone(u64& c, u64 stop)
{
    const u32 p = m_active[0];
    FindState& state = m_states[p];
    const u64 limit = std::min<u64>(stop, m_high + 1);
    u64 end = c;
    while (end < limit && end - c < state.need && OwnerAt(end) == kOwnerFree && !IsTaken(end))
        ++end;
    if (end == c)
        return false;
    // The first cluster as any other; once given, its run ends at it and the rest lengthen
    // that run.
    const u64 givenBefore = state.given;
    Give(m_log, state, p, c, false);
    const u64 rest = end - c - 1;
    if (state.given > givenBefore &&
        m_log[state.lastRun].run.length + rest <= std::numeric_limits<u32>::max())
    {
        m_log[state.lastRun].run.length += static_cast<u32>(rest);
        state.lastGiven = end - 1;
        state.given += rest;
        state.need -= rest;
    }
    else
    {
        for (u64 k = c + 1; k < end; ++k)
            Give(m_log, state, p, k, false);
    }
    c = end;
    if (state.need == 0)
        m_active.clear();
    return true;
}

// Hands cluster c to one of the most recently started finds that may take it.
void Assigner::Weigh(u64 c)
{
    u32 weighed[kLookBack] = {};
    Take kinds[kLookBack] = {};
    u32 n = 0;
    for (std::size_t k = m_active.size(); k-- > 0 && m_active.size() - k <= kLookBack;)
    {
        const Take kind = Takeable(m_in, c, FindOf(m_active[k]));
        if (kind != Take::kNever)
        {
            weighed[n] = static_cast<u32>(k);
            kinds[n++] = kind;
        }
    }
    if (n == 0)
        return;
    auto stateAt = [&](u32 j) -> FindState& { return m_states[m_active[weighed[j]]]; };
    // Written at once with the newest: the one of its group that waited longest; on a tie the
    // one started first.
    const u32 group = Group(m_active[weighed[0]]);
    u32 pick = 0;
    bool together = false;
    for (u32 j = 1; j < n; ++j)
        if (Group(m_active[weighed[j]]) == group)
        {
            together = true;
            if (stateAt(j).lastGiven <= stateAt(pick).lastGiven)
                pick = j;
        }
    if (!together)
    {
        // The one that continues without a gap; when none does, any choice costs a gap:
        // the layout cannot be told.
        u32 j = 0;
        while (j < n && stateAt(j).lastGiven + 1 != c)
            ++j;
        pick = j < n ? j : 0;
        if (j == n && n > 1)
            for (u32 k = 0; k < n; ++k)
                m_undecided[m_active[weighed[k]]] = true;
    }
    const std::size_t slot = weighed[pick];
    const u32 p = m_active[slot];
    Give(m_log, m_states[p], p, c, kinds[pick] == Take::kOverwritten);
    if (m_states[p].need == 0)
        m_active.erase(m_active.begin() + static_cast<std::ptrdiff_t>(slot));
}

// Step 4.
void Assigner::TakeClipped()
{
    for (u32 p = 0; p < m_primaries.size(); ++p)
    {
        if (m_role[p] != Role::kClipped)
            continue;
        const AssignFind& find = FindOf(p);
        FindState& state = m_states[p];
        Give(m_log, state, p, find.first, OwnerAt(find.first) != kOwnerFree);
        for (u64 c = find.first + 1;
             state.need > 0 && c <= m_high && !IsTaken(c) && OwnerAt(c) == kOwnerFree; ++c)
        {
            Claim(c);
            Give(m_log, state, p, c, false);
        }
        m_yields[p] = true;
    }
}

// The runs of all finds gathered into one list, each find's together and in the order of the
// finds, sized once: a count per find, its place, then one pass over the log.
void Assigner::Gather()
{
    const std::size_t parts = m_primaries.size();
    std::pmr::vector<u32> runCount(parts, 0, m_memory);
    for (const LoggedRun& logged : m_log)
        ++runCount[logged.state];
    std::pmr::vector<u32> place(parts, 0, m_memory);
    u64 total = 0;
    for (std::size_t i = 0; i < m_in.finds.size(); ++i)
    {
        AssignResult& result = m_out.results[i];
        const u32 p = m_stateOf[i];
        if (p == kNoState)
            continue;
        const FindState& state = m_states[p];
        result.yields = m_yields[p];
        result.clipped = m_role[p] == Role::kClipped;
        // Layouts equally good: read as one stretch, which is what the contiguous read gives.
        if (m_undecided[p])
        {
            runCount[p] = 0;
            result.inferred = true;
            result.yields = true;
            continue;
        }
        if (runCount[p] == 0 || total + runCount[p] > std::numeric_limits<u32>::max())
        {
            runCount[p] = 0; // its runs are left out
            continue;
        }
        place[p] = static_cast<u32>(total);
        result.runsAt = static_cast<u32>(total);
        result.runCount = runCount[p];
        result.clusters = state.given;
        result.overwritten = state.overwritten;
        result.inferred = runCount[p] > 1;
        total += runCount[p];
    }
    m_out.runs.resize(static_cast<std::size_t>(total));
    for (const LoggedRun& logged : m_log)
        if (runCount[logged.state] != 0)
            m_out.runs[place[logged.state]++] = logged.run;
}
} // namespace

AssignOutput AssignClusters(const AssignInput& in)
{
    AssignOutput out(in.finds.get_allocator().resource());
    out.results.resize(in.finds.size());
    if (in.lastCluster < in.firstCluster || in.finds.empty())
        return out;
    Assigner(in, out).Run();
    return out;
}
