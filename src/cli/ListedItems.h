// Which found items the scan listings show: every find, and of the live folders only those
// with a deleted find somewhere below them. The catalogue and the wizard keep every folder for
// navigation; the listings show the folders that hold finds.
#pragma once

#include <string_view>
#include <unordered_set>

#include "catalog/Catalog.h"
#include "catalog/FindFilter.h"

class CListedItems
{
public:
    // Notes the folders of volume that hold a deleted find at any depth. The volume's items
    // must stay as they are while this object is used. A filter that is set (not owned, may be
    // null) narrows the listing to the finds that pass it.
    explicit CListedItems(const VolumeEntry& volume, const FindFilter* filter = nullptr);

    // True for a deleted item, a live file, and a live folder with a deleted find below it,
    // each only when it passes the filter.
    [[nodiscard]] bool Listed(const FoundItem& item) const;

private:
    const FindFilter* m_filter = nullptr; // null when no rule is set
    // Full paths ("C:\docs") of the folders above a deleted find, viewing the items' paths.
    std::unordered_set<std::string_view> m_holding;
};
