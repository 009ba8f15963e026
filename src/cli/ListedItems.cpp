// Which found items the scan listings show.
#include "cli/ListedItems.h"

#include <string>

namespace
{
constexpr u8 kAttrFolder = 0x10;
} // namespace

CListedItems::CListedItems(const VolumeEntry& volume, const FindFilter* filter)
    : m_filter(filter != nullptr && filter->IsSet() ? filter : nullptr)
{
    std::string_view last;
    for (const FoundItem& item : volume.items)
    {
        // Finds come folder by folder: one already noted for the find before is skipped at
        // the cost of a comparison instead of a hash.
        if (item.deleted == 0 || (!last.empty() && item.path.view() == last))
            continue;
        last = item.path.view();
        // The item's folder and every folder above it, up to the volume ("C:"); a folder met
        // before has had its own folders noted already.
        std::string_view folder = last;
        while (!folder.empty() && m_holding.insert(folder).second)
        {
            const std::size_t cut = folder.rfind('\\');
            if (cut == std::string_view::npos)
                break;
            folder = folder.substr(0, cut);
        }
    }
}

bool CListedItems::Listed(const FoundItem& item) const
{
    if (m_filter != nullptr && !m_filter->Matches(item))
        return false;
    if (item.deleted != 0 || (item.attr & kAttrFolder) == 0)
        return true;
    std::string full(item.path.view());
    full += '\\';
    full += item.name.view();
    return m_holding.count(full) != 0;
}
