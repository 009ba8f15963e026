// The selection of the recover command: --item paths, and the root of each volume, turned into
// recovery runs of folders and the names selected in them.
#include "cli/Recover.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string_view>

#include "cli/TextOut.h"
#include "platform/Format.h"

namespace
{
constexpr u8 kAttrFolder = 0x10;

std::string UpperDrive(std::string text)
{
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

bool IsBelow(std::string_view path, std::string_view folder)
{
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '\\');
}

void AddEntry(std::vector<RecoverGroup>* groups, const std::string& folder, const SelEntry& entry)
{
    auto group = std::find_if(groups->begin(), groups->end(),
                              [&](const RecoverGroup& g) { return g.folder == folder; });
    if (group == groups->end())
    {
        groups->push_back(RecoverGroup{folder, {}});
        group = groups->end() - 1;
    }
    // The same item twice would be written twice, the second time as "New " + name.
    for (const SelEntry& e : group->entries)
        if (e.name == entry.name)
            return;
    group->entries.push_back(entry);
}

// Splits path at its last backslash into folder and name and looks them up: a file or folder
// item of that name, or a folder level that items lie below.
void LookUp(const VolumeEntry& volume, const std::string& folder, const std::string& name,
            bool* file, bool* dir)
{
    const std::string path = folder + "\\" + name;
    for (const FoundItem& item : volume.items)
    {
        if (item.path == folder && item.name == name)
            ((item.attr & kAttrFolder) ? *dir : *file) = true;
        else if (IsBelow(item.path, path))
            *dir = true;
    }
}

// Decodes %5C (a backslash inside a name) and %25 (a percent sign) in one level; false when
// the level holds another escape.
bool DecodeLevel(const std::string& level, std::string* out)
{
    out->clear();
    for (std::size_t i = 0; i < level.size(); ++i)
    {
        if (level[i] != '%')
        {
            *out += level[i];
            continue;
        }
        const std::string code = level.substr(i + 1, 2);
        if (code == "5C" || code == "5c")
            *out += '\\';
        else if (code == "25")
            *out += '%';
        else
            return false;
        i += 2;
    }
    return true;
}

// The item path names: as listed (a name may hold a backslash: the item whose full path is the
// text wins), then with its levels split at every backslash and %5C / %25 decoded in each.
bool FindItem(const VolumeEntry& volume, const std::string& path, std::string* folder,
              std::string* name, bool* file, bool* dir)
{
    for (const FoundItem& item : volume.items)
    {
        if (path.size() == item.path.size() + 1 + item.name.size() && path.starts_with(item.path) &&
            path[item.path.size()] == '\\' && path.ends_with(item.name))
        {
            *folder = item.path;
            *name = item.name;
            LookUp(volume, *folder, *name, file, dir);
            return true;
        }
    }
    const std::size_t cut = path.rfind('\\');
    *folder = path.substr(0, cut);
    *name = path.substr(cut + 1);
    LookUp(volume, *folder, *name, file, dir);
    if (*file || *dir || path.find('%') == std::string::npos)
        return *file || *dir;
    std::string level;
    std::size_t at = 0;
    std::vector<std::string> levels;
    while (at <= path.size())
    {
        std::size_t next = path.find('\\', at);
        if (next == std::string::npos)
            next = path.size();
        if (!DecodeLevel(path.substr(at, next - at), &level))
            return false;
        levels.push_back(level);
        at = next + 1;
    }
    *name = levels.back();
    levels.pop_back();
    folder->clear();
    for (const std::string& l : levels)
        *folder += (folder->empty() ? "" : "\\") + l;
    LookUp(volume, *folder, *name, file, dir);
    return *file || *dir;
}
} // namespace

RecoverGroup RootSelection(const VolumeEntry& volume)
{
    std::vector<RecoverGroup> groups;
    std::set<std::string> named;
    for (const FoundItem& item : volume.items)
        if (item.path == volume.name)
        {
            AddEntry(&groups, volume.name,
                     SelEntry{item.name.str(), (item.attr & kAttrFolder) ? 1u : 0u});
            named.insert(item.name.str());
        }
    const std::string prefix = volume.name + "\\";
    for (const FoundItem& item : volume.items)
    {
        if (item.path.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string level = item.path.substr(prefix.size());
        level = level.substr(0, level.find('\\'));
        if (named.insert(level).second)
            AddEntry(&groups, volume.name, SelEntry{level, 1});
    }
    return groups.empty() ? RecoverGroup{volume.name, {}} : groups.front();
}

bool SelectItems(const std::vector<VolumeEntry>& volumes, const std::vector<std::string>& items,
                 std::vector<RecoverGroup>* groups, std::string* error)
{
    for (const std::string& given : items)
    {
        std::string path = UpperDrive(given);
        while (path.size() > 2 && path.back() == '\\')
            path.pop_back();
        const VolumeEntry* volume = nullptr;
        for (const VolumeEntry& v : volumes)
            if (path.compare(0, 2, v.name) == 0 && (path.size() == 2 || path[2] == '\\'))
                volume = &v;
        if (volume == nullptr)
        {
            *error =
                Format("'%s' lies on no volume that was searched", PrintableText(given).c_str());
            return false;
        }
        if (path.size() == 2)
        {
            RecoverGroup root = RootSelection(*volume);
            for (const SelEntry& e : root.entries)
                AddEntry(groups, root.folder, e);
            continue;
        }
        std::string folder;
        std::string name;
        bool file = false;
        bool dir = false;
        if (!FindItem(*volume, path, &folder, &name, &file, &dir))
        {
            *error = Format("no item '%s' was found", PrintableText(given).c_str());
            return false;
        }
        AddEntry(groups, folder, SelEntry{name, dir ? 1u : 0u});
    }
    return true;
}

std::vector<RecoverGroup> FilterSelection(const std::vector<VolumeEntry>& volumes,
                                          const std::vector<RecoverGroup>& groups,
                                          const FindFilter& filter)
{
    // What was chosen, as full paths: the files themselves, and the folders everything below
    // belongs to, each with the folder its selection was made in.
    std::map<std::string, const RecoverGroup*, std::less<>> files;
    std::vector<std::pair<std::string, const RecoverGroup*>> folders;
    for (const RecoverGroup& group : groups)
        for (const SelEntry& entry : group.entries)
        {
            std::string path = group.folder + "\\" + entry.name;
            if (entry.isDir != 0)
                folders.emplace_back(std::move(path), &group);
            else
                files.emplace(std::move(path), &group);
        }
    std::vector<RecoverGroup> filtered;
    std::map<std::string, std::size_t, std::less<>> at; // a selection folder's run in filtered
    std::string full;
    for (const VolumeEntry& volume : volumes)
    {
        // The volume's items in catalogue order, each taken once however often it was chosen.
        for (const FoundItem& item : volume.items)
        {
            if ((item.attr & kAttrFolder) != 0 || !filter.Matches(item))
                continue;
            full.assign(item.path.view());
            full += '\\';
            full += item.name.view();
            const RecoverGroup* chosenIn = nullptr;
            if (auto file = files.find(full); file != files.end())
                chosenIn = file->second;
            for (std::size_t i = 0; chosenIn == nullptr && i < folders.size(); ++i)
                if (IsBelow(item.path.view(), folders[i].first))
                    chosenIn = folders[i].second;
            if (chosenIn == nullptr)
                continue;
            // The file keeps its own folder, below the selection's folder: the copy is written
            // below the same folders as an unfiltered one.
            const std::string& folder = chosenIn->folder;
            auto [run, added] = at.try_emplace(folder, filtered.size());
            if (added)
                filtered.push_back(RecoverGroup{folder, {}});
            std::string own = item.path.view() == folder ? std::string() : item.path.str();
            filtered[run->second].entries.push_back(SelEntry{item.name.str(), 0, std::move(own)});
        }
    }
    return filtered;
}
