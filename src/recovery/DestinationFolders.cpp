// The folders of one recovery run, made and entered level by level through descriptors.
#include "recovery/DestinationFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "recovery/Recovery.h"

namespace
{
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The longest name the file system holding fd takes, 255 when it does not say.
u32 MaxNameOf(int fd)
{
    const long max = ::fpathconf(fd, _PC_NAME_MAX);
    return max > 0 && max < 4096 ? static_cast<u32>(max) : 255;
}
} // namespace

std::unordered_set<std::string> ListUpperNames(int fd)
{
    std::unordered_set<std::string> names;
    const int copy = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0)
        return names;
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr)
    {
        ::close(copy);
        return names;
    }
    while (const dirent* entry = ::readdir(dir))
        names.insert(UpperName(entry->d_name));
    ::closedir(dir);
    return names;
}

CDestinationFolders::~CDestinationFolders()
{
    Close();
}

void CDestinationFolders::Release()
{
    if (m_entered && m_current.fd >= 0 && m_current.fd != m_rootFd)
        ::close(m_current.fd);
    m_current = DestinationFolder{};
    m_currentLevels.clear();
    m_entered = false;
}

void CDestinationFolders::Close()
{
    Release();
    if (m_rootFd >= 0)
        ::close(m_rootFd);
    m_rootFd = -1;
    m_rootPath.clear();
    m_known.clear();
}

bool CDestinationFolders::Open(const std::string& root, const std::vector<std::string>* names,
                               int* error)
{
    Close();
    m_rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_rootFd < 0)
    {
        *error = errno;
        return false;
    }
    struct stat st = {};
    if (::fstat(m_rootFd, &st) != 0)
    {
        *error = errno;
        Close();
        return false;
    }
    m_rootPath = root;
    Known known;
    if (names != nullptr)
        known.names.insert(names->begin(), names->end());
    else
        known.names = ListUpperNames(m_rootFd);
    known.device = st.st_dev;
    known.maxName = MaxNameOf(m_rootFd);
    m_known.emplace(std::string(), std::move(known));
    return true;
}

DestinationFolder* CDestinationFolders::Enter(const std::vector<std::string>& levels,
                                              std::string* failedPath, int* error)
{
    if (m_rootFd < 0)
    {
        *failedPath = m_rootPath;
        *error = EBADF;
        return nullptr;
    }
    if (m_entered && levels == m_currentLevels)
    {
        m_current.fresh = false;
        return &m_current;
    }
    Release();

    // Each level is made (a folder that exists already is fine) and then opened without
    // following a link: a planted link or a file where a folder belongs fails here.
    int fd = m_rootFd;
    std::string path = m_rootPath;
    std::string key;
    for (const std::string& level : levels)
    {
        path += '/';
        path += level;
        if (!key.empty())
            key += '/';
        key += level;
        if (::mkdirat(fd, level.c_str(), 0755) == 0)
            HandOverAt(fd, level);
        else if (errno != EEXIST)
        {
            *error = errno;
            *failedPath = path;
            if (fd != m_rootFd)
                ::close(fd);
            return nullptr;
        }
        const int next = ::openat(fd, level.c_str(), kFolderFlags);
        const int openError = errno;
        if (fd != m_rootFd)
            ::close(fd);
        if (next < 0)
        {
            *error = openError;
            *failedPath = path;
            return nullptr;
        }
        fd = next;
    }

    m_current.fd = fd;
    m_current.path = path;
    auto known = m_known.find(key);
    m_current.fresh = known == m_known.end();
    if (m_current.fresh)
    {
        Known fresh;
        fresh.names = ListUpperNames(fd);
        struct stat st = {};
        fresh.device = ::fstat(fd, &st) == 0 ? st.st_dev : 0;
        fresh.maxName = MaxNameOf(fd);
        known = m_known.emplace(key, std::move(fresh)).first;
    }
    m_current.names = &known->second.names;
    m_current.device = known->second.device;
    m_current.maxName = known->second.maxName;
    m_currentLevels = levels;
    m_entered = true;
    return &m_current;
}
