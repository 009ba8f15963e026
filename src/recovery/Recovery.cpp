// Recovery start: the destination folder (created level by level, with the fall-back to the
// default folder), the check that it does not lie on the volume being read, and the thread
// that runs the request.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <vector>

#include "catalog/Catalog.h"
#include "platform/DriveTable.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "platform/Status.h"
#include "platform/UserFolders.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryHost.h"
#include "recovery/RecoveryRun.h"

namespace
{
void ShowBox(IMessageBox* messageBox, const std::string& text, const std::string& caption)
{
    if (messageBox != nullptr)
        messageBox->Show(text, caption);
}

bool IsDirectory(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir that counts a folder that exists already as success.
bool MakeLevel(const std::string& path)
{
    if (IsDirectory(path))
        return true;
    if (::mkdir(path.c_str(), 0755) != 0)
        return errno == EEXIST;
    HandOverAt(AT_FDCWD, path);
    return true;
}

// Creates every missing level of folder. A level above the last that cannot be created is
// reported with a message box; the last one fails silently. A last level that exists as
// something other than a folder is a failure too: nothing could be written into it.
bool CreateLevels(IMessageBox* messageBox, const std::string& folder)
{
    std::vector<std::string> levels;
    std::size_t at = 0;
    while (at <= folder.size())
    {
        std::size_t next = folder.find('/', at);
        if (next == std::string::npos)
            next = folder.size();
        if (next > at)
            levels.push_back(folder.substr(at, next - at));
        at = next + 1;
    }
    std::string built = folder.starts_with("/") ? "/" : "";
    if (levels.empty())
        return IsDirectory(built.empty() ? "." : built);
    for (std::size_t i = 0; i + 1 < levels.size(); ++i)
    {
        built += levels[i];
        if (!MakeLevel(built))
        {
            ShowBox(messageBox, "Unable to create directory:\n\n" + built, "Error");
            return false;
        }
        built += '/';
    }
    built += levels.back();
    return MakeLevel(built) && IsDirectory(built);
}

// The refusal text when folder lies on the volume that the run reads, else an empty text.
std::string SourceClash(const VolumeEntry& volume, const std::string& folder)
{
    const std::optional<DriveSource> source = g_DriveTable.Find(volume.name);
    if (!source)
        return std::string();
    const std::string target = folder.empty() ? DefaultRecoveryFolder() : folder;
    if (!DestinationIsSource(RecoveryHost(), target, *source))
        return std::string();
    const std::string& shown = source->display.empty() ? source->path : source->display;
    return Format("Refusing to recover onto %s: it is the volume being read (%s).", target.c_str(),
                  shown.c_str());
}

// The index of the job list's first volume whose name is drive, ignoring case.
bool FindVolume(const std::vector<VolumeEntry>& volumes, const std::string& drive, u32* index)
{
    for (std::size_t i = 0; i < volumes.size(); ++i)
    {
        if (UpperName(volumes[i].name) == UpperName(drive))
        {
            *index = static_cast<u32>(i);
            return true;
        }
    }
    return false;
}
} // namespace

u32 PrepareDestination(std::string& folder, std::vector<std::string>* names,
                       IMessageBox* messageBox)
{
    names->clear();
    if (folder.empty())
        folder = DefaultRecoveryFolder();
    if (!CreateLevels(messageBox, folder))
    {
        folder = DefaultRecoveryFolder();
        if (!MakeLevel(folder) || !IsDirectory(folder))
            return kErrDestination;
        ShowBox(messageBox,
                Format("Use default directory due to a failed directory creation:\n\n   %s!",
                       folder.c_str()),
                "Error");
    }
    if (DIR* dir = ::opendir(folder.c_str()))
    {
        while (const dirent* entry = ::readdir(dir))
            names->push_back(UpperName(entry->d_name));
        ::closedir(dir);
    }
    return kOk;
}

// The catalogue's recovery members, as the recovery does them.

u32 CCatalog::PrepareFolder(std::string& folder)
{
    return PrepareDestination(folder, &m_destNames, m_messageBox);
}

u32 CCatalog::StartRecovery(const std::string& destination)
{
    RecoveryRequest request;
    request.volume = m_curPath.substr(0, 2);
    request.folder = m_curPath;
    request.entries = g_Selection;
    request.destination = destination;
    request.options = RecoveryOptions{m_maxReadRate, m_contiguousRead, m_recoveryObserver};
    return StartRecovery(request);
}

u32 CCatalog::StartRecovery(const RecoveryRequest& request)
{
    if (!request.destination.empty())
        m_lastDest = request.destination;
    if (request.volume.empty() || !FindVolume(m_volumes, request.volume, &m_recoverVolume))
        return kErrTransfer;
    VolumeEntry& volume = m_volumes[m_recoverVolume];
    volume.contiguousRead = request.options.contiguousRead;
    m_destDir = m_lastDest;
    m_askedDest = m_destDir.empty() ? DefaultRecoveryFolder() : m_destDir;

    // Writing into the volume being read would overwrite the very clusters the run is about
    // to save: refuse before a single folder is made there.
    std::string clash = SourceClash(volume, m_destDir);
    if (clash.empty())
    {
        if (PrepareFolder(m_destDir) != kOk)
        {
            ShowBox(m_messageBox,
                    Format("Failed to create the given directory:\n\n%s!\n\nProgram will exit. "
                           "Reset the directory and try again please!",
                           m_destDir.c_str()),
                    "Sorry:");
            return kErrDestination;
        }
        // The default folder may have taken its place.
        clash = SourceClash(volume, m_destDir);
    }
    if (!clash.empty())
    {
        Post(WM_RECOVER_NOTIFY, kRecoverFatal, clash, 0);
        return kErrDestination;
    }

    auto job = std::make_unique<RecoveryJob>(
        RecoveryJob{&volume, request.folder, request.entries, m_destDir, m_askedDest, m_destNames,
                    request.options, m_sink, m_messageBox, &m_entryIsDir});
    // A finished earlier run still holds its thread object until it is joined.
    if (m_recoverThread.joinable())
        m_recoverThread.join();
    g_bRunning = 1;
    bool started = true;
    try
    {
        m_recoverThread =
            std::thread([run = std::move(job)] { (void)RecoverThreadProc(run.get()); });
    }
    catch (const std::system_error&)
    {
        started = false;
    }
    m_lastDest = m_destDir;
    if (!started)
    {
        g_bRunning = 0;
        ShowBox(m_messageBox, "Failed to startup undeleting thread!\n\n  Program has exited.",
                "Sorry:");
        return kErrNoThread;
    }
    return kOk;
}
