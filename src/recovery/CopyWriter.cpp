#include "recovery/CopyWriter.h"

#include <unistd.h>

#include <cerrno>

#include "platform/Format.h"
#include "recovery/Recovery.h"

bool CopyWriter::Failed(int error)
{
    m_warn(Format("Failed to write %s: %s", m_path.c_str(), ErrorText(error).c_str()));
    return false;
}

bool CopyWriter::Write(const u8* data, u64 count)
{
    u64 left = count;
    while (left > 0)
    {
        const ssize_t n = ::write(m_fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Failed(n < 0 ? errno : EIO);
        data += n;
        left -= static_cast<u64>(n);
    }
    m_written += count;
    m_endsInHole = false;
    return true;
}

bool CopyWriter::Hole(u64 count)
{
    if (count == 0)
        return true;
    if (::lseek(m_fd, static_cast<off_t>(count), SEEK_CUR) < 0)
        return Failed(errno);
    m_written += count;
    m_endsInHole = true;
    return true;
}

bool CopyWriter::Finish(u64 tailZeros)
{
    if (!m_endsInHole && tailZeros == 0)
        return true;
    const u64 length = m_written + tailZeros;
    if (::ftruncate(m_fd, static_cast<off_t>(length)) != 0)
        return Failed(errno);
    m_written = length;
    m_endsInHole = false;
    return true;
}

bool CopyWriter::Close(bool report)
{
    const int fd = m_fd;
    m_fd = -1;
    if (fd < 0)
        return true;
    if (::close(fd) == 0)
        return true;
    if (report)
        (void)Failed(errno);
    return false;
}
