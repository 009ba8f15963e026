// The result list's rows: a folder's rows matched to their finds, or a filter's matches below
// the shown folder; the sort over them.
#include "catalog/ResultList.h"

#include <algorithm>
#include <unordered_map>

#include "catalog/Catalog.h"

namespace
{
bool IsFolder(const FoundItem& item)
{
    return (item.attr & 0x10) != 0;
}

// True when path is folder or lies below it.
bool Below(std::string_view path, const std::string& folder)
{
    return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == '\\');
}

void TakeItem(ListedRow* row, const FoundItem& item, std::size_t index)
{
    row->item = index;
    row->folder = IsFolder(item);
    row->size = item.size;
    row->time = item.accessed;
    row->condition = item.condition;
    row->overwrittenPct = item.overwrittenPct;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names as a user reads them: ASCII case ignored, then byte order.
int CompareNames(const std::string& a, const std::string& b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i)
    {
        const char x = Lower(a[i]);
        const char y = Lower(b[i]);
        if (x != y)
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
    }
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
}

template <typename T> int Compare(const T& a, const T& b)
{
    return a < b ? -1 : b < a ? 1 : 0;
}

int CompareBy(ResultColumn column, const ListedRow& a, const ListedRow& b)
{
    switch (column)
    {
    case ResultColumn::kDescription:
        return CompareNames(a.row.description, b.row.description);
    case ResultColumn::kSize:
        return Compare(a.size, b.size);
    case ResultColumn::kAccess:
        return CCatalog::CompareTime(a.time, b.time);
    case ResultColumn::kCondition:
        if (a.condition != b.condition)
            return Compare(a.condition, b.condition);
        return Compare(a.overwrittenPct, b.overwrittenPct);
    case ResultColumn::kPath:
        return CompareNames(a.path, b.path);
    default:
        return CompareNames(a.row.name, b.row.name);
    }
}
} // namespace

void ResultList::Open(CCatalog& catalog)
{
    m_rows.clear();
    m_filesShown = 0;
    m_filesTotal = 0;
    m_folder = catalog.m_curPath;
    const s32 volume = catalog.m_curVolume;
    const bool browsing = !m_folder.empty() && volume >= 0 &&
                          static_cast<std::size_t>(volume) < catalog.m_volumes.size();
    m_filtered = browsing && m_filter.IsSet();
    if (m_filtered)
        OpenMatches(catalog);
    else
        OpenFolder(catalog);
    Sort();
}

void ResultList::OpenFolder(CCatalog& catalog)
{
    const s32 volume = catalog.m_curVolume;
    if (volume < 0 || static_cast<std::size_t>(volume) >= catalog.m_volumes.size())
        return;
    const VolumeEntry& entry = catalog.m_volumes[static_cast<std::size_t>(volume)];
    std::vector<ResultRow> rows;
    catalog.ShowFolder(entry, &rows);
    // The folder's own finds, by name (unique within a folder), for what the rows sort by.
    std::unordered_map<std::string_view, std::size_t> byName;
    if (!m_folder.empty())
        for (std::size_t i = 0; i < entry.items.size(); ++i)
            if (entry.items[i].path.view() == m_folder)
                byName.emplace(entry.items[i].name.view(), i);
    m_rows.reserve(rows.size());
    for (ResultRow& row : rows)
    {
        ListedRow listed;
        listed.folder = row.image == kImageFolder;
        listed.up = row.name == ".." && row.description.empty();
        if (!m_folder.empty() && !listed.up)
        {
            const auto found = byName.find(row.name);
            if (found != byName.end() && IsFolder(entry.items[found->second]) == listed.folder)
                TakeItem(&listed, entry.items[found->second], found->second);
        }
        listed.row = std::move(row);
        m_rows.push_back(std::move(listed));
    }
    m_filesTotal = catalog.m_fileCount;
    m_filesShown = catalog.m_fileCount;
}

void ResultList::OpenMatches(CCatalog& catalog)
{
    const VolumeEntry& entry = catalog.m_volumes[static_cast<std::size_t>(catalog.m_curVolume)];
    for (std::size_t i = 0; i < entry.items.size(); ++i)
    {
        const FoundItem& item = entry.items[i];
        if (!Below(item.path.view(), m_folder))
            continue;
        if (!IsFolder(item))
            ++m_filesTotal;
        if (!m_filter.Matches(item))
            continue;
        ListedRow listed;
        TakeItem(&listed, item, i);
        listed.path = item.path.str();
        listed.row.name = item.name.str();
        listed.row.access = catalog.FormatTime(item.accessed);
        if (listed.folder)
        {
            listed.row.description = "Directory";
            listed.row.image = kImageFolder;
        }
        else
        {
            const std::string_view name = item.name.view();
            const std::size_t dot = name.rfind('.');
            listed.row.description =
                dot == std::string_view::npos ? std::string() : std::string(name.substr(dot + 1));
            catalog.GetFileType(listed.row.description, &listed.row.image);
            listed.row.size = SizeText(item.size);
            listed.row.condition = ConditionLabel(item);
            ++m_filesShown;
        }
        m_rows.push_back(std::move(listed));
    }
}

void ResultList::SortBy(ResultColumn column)
{
    SetSort(column, m_sorted && m_column == column ? !m_ascending : true);
}

void ResultList::SetSort(ResultColumn column, bool ascending)
{
    m_sorted = true;
    m_column = column;
    m_ascending = ascending;
    Sort();
}

void ResultList::Sort()
{
    m_order.resize(m_rows.size());
    for (std::size_t i = 0; i < m_order.size(); ++i)
        m_order[i] = i;
    if (!m_sorted)
        return;
    std::stable_sort(m_order.begin(), m_order.end(),
                     [this](std::size_t x, std::size_t y)
                     {
                         const ListedRow& a = m_rows[x];
                         const ListedRow& b = m_rows[y];
                         if (a.up != b.up)
                             return a.up;
                         if (a.folder != b.folder)
                             return a.folder;
                         const int order = CompareBy(m_column, a, b);
                         return m_ascending ? order < 0 : order > 0;
                     });
}

std::string ResultList::SelectionName(std::size_t index) const
{
    const ListedRow& row = Row(index);
    if (!m_filtered || row.path.size() <= m_folder.size())
        return row.row.name;
    // The path lies below the shown folder: the levels after it, then the name.
    return row.path.substr(m_folder.size() + 1) + "\\" + row.row.name;
}

std::string ResultList::ShownText() const
{
    return std::to_string(m_filesShown) + " of " + std::to_string(m_filesTotal) + " files shown";
}
