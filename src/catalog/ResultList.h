// The rows the result list shows, filtered and sorted: the shown folder's rows as the result
// view gives them, or, while a filter is set, every matching find below the shown folder with
// its folder. Plain C++: the dialog's virtual list asks it for rows by index.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "catalog/FindFilter.h"
#include "catalog/ResultView.h"
#include "platform/Types.h"
#include "records/FoundItem.h"

class CCatalog;

// The columns a list can be sorted by; kPath is shown while a filter is set.
enum class ResultColumn : u8
{
    kName = 0,
    kDescription,
    kSize,
    kAccess,
    kCondition,
    kPath,
};
inline constexpr std::size_t kNoItem = static_cast<std::size_t>(-1);

// One listed row: its texts and what it is sorted by.
struct ListedRow
{
    ResultRow row;
    std::string path;           // the folder that holds the find; filtered rows only
    std::size_t item = kNoItem; // index in the volume's items; kNoItem: volume, "..", a level
    bool folder = false;
    bool up = false; // the ".." row
    u64 size = 0;
    FoundTime time;
    FindCondition condition = FindCondition::kNotJudged;
    u8 overwrittenPct = 0;
};

class ResultList
{
public:
    // Lists the catalogue's shown folder (m_curVolume, m_curPath) again, filtered and sorted as
    // set. Dialog thread only; the volume's items must not change while the rows are used.
    void Open(CCatalog& catalog);

    FindFilter& Filter() { return m_filter; }
    [[nodiscard]] const FindFilter& Filter() const { return m_filter; }
    // True when the rows are matches of a filter (with their folders) rather than a folder.
    [[nodiscard]] bool Filtered() const { return m_filtered; }

    // Sorts by column, ascending; the same column again reverses. Folders stay first and ".."
    // on top either way; equal rows keep their listing order.
    void SortBy(ResultColumn column);
    void SetSort(ResultColumn column, bool ascending);
    [[nodiscard]] bool Sorted() const { return m_sorted; }
    [[nodiscard]] ResultColumn SortColumn() const { return m_column; }
    [[nodiscard]] bool Ascending() const { return m_ascending; }

    [[nodiscard]] std::size_t Count() const { return m_order.size(); }
    [[nodiscard]] const ListedRow& Row(std::size_t index) const { return m_rows[m_order[index]]; }
    // The row's name as the recovery and the folder moves take it: the name, with the folder
    // below the shown one in front on a filtered row ("sub\photo.jpg").
    [[nodiscard]] std::string SelectionName(std::size_t index) const;
    // Files shown, and files in the shown folder (with a filter: below it, all levels).
    [[nodiscard]] u32 FilesShown() const { return m_filesShown; }
    [[nodiscard]] u32 FilesTotal() const { return m_filesTotal; }
    // "N of M files shown".
    [[nodiscard]] std::string ShownText() const;

private:
    void OpenFolder(CCatalog& catalog);
    void OpenMatches(CCatalog& catalog);
    void Sort();

    FindFilter m_filter;
    bool m_filtered = false;
    std::string m_folder;             // the shown folder
    std::vector<ListedRow> m_rows;    // in listing order
    std::vector<std::size_t> m_order; // shown order: indexes of m_rows
    bool m_sorted = false;
    ResultColumn m_column = ResultColumn::kName;
    bool m_ascending = true;
    u32 m_filesShown = 0;
    u32 m_filesTotal = 0;
};
