// Names of finds as the FAT-family scans give them: clashing names within one folder numbered,
// and the system folders that are never listed.
#pragma once

#include <string>
#include <unordered_map>

#include "platform/Types.h"

// Names already found in one folder, with the clash counter of each name's first find.
class NameList
{
public:
    // Returns name, or name with "_N_" inserted before its last '.' (appended when it has no
    // '.') when an earlier find of the folder had exactly this name.
    std::string Unique(std::string name)
    {
        // One lookup that also records the name: nearly every name is the first of its kind.
        auto [it, first] = m_counters.try_emplace(name, 0);
        if (first)
            return name;
        std::string counter = "_" + std::to_string(++it->second) + "_";
        std::size_t dot = name.rfind('.');
        if (dot == std::string::npos)
            name += counter;
        else
            name.insert(dot, counter);
        m_counters.try_emplace(name, 0);
        return name;
    }

private:
    std::unordered_map<std::string, s32> m_counters;
};

// The recycle bin and "System Volume Information" are left out, with all they hold.
inline bool IsExcludedName(const std::string& name)
{
    return name.find("Recycle") != std::string::npos ||
           name.find("System Volume Info") != std::string::npos;
}
