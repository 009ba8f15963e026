// Fuzzes the parse of one 1024-byte MFT record: header, fixups, attribute walk, names, data.
#include <cstring>
#include <vector>

#include "disk/Mem_RW.h"
#include "mempool/MemPool.h"
#include "ntfs/Ntfs.h"
#include "platform/ByteOrder.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    static CNtfs ntfs(std::make_unique<CMem_RW>(std::vector<u8>{}));
    u8* record = ntfs.RecordBuffer();
    std::memset(record, 0, CNtfs::kRecordSize);
    if (size > 0)
        std::memcpy(record, data, size < CNtfs::kRecordSize ? size : CNtfs::kRecordSize);
    NtfsRecordInfo info;
    if (ntfs.ParseRecord(info) == 0 && info.data)
    {
        // What recovery does with the data block.
        const u8* runs = nullptr;
        int limit = 0;
        std::vector<NtfsRun> decoded;
        if (NtfsDataRunList(info.data, &runs, &limit))
            (void)CNtfs::DecodeRuns(runs, limit, decoded);
    }
    g_MemPool.Free(&info.data);
    for (u32 type : {0x10u, 0x30u, 0x80u})
    {
        NtfsAttr attr;
        u32 cursor = LoadLe16(record + 0x14);
        (void)ntfs.FindAttribute(attr, cursor, type);
        g_MemPool.Free(&attr.nameText);
        g_MemPool.Free(&attr.data);
    }
    return 0;
}
