// Benchmark volume generator: an NTFS volume with any number of MFT records in seconds.
// mkntfs formats a sparse image; the tool then grows the $MFT by a second extent, writes the
// FILE records of the folders and files straight into it, and updates what refers to them:
// record 0's run lists and sizes (and its copy in $MFTMirr), the $MFT's $BITMAP (moved to
// clusters of its own) and the volume's $Bitmap.
//
//   ntfs-volume-gen IMAGE FILES [--folders N] [--deleted PERCENT] [--clash-every K]
//                   [--size MIB]
//   ntfs-volume-gen --mft-extents IMAGE    (prints the MFT's extents: byte offset and length)
//
// FILES files (resident data of 64-263 bytes) sit in N folders under the root (default 200),
// consecutive files in one folder. PERCENT of them (default 50, spread evenly) are deleted:
// their records are not in use, names and parent references kept. With --clash-every K every
// K-th deleted file takes the name of the deleted file before it in its folder. Every 97th
// name holds non-ASCII letters. The folders are live and have an empty index; the root's index
// does not list them, so directory walks (ntfsls, fls) see them and their deleted files as
// orphans, while tools that read the MFT (ntfsundelete, ntfsinfo) see everything.
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "ntfs/NtfsResult.h"
#include "ntfs/RunList.h"
#include "platform/Types.h"

namespace
{
constexpr u32 kRecordBytes = 1024;
constexpr u32 kAttrStandardInformation = 0x10;
constexpr u32 kAttrFileName = 0x30;
constexpr u32 kAttrData = 0x80;
constexpr u32 kAttrIndexRoot = 0x90;
constexpr u32 kAttrBitmap = 0xB0;
constexpr u32 kAttrEnd = 0xFFFFFFFF;
constexpr u16 kRecordInUse = 0x01;
constexpr u16 kRecordDirectory = 0x02;
constexpr s64 kRootRecord = 5;
constexpr u64 kNtfsTimeBase = (1704067200ULL + 11644473600ULL) * 10000000ULL; // 2024-01-01

[[noreturn]] void Die(const std::string& what)
{
    std::fprintf(stderr, "ntfs-volume-gen: %s\n", what.c_str());
    std::exit(1);
}

u16 Get16(const u8* p)
{
    u16 v;
    std::memcpy(&v, p, 2);
    return v;
}
u32 Get32(const u8* p)
{
    u32 v;
    std::memcpy(&v, p, 4);
    return v;
}
u64 Get64(const u8* p)
{
    u64 v;
    std::memcpy(&v, p, 8);
    return v;
}
void Put16(u8* p, u16 v)
{
    std::memcpy(p, &v, 2);
}
void Put32(u8* p, u32 v)
{
    std::memcpy(p, &v, 4);
}
void Put64(u8* p, u64 v)
{
    std::memcpy(p, &v, 8);
}

struct Run
{
    s64 lcn;
    s64 length;
};

struct Volume
{
    int fd = -1;
    u32 sectorBytes = 0;
    u32 clusterBytes = 0;
    u64 clusters = 0;
    s64 mftLcn = 0;
    s64 mirrLcn = 0;
    std::vector<Run> mftRuns;
};

void ReadAt(const Volume& v, void* buffer, u64 bytes, u64 offset)
{
    if (pread(v.fd, buffer, bytes, static_cast<off_t>(offset)) != static_cast<ssize_t>(bytes))
        Die("read failed");
}

void WriteAt(const Volume& v, const void* buffer, u64 bytes, u64 offset)
{
    if (pwrite(v.fd, buffer, bytes, static_cast<off_t>(offset)) != static_cast<ssize_t>(bytes))
        Die(std::string("write failed: ") + std::strerror(errno));
}

// Undoes the update sequence array of a record read from disk.
void Unfix(u8* record, u32 sectorBytes)
{
    const u16 usaOffset = Get16(record + 0x04);
    const u16 usaCount = Get16(record + 0x06);
    for (u16 i = 1; i < usaCount; ++i)
        std::memcpy(record + i * sectorBytes - 2, record + usaOffset + 2 * i, 2);
}

// Applies the update sequence array before a record goes to disk.
void Fix(u8* record, u32 sectorBytes)
{
    const u16 usaOffset = Get16(record + 0x04);
    const u16 usaCount = Get16(record + 0x06);
    const u16 usn = Get16(record + usaOffset);
    for (u16 i = 1; i < usaCount; ++i)
    {
        std::memcpy(record + usaOffset + 2 * i, record + i * sectorBytes - 2, 2);
        Put16(record + i * sectorBytes - 2, usn);
    }
}

// The runs of a mapping-pairs array, through the engine's run-list decoder; metafiles written
// by mkntfs hold no holes.
std::vector<Run> DecodeRuns(const u8* p, const u8* end)
{
    std::vector<NtfsExtent> extents;
    if (end < p || DecodeRunList(p, static_cast<std::size_t>(end - p), &extents) != kNtfsOk)
        Die("unexpected run list in a metafile record");
    std::vector<Run> runs;
    for (const NtfsExtent& extent : extents)
    {
        if (extent.hole)
            Die("unexpected hole in a metafile's run list");
        runs.push_back(Run{static_cast<s64>(extent.lcn), static_cast<s64>(extent.length)});
    }
    return runs;
}

// The smallest number of bytes that hold v as a signed little-endian value.
u32 SignedBytes(s64 v)
{
    u32 n = 1;
    while (n < 8 &&
           (v < -(static_cast<s64>(1) << (8 * n - 1)) || v >= (static_cast<s64>(1) << (8 * n - 1))))
        ++n;
    return n;
}

std::vector<u8> EncodeRuns(const std::vector<Run>& runs)
{
    std::vector<u8> out;
    s64 previous = 0;
    for (const Run& r : runs)
    {
        const u32 lengthBytes = SignedBytes(r.length);
        const s64 delta = r.lcn - previous;
        const u32 offsetBytes = SignedBytes(delta);
        out.push_back(static_cast<u8>(lengthBytes | (offsetBytes << 4)));
        for (u32 i = 0; i < lengthBytes; ++i)
            out.push_back(static_cast<u8>(r.length >> (8 * i)));
        for (u32 i = 0; i < offsetBytes; ++i)
            out.push_back(static_cast<u8>(delta >> (8 * i)));
        previous = r.lcn;
    }
    out.push_back(0);
    return out;
}

// Where byte offset of a non-resident stream lies on the volume.
u64 StreamToVolume(const Volume& v, const std::vector<Run>& runs, u64 offset)
{
    u64 vcn = offset / v.clusterBytes;
    for (const Run& r : runs)
    {
        if (vcn < static_cast<u64>(r.length))
            return (static_cast<u64>(r.lcn) + vcn) * v.clusterBytes + offset % v.clusterBytes;
        vcn -= static_cast<u64>(r.length);
    }
    Die("offset past the end of a stream");
}

// How many bytes of a non-resident stream follow offset in the same run.
u64 RunBytesLeft(const Volume& v, const std::vector<Run>& runs, u64 offset)
{
    u64 vcn = offset / v.clusterBytes;
    for (const Run& r : runs)
    {
        if (vcn < static_cast<u64>(r.length))
            return (static_cast<u64>(r.length) - vcn) * v.clusterBytes - offset % v.clusterBytes;
        vcn -= static_cast<u64>(r.length);
    }
    Die("offset past the end of a stream");
}

// An attribute of a record, kept as its bytes.
struct Attribute
{
    u32 type;
    std::vector<u8> bytes;
};

std::vector<Attribute> SplitAttributes(const u8* record)
{
    std::vector<Attribute> attrs;
    u32 at = Get16(record + 0x14);
    while (at + 8 <= kRecordBytes && Get32(record + at) != kAttrEnd)
    {
        const u32 length = Get32(record + at + 4);
        if (length < 24 || at + length > kRecordBytes)
            Die("unexpected attribute layout in a metafile record");
        attrs.push_back(Attribute{Get32(record + at), {record + at, record + at + length}});
        at += length;
    }
    return attrs;
}

Attribute* FindUnnamed(std::vector<Attribute>& attrs, u32 type)
{
    for (Attribute& a : attrs)
        if (a.type == type && a.bytes[9] == 0)
            return &a;
    return nullptr;
}

// A non-resident attribute with a new run list and sizes; its name and header fields kept.
void Rewrite(Attribute& a, const std::vector<Run>& runs, u64 allocated, u64 size)
{
    if (a.bytes[8] == 0)
        Die("expected a non-resident attribute");
    const u16 pairsOffset = Get16(a.bytes.data() + 0x20);
    std::vector<u8> pairs = EncodeRuns(runs);
    a.bytes.resize(pairsOffset);
    a.bytes.insert(a.bytes.end(), pairs.begin(), pairs.end());
    a.bytes.resize((a.bytes.size() + 7) & ~static_cast<std::size_t>(7), 0);
    u8* p = a.bytes.data();
    Put32(p + 4, static_cast<u32>(a.bytes.size()));
    s64 clusters = 0;
    for (const Run& r : runs)
        clusters += r.length;
    Put64(p + 0x10, 0);
    Put64(p + 0x18, static_cast<u64>(clusters - 1));
    Put64(p + 0x28, allocated);
    Put64(p + 0x30, size);
    Put64(p + 0x38, size);
}

void JoinAttributes(u8* record, const std::vector<Attribute>& attrs)
{
    u32 at = Get16(record + 0x14);
    for (const Attribute& a : attrs)
    {
        if (at + a.bytes.size() + 8 > kRecordBytes)
            Die("record 0 overflows");
        std::memcpy(record + at, a.bytes.data(), a.bytes.size());
        at += static_cast<u32>(a.bytes.size());
    }
    Put32(record + at, kAttrEnd);
    Put32(record + at + 4, 0);
    Put32(record + 0x18, at + 8);
}

// Builds FILE records into a buffer, one attribute after the other.
class RecordWriter
{
public:
    RecordWriter(u8* record, u32 number, u16 sequence, u16 flags) : m_r(record)
    {
        std::memset(m_r, 0, kRecordBytes);
        std::memcpy(m_r, "FILE", 4);
        Put16(m_r + 0x04, 0x30);                   // update sequence array offset
        Put16(m_r + 0x06, 1 + kRecordBytes / 512); // its count: one per sector, plus one
        Put16(m_r + 0x30, 1);                      // update sequence number
        Put16(m_r + 0x10, sequence);
        Put16(m_r + 0x12, flags != 0 ? 1 : 0); // hard links
        Put16(m_r + 0x14, 0x38);               // first attribute
        Put16(m_r + 0x16, flags);
        Put32(m_r + 0x1C, kRecordBytes);
        Put32(m_r + 0x2C, number);
        m_at = 0x38;
    }

    // A resident attribute; returns its value for filling in.
    u8* Resident(u32 type, u32 valueBytes, const char16_t* name = nullptr, u8 nameLength = 0,
                 u8 residentFlags = 0)
    {
        const u32 valueOffset = (24 + 2u * nameLength + 7) & ~7u;
        const u32 length = (valueOffset + valueBytes + 7) & ~7u;
        u8* a = m_r + m_at;
        Put32(a, type);
        Put32(a + 4, length);
        a[9] = nameLength;
        Put16(a + 0x0A, 24);
        Put16(a + 0x0E, m_instance++);
        Put32(a + 0x10, valueBytes);
        Put16(a + 0x14, static_cast<u16>(valueOffset));
        a[0x16] = residentFlags;
        if (nameLength != 0)
            std::memcpy(a + 24, name, 2u * nameLength);
        m_at += length;
        return a + valueOffset;
    }

    void Finish(u32 sectorBytes)
    {
        Put32(m_r + m_at, kAttrEnd);
        Put32(m_r + 0x18, m_at + 8);
        Put16(m_r + 0x28, m_instance);
        Fix(m_r, sectorBytes);
    }

private:
    u8* m_r;
    u32 m_at = 0;
    u16 m_instance = 0;
};

void PutStandardInformation(RecordWriter& w, u64 time, u32 fileAttributes)
{
    u8* v = w.Resident(kAttrStandardInformation, 72);
    for (int i = 0; i < 4; ++i)
        Put64(v + 8 * i, time);
    Put32(v + 0x20, fileAttributes);
}

void PutFileName(RecordWriter& w, u64 parentRef, u64 time, const std::u16string& name, u64 size,
                 u32 fileAttributes)
{
    u8* v = w.Resident(kAttrFileName, 0x42 + 2 * static_cast<u32>(name.size()), nullptr, 0, 1);
    Put64(v, parentRef);
    for (int i = 0; i < 4; ++i)
        Put64(v + 8 + 8 * i, time);
    Put64(v + 0x28, (size + 7) & ~7ULL);
    Put64(v + 0x30, size);
    Put32(v + 0x38, fileAttributes);
    v[0x40] = static_cast<u8>(name.size());
    v[0x41] = 1; // Win32 name space
    std::memcpy(v + 0x42, name.data(), 2 * name.size());
}

std::u16string Utf16(const std::string& ascii)
{
    return {ascii.begin(), ascii.end()};
}

struct Options
{
    std::string image;
    u64 files = 0;
    u64 folders = 200;
    u64 deletedPercent = 50;
    u64 clashEvery = 0;
    u64 sizeMiB = 0;
};

Options ParseArgs(int argc, char** argv)
{
    Options o;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i)
    {
        std::string a = argv[i];
        auto number = [&]() -> u64
        {
            if (i + 1 >= argc)
                Die("missing value after " + a);
            return std::strtoull(argv[++i], nullptr, 10);
        };
        if (a == "--folders")
            o.folders = number();
        else if (a == "--deleted")
            o.deletedPercent = number();
        else if (a == "--clash-every")
            o.clashEvery = number();
        else if (a == "--size")
            o.sizeMiB = number();
        else
            positional.push_back(a);
    }
    if (positional.size() != 2 || o.folders == 0 || o.deletedPercent > 100)
        Die("usage: ntfs-volume-gen IMAGE FILES [--folders N] [--deleted PERCENT] "
            "[--clash-every K] [--size MIB]");
    o.image = positional[0];
    o.files = std::strtoull(positional[1].c_str(), nullptr, 10);
    if (o.sizeMiB == 0)
        o.sizeMiB = 256 + (o.files + o.folders) * 2 * kRecordBytes / (1 << 20);
    return o;
}

void Format(const Options& o)
{
    if (truncate(o.image.c_str(), 0) != 0 && errno != ENOENT)
        Die("cannot empty " + o.image);
    int fd = open(o.image.c_str(), O_WRONLY | O_CREAT, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(o.sizeMiB << 20)) != 0)
        Die("cannot create " + o.image);
    close(fd);
    pid_t pid = fork();
    if (pid == 0)
    {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execlp("mkntfs", "mkntfs", "-f", "-F", "-q", "-c", "4096", "-L", "bench", o.image.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        Die("mkntfs failed");
}

// A run of free clusters at least count long, marked in use.
s64 Allocate(std::vector<u8>& bitmap, u64 clusters, s64 count)
{
    s64 start = 0;
    s64 free = 0;
    for (u64 c = 1; c < clusters; ++c)
    {
        if (bitmap[c / 8] & (1u << (c % 8)))
        {
            free = 0;
            continue;
        }
        if (free++ == 0)
            start = static_cast<s64>(c);
        if (free == count)
        {
            for (s64 k = start; k < start + count; ++k)
                bitmap[k / 8] |= static_cast<u8>(1u << (k % 8));
            return start;
        }
    }
    Die("the volume has no free stretch for the MFT; give a larger --size");
}

// Prints the MFT's extents as "OFFSET LENGTH" in bytes, one a line (what dd reads).
int PrintMftExtents(const char* image)
{
    Volume v;
    v.fd = open(image, O_RDONLY);
    if (v.fd < 0)
        Die(std::string("cannot open ") + image);
    u8 boot[512];
    ReadAt(v, boot, sizeof boot, 0);
    v.sectorBytes = Get16(boot + 0x0B);
    v.clusterBytes = v.sectorBytes * boot[0x0D];
    std::vector<u8> mft0(kRecordBytes);
    ReadAt(v, mft0.data(), kRecordBytes, Get64(boot + 0x30) * v.clusterBytes);
    Unfix(mft0.data(), v.sectorBytes);
    std::vector<Attribute> attrs = SplitAttributes(mft0.data());
    const Attribute* data = FindUnnamed(attrs, kAttrData);
    if (data == nullptr || data->bytes[8] == 0)
        Die("unexpected $MFT layout");
    const u8* a = data->bytes.data();
    for (const Run& r : DecodeRuns(a + Get16(a + 0x20), a + data->bytes.size()))
        std::printf("%llu %llu\n", static_cast<unsigned long long>(r.lcn) * v.clusterBytes,
                    static_cast<unsigned long long>(r.length) * v.clusterBytes);
    close(v.fd);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--mft-extents")
        return PrintMftExtents(argv[2]);
    const Options o = ParseArgs(argc, argv);
    Format(o);

    Volume v;
    v.fd = open(o.image.c_str(), O_RDWR);
    if (v.fd < 0)
        Die("cannot open " + o.image);
    u8 boot[512];
    ReadAt(v, boot, sizeof boot, 0);
    v.sectorBytes = Get16(boot + 0x0B);
    v.clusterBytes = v.sectorBytes * boot[0x0D];
    v.clusters = Get64(boot + 0x28) * v.sectorBytes / v.clusterBytes;
    v.mftLcn = static_cast<s64>(Get64(boot + 0x30));
    v.mirrLcn = static_cast<s64>(Get64(boot + 0x38));
    if (static_cast<std::int8_t>(boot[0x40]) != -10)
        Die("expected 1 KiB MFT records");

    // Record 0 ($MFT) and record 6 ($Bitmap), both in the MFT's first extent.
    std::vector<u8> mft0(kRecordBytes);
    std::vector<u8> bitmapRecord(kRecordBytes);
    std::vector<u8> rootRecord(kRecordBytes);
    const u64 mftStart = static_cast<u64>(v.mftLcn) * v.clusterBytes;
    ReadAt(v, mft0.data(), kRecordBytes, mftStart);
    ReadAt(v, bitmapRecord.data(), kRecordBytes, mftStart + 6 * kRecordBytes);
    ReadAt(v, rootRecord.data(), kRecordBytes, mftStart + kRootRecord * kRecordBytes);
    Unfix(mft0.data(), v.sectorBytes);
    Unfix(bitmapRecord.data(), v.sectorBytes);
    const u16 rootSequence = Get16(rootRecord.data() + 0x10);

    std::vector<Attribute> mftAttrs = SplitAttributes(mft0.data());
    Attribute* data = FindUnnamed(mftAttrs, kAttrData);
    Attribute* mftBitmap = FindUnnamed(mftAttrs, kAttrBitmap);
    if (data == nullptr || mftBitmap == nullptr || mftBitmap->bytes[8] == 0)
        Die("unexpected $MFT layout");
    auto runsOf = [](const Attribute& a)
    {
        return DecodeRuns(a.bytes.data() + Get16(a.bytes.data() + 0x20),
                          a.bytes.data() + a.bytes.size());
    };
    v.mftRuns = runsOf(*data);
    const std::vector<Run> oldBitmapRuns = runsOf(*mftBitmap);
    const u64 oldRecords = Get64(data->bytes.data() + 0x30) / kRecordBytes;

    std::vector<Attribute> bitmapAttrs = SplitAttributes(bitmapRecord.data());
    Attribute* volumeBitmapData = FindUnnamed(bitmapAttrs, kAttrData);
    if (volumeBitmapData == nullptr)
        Die("unexpected $Bitmap layout");
    const std::vector<Run> volumeBitmapRuns = runsOf(*volumeBitmapData);
    std::vector<u8> volumeBitmap(Get64(volumeBitmapData->bytes.data() + 0x30));
    for (u64 at = 0; at < volumeBitmap.size(); at += v.clusterBytes)
        ReadAt(v, volumeBitmap.data() + at, std::min<u64>(v.clusterBytes, volumeBitmap.size() - at),
               StreamToVolume(v, volumeBitmapRuns, at));
    std::vector<u8> oldMftBitmap(8);
    ReadAt(v, oldMftBitmap.data(), 8, StreamToVolume(v, oldBitmapRuns, 0));

    // The new size: every record up to the end of the last cluster is a formatted record.
    const u64 firstUser = oldRecords;
    const u64 wanted = firstUser + o.folders + o.files;
    s64 oldClusters = 0;
    for (const Run& r : v.mftRuns)
        oldClusters += r.length;
    const u64 recordsPerCluster = v.clusterBytes / kRecordBytes;
    const s64 clusters = static_cast<s64>((wanted + recordsPerCluster - 1) / recordsPerCluster);
    const u64 records = static_cast<u64>(clusters) * recordsPerCluster;
    const u64 bitmapBytes = (records + 63) / 64 * 8;
    const s64 bitmapClusters =
        static_cast<s64>((bitmapBytes + v.clusterBytes - 1) / v.clusterBytes);

    // The old one-cluster $MFT bitmap is given back; the extension and the new bitmap are taken.
    for (const Run& r : oldBitmapRuns)
        for (s64 c = r.lcn; c < r.lcn + r.length; ++c)
            volumeBitmap[c / 8] &= static_cast<u8>(~(1u << (c % 8)));
    const s64 grow = clusters - oldClusters;
    if (grow > 0)
    {
        const s64 at = Allocate(volumeBitmap, v.clusters, grow);
        if (at == v.mftRuns.back().lcn + v.mftRuns.back().length)
            v.mftRuns.back().length += grow;
        else
            v.mftRuns.push_back(Run{at, grow});
    }
    const s64 bitmapLcn = Allocate(volumeBitmap, v.clusters, bitmapClusters);
    Rewrite(*data, v.mftRuns, static_cast<u64>(clusters) * v.clusterBytes, records * kRecordBytes);
    Rewrite(*mftBitmap, {Run{bitmapLcn, bitmapClusters}},
            static_cast<u64>(bitmapClusters) * v.clusterBytes, bitmapBytes);
    if (Attribute* name = FindUnnamed(mftAttrs, kAttrFileName))
    {
        u8* value = name->bytes.data() + Get16(name->bytes.data() + 0x14);
        Put64(value + 0x28, static_cast<u64>(clusters) * v.clusterBytes);
        Put64(value + 0x30, records * kRecordBytes);
    }
    JoinAttributes(mft0.data(), mftAttrs);
    Fix(mft0.data(), v.sectorBytes);
    WriteAt(v, mft0.data(), kRecordBytes, mftStart);
    WriteAt(v, mft0.data(), kRecordBytes, static_cast<u64>(v.mirrLcn) * v.clusterBytes);

    // The records, a batch at a time, and the $MFT bitmap beside them.
    std::vector<u8> mftBits(static_cast<std::size_t>(bitmapClusters) * v.clusterBytes, 0);
    std::memcpy(mftBits.data(), oldMftBitmap.data(), 8);
    const u64 perFolder = (o.files + o.folders - 1) / o.folders;
    constexpr u64 kBatch = 4096;
    std::vector<u8> batch(kBatch * kRecordBytes);
    std::string previousDeleted;
    u64 previousFolder = ~0ULL;
    u64 deletedCount = 0;
    for (u64 first = firstUser; first < records; first += kBatch)
    {
        const u64 end = std::min(records, first + kBatch);
        for (u64 r = first; r < end; ++r)
        {
            u8* rec = batch.data() + (r - first) * kRecordBytes;
            const u64 n = r - firstUser;
            if (n < o.folders)
            {
                char name[32];
                std::snprintf(name, sizeof name, "dir%04llu", static_cast<unsigned long long>(n));
                RecordWriter w(rec, static_cast<u32>(r), 1, kRecordInUse | kRecordDirectory);
                PutStandardInformation(w, kNtfsTimeBase, 0);
                PutFileName(w, static_cast<u64>(kRootRecord) | (u64{rootSequence} << 48),
                            kNtfsTimeBase, Utf16(name), 0, 0x10000000);
                static const char16_t kI30[] = u"$I30";
                u8* root = w.Resident(kAttrIndexRoot, 48, kI30, 4);
                Put32(root + 0x00, kAttrFileName); // indexed attribute
                Put32(root + 0x04, 1);             // collation: file names
                Put32(root + 0x08, 4096);          // index block size
                root[0x0C] = static_cast<u8>(std::max<u32>(1, 4096 / v.clusterBytes));
                Put32(root + 0x10, 16);     // first entry, from the index header
                Put32(root + 0x14, 32);     // bytes in use
                Put32(root + 0x18, 32);     // bytes allocated
                Put16(root + 0x20 + 8, 16); // the end entry: length
                Put16(root + 0x20 + 12, 2); // flags: last entry
                w.Finish(v.sectorBytes);
                mftBits[r / 8] |= static_cast<u8>(1u << (r % 8));
            }
            else if (n < o.folders + o.files)
            {
                const u64 i = n - o.folders;
                const u64 folder = i / perFolder;
                const bool deleted =
                    (i * o.deletedPercent) / 100 != ((i + 1) * o.deletedPercent) / 100;
                std::u16string name;
                char ascii[48];
                std::snprintf(ascii, sizeof ascii, "f%07llu notes.txt",
                              static_cast<unsigned long long>(i));
                name = Utf16(ascii);
                if (i % 97 == 0)
                    name.insert(1, u"\u00e9t\u00e9 \u00fcber ");
                if (deleted)
                {
                    ++deletedCount;
                    std::string key(reinterpret_cast<const char*>(name.data()), 2 * name.size());
                    if (o.clashEvery != 0 && deletedCount % o.clashEvery == 0 &&
                        folder == previousFolder && !previousDeleted.empty())
                        name.assign(reinterpret_cast<const char16_t*>(previousDeleted.data()),
                                    previousDeleted.size() / 2);
                    previousDeleted.assign(reinterpret_cast<const char*>(name.data()),
                                           2 * name.size());
                    previousFolder = folder;
                }
                const u64 time = kNtfsTimeBase + i * 10000000ULL;
                const u32 size = 64 + static_cast<u32>(i % 200);
                RecordWriter w(rec, static_cast<u32>(r), deleted ? 2 : 1,
                               deleted ? 0 : kRecordInUse);
                PutStandardInformation(w, time, 0x20);
                PutFileName(w, (firstUser + folder) | (u64{1} << 48), time, name, size, 0x20);
                u8* value = w.Resident(kAttrData, size);
                for (u32 k = 0; k < size; ++k)
                    value[k] = static_cast<u8>('a' + (i + k) % 26);
                w.Finish(v.sectorBytes);
                if (!deleted)
                    mftBits[r / 8] |= static_cast<u8>(1u << (r % 8));
            }
            else
            {
                RecordWriter w(rec, static_cast<u32>(r), 1, 0);
                w.Finish(v.sectorBytes);
            }
        }
        // A batch may straddle the two extents: write it one contiguous stretch at a time.
        for (u64 done = first; done < end;)
        {
            const u64 offset = done * kRecordBytes;
            const u64 count =
                std::min(end - done, RunBytesLeft(v, v.mftRuns, offset) / kRecordBytes);
            WriteAt(v, batch.data() + (done - first) * kRecordBytes, count * kRecordBytes,
                    StreamToVolume(v, v.mftRuns, offset));
            done += count;
        }
    }
    WriteAt(v, mftBits.data(), mftBits.size(), static_cast<u64>(bitmapLcn) * v.clusterBytes);
    for (u64 at = 0; at < volumeBitmap.size(); at += v.clusterBytes)
        WriteAt(v, volumeBitmap.data() + at,
                std::min<u64>(v.clusterBytes, volumeBitmap.size() - at),
                StreamToVolume(v, volumeBitmapRuns, at));
    close(v.fd);
    std::printf("%s: %llu MFT records (%llu folders, %llu files, %llu deleted), MFT in %zu "
                "extent(s)\n",
                o.image.c_str(), static_cast<unsigned long long>(records),
                static_cast<unsigned long long>(o.folders),
                static_cast<unsigned long long>(o.files),
                static_cast<unsigned long long>(deletedCount), v.mftRuns.size());
    return 0;
}
