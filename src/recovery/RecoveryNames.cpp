// Safe native names and paths for recovered files, exclusive file creation, and the resident
// value of an MFT record.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/Format.h"
#include "platform/Status.h"
#include "recovery/Recovery.h"

std::string g_SelFolder;

namespace
{
// Candidates after "New " + name before creation gives up; each one exists already when tried.
constexpr u32 kMaxNewCandidates = 10000;
} // namespace

std::string SafeName(const std::string& name)
{
    if (name.empty())
        return "_";
    if (name == "." || name == "..")
        return "_" + name;
    std::string out = name;
    for (char& c : out)
    {
        const u8 b = static_cast<u8>(c);
        if (b == '/' || b < 0x20 || b == 0x7F)
            c = '_';
    }
    return out;
}

std::string UpperName(const std::string& name)
{
    std::string out = name;
    for (char& c : out)
    {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string MapFolder(const std::string& itemPath, const std::string& source,
                      const std::string& target)
{
    std::string folder = target;
    if (itemPath.size() <= source.size())
        return folder;
    // The rest is "\level\level...": one native level per catalogue level.
    std::size_t at = source.size() + 1;
    while (at <= itemPath.size())
    {
        std::size_t next = itemPath.find('\\', at);
        if (next == std::string::npos)
            next = itemPath.size();
        folder += '/';
        folder += SafeName(itemPath.substr(at, next - at));
        at = next + 1;
    }
    return folder;
}

int CreateFreshFile(const std::string& folder, const std::string& name, bool startWithNew,
                    std::string* path, int* error)
{
    for (u32 attempt = startWithNew ? 1 : 0; attempt <= kMaxNewCandidates; ++attempt)
    {
        std::string candidate;
        if (attempt == 0)
            candidate = name;
        else if (attempt == 1)
            candidate = "New " + name;
        else
            candidate = Format("New (%u) ", attempt) + name;
        // Neither an existing file nor a link planted in the destination is ever opened.
        const std::string full = folder + "/" + candidate;
        const int fd =
            ::open(full.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0)
        {
            *path = full;
            return fd;
        }
        if (errno != EEXIST)
        {
            *error = errno;
            return -1;
        }
    }
    *error = EEXIST;
    return -1;
}

std::vector<bool> SparseRuns(const u8* runs, int limit)
{
    // The same walk over the mapping pairs as the run-list decoder, with its bounds: a pair is
    // a header byte (length size low nibble, offset size high nibble) and the bytes it names.
    std::vector<bool> sparse;
    if (runs == nullptr)
        return sparse;
    int i = 0;
    while (i < limit && runs[i] != 0)
    {
        const int lengthSize = runs[i] & 0x0F;
        const int offsetSize = runs[i] >> 4;
        if (i + lengthSize + offsetSize >= limit)
            break;
        if (lengthSize <= 4 && offsetSize <= 4)
            sparse.push_back(offsetSize == 0);
        i += 1 + lengthSize + offsetSize;
    }
    return sparse;
}

u32 ExtractResidentValue(u8* record, u32 recordSize, u32 valueOffset, u64 size, u32* start,
                         u32* length)
{
    // Update sequence fixup: the last word of each 512-byte half holds the update sequence
    // number; the array at the header's offset 0x04 keeps the words that belong there.
    if (recordSize >= 1024)
    {
        const u32 usa = LoadLe16(record + 0x04);
        if (usa + 6 <= recordSize)
        {
            if (LoadLe16(record + usa) == LoadLe16(record + 510))
                std::memcpy(record + 510, record + usa + 2, 2);
            if (LoadLe16(record + usa) == LoadLe16(record + 1022))
                std::memcpy(record + 1022, record + usa + 4, 2);
        }
    }
    const u32 first = valueOffset < recordSize ? valueOffset : recordSize;
    const u64 room = recordSize - first;
    *start = first;
    *length = static_cast<u32>(size < room ? size : room);
    return valueOffset <= recordSize && size <= room ? kOk : kErrBadNtfs;
}
