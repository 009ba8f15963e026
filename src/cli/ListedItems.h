// Which found items the scan listings show: every find, and of the live folders only those
// with a deleted find somewhere below them. The catalogue and the wizard keep every folder for
// navigation; the listings show the folders that hold finds.
#pragma once

#include <string_view>
#include <unordered_set>

#include "catalog/Catalog.h"

class CListedItems
{
public:
    // Notes the folders of volume that hold a deleted find at any depth. The volume's items
    // must stay as they are while this object is used.
    explicit CListedItems(const VolumeEntry& volume);

    // True for a deleted item, a live file, and a live folder with a deleted find below it.
    [[nodiscard]] bool Listed(const FoundItem& item) const;

private:
    // Full paths ("C:\docs") of the folders above a deleted find, viewing the items' paths.
    std::unordered_set<std::string_view> m_holding;
};
