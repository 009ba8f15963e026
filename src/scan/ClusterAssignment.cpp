// The cluster assignment of deleted finds: one forward sweep over the volume that replays how
// an allocator handing out the next free cluster would have given the clusters to the files.
//
// The rules every layout keeps: a find's clusters start at its first cluster and go forward;
// none of them is another find's first cluster; no cluster goes to two finds; a cluster held by
// a live file created before the find was never the find's (stepped over), while one held by a
// live file created after it, or when a time is missing, was probably the find's and is now
// overwritten (given, and counted). Times are kept to the second: a live file created in the
// same second was written with the find, not over it, and is stepped over too. Files known to be
// one run (exFAT NoFatChain) take their run before the sweep.
//
// The choice the rules leave open is which of several started, unfinished finds a free
// cluster goes to. The sweep keeps the started finds on a stack and weighs the kLookBack most
// recently started ones that may take the cluster:
// - by default the most recently started one takes it: it runs on unbroken, and the finds it
//   interrupted resume after it. Of the layouts the rules allow this keeps the fewest gaps and
//   the most files in one piece (a file that fragmented around single- or multi-cluster files
//   that were there when it was written comes back whole, and so do those files);
// - when its creation time lies within kConcurrentSeconds of another weighed find's, the two
//   were written at once and the clusters alternate: the one that waited longest takes it.
//   Without this the pair A B A B (two copies running together) would come back as A B B A,
//   which has fewer gaps but is not what was written; only the times tell the two apart.
//
// Cost: sorting the finds, O(F log F), then one pass over the clusters from the lowest first
// cluster on, O(C * kLookBack), skipping stretches while no find is started. Memory: one bit
// per cluster, plus the runs.
#include "scan/ClusterAssignment.h"

#include <algorithm>
#include <limits>

#include "platform/Unicode.h"

namespace
{
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
    const u32 owner = cluster < in.owner.size() ? in.owner[cluster] : kOwnerUnknown;
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

bool Concurrent(const AssignFind& a, const AssignFind& b)
{
    if (a.created == kNoTime || b.created == kNoTime)
        return false;
    const u64 d = a.created > b.created ? a.created - b.created : b.created - a.created;
    return d <= kConcurrentSeconds;
}
} // namespace

u64 TimeKey(const FoundTime& t)
{
    // A zero DOS date and time decodes as the first second of 1980: no time was kept.
    const bool zeroDos = t.year == 1980 && t.month == 1 && t.day == 1 && t.hour == 0 &&
                         t.minute == 0 && t.second == 0;
    if (zeroDos || t.year < 1601 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 60)
        return kNoTime;
    constexpr s64 kDaysTo1970 = 134774; // 1 January 1601 to 1 January 1970
    const s64 days = DaysFromCivil(t.year, t.month, t.day) + kDaysTo1970;
    return static_cast<u64>(days) * 86400 + static_cast<u64>(t.hour) * 3600 +
           static_cast<u64>(t.minute) * 60 + static_cast<u64>(t.second) + 1;
}

AssignOutput AssignClusters(const AssignInput& in)
{
    std::pmr::memory_resource* const memory = in.finds.get_allocator().resource();
    AssignOutput out(memory);
    const std::size_t count = in.finds.size();
    out.results.resize(count);
    if (in.lastCluster < in.firstCluster || count == 0)
        return out;
    const u64 low = in.firstCluster;
    const u64 high = in.lastCluster;
    auto inVolume = [&](u64 c) { return c >= low && c <= high; };

    // One find per first cluster: of finds that share one, the most recently created takes part
    // (its entry is the last that used the cluster); the others get nothing.
    std::pmr::vector<u32> order(memory);
    order.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        if (in.finds[i].clusters > 0 && inVolume(in.finds[i].first))
            order.push_back(static_cast<u32>(i));
    auto before = [&](u32 a, u32 b)
    {
        const AssignFind& fa = in.finds[a];
        const AssignFind& fb = in.finds[b];
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
    // The finds that take part, and the number of each among them (kNoState for the others).
    constexpr u32 kNoState = std::numeric_limits<u32>::max();
    std::pmr::vector<u32> primaries(memory);
    primaries.reserve(order.size());
    std::pmr::vector<u32> stateOf(count, kNoState, memory);
    for (std::size_t k = 0; k < order.size(); ++k)
    {
        if (k > 0 && in.finds[order[k]].first == in.finds[order[k - 1]].first)
        {
            out.results[order[k]].shared = true;
            continue;
        }
        stateOf[order[k]] = static_cast<u32>(primaries.size());
        primaries.push_back(order[k]);
    }

    // Taken clusters: every first cluster, and the runs of the finds known to be one run.
    std::pmr::vector<bool> taken(static_cast<std::size_t>(high - low + 1), false, memory);
    auto isTaken = [&](u64 c) { return taken[static_cast<std::size_t>(c - low)]; };
    auto take = [&](u64 c) { taken[static_cast<std::size_t>(c - low)] = true; };
    for (u32 f : primaries)
        take(in.finds[f].first);

    const std::size_t parts = primaries.size();
    auto findOf = [&](u32 p) -> const AssignFind& { return in.finds[primaries[p]]; };
    std::pmr::vector<FindState> states(parts, memory);
    std::pmr::vector<LoggedRun> log(memory);
    log.reserve(parts);
    std::pmr::vector<u32> sweep(memory);
    sweep.reserve(parts);
    for (u32 p = 0; p < parts; ++p)
    {
        const AssignFind& find = findOf(p);
        FindState& state = states[p];
        state.need = find.clusters;
        if (!find.contiguous)
        {
            sweep.push_back(p);
            continue;
        }
        for (u64 c = find.first; state.need > 0 && c <= high; ++c)
        {
            if (c != find.first && isTaken(c))
                break;
            const u32 owner = c < in.owner.size() ? in.owner[c] : kOwnerUnknown;
            if (owner == kOwnerSystem)
                break;
            take(c);
            Give(log, state, p, c, owner != kOwnerFree);
        }
    }

    // The sweep.
    std::pmr::vector<u32> active(memory); // started finds that want more, in starting order
    std::size_t next = 0;
    u64 c = sweep.empty() ? high + 1 : findOf(sweep[0]).first;
    u32 weighed[kLookBack] = {};
    Take kinds[kLookBack] = {};
    while (c <= high)
    {
        if (next < sweep.size() && findOf(sweep[next]).first == c)
        {
            const u32 p = sweep[next++];
            const u32 owner = c < in.owner.size() ? in.owner[c] : kOwnerUnknown;
            Give(log, states[p], p, c, owner != kOwnerFree);
            if (states[p].need > 0)
                active.push_back(p);
            ++c;
            continue;
        }
        if (active.empty())
        {
            if (next >= sweep.size())
                break;
            c = findOf(sweep[next]).first;
            continue;
        }
        // One started find alone, before the next one starts: the free clusters ahead go to it
        // one after the other, with nothing to weigh (a deleted file's own clusters, still
        // free, are most of a sweep). Anything else is left to the weighing below.
        if (active.size() == 1)
        {
            const u32 p = active[0];
            FindState& state = states[p];
            const u64 stop = next < sweep.size() ? findOf(sweep[next]).first : high + 1;
            const u64 limit = std::min<u64>(stop, in.owner.size());
            u64 end = c;
            while (end < limit && end - c < state.need && in.owner[end] == kOwnerFree &&
                   !isTaken(end))
                ++end;
            if (end != c)
            {
                // The first cluster as any other; once given, its run ends at it and the rest
                // lengthen that run.
                const u64 givenBefore = state.given;
                Give(log, state, p, c, false);
                const u64 rest = end - c - 1;
                if (state.given > givenBefore &&
                    log[state.lastRun].run.length + rest <= std::numeric_limits<u32>::max())
                {
                    log[state.lastRun].run.length += static_cast<u32>(rest);
                    state.lastGiven = end - 1;
                    state.given += rest;
                    state.need -= rest;
                }
                else
                {
                    for (u64 k = c + 1; k < end; ++k)
                        Give(log, state, p, k, false);
                }
                c = end;
                if (state.need == 0)
                    active.clear();
                continue;
            }
        }
        if (isTaken(c))
        {
            ++c;
            continue;
        }
        // The most recently started finds that may take c, newest first.
        u32 n = 0;
        for (std::size_t k = active.size(); k-- > 0 && active.size() - k <= kLookBack;)
        {
            const Take kind = Takeable(in, c, findOf(active[k]));
            if (kind != Take::kNever)
            {
                weighed[n] = static_cast<u32>(k);
                kinds[n++] = kind;
            }
        }
        if (n == 0)
        {
            ++c;
            continue;
        }
        u32 pick = 0;
        const AssignFind& newest = findOf(active[weighed[0]]);
        for (u32 j = 1; j < n; ++j)
        {
            // Among the finds written at once with the newest, the one that waited longest;
            // on a tie the one started first.
            const u32 p = active[weighed[j]];
            if (Concurrent(findOf(p), newest) &&
                states[p].lastGiven <= states[active[weighed[pick]]].lastGiven)
                pick = j;
        }
        const std::size_t slot = weighed[pick];
        const u32 p = active[slot];
        Give(log, states[p], p, c, kinds[pick] == Take::kOverwritten);
        if (states[p].need == 0)
            active.erase(active.begin() + static_cast<std::ptrdiff_t>(slot));
        ++c;
    }

    // The runs of all finds gathered into one list, each find's together and in the order of
    // the finds, sized once: a count per find, its place, then one pass over the log.
    std::pmr::vector<u32> runCount(parts, 0, memory);
    for (const LoggedRun& logged : log)
        ++runCount[logged.state];
    std::pmr::vector<u32> place(parts, 0, memory);
    u64 total = 0;
    for (std::size_t i = 0; i < count; ++i)
    {
        AssignResult& result = out.results[i];
        const u32 p = stateOf[i];
        if (p == kNoState)
            continue;
        const FindState& state = states[p];
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
    out.runs.resize(static_cast<std::size_t>(total));
    for (const LoggedRun& logged : log)
        if (runCount[logged.state] != 0)
            out.runs[place[logged.state]++] = logged.run;
    return out;
}
