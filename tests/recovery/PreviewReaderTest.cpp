// The preview's read of a find's first bytes through its stream description (extents,
// holes, the initialized size, resident data, compression units, failed reads, hostile
// extents), and the text and hex renderings of them.
#include "recovery/PreviewReader.h"

#include <gtest/gtest.h>

#include "catalog/Catalog.h"
#include "catalog/StreamReader.h"
#include "catalog/VolumeEngine.h"
#include "disk/Faulty_RW.h"
#include "platform/Status.h"
#include "support/WholeStreamReader.h"

namespace
{
constexpr u64 kCluster = 512;

// A coded stream's stored clusters with each byte flipped, holes as zeros, in one piece of the
// stream's size.
std::unique_ptr<IStreamReader> Flipped(CDirectRW* from, const DataStream& s)
{
    std::vector<u8> bytes(s.size);
    for (const StreamExtent& e : s.extents)
        for (u64 c = 0; c < e.length && !e.hole && (e.vcn + c) * kCluster < s.size; ++c)
        {
            std::vector<u8> cluster(kCluster);
            u32 done = 0;
            (void)from->ReadBytes(cluster.data(), kCluster, &done,
                                  static_cast<s64>((e.lcn + c) * kCluster));
            const u64 at = (e.vcn + c) * kCluster;
            for (u64 i = 0; i < kCluster && at + i < s.size; ++i)
                bytes[at + i] = static_cast<u8>(~cluster[i]);
        }
    return std::make_unique<WholeStreamReader>(std::move(bytes));
}

// An engine that describes one stream and reads a volume of 16 clusters, cluster c filled with
// the byte c; it hands out a coded stream with each stored byte flipped.
class FakeEngine final : public IVolumeEngine
{
public:
    bool Open(VolumeEntry&) const override { return true; }
    u32 Search(CCatalog&, VolumeEntry&) const override { return 0; }
    u32 LoadAllocation(VolumeEntry&, AllocationMap*) const override { return kErrUnsupported; }
    void EndSearch(VolumeEntry&) const override {}
    u64 ClusterBytes(const VolumeEntry&) const override { return kCluster; }
    CDirectRW* DataReader(VolumeEntry&) const override { return reader; }
    u32 DescribeStream(VolumeEntry&, const FoundItem&, DataStream* out) const override
    {
        *out = stream;
        return status;
    }
    // A coded stream is handed out as the engine decodes it: here, its stored clusters with
    // each byte flipped, in one piece.
    std::unique_ptr<IStreamReader> OpenStream(CDirectRW* from, const DataStream& s,
                                              u64 chunkBytes) const override
    {
        if (s.compressionUnit == 0)
            return IVolumeEngine::OpenStream(from, s, chunkBytes);
        return Flipped(from, s);
    }
    u32 ClusterInUse(VolumeEntry&, u64, bool*) const override { return kErrUnsupported; }
    bool FoldersContiguous() const override { return true; }
    void ReleaseItems(VolumeEntry&) const override {}

    DataStream stream;
    u32 status = kOk;
    CDirectRW* reader = nullptr;
};

std::vector<u8> Volume()
{
    std::vector<u8> bytes(16 * kCluster);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<u8>(i / kCluster);
    return bytes;
}

// The expected bytes: one value per cluster-sized piece, cut to size.
std::vector<u8> Pieces(std::initializer_list<int> clusters, u64 size)
{
    std::vector<u8> bytes;
    for (int c : clusters)
        bytes.insert(bytes.end(), kCluster, static_cast<u8>(c));
    bytes.resize(size);
    return bytes;
}

DataStream Stream(u64 size, std::vector<StreamExtent> extents)
{
    DataStream s;
    s.size = size;
    s.extents = std::move(extents);
    s.clusterBytes = kCluster;
    return s;
}

struct Case
{
    const char* what;
    DataStream stream;
    u64 limit;
    u32 status;
    std::vector<u8> bytes;
};

TEST(PreviewReader, ReadsTheStreamAsTheRecoveryWould)
{
    constexpr u64 kBig = 1ull << 62;
    DataStream initialized = Stream(3 * kCluster, {{0, 4, 3, false}});
    initialized.initializedSize = kCluster + 10;
    DataStream resident = Stream(5, {});
    resident.resident = true;
    resident.residentBytes = {'h', 'e', 'l', 'l', 'o'};
    DataStream residentPastSize = resident;
    residentPastSize.size = 2;
    DataStream compressed =
        Stream(6 * kCluster, {{0, 2, 2, false}, {2, 0, 2, true}, {4, 9, 4, false}});
    compressed.compressionUnit = 4;
    auto flipped = [](std::vector<u8> b)
    {
        for (u8& c : b)
            c = static_cast<u8>(~c);
        return b;
    };
    std::vector<u8> unitBytes = flipped(Pieces({2, 3}, 2 * kCluster));
    unitBytes.resize(4 * kCluster, 0);
    const std::vector<u8> secondUnit = flipped(Pieces({9, 10}, 2 * kCluster));
    unitBytes.insert(unitBytes.end(), secondUnit.begin(), secondUnit.end());
    DataStream faulty = Stream(3 * kCluster, {{0, 1, 1, false}, {1, 15, 2, false}});

    const Case cases[] = {
        {"extents, a hole",
         Stream(3 * kCluster + 7, {{0, 7, 1, false}, {1, 0, 1, true}, {2, 5, 2, false}}), kBig, kOk,
         Pieces({7, 0, 5, 6}, 3 * kCluster + 7)},
        {"cut at the limit", Stream(4 * kCluster, {{0, 3, 4, false}}), 100, kOk, Pieces({3}, 100)},
        {"zeros past the initialized size", initialized, kBig, kOk,
         []
         {
             auto b = Pieces({4, 5, 6}, 3 * kCluster);
             std::fill(b.begin() + kCluster + 10, b.end(), 0);
             return b;
         }()},
        {"resident", resident, 3, kOk, {'h', 'e', 'l'}},
        {"resident bytes past the size", residentPastSize, kBig, kOk, {'h', 'e'}},
        {"a coded stream as its engine hands it out", compressed, kBig, kOk, unitBytes},
        {"clipped: what there is", Stream(kCluster, {{0, 8, 1, false}}), kBig, kStreamClipped,
         Pieces({8}, kCluster)},
        {"a failed read keeps the bytes before it", faulty, kBig, kPreviewReadFailed,
         Pieces({1}, kCluster)},
        {"a cluster before the data area",
         []
         {
             DataStream s = Stream(kCluster, {{0, 1, 1, false}});
             s.firstLcn = 2;
             return s;
         }(),
         kBig,
         kPreviewReadFailed,
         {}},
        {"a cluster far past any volume",
         Stream(kCluster, {{0, kBig, 1, false}}),
         kBig,
         kPreviewReadFailed,
         {}},
        {"an extent longer than the stream is read as far as its size",
         Stream(kCluster, {{0, 2, kBig, false}, {kBig, 1, kBig, false}}), kBig, kOk,
         Pieces({2}, kCluster)},
    };
    for (const Case& c : cases)
    {
        CFaulty_RW reader(Volume());
        reader.FailSector(15);
        FakeEngine engine;
        engine.stream = c.stream;
        engine.status = c.status == kPreviewReadFailed ? kOk : c.status;
        engine.reader = &reader;
        VolumeEntry volume;
        volume.engine = &engine;
        FoundItem item;
        std::vector<u8> out{1, 2, 3};
        EXPECT_EQ(ReadPreview(volume, item, c.limit, &out), c.status) << c.what;
        EXPECT_EQ(out, c.bytes) << c.what;
    }
}

TEST(PreviewReader, NothingToReadGivesNothing)
{
    FakeEngine engine;
    engine.status = kStreamUnreadable;
    VolumeEntry volume;
    volume.engine = &engine;
    FoundItem item;
    std::vector<u8> out{1};
    EXPECT_EQ(ReadPreview(volume, item, 10, &out), kStreamUnreadable);
    EXPECT_TRUE(out.empty());
    engine.status = kOk;
    engine.stream = Stream(kCluster, {{0, 1, 1, false}}); // no reader
    EXPECT_EQ(ReadPreview(volume, item, 10, &out), kStreamUnreadable);
    item.attr = 0x10;
    EXPECT_EQ(ReadPreview(volume, item, 10, &out), kOk);
    EXPECT_TRUE(out.empty());
}

TEST(PreviewReader, TextAndHexRenderings)
{
    struct TextCase
    {
        std::string bytes;
        bool text;
        std::string shown;
    };
    const TextCase cases[] = {
        {"plain\ttext\r\n", true, "plain\ttext\r\n"},
        {"caf\xC3\xA9", true, "caf\xC3\xA9"},
        {"cut \xE2\x82", true, "cut "},                         // a sequence the 64 KiB cut
        {"caf\xE9 cr\xE8me", true, "caf\xC3\xA9 cr\xC3\xA8me"}, // Latin-1
        {std::string("nul\0byte", 8), false, std::string("nul\0byte", 8)},
        {"\x89PNG\r\n\x1A\n", false, "\xC2\x89PNG\r\n\x1A\n"},
        {"", true, ""},
    };
    for (const TextCase& c : cases)
    {
        const std::vector<u8> bytes(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(LooksLikeText(bytes), c.text) << c.bytes;
        EXPECT_EQ(PreviewText(bytes), c.shown) << c.bytes;
    }
    std::vector<u8> bytes(18);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<u8>(0x3F + i);
    EXPECT_EQ(HexDump(bytes), "00000000  3f 40 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e  "
                              "?@ABCDEFGHIJKLMN\n"
                              "00000010  4f 50                                            OP\n");
}
} // namespace
