// Fuzzes the index-record reader on one record: a refused record keeps its bytes and adds no
// entry; an accepted one is a whole number of strides inside the input, leaves the bytes past
// it alone, and gives names that hold together. Each input is read as it is and once more with
// its update sequence written in, so that the fuzzer gets past the fixups to the entries.
#include <cstdlib>
#include <string>
#include <vector>

#include "ntfs/FileReference.h"
#include "ntfs/IndexRecord.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// The record protected as a writer would: each stride's last word saved in the update sequence
// array the header places, the array's first word written in its stead. Inputs whose array
// does not fit in the first stride stay as they are.
std::vector<u8> Protected(std::vector<u8> bytes)
{
    if (bytes.size() < 8)
        return bytes;
    const std::size_t array = LoadLe16(&bytes[4]);
    const std::size_t count = LoadLe16(&bytes[6]);
    if (count == 0 || array + 2 * count > 510 || array + 2 * count > bytes.size())
        return bytes;
    for (std::size_t k = 1; k < count && k * 512 <= bytes.size(); ++k)
    {
        StoreLe16(&bytes[array + 2 * k], LoadLe16(&bytes[k * 512 - 2]));
        StoreLe16(&bytes[k * 512 - 2], LoadLe16(&bytes[array]));
    }
    return bytes;
}

// Structurally valid UTF-8 of 1 to 255 UTF-16 units (at most 3 bytes a unit).
bool PlausibleName(const std::string& name)
{
    return !name.empty() && name.size() <= 255 * 3;
}

void ReadOne(const std::vector<u8>& disk)
{
    std::vector<u8> bytes = disk;
    IndexRecordInfo info;
    std::vector<IndexNameEntry> entries(1);
    const u32 rc = ReadIndexRecord(bytes.data(), bytes.size(), &info, &entries);
    if (rc != kNtfsOk)
    {
        Check(rc == kNtfsCorrupt && bytes == disk && entries.size() == 1);
        return;
    }
    Check(info.blockBytes >= 512 && info.blockBytes % 512 == 0 && info.blockBytes <= disk.size());
    for (std::size_t i = info.blockBytes; i < disk.size(); ++i)
        Check(bytes[i] == disk[i]);
    bool slack = false;
    for (std::size_t i = 1; i < entries.size(); ++i)
    {
        const IndexNameEntry& e = entries[i];
        Check(PlausibleName(e.name));
        Check(!slack || e.inSlack); // the entries in use come first
        slack = e.inSlack;
        if (e.inSlack)
            Check(e.nameSpace <= 3 && NtfsRefRecord(e.parentReference) != 0 &&
                  e.name.find('/') == std::string::npos);
    }
    // Room for at most one entry in use or in the slack per 8 bytes.
    Check(entries.size() - 1 <= 2 * std::size_t{info.blockBytes} / 8);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    const std::vector<u8> disk(data, data + size);
    ReadOne(disk);
    ReadOne(Protected(disk));
    return 0;
}
