// exFAT entry sets wherever they lie: the deep search looks at every 32-byte step of every
// cluster of the heap for a File entry followed by its Stream Extension, and keeps the sets
// whose checksum holds, with the cluster and offset where each lies.
#pragma once

#include <vector>

#include "exfat/ExfatEntrySet.h"
#include "platform/ByteOrder.h"
#include "platform/Types.h"

// Bytes past a cluster's end a set that starts in its last slot may take: a File entry and up
// to 18 secondary entries.
inline constexpr u32 kExfatSetLookahead = 19 * 32;

// One set found.
struct ExfatLooseSet
{
    ExfatEntrySet set;
    u32 cluster = 0; // the cluster that holds its File entry
    u32 offset = 0;  // byte offset of the File entry in that cluster
};

// A cluster that holds one or more of the sets found.
struct ExfatSetCluster
{
    u32 cluster = 0;
    u32 firstSet = 0; // index of its first set in ExfatLooseSets::sets
    u32 count = 0;    // sets that start in it
    // The folder it belongs to ends in it: its last slot is unused (a folder's entries are
    // written from its start on, so the slots behind its end are zeros).
    bool ends = false;
};

// The sets of the clusters looked at so far, in cluster order.
struct ExfatLooseSets
{
    std::vector<ExfatLooseSet> sets;
    std::vector<ExfatSetCluster> clusters; // ascending by cluster

    // The index in clusters of cluster; clusters.size() when none of its sets was found.
    [[nodiscard]] std::size_t ClusterIndex(u32 cluster) const;
};

// Looks for sets in one cluster, numbered cluster, whose bytes are the first clusterBytes of
// bytes; bytes may run on past the cluster (the bytes that follow it on the volume), for a set
// that starts in it and runs over its end. A set is kept when it decodes whole (live or
// deleted) and its checksum matches. Clusters must be given in ascending order. Does nothing
// when bytes is shorter than clusterBytes.
void FindExfatLooseSets(ByteView bytes, std::size_t clusterBytes, u32 cluster,
                        ExfatLooseSets* found);
