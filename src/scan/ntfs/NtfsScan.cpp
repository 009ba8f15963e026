// The NTFS deleted-file scan: a pass over the MFT in record order, with folder paths rebuilt
// from parent references and clashing names made unique within their folder.
#include "scan/ntfs/NtfsScan.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "mempool/MemPool.h"
#include "ntfs/FileReference.h"
#include "platform/ByteOrder.h"
#include "platform/EventSink.h"
#include "platform/Format.h"
#include "platform/LargeBlock.h"
#include "platform/Prefetch.h"
#include "platform/Status.h"
#include "scan/ReadFailures.h"
#include "scan/ntfs/NtfsRecordFeed.h"
#include "scan/ntfs/NtfsVolumeState.h"

namespace
{
constexpr s64 kRootRecord = 5;       // the root folder's MFT record
constexpr s64 kFirstUserRecord = 16; // records 0-15 belong to the metafiles
constexpr u8 kAttrFolder = 0x10;
constexpr s64 kMaxReservedItems = s64{1} << 24; // 16 Mi items, about 2 GiB of address space
constexpr std::size_t kHugePagesFrom = std::size_t{64} << 20; // 32 huge pages

// The full texts ("PATH\NAME") of the items found so far, each with the number of later items
// that clashed with it. The table holds indexes into the volume's items, not copies of the
// texts: a text is hashed as the bytes of path, '\' and name, and compared in place. (A table
// of string keys cost a heap node and a copy of the text per item, and rehashed every text as
// it grew.)
class ItemTexts
{
public:
    explicit ItemTexts(const FoundItems& items) : m_items(items) {}

    // The slot of the item with the text path\name, or of the free slot where it would go.
    [[nodiscard]] std::size_t Find(std::string_view path, std::string_view name, u64 hash) const
    {
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t at = hash & mask;; at = (at + 1) & mask)
        {
            const Slot& slot = m_slots[at];
            if (slot.item == kFree ||
                (slot.hash == static_cast<u32>(hash) && SameText(m_items[slot.item], path, name)))
                return at;
        }
    }

    // True when slot (from Find) holds an item.
    [[nodiscard]] bool Taken(std::size_t slot) const { return m_slots[slot].item != kFree; }

    // Records items[index] in a free slot that Find returned for its text.
    void Add(std::size_t slot, u64 hash, std::size_t index)
    {
        m_slots[slot] = Slot{static_cast<u32>(hash), static_cast<u32>(index)};
        if (++m_count * 2 > m_slots.size())
            Grow();
    }

    // The number of later items that clashed with the text in slot.
    u32& Counter(std::size_t slot) { return m_counters[m_slots[slot].item]; }

    // Makes room for a Find before the first Add.
    void Reserve() { m_slots.assign(1024, Slot{}); }

    // Has the processor fetch the slot a text of this hash is looked for from.
    void Prefetch(u64 hash) const { PrefetchLine(&m_slots[hash & (m_slots.size() - 1)]); }

    // The hash of a full text "PATH\NAME", taken eight bytes at a time: a step of the chain per
    // word instead of one per byte, about 75 instructions fewer a find.
    static u64 Hash(std::string_view text)
    {
        auto mix = [](u64 x)
        {
            x *= 0x9E3779B97F4A7C15ULL;
            return x ^ (x >> 29);
        };
        u64 h = mix(text.size());
        std::size_t at = 0;
        for (; at + 8 <= text.size(); at += 8)
            h = mix(h ^ LoadLe64(text.data() + at));
        if (at < text.size())
        {
            u8 tail[8] = {};
            std::memcpy(tail, text.data() + at, text.size() - at);
            h = mix(h ^ LoadLe64(tail));
        }
        return h ^ (h >> 32);
    }

private:
    static constexpr u32 kFree = 0xFFFFFFFF;
    struct Slot
    {
        u32 hash = 0;
        u32 item = kFree;
    };

    // True when item's text equals path\name (a '\' inside a name can make texts equal whose
    // parts differ: they are compared as whole texts).
    static bool SameText(const FoundItem& item, std::string_view path, std::string_view name)
    {
        if (item.path.size() == path.size())
            return item.path == path && item.name == name;
        if (item.path.size() + item.name.size() != path.size() + name.size())
            return false;
        auto at = [](std::string_view a, std::string_view b, std::size_t i) {
            return i < a.size() ? a[i] : i == a.size() ? '\\' : b[i - a.size() - 1];
        };
        for (std::size_t i = 0; i <= path.size() + name.size(); ++i)
            if (at(item.path.view(), item.name.view(), i) != at(path, name, i))
                return false;
        return true;
    }

    void Grow()
    {
        Slots old(m_slots.size() * 2);
        old.swap(m_slots);
        const std::size_t mask = m_slots.size() - 1;
        for (const Slot& slot : old)
        {
            if (slot.item == kFree)
                continue;
            std::size_t at = slot.hash & mask;
            while (m_slots[at].item != kFree)
                at = (at + 1) & mask;
            m_slots[at] = slot;
        }
    }

    // A table of a million texts is far larger than the cache, and each lookup lands at a
    // random place in it: on huge pages, at least the page tables' walk is spared.
    using Slots = std::vector<Slot, HugePageAllocator<Slot>>;

    const FoundItems& m_items;
    Slots m_slots;
    std::size_t m_count = 0;
    std::unordered_map<u32, u32> m_counters; // only texts that were clashed with
};

// Reserves room for an item per MFT record, the most a scan finds but for named streams.
// Address space is all it costs: pages never written are never resident, and the items are no
// longer copied as the list grows, which held the old and the new copy (half as much again as
// the list) at once. A reservation the system refuses leaves the list to grow as it needs, and
// so does an MFT of more than kMaxReservedItems records (a damaged size must not ask for
// terabytes).
void ReserveItems(FoundItems& items, s64 records)
{
    if (records <= kFirstUserRecord)
        return;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<s64>(records - kFirstUserRecord, kMaxReservedItems));
    try
    {
        items.reserve(items.size() + wanted);
        // Huge pages spare a large list most of its page faults, but the last one is touched
        // whole however little of it the items fill: a list reserved for a small MFT stays on
        // small pages.
        if (wanted * sizeof(FoundItem) < kHugePagesFrom)
            AdviseSmallPages(items.data(), items.capacity() * sizeof(FoundItem));
    }
    catch (const std::bad_alloc&)
    {
    }
}

// Sets *text to the full text of path and name.
void JoinText(std::string_view path, std::string_view name, std::string* text)
{
    text->assign(path);
    *text += '\\';
    *text += name;
}

// Numbers the item's name when an earlier item of the folder has it: the number goes before the
// name's last '.', or at its end; a numbered name that is itself taken already moves the counter
// on, so names stay unique in a folder. Sets *text to the item's final text and returns its
// slot.
std::size_t MakeNameUnique(ItemTexts& texts, FoundItem& item, u64* hash, std::string* text)
{
    JoinText(item.path.view(), item.name.view(), text);
    *hash = ItemTexts::Hash(*text);
    std::size_t slot = texts.Find(item.path, item.name, *hash);
    if (!texts.Taken(slot))
        return slot;
    u32& counter = texts.Counter(slot);
    const std::string base = item.name.str();
    const std::size_t dot = base.rfind('.');
    while (true)
    {
        const std::string suffix = Format("_%u_", ++counter);
        item.name = dot == std::string::npos ? base + suffix
                                             : base.substr(0, dot) + suffix + base.substr(dot);
        JoinText(item.path.view(), item.name.view(), text);
        *hash = ItemTexts::Hash(*text);
        slot = texts.Find(item.path, item.name, *hash);
        if (!texts.Taken(slot))
            return slot;
    }
}

// The number FoundItem::stream gives the named stream: each name is kept once per volume (a
// disk holds thousands of "Zone.Identifier" streams).
u32 StreamIndex(std::vector<std::string>& names, std::unordered_map<std::string, u32>& known,
                const std::string& name)
{
    auto [it, added] = known.try_emplace(name, static_cast<u32>(names.size() + 1));
    if (added)
        names.push_back(name);
    return it->second;
}

// The slot of a find a few records ahead is fetched into the cache while this one is filed (a
// lookup waited for memory at its first slot), from its parent's path if that folder is known
// already: only a hint, the find's own lookup decides.
constexpr std::size_t kLookAhead = 8;

void PrefetchSlot(const ItemTexts& texts, const NtfsFolderMap& folders, const NtfsRecordInfo& info,
                  std::string* scratch)
{
    if (info.parent == kRootRecord)
        JoinText(folders.root, info.name.view(), scratch);
    else if (const ItemText* path = folders.Find(info.parent, info.parentSequence))
        JoinText(path->view(), info.name.view(), scratch);
    else
        return;
    texts.Prefetch(ItemTexts::Hash(*scratch));
}

// Appends item to the volume's items under a unique name and sets *text to its full text (one
// buffer reused for every item: a heap block less per find).
void AddItem(ItemTexts& texts, FoundItems& items, FoundItem&& item, std::string* text)
{
    u64 hash = 0;
    const std::size_t slot = MakeNameUnique(texts, item, &hash, text);
    items.push_back(std::move(item));
    texts.Add(slot, hash, items.size() - 1);
}
} // namespace

bool NtfsParentMatches(u16 referenced, u16 actual, bool inUse)
{
    return referenced == 0 || NtfsSequenceMatches(referenced, actual, inUse);
}

const ItemText* NtfsFolderMap::Find(s64 record, u16 sequence) const
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

void NtfsFolderMap::AddFolder(s64 record, u16 sequence, bool inUse, const ItemText& path)
{
    byRecord[record].push_back(Entry{path, sequence, inUse, false});
}

void NtfsFolderMap::AddLost(s64 record, u16 sequence, const ItemText& path)
{
    byRecord[record].push_back(Entry{path, sequence, false, true});
}

void ResolveFolder(CCatalog& /*catalog*/, ItemText& path, CNtfs& ntfs, s64 record, u16 sequence,
                   NtfsFolderMap& folders)
{
    struct Step
    {
        s64 record;
        u16 sequence;
        bool inUse;
        ItemName name;
    };
    // Walk up iteratively: a chain of any depth costs no stack, and a record met twice on the
    // way (a loop) ends the walk as a lost parent.
    std::vector<Step> chain;
    std::unordered_set<s64> onChain;
    // The path of the highest folder reached; a known one is shared, not copied.
    ItemText base;
    s64 p = record;
    u16 q = sequence;
    while (true)
    {
        if (p == kRootRecord)
        {
            base = folders.root;
            break;
        }
        if (const ItemText* known = folders.Find(p, q))
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
        std::string below = base + '\\';
        below += it->name;
        base = below;
        folders.AddFolder(it->record, it->sequence, it->inUse, base);
    }
    path = std::move(base);
}

namespace
{
// The find of record r, which read as info: it takes over the record's data and name.
FoundItem RecordItem(CNtfs& ntfs, s64 r, NtfsRecordInfo& info)
{
    FoundItem item{};
    // Folders still in use are listed for orientation; only they read as not deleted.
    item.deleted = info.inUse != 0 ? 0 : 1;
    item.attr = static_cast<u8>(info.attribute);
    item.size = info.size;
    item.SetPayload(FindPayload::kRecordData, info.data);
    info.data = nullptr;
    item.name = std::move(info.name);
    item.created = info.created;
    item.accessed = info.accessed;
    s64 sector = r;
    if (ntfs.RecordToSector(sector))
        item.first = static_cast<u64>(sector);
    else
        item.first = 0;
    item.record = static_cast<u64>(r);
    return item;
}

// Tells of the records the MFT claims but that cannot be searched: past its $DATA attribute, or
// past the end of the source.
void ReportShortMft(CCatalog& catalog, const std::string& name, CNtfs& ntfs, s64 count)
{
    if (ntfs.MftRecordsClaimed() != 0)
        catalog.Post(WM_SCAN_NOTIFY, kScanWarning,
                     Format("%s the MFT's run list claims %llu records, but its $DATA attribute "
                            "holds %llu; the records beyond are not searched",
                            name.c_str(), static_cast<unsigned long long>(ntfs.MftRecordsClaimed()),
                            static_cast<unsigned long long>(ntfs.MftRecordsHeld())),
                     0);

    if (ntfs.MftRecordsPastSource() != 0)
        ReportUnreadableRecords(
            catalog, name, count,
            count + static_cast<s64>(std::min<u64>(ntfs.MftRecordsPastSource(), u64{1} << 62)));
}
} // namespace

u32 ScanNtfsVolume(CCatalog& catalog, VolumeEntry& volume, bool oneThread)
{
    NtfsVolumeState* state = NtfsStateOf(volume);
    if (state == nullptr || !state->ntfs)
        return kOk;
    CNtfs& ntfs = *state->ntfs;
    std::vector<std::string>& streamNames = state->streamNames;
    const s64 count = static_cast<s64>(ntfs.RecordCount());
    NtfsFolderMap folders;
    folders.root = volume.name;
    ItemTexts texts(volume.items);
    texts.Reserve();
    ReserveItems(volume.items, count);

    ReportShortMft(catalog, volume.name, ntfs, count);

    FoundItem item;
    std::string text;
    std::unordered_map<std::string, u32> streamIndex;
    // Makes a find of record r, which read as info, and of each of its named streams.
    auto add = [&](s64 r, NtfsRecordInfo& info)
    {
        item = RecordItem(ntfs, r, info);
        ResolveFolder(catalog, item.path, ntfs, info.parent, info.parentSequence, folders);
        const u8 attr = item.attr;
        AddItem(texts, volume.items, std::move(item), &text);
        if (attr & kAttrFolder)
            folders.AddFolder(r, info.sequence, info.inUse != 0, text);
        catalog.Post(WM_SCAN_NOTIFY, kScanFind, text, attr);
        // Each named data stream is an item of its own beside the file: "NAME:STREAM".
        const std::size_t file = volume.items.size() - 1;
        for (NtfsNamedStream& stream : info.streams)
        {
            FoundItem named = volume.items[file];
            named.SetPayload(FindPayload::kNone, nullptr);
            named.name += ':';
            named.name += stream.name;
            named.size = stream.size;
            named.stream = StreamIndex(streamNames, streamIndex, stream.name);
            AddItem(texts, volume.items, std::move(named), &text);
            catalog.Post(WM_SCAN_NOTIFY, kScanFind, text, attr);
        }
    };

    // The records are read and decoded on a second thread while this one files them; when no
    // second reader of the volume can be had, this thread reads them itself.
    CNtfsRecordFeed feed;
    UnreadableRecords unreadable(catalog, volume.name);
    if (!oneThread && feed.Start(ntfs, volume.name, kFirstUserRecord, count))
    {
        std::vector<CNtfsRecordFeed::Decoded> batch;
        std::string scratch;
        while (g_bRunning.load() != 0 && feed.Next(&batch))
            for (std::size_t k = 0; k < batch.size(); ++k)
            {
                if (g_bRunning.load() == 0)
                    break;
                if (k + kLookAhead < batch.size())
                    PrefetchSlot(texts, folders, batch[k + kLookAhead].info, &scratch);
                if (batch[k].unreadable)
                    unreadable.Add(batch[k].record);
                else
                    add(batch[k].record, batch[k].info);
            }
        for (CNtfsRecordFeed::Decoded& decoded : batch)
            g_MemPool.Free(&decoded.info.data);
        return kOk;
    }
    NtfsRecordInfo info;
    ntfs.SetReadAhead(true);
    for (s64 r = kFirstUserRecord; r < count && g_bRunning.load() != 0; ++r)
        if (ntfs.ReadRecord(info, r) == kOk)
            add(r, info);
        else if (ntfs.LastReadFailed())
            unreadable.Add(r);
    ntfs.SetReadAhead(false);
    return kOk;
}
