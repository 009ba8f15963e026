// The old folder tree of an exFAT volume, rebuilt from loose entry sets.
#include "scan/exfat/ExfatDeepTree.h"

#include <algorithm>
#include <deque>
#include <unordered_map>
#include <utility>

#include "exfat/ExfatLayout.h"
#include "platform/Format.h"
#include "scan/FindNames.h"

using namespace ExfatLayout;

namespace
{
constexpr u32 kNone = ~0u;

// What the linking works out before the folders are walked.
struct Links
{
    const ExfatLooseSets& found;
    std::vector<u32> claim;     // per cluster of found: the folder set that claims it, or kNone
    std::vector<bool> dropped;  // per cluster of found: its sets are the normal search's
    std::vector<u32> clusterOf; // per set: the index of its cluster in found.clusters
    std::vector<bool> owner;    // per set: a folder set that owns its first cluster
};

bool IsFolder(const ExfatEntrySet& set)
{
    return (set.attributes & kAttrFolder) != 0;
}

// The folder set that owns each first cluster: the live one, else the first one found.
std::unordered_map<u32, u32> FirstClusterOwners(const ExfatLooseSets& found)
{
    std::unordered_map<u32, u32> owners;
    for (u32 i = 0; i < found.sets.size(); ++i)
    {
        const ExfatEntrySet& set = found.sets[i].set;
        if (!IsFolder(set) || set.firstCluster < kFirstCluster)
            continue;
        auto [it, added] = owners.try_emplace(set.firstCluster, i);
        if (!added && found.sets[it->second].set.deleted && !set.deleted)
            it->second = i;
    }
    return owners;
}

// Claims the clusters behind folder f's first one (see PlaceExfatLooseSets).
void ClaimChain(Links& links, u32 f, u64 clusterBytes)
{
    const ExfatLooseSets& found = links.found;
    const ExfatEntrySet& set = found.sets[f].set;
    const u64 length = std::clamp<u64>(set.dataLength, 1, kMaxDirectoryBytes);
    const u64 end = u64{set.firstCluster} + (length + clusterBytes - 1) / clusterBytes;
    const auto from =
        std::upper_bound(found.clusters.begin(), found.clusters.end(), set.firstCluster,
                         [](u32 n, const ExfatSetCluster& c) { return n < c.cluster; });
    u64 expected = u64{set.firstCluster} + 1;
    for (auto j = static_cast<std::size_t>(from - found.clusters.begin());
         j < found.clusters.size() && found.clusters[j].cluster < end; ++j)
    {
        if (links.claim[j] != kNone)
            break;
        if (!set.NoFatChain() && (found.clusters[j].cluster != expected || j == 0 ||
                                  found.clusters[j - 1].ends || links.claim[j - 1] != f))
            break;
        links.claim[j] = f;
        expected = u64{found.clusters[j].cluster} + 1;
    }
}

Links Link(const ExfatLooseSets& found, u64 clusterBytes,
           const std::function<bool(u32 cluster)>& known)
{
    Links links{found,
                std::vector<u32>(found.clusters.size(), kNone),
                std::vector<bool>(found.clusters.size(), false),
                {},
                {}};
    links.clusterOf.resize(found.sets.size());
    for (u32 k = 0; k < found.clusters.size(); ++k)
        for (u32 s = 0; s < found.clusters[k].count; ++s)
            links.clusterOf[found.clusters[k].firstSet + s] = k;
    links.owner.assign(found.sets.size(), false);
    std::vector<u32> owners;
    for (const auto& [cluster, f] : FirstClusterOwners(found))
        owners.push_back(f);
    std::sort(owners.begin(), owners.end());
    // First clusters before the chains, so that no chain takes another folder's first cluster.
    for (u32 f : owners)
    {
        links.owner[f] = true;
        const std::size_t k = found.ClusterIndex(found.sets[f].set.firstCluster);
        if (k < found.clusters.size())
            links.claim[k] = f;
    }
    for (u32 f : owners)
        ClaimChain(links, f, clusterBytes);
    for (std::size_t k = 0; k < found.clusters.size(); ++k)
        links.dropped[k] =
            known(found.clusters[k].cluster) ||
            (links.claim[k] != kNone && known(found.sets[links.claim[k]].set.firstCluster));
    return links;
}

// The walk of the rebuilt tree, lost folder by lost folder, folder by folder.
class TreeWalk
{
public:
    TreeWalk(const Links& links, const std::string& root) : m_links(links), m_root(root)
    {
        m_children.resize(links.found.sets.size());
        m_placed.assign(links.found.sets.size(), false);
        m_parent.assign(links.found.sets.size(), kNone);
    }

    // Sorts every set that is not left out under its parent folder or a lost folder.
    void Attach()
    {
        const ExfatLooseSets& found = m_links.found;
        u32 group = kNone; // the lost folder of the cluster before, when this one continues it
        for (u32 k = 0; k < found.clusters.size(); ++k)
        {
            const ExfatSetCluster& cluster = found.clusters[k];
            const bool loose = m_links.claim[k] == kNone && !m_links.dropped[k];
            const bool continues = k > 0 && group != kNone &&
                                   found.clusters[k - 1].cluster + 1 == cluster.cluster &&
                                   !found.clusters[k - 1].ends;
            if (loose && !continues)
                group = NewLost();
            if (!loose)
                group = kNone;
            for (u32 s = cluster.firstSet; s < cluster.firstSet + cluster.count; ++s)
                AttachSet(s, k, group);
        }
    }

    // Walks the lost folders and everything below them; a set still unplaced afterwards lies
    // in a cycle of folders, which is cut at a folder on it that then heads a lost folder.
    std::vector<ExfatDeepPlace> Walk()
    {
        for (u32 lost = 0; lost < m_lost.size(); ++lost)
            m_queue.push_back(
                Pending{kNone, lost, Format("%s\\Folder_%u_", m_root.c_str(), lost + 1), 1});
        Drain();
        for (u32 s = 0; s < m_placed.size(); ++s)
        {
            if (m_placed[s] || m_parent[s] == kNone)
                continue;
            const u32 cut = OnCycle(s);
            if (cut == kNone)
                continue;
            const u32 lost = NewLost();
            m_lost[lost].push_back(cut);
            m_queue.push_back(
                Pending{kNone, lost, Format("%s\\Folder_%u_", m_root.c_str(), lost + 1), 1});
            Drain();
        }
        return std::move(m_places);
    }

private:
    struct Pending
    {
        u32 folder; // the folder set whose children come next, or kNone for a lost folder
        u32 lost;   // else the lost folder's index
        std::string path;
        u32 level;
    };

    u32 NewLost()
    {
        m_lost.emplace_back();
        return static_cast<u32>(m_lost.size() - 1);
    }

    void AttachSet(u32 s, u32 k, u32 group)
    {
        const ExfatLooseSets& found = m_links.found;
        if (m_links.dropped[k])
            return;
        // A folder set that lost its first cluster to another is that folder found twice.
        if (IsFolder(found.sets[s].set) && found.sets[s].set.firstCluster >= kFirstCluster &&
            !m_links.owner[s])
            return;
        const u32 f = m_links.claim[k];
        if (f == kNone)
        {
            m_lost[group].push_back(s);
            return;
        }
        if (!m_links.dropped[m_links.clusterOf[f]])
        {
            m_parent[s] = f;
            m_children[f].push_back(s);
            return;
        }
        // The parent is the normal search's and was read only in part: its name stays there.
        auto [it, added] = m_lostOf.try_emplace(f, 0);
        if (added)
            it->second = NewLost();
        m_lost[it->second].push_back(s);
    }

    // A folder on the cycle above s, or kNone when there is none.
    u32 OnCycle(u32 s)
    {
        std::unordered_map<u32, u32> seen;
        for (u32 x = m_parent[s]; x != kNone && !m_placed[x]; x = m_parent[x])
            if (!seen.try_emplace(x, 0).second)
                return x;
        return kNone;
    }

    void Emit(const std::vector<u32>& children, const std::string& path, u32 level)
    {
        NameList names;
        for (u32 s : children)
        {
            if (m_placed[s])
                continue;
            m_placed[s] = true;
            std::string name = m_links.found.sets[s].set.name;
            std::replace(name.begin(), name.end(), '\\', '_');
            std::replace(name.begin(), name.end(), '/', '_');
            name = names.Unique(std::move(name));
            if (IsFolder(m_links.found.sets[s].set) && !m_children[s].empty())
            {
                if (level < kMaxDeepLevels)
                {
                    std::string below = path;
                    below += '\\';
                    below += name;
                    m_queue.push_back(Pending{s, 0, std::move(below), level + 1});
                }
                else
                {
                    const u32 lost = NewLost();
                    m_lost[lost] = m_children[s];
                    m_queue.push_back(Pending{
                        kNone, lost, Format("%s\\Folder_%u_", m_root.c_str(), lost + 1), 1});
                }
            }
            m_places.push_back(ExfatDeepPlace{s, path, std::move(name)});
        }
    }

    void Drain()
    {
        while (!m_queue.empty())
        {
            Pending next = std::move(m_queue.front());
            m_queue.pop_front();
            // Copied: a lost folder made meanwhile may move the lists.
            const std::vector<u32> children =
                next.folder == kNone ? m_lost[next.lost] : m_children[next.folder];
            Emit(children, next.path, next.level);
        }
    }

    const Links& m_links;
    const std::string& m_root;
    std::vector<std::vector<u32>> m_children; // per folder set: the sets it holds
    std::vector<std::vector<u32>> m_lost;     // per lost folder: the sets it holds
    std::unordered_map<u32, u32> m_lostOf;    // folder set read in part -> its lost folder
    std::vector<u32> m_parent;                // per set: its folder set, or kNone
    std::vector<bool> m_placed;
    std::deque<Pending> m_queue;
    std::vector<ExfatDeepPlace> m_places;
};
} // namespace

std::vector<ExfatDeepPlace> PlaceExfatLooseSets(const ExfatLooseSets& found, u64 clusterBytes,
                                                const std::string& root,
                                                const std::function<bool(u32 cluster)>& known)
{
    if (clusterBytes == 0 || found.sets.empty())
        return {};
    const Links links = Link(found, clusterBytes, known);
    TreeWalk walk(links, root);
    walk.Attach();
    return walk.Walk();
}
