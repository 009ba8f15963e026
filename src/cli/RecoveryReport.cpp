// The recovery report: JSON lines written by the recovery thread as each file ends, so that a
// stopped run leaves a report of every file it attempted.
#include "cli/RecoveryReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "cli/Json.h"
#include "platform/DriveTable.h"
#include "platform/Format.h"
#include "recovery/Recovery.h"
#include "recovery/RecoveryHost.h"

std::string ReportedCondition(const FoundItem& item)
{
    // A find the search did not judge (a stopped search) is reported as unknown.
    const char* text = ConditionText(item.condition);
    return *text != '\0' ? text : "unknown";
}

std::string ReportLine(const RecoveredFile& file)
{
    static const FoundItem kNone;
    const FoundItem& item = file.item != nullptr ? *file.item : kNone;
    std::string line = "{\"volume\":" + JsonQuote(file.volume);
    line += ",\"path\":" + JsonQuote(item.path);
    line += ",\"name\":" + JsonQuote(item.name);
    line += ",\"destination\":" + (file.destination.empty() ? "null" : JsonQuote(file.destination));
    line += Format(",\"size\":%llu,\"written\":%llu", static_cast<unsigned long long>(item.size),
                   static_cast<unsigned long long>(file.written));
    line += ",\"condition\":" + JsonQuote(ReportedCondition(item));
    line += Format(",\"overwritten_pct\":%u", static_cast<unsigned>(item.overwrittenPct));
    line += ",\"content\":" + JsonQuote(ContentText(item.Content()));
    line += ",\"sha256\":" + (file.sha256.empty() ? "null" : JsonQuote(file.sha256));
    line += Format(",\"complete\":%s,\"stopped\":%s", file.whole ? "true" : "false",
                   file.stopped ? "true" : "false");
    line += ",\"warnings\":[";
    for (std::size_t i = 0; i < file.warnings.size(); ++i)
        line += (i == 0 ? "" : ",") + JsonQuote(file.warnings[i]);
    line += "]}";
    return line;
}

CRecoveryReport::~CRecoveryReport()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool CRecoveryReport::Create(const std::string& path, const std::vector<VolumeEntry>& volumes,
                             std::string* error)
{
    // The folder the report goes into must not lie on a volume being read.
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    for (const VolumeEntry& volume : volumes)
    {
        const std::optional<DriveSource> source = g_DriveTable.Find(volume.name);
        if (source && DestinationIsSource(RecoveryHost(), folder, *source))
        {
            const std::string& shown = source->display.empty() ? source->path : source->display;
            *error = Format("refusing to write the report '%s': its folder is on the volume "
                            "being read (%s)",
                            path.c_str(), shown.c_str());
            return false;
        }
    }
    m_fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_APPEND, 0644);
    if (m_fd < 0)
    {
        const int e = errno;
        *error = e == EEXIST
                     ? Format("the report file '%s' exists already; it is never overwritten",
                              path.c_str())
                     : Format("cannot create the report file '%s': %s", path.c_str(),
                              ErrorText(e).c_str());
        return false;
    }
    HandOver(m_fd);
    m_path = path;
    return true;
}

void CRecoveryReport::FileDone(const RecoveredFile& file)
{
    if (m_fd < 0)
        return;
    const std::string line = ReportLine(file) + "\n";
    std::size_t done = 0;
    while (done < line.size())
    {
        const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            if (m_error == 0)
                m_error = n < 0 ? errno : ENOSPC;
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

bool CRecoveryReport::Close(std::string* error)
{
    if (m_fd < 0)
        return true;
    if (::fsync(m_fd) != 0 && m_error == 0)
        m_error = errno;
    if (::close(m_fd) != 0 && m_error == 0)
        m_error = errno;
    m_fd = -1;
    if (m_error == 0)
        return true;
    *error = Format("the report file '%s' could not be written whole: %s", m_path.c_str(),
                    ErrorText(m_error).c_str());
    return false;
}
