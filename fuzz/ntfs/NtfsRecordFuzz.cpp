// Fuzzes the parse of one 1024-byte MFT record: header, fixups, attribute walk, names, data, and
// the run list of the data block it hands out.
#include <cstring>
#include <vector>

#include "disk/Mem_RW.h"
#include "mempool/MemPool.h"
#include "ntfs/Ntfs.h"
#include "ntfs/RunList.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    static CNtfs ntfs(std::make_unique<CMem_RW>(std::vector<u8>{}));
    // An exact-size record, so that a read past it is caught by the sanitizer.
    std::vector<u8> record(CNtfs::kRecordSize, 0);
    if (size > 0)
        std::memcpy(record.data(), data, size < record.size() ? size : record.size());
    NtfsRecordInfo info;
    if (ntfs.ParseRecord(info, record.data(), CNtfs::kRecordSize) == 0 && info.data)
    {
        const u8* runs = nullptr;
        int limit = 0;
        std::vector<NtfsExtent> extents;
        if (NtfsDataRunList(info.data, &runs, &limit))
            (void)DecodeRunList(runs, static_cast<std::size_t>(limit), &extents);
    }
    g_MemPool.Free(&info.data);
    return 0;
}
