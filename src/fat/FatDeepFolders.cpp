// The deep search's recogniser of FAT folder clusters.
#include "fat/FatDeepFolders.h"

#include <cstddef>
#include <cstring>
#include <exception>

#include "fat/FatDir.h"
#include "fat/FatDirBlock.h"
#include "platform/ByteOrder.h"

using namespace FatDirLayout;

namespace
{
constexpr u8 kDot[11] = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
constexpr u8 kDotDot[11] = {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

u32 FirstCluster(const u8* entry)
{
    return (static_cast<u32>(LoadLe16(entry + kFstClusHi)) << 16) | LoadLe16(entry + kFstClusLo);
}

// Whether entry is the dot entry named name11, marked a folder and not a long-name part.
bool IsDotEntry(const u8* entry, const u8* name11)
{
    const u8 attr = entry[kAttr];
    return std::memcmp(entry + kName, name11, 11) == 0 && (attr & kAttrDirectory) != 0 &&
           (attr & kAttrLongNameMask) != kAttrLongName;
}
} // namespace

bool ReadFolderHead(std::span<const u8> bytes, u32 cluster, u32 limit, FatFolderHead* head)
{
    if (bytes.size() < std::size_t{2} * kEntrySize || bytes.size() > 0xFFFFFFFFu || cluster < 2 ||
        cluster > limit)
        return false;
    const u8* dot = bytes.data();
    const u8* dotDot = dot + kEntrySize;
    if (!IsDotEntry(dot, kDot) || !IsDotEntry(dotDot, kDotDot) || FirstCluster(dot) != cluster)
        return false;
    u32 parent = FirstCluster(dotDot);
    if (parent > limit)
        return false;
    // A ".." that names the folder itself, or cluster 1, names no parent there can be.
    if (parent == cluster || parent == 1)
        parent = 0;
    if (!CheckDirContinuation(bytes.data(), static_cast<u32>(bytes.size()), limit))
        return false;
    head->cluster = cluster;
    head->parent = parent;
    head->createdDate = LoadLe16(dot + kCrtDate);
    head->createdTime = LoadLe16(dot + kCrtTime);
    head->createdTenth = dot[kCrtTimeTenth];
    head->accessDate = LoadLe16(dot + kLstAccDate);
    return true;
}

void FatFolderHeads::Visit(std::span<const u8> bytes, u64 firstCluster,
                           const std::vector<bool>* unreadable)
{
    if (m_clusterBytes < 2 * kEntrySize)
        return;
    std::size_t index = 0;
    for (std::size_t at = 0; at + m_clusterBytes <= bytes.size(); at += m_clusterBytes, ++index)
    {
        const u64 cluster = firstCluster + index;
        if (cluster > m_limit)
            return;
        if (unreadable != nullptr && index < unreadable->size() && (*unreadable)[index])
            continue;
        // The first byte tells most clusters apart at once: a folder's opens with '.'.
        if (bytes[at] != '.')
            continue;
        FatFolderHead head;
        if (!ReadFolderHead(bytes.subspan(at, m_clusterBytes), static_cast<u32>(cluster), m_limit,
                            &head))
            continue;
        try
        {
            m_heads.push_back(head);
        }
        catch (const std::exception&)
        {
            return; // no memory for more: the heads found so far are searched
        }
    }
}
