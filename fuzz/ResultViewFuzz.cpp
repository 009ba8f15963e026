// The result view over found items whose names, attributes, sizes and times come from hostile
// volumes: listing, browsing down and up, file types and time texts must never misbehave.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "catalog/Catalog.h"
#include "catalog/ResultView.h"

namespace
{
// A byte cursor that yields zeros once the input is used up.
struct Cursor
{
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::int32_t Int()
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | Byte();
        std::int32_t result;
        std::memcpy(&result, &value, sizeof result);
        return result;
    }
    std::string Text()
    {
        std::size_t length = Byte() % 24;
        std::string text;
        for (std::size_t i = 0; i < length; ++i)
            text += static_cast<char>(Byte());
        return text;
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Cursor in{data, size};
    CCatalog catalog;
    catalog.InitFileTypes();
    const u32 volumes = 1 + in.Byte() % 2;
    for (u32 v = 0; v < volumes; ++v)
    {
        VolumeEntry volume;
        volume.name = std::string(1, static_cast<char>('C' + v)) + ":";
        volume.fsType = (in.Byte() & 1) ? kFsNtfs : kFsFat32;
        const u32 count = in.Byte() % 32;
        for (u32 i = 0; i < count; ++i)
        {
            FoundItem item;
            const u8 depth = in.Byte() % 3;
            item.path = volume.name;
            for (u8 d = 0; d < depth; ++d)
                item.path += "\\" + in.Text();
            item.name = in.Text();
            item.attr = in.Byte();
            item.size = static_cast<u32>(in.Int());
            item.accessed.year = static_cast<s16>(in.Int());
            item.accessed.month = static_cast<u8>(in.Int());
            item.accessed.day = static_cast<u8>(in.Int());
            item.accessed.hour = static_cast<u8>(in.Int());
            item.accessed.minute = static_cast<u8>(in.Int());
            item.accessed.second = static_cast<u8>(in.Int());
            volume.items.push_back(item);
        }
        catalog.m_volumes.push_back(std::move(volume));
    }
    catalog.m_curPath = catalog.m_volumes[0].name;
    catalog.m_curVolume = 0;
    std::vector<ResultRow> rows;
    catalog.ShowFolder(catalog.m_volumes[0], &rows);
    // Walk: each step opens a row of the current listing, goes up, or names a volume.
    for (int step = 0; step < 16 && in.at < in.size; ++step)
    {
        const u8 choice = in.Byte();
        std::string target;
        if (choice % 4 == 0)
            target = "..";
        else if (choice % 4 == 1)
            target = in.Text();
        else if (!rows.empty())
            target = rows[choice % rows.size()].name;
        (void)catalog.Navigate(target, &rows);
        for (const ResultRow& row : rows)
            if (row.image >= static_cast<s32>(catalog.m_typeExts.size()))
                __builtin_trap();
    }
    if (catalog.m_typeExts.size() != catalog.m_typeIcons.size() ||
        catalog.m_typeExts.size() != catalog.m_typeNames.size())
        __builtin_trap();
    return 0;
}
