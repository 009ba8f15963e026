// Safe native names and paths for recovered files, and exclusive file creation.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Format.h"
#include "platform/Status.h"
#include "recovery/Recovery.h"

namespace
{
// Candidates after "New " + name before creation gives up; each one exists already when tried.
constexpr u32 kMaxNewCandidates = 10000;

struct Owner
{
    bool set = false;
    uid_t uid = 0;
    gid_t gid = 0;
};
Owner g_owner;
} // namespace

void SetRecoveredFilesOwner(u32 uid, u32 gid)
{
    g_owner = Owner{true, static_cast<uid_t>(uid), static_cast<gid_t>(gid)};
}

void ResetRecoveredFilesOwner()
{
    g_owner = Owner{};
}

void HandOver(int fd)
{
    // Best effort: a file system without owners (FAT, a FUSE mount) refuses, and the file is
    // no less recovered for it.
    if (g_owner.set)
        (void)::fchown(fd, g_owner.uid, g_owner.gid);
}

void HandOverAt(int dirFd, const std::string& name)
{
    if (g_owner.set)
        (void)::fchownat(dirFd, name.c_str(), g_owner.uid, g_owner.gid, AT_SYMLINK_NOFOLLOW);
}

std::string SafeName(const std::string& name)
{
    if (name.empty())
        return "_";
    if (name == "." || name == "..")
        return "_" + name;
    std::string out = name;
    for (char& c : out)
    {
        const u8 b = static_cast<u8>(c);
        if (b == '/' || b < 0x20 || b == 0x7F)
            c = '_';
    }
    return out;
}

std::string ErrorText(int error)
{
    char text[256] = {};
    return strerror_r(error, text, sizeof text);
}

std::string UpperName(const std::string& name)
{
    std::string out = name;
    for (char& c : out)
    {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string MapFolder(const std::string& itemPath, const std::string& source,
                      const std::string& target)
{
    std::string folder = target;
    for (const std::string& level : MapLevels(itemPath, source))
    {
        folder += '/';
        folder += level;
    }
    return folder;
}

std::vector<std::string> MapLevels(const std::string& itemPath, const std::string& source,
                                   u32 maxName)
{
    std::vector<std::string> levels;
    if (itemPath.size() <= source.size())
        return levels;
    std::size_t at = source.size() + 1;
    while (at <= itemPath.size())
    {
        std::size_t next = itemPath.find('\\', at);
        if (next == std::string::npos)
            next = itemPath.size();
        levels.push_back(FitName(SafeName(itemPath.substr(at, next - at)), maxName));
        at = next + 1;
    }
    return levels;
}

std::string FitName(const std::string& name, u32 maxBytes)
{
    if (name.size() <= maxBytes)
        return name;
    // FNV-1a over the whole name: stable from run to run, so a shortened folder level is the
    // same folder for every file below it.
    u32 hash = 2166136261u;
    for (const char c : name)
        hash = (hash ^ static_cast<u8>(c)) * 16777619u;
    const std::string tag = Format("~%08x", hash);
    std::string extension;
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= 16)
        extension = name.substr(dot);
    if (tag.size() + extension.size() >= maxBytes)
        extension.clear();
    if (tag.size() >= maxBytes)
        return tag.substr(0, maxBytes);
    std::size_t keep = maxBytes - tag.size() - extension.size();
    // Never cut inside a UTF-8 sequence: step back over continuation bytes.
    while (keep > 0 && (static_cast<u8>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return name.substr(0, keep) + tag + extension;
}

int CreateFreshFile(const std::string& folder, const std::string& name, bool startWithNew,
                    std::string* path, int* error)
{
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
    {
        *error = errno;
        return -1;
    }
    const int fd = CreateFreshFileAt(dirFd, folder, name, startWithNew, 255, path, error);
    ::close(dirFd);
    return fd;
}

int CreateFreshFileAt(int dirFd, const std::string& folder, const std::string& name,
                      bool startWithNew, u32 maxName, std::string* path, int* error)
{
    for (u32 attempt = startWithNew ? 1 : 0; attempt <= kMaxNewCandidates; ++attempt)
    {
        std::string prefix;
        if (attempt == 1)
            prefix = "New ";
        else if (attempt > 1)
            prefix = Format("New (%u) ", attempt);
        const std::string candidate =
            prefix +
            FitName(name, maxName > prefix.size() ? maxName - static_cast<u32>(prefix.size()) : 1);
        // Neither an existing file nor a link planted in the destination is ever opened. The
        // file is open for reading too: the recovery report reads back what was written.
        const int fd = ::openat(dirFd, candidate.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0)
        {
            HandOver(fd);
            *path = folder;
            *path += '/';
            *path += candidate;
            return fd;
        }
        if (errno != EEXIST)
        {
            *error = errno;
            return -1;
        }
    }
    *error = EEXIST;
    return -1;
}
