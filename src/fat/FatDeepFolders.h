// The deep search's recogniser of FAT folders: the first cluster of a folder wherever it lies on
// the data region, told by its "." and ".." entries, as one pass over the clusters meets it.
// Nothing on the volume need link the cluster: after a quick format the root and the FAT are
// cleared, while the folders' clusters still hold their entries.
#pragma once

#include <span>
#include <utility>
#include <vector>

#include "platform/Types.h"

// A folder's first cluster as the pass met it.
struct FatFolderHead
{
    u32 cluster = 0; // the cluster read, which its "." entry names
    u32 parent = 0;  // the cluster its ".." entry names; 0 for the root, or none that can be
    // The "." entry's creation date and time (10 ms count) and its last access date.
    u16 createdDate = 0;
    u16 createdTime = 0;
    u8 createdTenth = 0;
    u16 accessDate = 0;
};

// Whether bytes (one whole cluster, read as cluster number `cluster` of a volume whose highest
// cluster is limit) open a folder: a "." entry with the folder bit that names cluster, a ".."
// entry with the folder bit that names a cluster up to limit, and plausible entries for the
// rest (the rule a deleted folder's next clusters are read by). Fills *head when it does; a
// ".." that names the folder itself (a folder is not its own parent) counts as naming none.
[[nodiscard]] bool ReadFolderHead(std::span<const u8> bytes, u32 cluster, u32 limit,
                                  FatFolderHead* head);

// The folder heads of a pass, in the order of their clusters.
class FatFolderHeads
{
public:
    // clusterBytes: bytes of one cluster; limit: the volume's highest cluster number.
    FatFolderHeads(u32 clusterBytes, u32 limit) : m_clusterBytes(clusterBytes), m_limit(limit) {}

    // Looks at the whole clusters of bytes, the first of them cluster firstCluster; the clusters
    // flagged in unreadable (one flag a cluster; null: all arrived) are passed over, and so is
    // anything past the volume's last cluster.
    void Visit(std::span<const u8> bytes, u64 firstCluster, const std::vector<bool>* unreadable);

    [[nodiscard]] const std::vector<FatFolderHead>& Heads() const { return m_heads; }
    // Hands the heads over; none are left.
    [[nodiscard]] std::vector<FatFolderHead> Take() { return std::move(m_heads); }

private:
    u32 m_clusterBytes;
    u32 m_limit;
    std::vector<FatFolderHead> m_heads;
};
