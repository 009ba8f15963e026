// Fuzzes a whole scan: the input is laid over a small template volume built here (a boot
// sector and 48 MFT records with live and deleted folders and files), from the MFT's first
// byte on, or from the boot sector on when the input starts with 'B'. An input that starts
// with 'F' names in its next two bytes a 512-byte sector whose reads fail (an unreadable
// stretch of the MFT or of the boot sector), before the rest is laid over the volume.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "disk/Faulty_RW.h"
#include "mempool/MemPool.h"
#include "ntfs/NtfsRecordBuilder.h"
#include "scan/FindConditions.h"
#include "scan/ntfs/NtfsEngine.h"
#include "scan/ntfs/NtfsScan.h"
#include "scan/ntfs/NtfsVolumeState.h"

using namespace ntfstest;

namespace
{
std::vector<u8> Template()
{
    VolumeBuilder vb(48);
    auto file = [](std::u16string name, u64 parent, u16 seq, bool resident)
    {
        RecordLayout s;
        s.names.push_back(FileName{std::move(name), parent, seq, 1});
        if (resident)
        {
            s.data = RecordLayout::Data::Resident;
            s.value.assign(40, 'v');
        }
        else
        {
            s.data = RecordLayout::Data::NonResident;
            s.runList = {0x11, 0x02, 0x30, 0x01, 0x01, 0x11, 0x01, 0xF0, 0x00};
            s.dataSize = 3000;
        }
        return s;
    };
    auto folder = [](std::u16string name, u64 parent, u16 seq, u16 flags)
    {
        RecordLayout s;
        s.flags = flags;
        s.names.push_back(FileName{u"DOCS~1", parent, seq, 2});
        s.names.push_back(FileName{std::move(name), parent, seq, 1});
        return s;
    };
    vb.Set(16, folder(u"live", 5, 5, 3));
    vb.Set(17, file(u"a.txt", 16, 1, true));
    vb.Set(18, file(u"a.txt", 16, 1, false));
    vb.Set(19, folder(u"gone", 20, 1, 2));
    vb.Set(20, folder(u"loop", 19, 1, 2));
    vb.Set(21, file(u"lost", 40, 1, true));
    vb.Set(22, file(u"README", 19, 1, false));
    // A deleted file whose attribute list names extension record 24 for its data's second
    // piece, with a named stream in the base record.
    std::vector<u8> list;
    for (const auto& e : {ListEntry(0x10, 0, 23, 0), ListEntry(0x30, 0, 23, 2),
                          ListEntry(0x80, 0, 23, 3), ListEntry(0x80, 1, 24, 0)})
        list.insert(list.end(), e.begin(), e.end());
    std::vector<u8> base(kRecord, 0);
    u32 at = PutResident(base, 0x38, 0x10, std::vector<u8>(0x48, 0), 0);
    at = PutResident(base, at, 0x20, list, 1);
    at = PutResident(base, at, 0x30, FileNameValue(FileName{u"spread", 16, 5, 1}), 2);
    at = PutNonResident(base, at, 0x80, {0x11, 0x01, 0x30, 0x00}, 2048, 3);
    const u32 stream = at;
    at = PutResident(base, at, 0x80, std::vector<u8>(24, 's'), 4);
    FinishRecord(base, at, 0);
    base[stream + 9] = 1;
    StoreLe16(&base[stream + 0x0A], 0x18);
    StoreLe32(&base[stream + 0x10], 8);
    StoreLe16(&base[stream + 0x14], 0x20);
    StoreLe16(&base[0x16], 0);
    std::vector<u8> ext(kRecord, 0);
    at = PutNonResident(ext, 0x38, 0x80, {0x11, 0x01, 0x31, 0x00}, 0, 0);
    StoreLe64(&ext[0x38 + 0x10], 1);
    StoreLe64(&ext[0x38 + 0x18], 1);
    FinishRecord(ext, at, 23 | (u64{1} << 48));
    vb.SetRaw(23, base);
    vb.SetRaw(24, ext);
    return vb.Image();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    static const std::vector<u8> base = Template();
    std::vector<u8> image = base;
    std::size_t at = 4 * 1024;
    long failing = -1;
    if (size >= 3 && data[0] == 'F')
    {
        failing = data[1] | (data[2] << 8);
        data += 3;
        size -= 3;
    }
    if (size > 0 && data[0] == 'B')
    {
        at = 0;
        ++data;
        --size;
    }
    if (size > image.size() - at)
        size = image.size() - at;
    if (size > 0)
        std::memcpy(image.data() + at, data, size);

    CCatalog catalog;
    VolumeEntry entry;
    entry.fsType = kFsNtfs;
    entry.engine = &NtfsEngine();
    entry.name = "C:";
    auto reader = std::make_unique<CFaulty_RW>(std::move(image));
    if (failing >= 0)
        reader->FailSector(static_cast<u64>(failing));
    if (SetNtfsState(entry, std::make_unique<CNtfs>(std::move(reader)))->ntfs->Open("C:", 1) == 0)
    {
        g_bRunning = 1;
        (void)ScanNtfsVolume(catalog, entry);
        // The $Bitmap through record 6's runs, and every find's condition.
        AssessConditions(entry);
        for (const FoundItem& item : entry.items)
            if (item.overwrittenPct > 100)
                std::abort();
        g_bRunning = 0;
        // Each find's data as the recovery would ask for it, and its times as a timeline does.
        for (const FoundItem& item : entry.items)
        {
            DataStream stream;
            (void)NtfsEngine().DescribeStream(entry, item, &stream);
            FindTimes times;
            (void)NtfsEngine().ReadTimes(entry, item, &times);
            if (times.accessed < 0 || times.modified < 0 || times.changed < 0 || times.created < 0)
                std::abort();
        }
    }
    NtfsEngine().ReleaseItems(entry);
    return 0;
}
