// The NTFS deleted-file scan: a pass over the MFT in record order, with folder paths rebuilt
// from parent references and clashing names made unique within their folder.
#include "scan/NtfsScan.h"

#include <unordered_set>

#include "mempool/MemPool.h"
#include "ntfs/FileReference.h"
#include "platform/EventSink.h"
#include "platform/Format.h"
#include "platform/Status.h"

namespace
{
constexpr s64 kRootRecord = 5;       // the root folder's MFT record
constexpr s64 kFirstUserRecord = 16; // records 0-15 belong to the metafiles
constexpr u8 kAttrFolder = 0x10;
constexpr u32 kScanWarning = 3; // WM_SCAN_NOTIFY code: damage the scan worked around

// The item's full text, its name first numbered when an earlier item of the folder has it:
// the number goes before the name's last '.', or at its end; a numbered name that is itself
// taken already moves the counter on, so names stay unique in a folder. seen holds the texts
// so far, each with the number of later items that clashed with it.
std::string UniqueText(std::unordered_map<std::string, u32>& seen, FoundItem& item)
{
    std::string text = item.path + '\\' + item.name;
    auto [at, fresh] = seen.try_emplace(text, 0);
    if (fresh)
        return text;
    u32& counter = at->second;
    const std::string base = item.name;
    const std::size_t dot = base.rfind('.');
    while (true)
    {
        const std::string suffix = Format("_%u_", ++counter);
        item.name = dot == std::string::npos ? base + suffix
                                             : base.substr(0, dot) + suffix + base.substr(dot);
        text = item.path + '\\' + item.name;
        if (seen.try_emplace(text, 0).second)
            return text;
    }
}
} // namespace

bool NtfsParentMatches(u16 referenced, u16 actual, bool inUse)
{
    return referenced == 0 || NtfsSequenceMatches(referenced, actual, inUse);
}

const std::string* NtfsFolderMap::Find(s64 record, u16 sequence) const
{
    auto it = byRecord.find(record);
    if (it == byRecord.end())
        return nullptr;
    for (const Entry& e : it->second)
    {
        if (e.lost ? e.sequence == sequence : NtfsParentMatches(sequence, e.sequence, e.inUse))
            return &e.path;
    }
    return nullptr;
}

void NtfsFolderMap::AddFolder(s64 record, u16 sequence, bool inUse, const std::string& path)
{
    byRecord[record].push_back(Entry{path, sequence, inUse, false});
}

void NtfsFolderMap::AddLost(s64 record, u16 sequence, const std::string& path)
{
    byRecord[record].push_back(Entry{path, sequence, false, true});
}

void ResolveFolder(CCatalog& /*catalog*/, std::string& path, CNtfs& ntfs, s64 record, u16 sequence,
                   NtfsFolderMap& folders)
{
    struct Step
    {
        s64 record;
        u16 sequence;
        bool inUse;
        std::string name;
    };
    // Walk up iteratively: a chain of any depth costs no stack, and a record met twice on the
    // way (a loop) ends the walk as a lost parent.
    std::vector<Step> chain;
    std::unordered_set<s64> onChain;
    std::string base;
    s64 p = record;
    u16 q = sequence;
    while (true)
    {
        if (p == kRootRecord)
        {
            base = folders.root;
            break;
        }
        if (const std::string* known = folders.Find(p, q))
        {
            base = *known;
            break;
        }
        if (!onChain.contains(p))
        {
            NtfsRecordInfo info;
            const u32 rc = ntfs.ReadRecord(info, p);
            g_MemPool.Free(&info.data);
            if (rc == kOk && info.attribute == kAttrFolder &&
                NtfsParentMatches(q, info.sequence, info.inUse != 0))
            {
                chain.push_back(Step{p, info.sequence, info.inUse != 0, std::move(info.name)});
                onChain.insert(p);
                p = info.parent;
                q = info.parentSequence;
                continue;
            }
        }
        ++folders.counter;
        base = Format("%s\\Folder_%u_", folders.root.c_str(), folders.counter);
        folders.AddLost(p, q, base);
        break;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    {
        base += '\\';
        base += it->name;
        folders.AddFolder(it->record, it->sequence, it->inUse, base);
    }
    path = std::move(base);
}

u32 ScanNtfsVolume(CCatalog& catalog, VolumeEntry& volume)
{
    if (!volume.ntfs)
        return kOk;
    CNtfs& ntfs = *volume.ntfs;
    const s64 count = static_cast<s64>(ntfs.RecordCount());
    NtfsFolderMap folders;
    folders.root = volume.name;
    // Full item texts reported so far, each with the number of later items that clashed with it.
    std::unordered_map<std::string, u32> seen;

    if (ntfs.MftRecordsClaimed() != 0)
        catalog.Post(WM_SCAN_NOTIFY, kScanWarning,
                     Format("%s the MFT's run list claims %llu records, but its $DATA attribute "
                            "holds %llu; the records beyond are not searched",
                            volume.name.c_str(),
                            static_cast<unsigned long long>(ntfs.MftRecordsClaimed()),
                            static_cast<unsigned long long>(ntfs.MftRecordsHeld())),
                     0);

    NtfsRecordInfo info;
    FoundItem item;
    ntfs.SetReadAhead(true);
    for (s64 r = kFirstUserRecord; r < count && g_bRunning.load() != 0; ++r)
    {
        if (ntfs.ReadRecord(info, r) != kOk)
            continue;
        item = FoundItem{};
        // Folders still in use are listed for orientation; only they read as not deleted.
        item.deleted = info.inUse != 0 ? 0 : 1;
        item.attr = static_cast<u8>(info.attribute);
        item.size = info.size;
        item.data = info.data;
        info.data = nullptr;
        item.name = info.name;
        item.created = info.created;
        item.accessed = info.accessed;
        s64 sector = r;
        if (ntfs.RecordToSector(sector))
            item.first = static_cast<u64>(sector);
        else
            item.first = 0;
        item.record = static_cast<u64>(r);

        ResolveFolder(catalog, item.path, ntfs, info.parent, info.parentSequence, folders);
        std::string text = UniqueText(seen, item);
        if (item.attr & kAttrFolder)
            folders.AddFolder(r, info.sequence, info.inUse != 0, text);
        catalog.Post(WM_SCAN_NOTIFY, 1, text, item.attr);
        volume.items.push_back(item);
        // Each named data stream is an item of its own beside the file: "NAME:STREAM".
        for (NtfsNamedStream& stream : info.streams)
        {
            FoundItem named = item;
            named.data = nullptr;
            named.name = item.name + ':' + stream.name;
            named.size = stream.size;
            named.stream = std::move(stream.name);
            text = UniqueText(seen, named);
            catalog.Post(WM_SCAN_NOTIFY, 1, text, named.attr);
            volume.items.push_back(std::move(named));
        }
    }
    ntfs.SetReadAhead(false);
    return kOk;
}
