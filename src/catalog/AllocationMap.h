// A volume's allocation state as a bit per cluster, laid out as the NTFS $Bitmap is: cluster n
// is bit n % 8 of byte n / 8. The engines fill it once per search; the condition of the finds
// is judged from it.
#pragma once

#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "platform/Types.h"

class AllocationMap
{
public:
    // Sizes the map for clusters 0 .. clusters - 1, all free. False when memory is short (the
    // map is then empty).
    [[nodiscard]] bool Reset(u64 clusters)
    {
        m_bytes.clear();
        m_clusters = 0;
        const u64 bytes = clusters / 8 + (clusters % 8 != 0 ? 1 : 0);
        try
        {
            m_bytes.assign(static_cast<std::size_t>(bytes), 0);
        }
        catch (const std::bad_alloc&)
        {
            return false;
        }
        m_clusters = clusters;
        return true;
    }
    [[nodiscard]] u64 Clusters() const { return m_clusters; }
    // The bytes of the map, for a loader that copies a bitmap of the same layout.
    [[nodiscard]] u8* Bytes() { return m_bytes.data(); }
    [[nodiscard]] u64 ByteCount() const { return m_bytes.size(); }

    void Set(u64 cluster)
    {
        if (cluster < m_clusters)
            m_bytes[cluster / 8] = static_cast<u8>(m_bytes[cluster / 8] | (1u << (cluster % 8)));
    }
    // Whether cluster is in use; a cluster outside the map counts as in use: it cannot be read
    // as a free one.
    [[nodiscard]] bool InUse(u64 cluster) const
    {
        return cluster >= m_clusters || ((m_bytes[cluster / 8] >> (cluster % 8)) & 1u) != 0;
    }
    // Clusters in use among first .. first + count - 1, those outside the map included.
    [[nodiscard]] u64 CountInUse(u64 first, u64 count) const
    {
        if (first >= m_clusters)
            return count;
        const u64 inside = count < m_clusters - first ? count : m_clusters - first;
        u64 used = count - inside;
        u64 n = first;
        const u64 end = first + inside;
        // Bit by bit up to a byte boundary, then eight bytes at a time, then the rest.
        for (; n < end && n % 64 != 0; ++n)
            used += InUse(n) ? 1 : 0;
        for (; end - n >= 64; n += 64)
        {
            u64 word = 0;
            std::memcpy(&word, m_bytes.data() + n / 8, sizeof word);
            used += static_cast<u64>(std::popcount(word));
        }
        for (; n < end; ++n)
            used += InUse(n) ? 1 : 0;
        return used;
    }

private:
    std::vector<u8> m_bytes;
    u64 m_clusters = 0;
};
