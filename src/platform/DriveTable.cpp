// The drive table: drive texts mapped to image files and block devices.
#include "platform/DriveTable.h"

#include <algorithm>
#include <cctype>

DriveTable g_DriveTable;

namespace
{
std::string NormalizeDrive(const std::string& drive)
{
    std::string d = drive;
    if (!d.empty())
        d[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(d[0])));
    return d;
}
} // namespace

void DriveTable::Register(const DriveSource& source)
{
    std::lock_guard lock(m_mutex);
    DriveSource s = source;
    s.drive = NormalizeDrive(s.drive);
    auto it = std::find_if(m_sources.begin(), m_sources.end(),
                           [&](const DriveSource& e) { return e.drive == s.drive; });
    if (it != m_sources.end())
        *it = s;
    else
        m_sources.push_back(s);
    std::sort(m_sources.begin(), m_sources.end(),
              [](const DriveSource& a, const DriveSource& b) { return a.drive < b.drive; });
}

std::string DriveTable::RegisterNext(const std::string& path, u64 offset, u64 length)
{
    std::lock_guard lock(m_mutex);
    for (char letter = 'C'; letter <= 'Z'; ++letter)
    {
        std::string drive{letter, ':'};
        bool taken = std::any_of(m_sources.begin(), m_sources.end(),
                                 [&](const DriveSource& e) { return e.drive == drive; });
        if (taken)
            continue;
        DriveSource source;
        source.drive = drive;
        source.path = path;
        source.offset = offset;
        source.length = length;
        m_sources.push_back(source);
        std::sort(m_sources.begin(), m_sources.end(),
                  [](const DriveSource& a, const DriveSource& b) { return a.drive < b.drive; });
        return drive;
    }
    return {};
}

std::optional<DriveSource> DriveTable::Find(const std::string& drive) const
{
    std::lock_guard lock(m_mutex);
    std::string d = NormalizeDrive(drive);
    for (const DriveSource& e : m_sources)
        if (e.drive == d)
            return e;
    return std::nullopt;
}

std::vector<DriveSource> DriveTable::All() const
{
    std::lock_guard lock(m_mutex);
    return m_sources;
}

std::vector<std::string> DriveTable::Notes() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> notes;
    for (const DriveSource& e : m_sources)
        if (!e.note.empty())
            notes.push_back(e.drive + " " + e.note);
    return notes;
}

void DriveTable::Clear()
{
    std::lock_guard lock(m_mutex);
    m_sources.clear();
}

std::string ShellDisplayName(const DriveSource& source)
{
    std::string name = source.label;
    if (name.empty())
    {
        switch (source.driveType)
        {
        case DriveType::Removable:
            name = "Removable Disk";
            break;
        case DriveType::Remote:
            name = "Network Drive";
            break;
        case DriveType::CdRom:
            name = "CD Drive";
            break;
        case DriveType::RamDisk:
            name = "RAM Disk";
            break;
        default:
            name = "Local Disk";
            break;
        }
    }
    return name + " (" + source.drive + ")";
}
