// The bytes of a carved file's layout: its runs of clusters read through the carving space.
#include <algorithm>
#include <cstring>
#include <vector>

#include "carve/GapSearch.h"

LayoutSource::LayoutSource(ICarveSpace& space, std::span<const CarveRun> runs, u64 size)
    : m_space(space), m_runs(runs), m_size(size)
{
}

std::size_t LayoutSource::Read(u64 offset, std::span<u8> out)
{
    const u64 cb = m_space.ClusterBytes();
    if (cb == 0 || offset >= m_size || out.empty())
        return 0;
    const u64 want = std::min<u64>(out.size(), m_size - offset);
    std::vector<u8> scratch;
    u64 done = 0;
    u64 runStart = 0; // the file's cluster index where run r begins
    std::size_t r = 0;
    while (done < want && r < m_runs.size())
    {
        const u64 pos = offset + done;
        const u64 index = pos / cb;
        const u64 inner = pos % cb;
        if (index >= runStart + m_runs[r].length)
        {
            runStart += m_runs[r].length;
            ++r;
            continue;
        }
        const u64 cluster = m_runs[r].first + (index - runStart);
        const u64 left = want - done;
        if (inner == 0 && left >= cb)
        {
            // Whole clusters straight into out.
            const u64 count = std::min(left / cb, runStart + m_runs[r].length - index);
            const std::size_t bytes = static_cast<std::size_t>(count * cb);
            const std::size_t got = m_space.ReadClusters(
                cluster, count, out.subspan(static_cast<std::size_t>(done), bytes));
            done += std::min(got, bytes);
            if (got < bytes)
                break;
            continue;
        }
        scratch.resize(static_cast<std::size_t>(cb));
        const std::size_t got = m_space.ReadClusters(cluster, 1, scratch);
        const u64 take = std::min(left, cb - inner);
        if (got < inner + take)
        {
            if (got > inner)
                std::memcpy(out.data() + done, scratch.data() + inner, got - inner);
            done += got > inner ? got - inner : 0;
            break;
        }
        std::memcpy(out.data() + done, scratch.data() + inner, static_cast<std::size_t>(take));
        done += take;
    }
    return static_cast<std::size_t>(done);
}
