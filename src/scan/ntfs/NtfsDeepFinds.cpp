// The NTFS deep search's finds: the records of an earlier MFT under the tree their parent
// references rebuild, and the names left in index records whose files are gone.
#include <algorithm>
#include <cstdlib>
#include <set>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "catalog/Catalog.h"
#include "mempool/MemPool.h"
#include "ntfs/FileReference.h"
#include "ntfs/Ntfs.h"
#include "ntfs/NtfsResult.h"
#include "platform/EventSink.h"
#include "platform/Format.h"
#include "platform/Status.h"
#include "scan/ntfs/NtfsDeep.h"
#include "scan/ntfs/NtfsScan.h"
#include "scan/ntfs/NtfsVolumeState.h"

namespace
{
constexpr u64 kRootRecord = 5;
constexpr u64 kFirstUserRecord = 16; // records 0-15 belong to the metafiles
constexpr u8 kAttrFolder = 0x10;
constexpr u8 kAttrFile = 0x20;
constexpr u32 kIndexFolder = 0x10000000; // an index key's attribute flag for a folder
constexpr u8 kDosName = 2;               // a DOS name: its Win32 twin is in the index too

// What the current MFT holds at a record number the deep search met.
struct CurrentRecord
{
    bool header = false; // the record read with a header
    bool named = false;  // it parsed as the normal search reads records (in use or a find)
    u16 sequence = 0;
    bool inUse = false;
    std::string name;     // its name as the deep search reads records; empty when it has none
    u64 parentRecord = 0; // the record number of its parent reference
};

// Reads record number of the current MFT as the deep search reads records into *out.
bool ReadCurrentRecord(CNtfs& ntfs, u64 number, StrayRecord* out)
{
    s64 sector = static_cast<s64>(number);
    CDirectRW* reader = ntfs.Reader();
    const u32 recordBytes = ntfs.GetRecordSize();
    const u32 units = std::max<u32>(1, recordBytes / CNtfs::kReaderSectorSize);
    std::vector<u8> bytes(std::size_t{units} * CNtfs::kReaderSectorSize);
    u32 done = 0;
    return reader != nullptr && ntfs.RecordToSector(sector) != 0 &&
           reader->ReadSectors(bytes.data(), units, &done, static_cast<u64>(sector)) == kOk &&
           done >= recordBytes && ParseStrayRecord(bytes.data(), recordBytes, out) == kNtfsOk;
}

class DeepTree
{
public:
    DeepTree(CCatalog& catalog, VolumeEntry& entry, const NtfsDeepHarvest& harvest)
        : m_catalog(catalog), m_entry(entry), m_harvest(harvest), m_ntfs(NtfsOf(entry))
    {
        Index();
    }

    void AddRecords();
    void AddNames();

private:
    void Index();
    [[nodiscard]] CurrentRecord Current(u64 number);
    // True when the current MFT holds record as the normal search read it.
    [[nodiscard]] bool Catalogued(const StrayRecord& record);
    // The kept record a reference names as a folder, or null.
    [[nodiscard]] const NtfsDeepHarvest::Found* StrayFolder(u64 reference);
    [[nodiscard]] std::string FolderText(u64 reference);
    [[nodiscard]] std::string LostFolder(u64 reference);
    // Appends item under a name unique in its folder; returns its full text.
    std::string Add(FoundItem&& item);
    void AddName(const IndexNameEntry& name);

    CCatalog& m_catalog;
    VolumeEntry& m_entry;
    const NtfsDeepHarvest& m_harvest;
    CNtfs* m_ntfs;
    std::unordered_set<std::string> m_texts;          // "PATH\NAME" of every item
    std::unordered_map<u64, std::string> m_folders;   // deep folders made, by record number
    std::unordered_map<u64, std::string> m_live;      // folders the normal search listed
    std::unordered_map<u64, std::string> m_lost;      // made-up folders, by parent reference
    std::unordered_map<u64, CurrentRecord> m_current; // records of the current MFT read
    u32 m_counter = 0;                                // made-up folders so far
};

std::string Join(std::string_view path, std::string_view name)
{
    std::string text(path);
    text += '\\';
    text += name;
    return text;
}

void DeepTree::Index()
{
    const std::string lostPrefix = m_entry.name + "\\Folder_";
    for (const FoundItem& item : m_entry.items)
    {
        std::string text = Join(item.path.view(), item.name.view());
        if (item.record != 0 && item.stream == 0 && (item.attr & kAttrFolder) != 0)
            m_live.try_emplace(item.record, text);
        m_texts.insert(std::move(text));
        // Made-up folders of the normal search keep their numbers: the deep ones count on.
        const std::string_view path = item.path.view();
        if (path.starts_with(lostPrefix))
            m_counter = std::max<u32>(
                m_counter, static_cast<u32>(std::strtoul(
                               std::string(path.substr(lostPrefix.size())).c_str(), nullptr, 10)));
    }
}

CurrentRecord DeepTree::Current(u64 number)
{
    if (m_ntfs == nullptr || number >= m_ntfs->RecordCount())
        return {};
    auto [it, added] = m_current.try_emplace(number);
    if (!added)
        return it->second;
    NtfsRecordInfo info;
    info.record = ~0ull;
    const u32 rc = m_ntfs->ReadRecord(info, static_cast<s64>(number));
    g_MemPool.Free(&info.data);
    CurrentRecord& current = it->second;
    current.header = rc == kOk || rc == kErrRecordInUse ||
                     (rc == kErrTransfer && !m_ntfs->LastReadFailed() && info.record == number);
    current.named = rc == kOk || rc == kErrRecordInUse;
    current.sequence = current.header ? info.sequence : 0;
    current.inUse = current.header && info.inUse != 0;
    StrayRecord named;
    if (current.header && ReadCurrentRecord(*m_ntfs, number, &named))
    {
        current.name = std::move(named.name);
        current.parentRecord = NtfsRefRecord(named.parentReference);
    }
    return current;
}

bool DeepTree::Catalogued(const StrayRecord& record)
{
    // The same number and sequence number may name another file where an earlier MFT lay
    // outside the current one: the same file also has the same name in the same folder.
    const CurrentRecord current = Current(record.number);
    return current.header && current.sequence == record.sequence && current.name == record.name &&
           current.parentRecord == NtfsRefRecord(record.parentReference);
}

const NtfsDeepHarvest::Found* DeepTree::StrayFolder(u64 reference)
{
    auto it = m_harvest.records.find(NtfsRefRecord(reference));
    if (it == m_harvest.records.end())
        return nullptr;
    const StrayRecord& r = it->second.record;
    if (!r.folder || r.number < kFirstUserRecord ||
        !NtfsParentMatches(NtfsRefSequence(reference), r.sequence, r.inUse) || Catalogued(r))
        return nullptr;
    return &it->second;
}

std::string DeepTree::LostFolder(u64 reference)
{
    auto [it, added] = m_lost.try_emplace(reference);
    if (added)
        it->second = Format("%s\\Folder_%u_", m_entry.name.c_str(), ++m_counter);
    return it->second;
}

std::string DeepTree::FolderText(u64 reference)
{
    // Walk up iteratively (a chain of any depth costs no stack); a record met twice on the way
    // (a loop) ends the walk as a lost parent.
    std::vector<const NtfsDeepHarvest::Found*> chain;
    std::unordered_set<u64> onChain;
    std::string base;
    for (u64 ref = reference;;)
    {
        const u64 number = NtfsRefRecord(ref);
        if (number == kRootRecord)
        {
            base = m_entry.name;
            break;
        }
        if (auto made = m_folders.find(number); made != m_folders.end())
        {
            base = made->second;
            break;
        }
        const NtfsDeepHarvest::Found* folder = StrayFolder(ref);
        if (folder != nullptr && onChain.insert(number).second)
        {
            chain.push_back(folder);
            ref = folder->record.parentReference;
            continue;
        }
        if (auto live = m_live.find(number); live != m_live.end() && folder == nullptr)
        {
            base = live->second;
            break;
        }
        base = LostFolder(ref);
        break;
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    {
        const StrayRecord& r = (*it)->record;
        FoundItem item{};
        item.path = base;
        item.name = r.name;
        item.attr = kAttrFolder;
        CNtfs::FileTimeToFoundTime(r.created, item.created);
        CNtfs::FileTimeToFoundTime(r.accessed, item.accessed);
        item.first = (*it)->offset / CNtfs::kReaderSectorSize;
        base = Add(std::move(item));
        m_folders.emplace(r.number, base);
    }
    return base;
}

std::string DeepTree::Add(FoundItem&& item)
{
    item.deleted = 1;
    item.deep = 1;
    std::string text = Join(item.path.view(), item.name.view());
    if (m_texts.contains(text))
    {
        // Numbered before the name's last '.', or at its end, as the search numbers clashes.
        const std::string name = item.name.str();
        const std::size_t dot = name.rfind('.');
        for (u32 n = 1;; ++n)
        {
            const std::string suffix = Format("_%u_", n);
            std::string numbered = dot == std::string::npos || dot == 0
                                       ? name + suffix
                                       : name.substr(0, dot) + suffix + name.substr(dot);
            text = Join(item.path.view(), numbered);
            if (!m_texts.contains(text))
            {
                item.name = numbered;
                break;
            }
        }
    }
    m_texts.insert(text);
    const u8 attr = item.attr;
    m_entry.items.push_back(std::move(item));
    m_catalog.Post(WM_SCAN_NOTIFY, kScanFind, text, attr);
    return text;
}

void DeepTree::AddRecords()
{
    // In record order, so that the finds come out the same however the pass met them.
    std::vector<u64> numbers;
    numbers.reserve(m_harvest.records.size());
    for (const auto& kept : m_harvest.records)
        numbers.push_back(kept.first);
    std::sort(numbers.begin(), numbers.end());
    for (const u64 number : numbers)
    {
        if (g_bRunning.load() == 0)
            return;
        const NtfsDeepHarvest::Found& found = m_harvest.records.at(number);
        const StrayRecord& r = found.record;
        if (number < kFirstUserRecord || Catalogued(r))
            continue;
        if (r.folder)
        {
            (void)FolderText(number | (u64{r.sequence} << 48));
            continue;
        }
        FoundItem item{};
        item.path = FolderText(r.parentReference);
        item.name = r.name;
        item.attr = kAttrFile;
        item.size = r.size;
        CNtfs::FileTimeToFoundTime(r.created, item.created);
        CNtfs::FileTimeToFoundTime(r.accessed, item.accessed);
        item.first = found.offset / CNtfs::kReaderSectorSize;
        NtfsData data;
        data.resident = r.resident;
        data.size = r.size;
        data.valueOffset = r.valueOffset;
        data.runList = ByteView{r.runList.data(), r.runList.size()};
        item.SetPayload(FindPayload::kRecordData, NtfsDataBlock(data));
        (void)Add(std::move(item));
    }
}

void DeepTree::AddName(const IndexNameEntry& name)
{
    const u64 number = NtfsRefRecord(name.fileReference);
    const u16 sequence = NtfsRefSequence(name.fileReference);
    // A record the deep search found under this reference is a find already.
    if (auto kept = m_harvest.records.find(number);
        kept != m_harvest.records.end() &&
        NtfsParentMatches(sequence, kept->second.record.sequence, kept->second.record.inUse))
        return;
    FoundItem item{};
    item.name = name.name;
    item.attr = (name.fileAttributes & kIndexFolder) != 0 ? kAttrFolder : kAttrFile;
    item.size = item.attr == kAttrFile ? name.realSize : 0;
    CNtfs::FileTimeToFoundTime(static_cast<s64>(name.created), item.created);
    CNtfs::FileTimeToFoundTime(static_cast<s64>(name.accessed), item.accessed);
    const CurrentRecord current = Current(number);
    const bool same =
        current.header && NtfsSequenceMatches(sequence, current.sequence, current.inUse);
    if (current.named && same)
        return; // the file is there: live, or a find of the normal search
    NtfsStreamLayout layout;
    const u16 next = sequence == 0xFFFF ? 1 : static_cast<u16>(sequence + 1);
    if (current.header && !current.named && item.attr == kAttrFile &&
        (current.sequence == sequence || current.sequence == next) &&
        m_ntfs->DescribeData(number, std::string(), &layout) == kNtfsOk)
    {
        // The record lost its name but keeps the file's data: the find reads it from there.
        item.record = number;
        item.size = layout.size;
        s64 sector = static_cast<s64>(number);
        item.first = m_ntfs->RecordToSector(sector) != 0 ? static_cast<u64>(sector) : 0;
    }
    else if (item.attr == kAttrFile)
        item.condition = FindCondition::kOverwritten;
    item.path = FolderText(name.parentReference);
    (void)Add(std::move(item));
}

void DeepTree::AddNames()
{
    // Each name once, however many index records (and slack) repeat it.
    std::set<std::tuple<u64, u64, std::string>> seen;
    for (const IndexNameEntry& name : m_harvest.names)
    {
        if (g_bRunning.load() == 0)
            return;
        if (name.name.empty() || name.nameSpace == kDosName ||
            NtfsRefRecord(name.fileReference) < kFirstUserRecord ||
            !seen.emplace(name.fileReference, name.parentReference, name.name).second)
            continue;
        AddName(name);
    }
}
} // namespace

void NtfsDeepHarvest::AddRecord(StrayRecord&& record, u64 offset)
{
    auto [it, added] = records.try_emplace(record.number);
    if (added || record.lsn > it->second.record.lsn)
        it->second = Found{std::move(record), offset};
}

void AddNtfsDeepFinds(CCatalog& catalog, VolumeEntry& entry, const NtfsDeepHarvest& harvest)
{
    DeepTree tree(catalog, entry, harvest);
    tree.AddRecords();
    tree.AddNames();
}
