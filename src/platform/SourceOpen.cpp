// Opening an image file or block device read-only without ever waiting in open().
#include "platform/SourceOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace
{
// The error number for a file of mode, 0 for a regular file or a block device.
int KindError(mode_t mode)
{
    if (S_ISREG(mode) || S_ISBLK(mode))
        return 0;
    if (S_ISDIR(mode))
        return EISDIR;
    if (S_ISCHR(mode))
        return ENOTBLK;
    return kErrNotImageOrDevice;
}
} // namespace

int OpenSource(const std::string& path, int* errorNumber)
{
    *errorNumber = 0;
    struct stat st = {};
    if (::stat(path.c_str(), &st) != 0)
    {
        *errorNumber = errno;
        return -1;
    }
    if ((*errorNumber = KindError(st.st_mode)) != 0)
        return -1;
    // O_NONBLOCK: should the path have become a pipe since the look, open returns at once.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
    {
        *errorNumber = errno;
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || ::fstat(fd, &st) != 0)
        *errorNumber = errno;
    else
        *errorNumber = KindError(st.st_mode);
    if (*errorNumber != 0)
    {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string SourceErrorText(int errorNumber)
{
    if (errorNumber == kErrNotImageOrDevice)
        return "neither an image file nor a block device";
    if (errorNumber == kErrBadEwfImage)
        return "an Expert Witness image whose segment files cannot be read";
    return std::strerror(errorNumber);
}
