// The Recycle Bin's records over arbitrary bytes: $I records, INFO2 files, the levels of the
// paths they give, and the names of the bin's files.
#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "scan/RecycleRecords.h"

namespace
{
// Levels never lead out of the made-up folder and never hold a separator.
void CheckLevels(const std::string& path)
{
    std::vector<std::string> levels;
    if (!RecycledLevels(path, &levels))
        return;
    for (const std::string& level : levels)
        if (level.empty() || level == "." || level == ".." ||
            level.find_first_of("\\/") != std::string::npos)
            std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size)
{
    if (size > 256 * 1024)
        return 0;
    // A copy of exactly size bytes, so that any read past them is caught.
    std::vector<u8> bytes(data, data + size);
    std::span<const u8> view(bytes.data(), bytes.size());
    RecycledOrigin origin;
    if (ParseRecycleIndex(view, &origin))
    {
        if (origin.path.empty())
            std::abort();
        CheckLevels(origin.path);
    }
    const std::vector<RecycledOrigin> records = ParseInfo2(view);
    if (records.size() > size / 280)
        std::abort();
    for (const RecycledOrigin& record : records)
        CheckLevels(record.path);
    const std::string_view name(reinterpret_cast<const char*>(bytes.data()),
                                std::min<std::size_t>(size, 255));
    std::string_view suffix;
    u32 number = 0;
    (void)ClassifyRecycleName(name, &suffix, &number);
    if (!suffix.empty() && (suffix.data() < name.data() || suffix.end() > name.end()))
        std::abort();
    CheckLevels(std::string(name));
    return 0;
}
