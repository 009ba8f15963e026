// The result view: rows for the volume list and for one folder of a volume, folder browsing,
// file types learnt from the desktop's database, the time texts of the "Access" column and the
// texts of the "Condition" column.
#include "catalog/ResultView.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <iterator>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "catalog/Catalog.h"
#include "catalog/VolumeEngine.h"

namespace
{
constexpr std::size_t kBuiltInTypes = 2; // "Directory" and "File"
constexpr std::size_t kTimeHalf = 80;    // date text, then time text, in m_timeBuf
constexpr s32 kFirstYear = 1601;         // the calendar range the system formats
constexpr s32 kLastYear = 30827;

// "C:" and the like: the root of a volume.
bool IsVolumeText(const std::string& text)
{
    return text.size() == 2 && text[1] == ':';
}

} // namespace

// size / 1024 in single precision with two decimals and " KB". The decimal point is always
// '.', whatever the locale's numeric format.
std::string SizeText(u64 size)
{
    float kib = static_cast<float>(size) / 1024.0f;
    char buffer[64];
    auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, kib, std::chars_format::fixed, 2);
    if (error != std::errc())
        return "? KB";
    return std::string(buffer, end) + " KB";
}

namespace
{
// The text after the last '.' of name; empty when the name has none.
std::string ExtensionOf(std::string_view name)
{
    std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
}
} // namespace

std::string ConditionLabel(const FoundItem& item)
{
    std::string label = ConditionText(item.condition);
    if (item.condition == FindCondition::kPartial || item.condition == FindCondition::kOverwritten)
        label += " " + std::to_string(item.overwrittenPct) + "%";
    // What the file's validator read in its bytes: "inferred, valid", "partial 40%, damaged".
    if (item.Content() != FindContent::kNone && !label.empty())
        label += std::string(", ") + ContentText(item.Content());
    return label;
}

void CResultView::InitFileTypes()
{
    m_typeExts = {"Directory", "File"};
    m_typeNames = {"Directory", "Unknown File"};
    m_typeIcons = {kFolderIconName, kFileIconName};
}

void CResultView::ShowFolder(const std::vector<VolumeEntry>& volumes, const VolumeEntry& volume,
                             std::vector<ResultRow>* rows)
{
    rows->clear();
    m_fileCount = 0;
    if (m_curPath.empty())
    {
        for (const VolumeEntry& entry : volumes)
            rows->push_back(ResultRow{entry.name, {}, {}, {}, kImageNone, {}});
        return;
    }
    if (!IsVolumeText(m_curPath))
        rows->push_back(ResultRow{"..", {}, {}, {}, kImageNone, {}});

    // Folders are listed as met walking backwards; files are put aside and listed in the order
    // found. A FAT scan appends one folder's items in one run, so on FAT the walk ends at the
    // first other item after that run; NTFS items of one folder may stand anywhere.
    std::vector<const FoundItem*> files;
    bool matched = false;
    for (std::size_t i = volume.items.size(); i-- > 0;)
    {
        const FoundItem& item = volume.items[i];
        if (item.path != m_curPath)
        {
            if (matched && !volume.foldersScattered && volume.engine != nullptr &&
                volume.engine->FoldersContiguous())
                break;
            continue;
        }
        matched = true;
        if (item.attr & 0x10)
            rows->push_back(ResultRow{
                item.name.str(), "Directory", {}, FormatTime(item.accessed), kImageFolder, {}});
        else
            files.push_back(&item);
    }
    AddLevelRows(volume, rows);
    m_fileCount = static_cast<u32>(files.size());
    for (std::size_t i = files.size(); i-- > 0;)
    {
        const FoundItem& item = *files[i];
        std::string description = ExtensionOf(item.name);
        s32 image = kImageNone;
        GetFileType(description, &image);
        rows->push_back(ResultRow{item.name.str(), description, SizeText(item.size),
                                  FormatTime(item.accessed), image, ConditionLabel(item)});
    }
}

void CResultView::AddLevelRows(const VolumeEntry& volume, std::vector<ResultRow>* rows)
{
    // A folder that items lie below but that has no item of its own (an NTFS file whose parent
    // record is lost lies in "Folder_N_") still gets a row leading to them, with the time of
    // its newest item, after the folders that have items and in the same order.
    const std::string prefix = m_curPath + "\\";
    std::vector<std::string> levels;
    std::unordered_map<std::string, FoundTime> newest;
    for (std::size_t i = volume.items.size(); i-- > 0;)
    {
        const FoundItem& item = volume.items[i];
        if (item.path.size() <= prefix.size() || item.path.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::size_t end = item.path.find('\\', prefix.size());
        std::string level = item.path.substr(prefix.size(), end - prefix.size());
        auto [it, added] = newest.try_emplace(level, item.accessed);
        if (added)
            levels.push_back(std::move(level));
        else if (CCatalog::CompareTime(item.accessed, it->second) > 0)
            it->second = item.accessed;
    }
    if (levels.empty())
        return;
    std::unordered_set<std::string> shown;
    for (const ResultRow& row : *rows)
        if (row.image == kImageFolder)
            shown.insert(row.name);
    for (const std::string& level : levels)
        if (!shown.contains(level))
            rows->push_back(
                ResultRow{level, "Directory", {}, FormatTime(newest[level]), kImageFolder, {}});
}

bool CResultView::Navigate(const std::vector<VolumeEntry>& volumes, const std::string& text,
                           std::vector<ResultRow>* rows)
{
    if (text.empty())
        return false;
    if (IsVolumeText(text))
    {
        for (std::size_t i = volumes.size(); i-- > 0;)
        {
            if (volumes[i].name == text)
            {
                m_curVolume = static_cast<s32>(i);
                m_curPath = text;
                ShowFolder(volumes, volumes[i], rows);
                return true;
            }
        }
        return false;
    }
    // Every other move lists the volume being browsed; without one there is nothing to show.
    if (m_curVolume < 0 || static_cast<std::size_t>(m_curVolume) >= volumes.size())
        return false;
    if (text != "..")
    {
        if (m_curPath.empty())
            return false;
        m_curPath += "\\" + text;
    }
    else
    {
        if (m_curPath.empty())
            return false;
        if (IsVolumeText(m_curPath))
        {
            m_curPath.clear();
            ShowFolder(volumes, volumes[static_cast<std::size_t>(m_curVolume)], rows);
            return true;
        }
        std::size_t slash = m_curPath.rfind('\\');
        if (slash == std::string::npos)
            return false;
        m_curPath.erase(slash);
    }
    ShowFolder(volumes, volumes[static_cast<std::size_t>(m_curVolume)], rows);
    return true;
}

void CResultView::GetFileType(std::string& extension, s32* image)
{
    if (m_typeExts.size() < kBuiltInTypes)
        InitFileTypes();
    while (!extension.empty() && (extension.back() == ' ' || extension.back() == '\t'))
        extension.pop_back();
    *image = kImageNone;
    if (extension.empty())
    {
        extension = m_typeNames[kImageFile];
        *image = kImageFile;
        return;
    }
    // The built-in keys are not extensions: a file "x.Directory" must not pass for a folder,
    // or the recovery would look for a folder of that name and skip the file.
    for (std::size_t i = kBuiltInTypes; i < m_typeExts.size(); ++i)
    {
        if (m_typeExts[i] == extension)
        {
            extension = m_typeNames[i];
            *image = static_cast<s32>(i);
            return;
        }
    }
    FileTypeInfo info;
    if (m_fileTypes == nullptr || !m_fileTypes->Lookup(extension, &info))
        info = FileTypeInfo{};
    std::string description = info.description.empty() ? extension + " File" : info.description;
    m_typeExts.push_back(extension);
    m_typeNames.push_back(description);
    m_typeIcons.push_back(info.icons.empty() ? std::string(kFileIconName) : info.icons);
    *image = static_cast<s32>(m_typeExts.size() - 1);
    extension = description;
}

std::string CResultView::FormatTime(const FoundTime& time)
{
    // A damaged entry may hold any field values: a date or time of day that is no calendar
    // value gives an empty text for that half, as the system's date formatting refuses it.
    const bool dateValid = time.year >= kFirstYear && time.year <= kLastYear && time.month >= 1 &&
                           time.month <= 12 && time.day >= 1 && time.day <= 31;
    const bool timeValid = time.hour < 24 && time.minute < 60 && time.second < 60;
    std::tm calendar = {};
    if (dateValid)
    {
        calendar.tm_year = time.year - 1900;
        calendar.tm_mon = time.month - 1;
        calendar.tm_mday = time.day;
    }
    if (timeValid)
    {
        calendar.tm_hour = time.hour;
        calendar.tm_min = time.minute;
        calendar.tm_sec = time.second;
    }
    calendar.tm_isdst = -1;
    std::fill(std::begin(m_timeBuf), std::end(m_timeBuf), '\0');
    // strftime leaves the buffer undefined when the text does not fit: cut it to empty then.
    if (!dateValid || std::strftime(m_timeBuf, kTimeHalf, "%x", &calendar) == 0)
        m_timeBuf[0] = '\0';
    if (!timeValid || std::strftime(m_timeBuf + kTimeHalf, kTimeHalf, "%X", &calendar) == 0)
        m_timeBuf[kTimeHalf] = '\0';
    return std::string(m_timeBuf) + "  " + std::string(m_timeBuf + kTimeHalf);
}
