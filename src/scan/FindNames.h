// Names of finds as the FAT-family scans give them: clashing names within one folder numbered.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Types.h"

// Names already found in one folder, with the clash counter of each name's first find.
//
// The names sit one after another in one text and are found through an open-addressing table
// of their numbers: a folder of a thousand files took a heap node per name and a dozen
// rehashes in a node-based map, a sixth of the folder walk.
class NameList
{
public:
    // Returns name, or name with "_N_" inserted before its last '.' (appended when it has no
    // '.') when an earlier find of the folder had exactly this name.
    std::string Unique(std::string name);

private:
    struct Entry
    {
        u32 at;      // offset of the name in m_text
        u32 length;  // its bytes
        u32 hash;    // of the name
        s32 counter; // clashes with it so far
    };

    // The entry of name (whose hash is hash), or null when the folder has none.
    [[nodiscard]] Entry* Find(std::string_view name, u32 hash);
    // Records name (not yet known) with counter 0; false when the folder's names have grown
    // past what the table numbers, and the name is then left out.
    bool Add(std::string_view name, u32 hash);
    void Grow();

    std::string m_text;
    std::vector<Entry> m_entries;
    std::vector<u32> m_slots; // entry number + 1, or 0 for a free slot; a power of two long
};
