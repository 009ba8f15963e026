// The writing side of a copy: every byte of one recovered file goes out through here, written,
// left as a hole, or given by the file's length at the end. A failure posts the one warning
// that names the file and the system's reason.
#pragma once

#include <functional>
#include <string>

#include "platform/Types.h"

class CopyWriter
{
public:
    using WarnSink = std::function<void(const std::string&)>;

    // Writes to fd, open on path (the name the warnings give); warn receives their text.
    CopyWriter(int fd, std::string path, WarnSink warn)
        : m_fd(fd), m_path(std::move(path)), m_warn(std::move(warn))
    {
    }

    // Appends [data, data + count). False (warned) when the system refuses any of it.
    bool Write(const u8* data, u64 count);
    // Leaves count bytes unwritten: they read as zeros and take no space. False (warned) when
    // the file cannot be positioned past them.
    bool Hole(u64 count);
    // Ends the copy: a file that ends with a hole, or with tailZeros bytes never written, gets
    // its length set. False (warned) when it cannot be.
    bool Finish(u64 tailZeros);
    // Closes the file; true when the system reports no error. With report set, a failure is
    // warned.
    bool Close(bool report);

    [[nodiscard]] int Fd() const { return m_fd; }
    [[nodiscard]] const std::string& Path() const { return m_path; }
    // Bytes of the file written or left as a hole so far.
    [[nodiscard]] u64 Written() const { return m_written; }

private:
    bool Failed(int error);

    int m_fd;
    std::string m_path;
    WarnSink m_warn;
    u64 m_written = 0;
    bool m_endsInHole = false; // the length is not yet set past the last hole
};
