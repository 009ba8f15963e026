// Fuzzes the NTFS deep search: the input is laid over the stretch past the MFT of a small
// template volume, where the template keeps records of an earlier MFT (a folder tree, a parent
// loop, a run list past the volume, an absurd record number); the deep pass reads them and the
// old tree is rebuilt, judged and described. An input that starts with 'N' first gives, in its
// next byte, a count of index names of 17 bytes each (file reference, parent reference, a flag
// byte: name space in the low bits, 0x80 a folder), resolved against the current MFT.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "disk/Mem_RW.h"
#include "ntfs/NtfsRecordBuilder.h"
#include "scan/FindConditions.h"
#include "scan/ntfs/NtfsDeep.h"
#include "scan/ntfs/NtfsEngine.h"
#include "scan/ntfs/NtfsScan.h"
#include "scan/ntfs/NtfsVolumeState.h"

using namespace ntfstest;

namespace
{
constexpr std::size_t kMftRecords = 24;
constexpr std::size_t kStrayBytes = 16 * 1024;

std::vector<u8> Record(std::u16string name, u64 parent, u16 parentSeq, u16 flags, u32 number,
                       const std::vector<u8>& runs = {})
{
    RecordLayout s;
    s.flags = flags;
    s.names.push_back(FileName{std::move(name), parent, parentSeq, 1});
    if ((flags & 2) == 0 && runs.empty())
    {
        s.data = RecordLayout::Data::Resident;
        s.value.assign(30, 'r');
    }
    else if ((flags & 2) == 0)
    {
        s.data = RecordLayout::Data::NonResident;
        s.runList = runs;
        s.dataSize = 5000;
    }
    std::vector<u8> r = BuildRecord(s);
    StoreLe32(&r[0x2C], number);
    return r;
}

std::vector<u8> Template()
{
    VolumeBuilder vb(kMftRecords);
    RecordLayout live;
    live.flags = 3;
    live.names.push_back(FileName{u"live", 5, 5, 1});
    vb.Set(16, live);
    RecordLayout nameless;
    nameless.sequence = 2;
    nameless.data = RecordLayout::Data::Resident;
    nameless.value.assign(12, 'k');
    vb.Set(17, nameless);
    std::vector<u8> image = vb.Image();
    const std::size_t stray = image.size();
    image.resize(stray + kStrayBytes);
    StoreLe64(&image[0x28], image.size() / 512 - 1);
    const std::vector<std::vector<u8>> records = {
        Record(u"DCIM", 5, 5, 3, 40),
        Record(u"100CAM01", 40, 1, 3, 41),
        Record(u"IMG.JPG", 41, 1, 1, 42, {0x11, 0x02, 0x28, 0x00}),
        Record(u"A", 44, 1, 3, 43), // A, B and C: a loop of parents
        Record(u"B", 45, 1, 3, 44),
        Record(u"C", 43, 1, 3, 45),
        Record(u"far.bin", 43, 1, 0, 46, {0x31, 0x08, 0xFF, 0xFF, 0x7F, 0x00}),
        Record(u"huge number", 0xFFFFFFFFFFFF, 9, 0, 0xFFFFFFFF),
        Record(u"self", 48, 1, 3, 48),
    };
    for (std::size_t i = 0; i < records.size(); ++i)
        std::memcpy(&image[stray + i * 1024], records[i].data(), records[i].size());
    return image;
}

// The index names the input gives; advances data and size past them.
std::vector<IndexNameEntry> Names(const u8*& data, std::size_t& size)
{
    std::vector<IndexNameEntry> names;
    if (size < 2 || data[0] != 'N')
        return names;
    std::size_t count = data[1];
    data += 2;
    size -= 2;
    for (; count > 0 && size >= 17; --count, data += 17, size -= 17)
    {
        IndexNameEntry e;
        e.fileReference = LoadLe64(data);
        e.parentReference = LoadLe64(data + 8);
        e.nameSpace = data[16] & 3;
        e.fileAttributes = (data[16] & 0x80) != 0 ? 0x10000000 : 0x20;
        e.name = "name" + std::to_string(names.size());
        e.realSize = e.fileReference;
        e.created = e.parentReference;
        names.push_back(std::move(e));
    }
    return names;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    static const std::vector<u8> base = Template();
    std::vector<u8> image = base;
    std::vector<IndexNameEntry> names = Names(data, size);
    const std::size_t at = (4 + kMftRecords + 4) * 1024;
    if (size != 0) // an empty input comes with no bytes at all
        std::memcpy(image.data() + at, data, std::min(size, kStrayBytes));

    CCatalog catalog;
    VolumeEntry entry;
    entry.fsType = kFsNtfs;
    entry.engine = &NtfsEngine();
    entry.name = "C:";
    if (SetNtfsState(entry, std::make_unique<CNtfs>(std::make_unique<CMem_RW>(std::move(image))))
            ->ntfs->Open("C:", 1) == 0)
    {
        g_bRunning = 1;
        (void)ScanNtfsVolume(catalog, entry);
        NtfsDeepHarvest harvest;
        (void)HarvestNtfsVolume(catalog, entry, &harvest);
        harvest.names.insert(harvest.names.end(), names.begin(), names.end());
        AddNtfsDeepFinds(catalog, entry, harvest);
        AssessConditions(entry);
        g_bRunning = 0;
        for (const FoundItem& item : entry.items)
        {
            if (item.overwrittenPct > 100 || (item.deep != 0 && item.deleted == 0))
                std::abort();
            DataStream stream;
            (void)NtfsEngine().DescribeStream(entry, item, &stream);
            // Every extent lies on the volume.
            for (const StreamExtent& e : stream.extents)
                if (!e.hole && e.lcn + e.length > NtfsOf(entry)->VolumeClusters())
                    std::abort();
        }
    }
    NtfsEngine().ReleaseItems(entry);
    return 0;
}
