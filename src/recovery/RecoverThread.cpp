// The recovery thread: copies the selected items of one volume into the destination, making
// each target folder below it through descriptors, and names every file that could not be
// written whole, or not where it was asked for, in a warning.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "catalog/Catalog.h"
#include "catalog/FindStream.h"
#include "platform/DriveTable.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/Status.h"
#include "platform/UserFolders.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryHost.h"
#include "recovery/RecoveryRun.h"
#include "recovery/Sha256.h"

namespace
{
// How long a free-space answer is trusted (less what was written since).
constexpr auto kSpaceAge = std::chrono::milliseconds(200);

bool Running()
{
    return g_bRunning.load(std::memory_order_relaxed) != 0;
}

// Bytes of the destination the copy of stream takes: what its extents hold, holes left out (they
// are written as holes), at most its readable size. A compressed stream takes a whole unit for
// each unit that has a cluster stored.
u64 BytesToStore(const DataStream& stream)
{
    const u64 readable = stream.ReadableBytes();
    if (stream.resident || stream.clusterBytes == 0)
        return readable;
    const u64 unit = stream.compressionUnit;
    u64 clusters = 0;
    u64 nextUnit = 0; // a compressed stream's first unit not counted yet
    for (const StreamExtent& e : stream.extents)
    {
        if (e.hole || e.length == 0)
            continue;
        if (unit == 0)
        {
            clusters += std::min(e.length, UINT64_MAX - clusters);
            continue;
        }
        const u64 first = std::max(e.vcn / unit, nextUnit);
        const u64 last =
            (e.length - 1 > UINT64_MAX - e.vcn ? UINT64_MAX : e.vcn + e.length - 1) / unit;
        if (last >= first)
        {
            const u64 units = last - first + 1;
            const u64 room = UINT64_MAX - clusters;
            clusters += units > room / unit ? room : units * unit;
            nextUnit = last + 1;
        }
    }
    return clusters > readable / stream.clusterBytes ? readable : clusters * stream.clusterBytes;
}

std::string JoinLevels(const std::string& root, const std::vector<std::string>& levels)
{
    std::string path = root;
    for (const std::string& level : levels)
    {
        path += '/';
        path += level;
    }
    return path;
}
} // namespace

void RecoveryRun::Run()
{
    if (m_job.volume != nullptr)
    {
        m_volume = m_job.volume;
        m_destDir = m_job.destDir;
        m_destDiverted = !m_job.askedDest.empty() && m_destDir != m_job.askedDest;
        int error = 0;
        if (!m_folders.Open(m_destDir, &m_job.destNames, &error))
            Fatal(kNoSavePathText);
        for (const SelEntry& entry : m_job.entries)
        {
            if (!m_continue || !Running())
                break;
            DoEntry(entry);
        }
    }
    m_buffer.reset();
    m_folders.Close();
    m_fallback.Close();
    if (m_continue)
        m_job.Post(WM_RECOVER_NOTIFY, kRecoverFinished, kFinishedText, kRecoverFinishedExtra);
}

void RecoveryRun::Fatal(const char* text)
{
    Fatal(std::string(text));
}

void RecoveryRun::Fatal(const std::string& text)
{
    if (m_record.item != nullptr)
        m_record.warnings.push_back(text);
    m_job.Post(WM_RECOVER_NOTIFY, kRecoverFatal, text, 0);
    m_continue = false;
}

void RecoveryRun::Warn(const std::string& text, u32 kind)
{
    if (m_record.item != nullptr)
        m_record.warnings.push_back(text);
    // By the rule of the command line's exit status: a file left short, stopped, copied from
    // clusters other data has taken, or written elsewhere than asked did not come back as
    // asked, whatever its copy said; one written under a shortened name did.
    if (kind != kWarnRenamed)
        m_intact = false;
    m_job.Post(WM_RECOVER_NOTIFY, kRecoverWarning, text, kind);
}

void RecoveryRun::DoEntry(const SelEntry& entry)
{
    if (m_job.entryIsDir != nullptr)
        *m_job.entryIsDir = entry.isDir;
    // A row of a filtered listing lies in a folder below the shown one: the copy is written
    // below the same folders.
    const std::string shown = entry.folder.empty() ? m_job.folder : entry.folder;
    const std::string& name = entry.name;
    const std::vector<std::string> between = MapLevels(shown, m_job.folder);
    const std::string source = entry.isDir ? shown + "\\" + name : shown;
    if (!TakeBuffer())
        return;
    const FoundItems& items = m_volume->items;
    if (!entry.isDir)
    {
        IndexItems();
        const auto folder = m_byFolder.find(source);
        if (folder == m_byFolder.end())
            return;
        for (const std::size_t index : folder->second)
        {
            if (!Running())
                return;
            if (items[index].name == name)
            {
                RecoverFile(items[index], between);
                return;
            }
        }
        return;
    }
    // The selected folder is one level below the destination, its sub-folders below that.
    const std::string top = FitName(SafeName(name), 255);
    for (const std::size_t index : ItemsBelow(source))
    {
        if (!m_continue || !Running())
            return;
        const FoundItem& item = items[index];
        // Only files are written: a folder is made when a file in it is.
        if (item.attr & 0x10)
            continue;
        std::vector<std::string> levels = between;
        levels.push_back(top);
        for (std::string& level : MapLevels(item.path.str(), source))
            levels.push_back(std::move(level));
        RecoverFile(item, levels);
    }
}

void RecoveryRun::IndexItems()
{
    const FoundItems& items = m_volume->items;
    if (!m_byFolder.empty())
        return;
    std::string folder; // one buffer for the lookups: the map copies a folder only when new
    for (std::size_t i = 0; i < items.size(); ++i)
    {
        folder.assign(items[i].path.view());
        m_byFolder[folder].push_back(i);
    }
}

// Indices of the items in folder and below it, in catalogue order. The items are grouped by
// their folder once per run: comparing every item's path for each selected folder cost more
// than the copy when a volume's root holds hundreds of folders.
std::vector<std::size_t> RecoveryRun::ItemsBelow(const std::string& folder)
{
    IndexItems();
    std::vector<std::size_t> below;
    for (const auto& [path, indices] : m_byFolder)
    {
        if (path.starts_with(folder) &&
            (path.size() == folder.size() || path[folder.size()] == '\\'))
            below.insert(below.end(), indices.begin(), indices.end());
    }
    std::sort(below.begin(), below.end());
    return below;
}

// The folder at levels below the destination. A level that cannot be made or entered (a file,
// a link, no permission) sends the file to the same levels below the default folder, as a
// destination that cannot be created does; when that fails too the run ends.
DestinationFolder* RecoveryRun::EnterFolder(const std::vector<std::string>& levels, bool* diverted)
{
    std::string failed;
    int error = 0;
    *diverted = m_destDiverted;
    // A folder that failed once is not tried again for each of its files, nor announced again.
    const std::string key = JoinLevels(std::string(), levels);
    const bool failedBefore = m_failedFolders.contains(key);
    if (!failedBefore)
    {
        if (DestinationFolder* folder = m_folders.Enter(levels, &failed, &error))
        {
            if (folder->fresh && !CheckNotSource(*folder))
                return nullptr;
            return folder;
        }
        m_failedFolders.insert(key);
        // As for the destination itself: a level above the last is named, then the default
        // folder is announced.
        if (m_job.messageBox != nullptr && failed != JoinLevels(m_destDir, levels))
            m_job.messageBox->Show("Unable to create directory:\n\n" + failed, "Error");
    }
    if (!m_fallback.IsOpen())
    {
        std::string fallback = DefaultRecoveryFolder();
        if (fallback == m_destDir)
        {
            Fatal(kNoSavePathText);
            return nullptr;
        }
        bool made = ::mkdir(fallback.c_str(), 0755) == 0;
        if (made)
            HandOverAt(AT_FDCWD, fallback);
        made = made || errno == EEXIST;
        if (!made || !m_fallback.Open(fallback, nullptr, &error))
        {
            Fatal(kNoSavePathText);
            return nullptr;
        }
    }
    if (m_job.messageBox != nullptr && !failedBefore)
        m_job.messageBox->Show(
            Format("Use default directory due to a failed directory creation:\n\n   %s!",
                   m_fallback.Root().c_str()),
            "Error");
    DestinationFolder* folder = m_fallback.Enter(levels, &failed, &error);
    if (folder == nullptr)
    {
        Fatal(kNoSavePathText);
        return nullptr;
    }
    if (folder->fresh && !CheckNotSource(*folder))
        return nullptr;
    *diverted = true;
    return folder;
}

// Writes one file and tells the observer, if one is set, what became of it.
void RecoveryRun::RecoverFile(const FoundItem& item, const std::vector<std::string>& levels)
{
    IRecoveryObserver* observer = m_job.options.observer;
    if (observer == nullptr)
    {
        WriteFile(item, levels);
        return;
    }
    m_record = RecoveredFile{};
    m_record.item = &item;
    m_record.volume = m_volume->name;
    m_intact = true;
    WriteFile(item, levels);
    m_record.whole = m_record.whole && m_intact;
    observer->FileDone(m_record);
    m_record = RecoveredFile{};
}

void RecoveryRun::WriteFile(const FoundItem& item, const std::vector<std::string>& levels)
{
    m_job.Post(WM_RECOVER_NOTIFY, kRecoverFile,
               Format("Recovering %s\\%s", item.path.c_str(), item.name.c_str()), item.attr);

    // Where the data lies. A size the volume cannot hold (a damaged entry) is cut to what can
    // be read, so that it neither passes for a file too large for the destination nor ends the
    // run.
    DataStream stream;
    const u32 described = DescribeFind(*m_volume, item, &stream);
    if (!EnoughSpace(JoinLevels(m_destDir, levels), BytesToStore(stream)))
    {
        Fatal(kNoSpaceText);
        return;
    }

    bool diverted = false;
    DestinationFolder* target = EnterFolder(levels, &diverted);
    if (target == nullptr)
        return;

    // A name present when the folder was first entered gets "New " in front; a name taken
    // since then, or "New " + name taken too, gets the next free "New (n) " name.
    const std::string name = SafeName(item.name.str());
    const std::string fitted = FitName(name, target->maxName);
    const bool clash = target->names != nullptr && target->names->contains(UpperName(fitted));
    std::string path;
    int error = 0;
    const int fd =
        CreateFreshFileAt(target->fd, target->path, name, clash, target->maxName, &path, &error);
    if (fd < 0)
    {
        Warn(Format("Could not create %s/%s for %s\\%s: %s", target->path.c_str(), fitted.c_str(),
                    item.path.c_str(), item.name.c_str(), ErrorText(error).c_str()),
             kWarnIncomplete);
        return;
    }
    CopyWriter out(fd, path, [this](const std::string& text) { Warn(text, kWarnIncomplete); });
    Copied copied = CopyStream(item, stream, described, out);
    if (m_record.item != nullptr)
    {
        m_record.destination = path;
        m_record.written = out.Written();
        m_record.sha256 = DigestOf(fd, copied != Copied::Stopped);
        m_record.whole = copied == Copied::Whole;
        m_record.stopped = copied == Copied::Stopped;
    }
    if (!out.Close(copied == Copied::Whole) && copied == Copied::Whole)
    {
        copied = Copied::Failed;
        m_record.whole = false;
    }
    if (copied == Copied::Stopped)
    {
        Warn(Format("Stopped while copying %s\\%s: %s holds %llu of its %llu bytes.",
                    item.path.c_str(), item.name.c_str(), path.c_str(),
                    static_cast<unsigned long long>(out.Written()),
                    static_cast<unsigned long long>(item.size)),
             kWarnStopped);
        return;
    }
    if (copied == Copied::Whole)
        WarnWhole(item, stream, path);
    if (fitted != name)
        Warn(Format("The name of %s\\%s is too long for the destination; it was written as %s.",
                    item.path.c_str(), item.name.c_str(), path.c_str()),
             kWarnRenamed);
    if (diverted)
        Warn(Format("%s\\%s was written to %s: its folder below %s could not be used.",
                    item.path.c_str(), item.name.c_str(), path.c_str(), m_job.askedDest.c_str()),
             kWarnDiverted);
}

// What a file copied whole may still lack: bytes its clusters do not hold, clusters in other
// use, or a key.
void RecoveryRun::WarnWhole(const FoundItem& item, const DataStream& stream,
                            const std::string& path)
{
    const u64 size = stream.ReadableBytes();
    if (!stream.resident && size < item.size)
        Warn(Format("%s\\%s claims %llu bytes, more than its clusters on the volume hold; %s "
                    "holds the %llu bytes that could be read.",
                    item.path.c_str(), item.name.c_str(),
                    static_cast<unsigned long long>(item.size), path.c_str(),
                    static_cast<unsigned long long>(size)),
             kWarnIncomplete);
    if (item.condition == FindCondition::kPartial || item.condition == FindCondition::kOverwritten)
        Warn(Format("%s\\%s is %s: %u%% of its clusters are in use by live files or claimed by "
                    "other finds; %s may hold other data.",
                    item.path.c_str(), item.name.c_str(), ConditionText(item.condition),
                    static_cast<unsigned>(item.overwrittenPct), path.c_str()),
             kWarnDamaged);
    // Its format's validator found its bytes broken: the clusters read are not (all) the file's.
    if (item.Content() == FindContent::kDamaged)
    {
        const std::size_t dot = item.name.rfind('.');
        const std::string ext = dot != ItemName::npos ? item.name.substr(dot + 1) : std::string();
        Warn(Format("%s\\%s is damaged: its contents do not hold together as a %s file; %s may "
                    "hold other data.",
                    item.path.c_str(), item.name.c_str(), ext.c_str(), path.c_str()),
             kWarnContent);
    }
    if (stream.encrypted)
        Warn(Format("%s\\%s is encrypted; %s holds its encrypted bytes as stored, which only the "
                    "key of its owner opens.",
                    item.path.c_str(), item.name.c_str(), path.c_str()),
             kWarnIncomplete);
}

std::string RecoveryRun::DigestOf(int fd, bool stoppable)
{
    const u64 room = m_chunkBytes * m_batchChunks;
    if (!m_buffer || room == 0)
        return std::string();
    // A file the stop left short is still hashed whole; a stop while hashing a whole one (the
    // zeros of a huge hole) leaves its digest out.
    return DigestOfFile(fd, Data(), room, nullptr, [stoppable] { return !stoppable || Running(); });
}

// Free space of the destination, in 64 bits: a file of 4 GiB or more must not pass. Asking the
// file system before each of 100,000 small files costs as much as copying them, so an answer
// is kept for a short while and lowered by what the run has written since; it is asked again
// for another folder, when older than kSpaceAge, and always before refusing.
bool RecoveryRun::EnoughSpace(const std::string& folder, u64 size)
{
    const auto now = std::chrono::steady_clock::now();
    if (!m_space.known || folder != m_space.folder || now - m_space.asked > kSpaceAge ||
        !m_space.Fits(size))
    {
        IRecoveryHost& host = RecoveryHost();
        m_space = Space{};
        m_space.folder = folder;
        m_space.asked = now;
        m_space.known = host.FreeSpace(NearestExisting(host, folder), &m_space.blockSize,
                                       &m_space.freeBlocks) &&
                        m_space.blockSize != 0;
    }
    // Without an answer the copy goes ahead; a failed write still ends the file with a warning.
    if (!m_space.known)
        return true;
    if (!m_space.Fits(size))
        return false;
    m_space.used += size / m_space.blockSize + 1;
    return true;
}

// A folder first entered during the run may be a mount point of the source volume.
bool RecoveryRun::CheckNotSource(const DestinationFolder& folder)
{
    const std::optional<DriveSource> source = g_DriveTable.Find(m_volume->name);
    if (!source)
        return true;
    struct stat st = {};
    if (::fstat(folder.fd, &st) != 0)
        return true;
    PathFacts facts;
    facts.isDirectory = true;
    facts.device = st.st_dev;
    facts.inode = st.st_ino;
    if (!DestinationFactsAreSource(RecoveryHost(), facts, *source))
        return true;
    const std::string& shown = source->display.empty() ? source->path : source->display;
    Fatal(Format("Refusing to recover onto %s: it is the volume being read (%s).",
                 folder.path.c_str(), shown.c_str()));
    return false;
}

u32 CCatalog::RecoverThreadProc(void* job)
{
    // No start-up pause: the front end takes the events from a queue in order.
    RecoveryRun run(*static_cast<RecoveryJob*>(job));
    run.Run();
    return 0;
}
