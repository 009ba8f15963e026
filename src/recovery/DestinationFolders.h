// The folders of one recovery run below its destination. Every level is made and entered
// relative to its parent's descriptor and never through a link, so nothing planted inside the
// destination can lead a file out of it, and no path length limit applies to the whole path.
#pragma once

#include <sys/types.h>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/Types.h"

// An open folder of the run: its descriptor stays valid until the next Enter or Close.
struct DestinationFolder
{
    int fd = -1;
    std::string path;                                       // native path, for messages
    const std::unordered_set<std::string>* names = nullptr; // upper-cased, when first entered
    dev_t device = 0;                                       // file system that holds it
    u32 maxName = 255;                                      // longest name in bytes it takes
    bool fresh = false; // entered for the first time in this run
};

class CDestinationFolders
{
public:
    CDestinationFolders() = default;
    ~CDestinationFolders();
    CDestinationFolders(const CDestinationFolders&) = delete;
    CDestinationFolders& operator=(const CDestinationFolders&) = delete;

    // Opens root, a folder that exists (reached by its path, links included: the user named
    // it). names are its upper-cased entries as listed when it was prepared; when null, it is
    // listed now. False with *error set when it cannot be opened as a folder.
    [[nodiscard]] bool Open(const std::string& root, const std::vector<std::string>* names,
                            int* error);
    void Close();
    [[nodiscard]] bool IsOpen() const { return m_rootFd >= 0; }
    [[nodiscard]] const std::string& Root() const { return m_rootPath; }

    // The folder at levels below the root (native names, each already made safe and fitted),
    // made where missing. A level that exists as a link or as anything but a folder is never
    // used. Returns the folder, or null with *failedPath (the native path of the level that
    // failed) and *error set.
    [[nodiscard]] DestinationFolder* Enter(const std::vector<std::string>& levels,
                                           std::string* failedPath, int* error);

private:
    struct Known
    {
        std::unordered_set<std::string> names;
        dev_t device = 0;
        u32 maxName = 255;
    };

    void Release();

    int m_rootFd = -1;
    std::string m_rootPath;
    std::vector<std::string> m_currentLevels;
    DestinationFolder m_current;
    bool m_entered = false;
    // What each folder held when the run first entered it, by its levels joined with '/'.
    std::unordered_map<std::string, Known> m_known;
};

// The names in the folder open as fd, upper-cased (fd stays open).
[[nodiscard]] std::unordered_set<std::string> ListUpperNames(int fd);
