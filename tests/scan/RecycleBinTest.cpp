// The recycled finds moved under the made-up Recycle Bin folder: over finds whose records an
// engine stand-in holds (clashing and hostile original paths, a recycled folder, one inside
// another), and through the search and the result view on a FAT volume whose bin was emptied.
#include "scan/RecycleBin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "catalog/Catalog.h"
#include "catalog/ResultView.h"
#include "catalog/VolumeEngine.h"
#include "platform/ByteOrder.h"
#include "platform/DriveTable.h"
#include "platform/EventSink.h"
#include "platform/Status.h"
#include "support/TestImages.h"

namespace
{
using namespace std::chrono_literals;

// An engine whose finds hold the bytes it was given, by their first cluster, in metadata.
class RecordEngine final : public IVolumeEngine
{
public:
    bool Open(VolumeEntry&) const override { return true; }
    u32 Search(CCatalog&, VolumeEntry&) const override { return kOk; }
    u32 LoadAllocation(VolumeEntry&, AllocationMap*) const override { return kErrUnsupported; }
    void EndSearch(VolumeEntry&) const override {}
    u64 ClusterBytes(const VolumeEntry&) const override { return 512; }
    CDirectRW* DataReader(VolumeEntry&) const override { return nullptr; }
    u32 DescribeStream(VolumeEntry&, const FoundItem& item, DataStream* stream) const override
    {
        *stream = DataStream{};
        stream->size = item.size;
        auto bytes = m_bytes.find(item.first);
        if (bytes == m_bytes.end())
            return kStreamUnreadable;
        stream->resident = true;
        stream->residentBytes = bytes->second;
        return kOk;
    }
    u32 ClusterInUse(VolumeEntry&, u64, bool*) const override { return kErrUnsupported; }
    bool FoldersContiguous() const override { return true; }
    void ReleaseItems(VolumeEntry&) const override {}

    std::map<u64, std::vector<u8>> m_bytes;
};

// A version 2 $I record of path, recycled on day.
std::vector<u8> IndexRecord(const std::u16string& path, u64 day)
{
    std::vector<u8> out(28);
    StoreLe64(&out[0], 2);
    StoreLe64(&out[8], 100);
    StoreLe64(&out[16], day * 864000000000ull);
    StoreLe32(&out[24], static_cast<u32>(path.size() + 1));
    for (char16_t unit : path + u'\0')
    {
        out.push_back(static_cast<u8>(unit & 0xFF));
        out.push_back(static_cast<u8>(unit >> 8));
    }
    return out;
}

struct Find
{
    const char* path;
    const char* name;
    bool dir;
    std::u16string record; // the $I record's path, when the find is one
    u64 day = 0;
};

std::string Shown(const FoundItem& item)
{
    return item.path + "\\" + std::string(item.name.view());
}
} // namespace

TEST(RecycleBin, MovesEachRecycledFindOnceWithItsSubtree)
{
    const std::string bin = "C:\\$RECYCLE.BIN\\S-1";
    const Find finds[] = {
        {"C:", "$RECYCLE.BIN", true, u""},
        {"C:\\$RECYCLE.BIN", "S-1", true, u""},
        {"C:\\Recycle Bin\\a", "b.txt", false, u""}, // a real folder of that name
        {bin.c_str(), "$IAAA111.txt", false, u"C:\\a\\b.txt", 5},
        {bin.c_str(), "$RAAA111.txt", false, u""},
        {bin.c_str(), "$IBBB222.txt", false, u"C:\\a\\b.txt", 7}, // recycled later
        {bin.c_str(), "_RBBB222.TXT", false, u""},                // FAT: its first byte lost
        {bin.c_str(), "$ICCC333", false, u"C:\\..\\..\\Old", 6},
        {bin.c_str(), "$RCCC333", true, u""},
        {"C:\\$RECYCLE.BIN\\S-1\\$RCCC333", "inner.txt", false, u""},
        {"C:\\$RECYCLE.BIN\\S-1\\$RCCC333", "$IDDD444", false, u"C:\\elsewhere.txt", 6},
        {"C:\\$RECYCLE.BIN\\S-1\\$RCCC333", "$RDDD444", false, u""}, // moves with its folder
        {bin.c_str(), "$REEE555.txt", false, u""},                   // no record
        {bin.c_str(), "$IFFF666.txt", false, u"C:\\", 6},            // no name in it
        {bin.c_str(), "$RFFF666.txt", false, u""},
        // Recycled on its own from the folder recycled above, whose file of that name keeps it.
        {bin.c_str(), "$IGGG777.txt", false, u"C:\\..\\..\\Old\\inner.txt", 9},
        {bin.c_str(), "$RGGG777.txt", false, u""},
        {"C:\\docs", "x.txt", false, u""},
    };
    RecordEngine engine;
    VolumeEntry volume;
    volume.name = "C:";
    volume.engine = &engine;
    for (std::size_t i = 0; i < std::size(finds); ++i)
    {
        FoundItem item;
        item.path = finds[i].path;
        item.name = finds[i].name;
        item.attr = finds[i].dir ? 0x10 : 0x20;
        item.first = i + 2;
        item.size = finds[i].record.empty() ? 100 : IndexRecord(finds[i].record, 0).size();
        if (!finds[i].record.empty())
            engine.m_bytes[item.first] = IndexRecord(finds[i].record, finds[i].day);
        volume.items.push_back(std::move(item));
    }
    g_bRunning = 1;
    ListRecycledFinds(volume);
    g_bRunning = 0;

    std::vector<std::string> listed;
    for (const FoundItem& item : volume.items)
        listed.push_back(Shown(item));
    // The finds not moved keep their order; the moved ones follow, each folder's together.
    const std::vector<std::string> expected = {
        "C:\\$RECYCLE.BIN",
        "C:\\$RECYCLE.BIN\\S-1",
        "C:\\Recycle Bin\\a\\b.txt",
        bin + "\\$IAAA111.txt",
        bin + "\\$IBBB222.txt",
        bin + "\\$ICCC333",
        bin + "\\$REEE555.txt",
        bin + "\\$IFFF666.txt",
        bin + "\\$RFFF666.txt",
        bin + "\\$IGGG777.txt",
        "C:\\docs\\x.txt",
        "C:\\Recycle Bin\\_..\\_..\\Old",
        "C:\\Recycle Bin\\_..\\_..\\Old\\inner.txt",
        "C:\\Recycle Bin\\_..\\_..\\Old\\$IDDD444",
        "C:\\Recycle Bin\\_..\\_..\\Old\\$RDDD444",
        "C:\\Recycle Bin\\_..\\_..\\Old\\inner_1_.txt",
        "C:\\Recycle Bin\\a\\b_2_.txt",
        "C:\\Recycle Bin\\a\\b_1_.txt",
    };
    EXPECT_EQ(listed, expected);
    std::map<std::string, std::string> from;
    for (const auto& [index, path] : volume.recycledFrom)
        from[listed.at(index)] = path;
    const std::map<std::string, std::string> expectedFrom = {
        {"C:\\Recycle Bin\\_..\\_..\\Old", bin + "\\$RCCC333"},
        {"C:\\Recycle Bin\\_..\\_..\\Old\\inner.txt", bin + "\\$RCCC333\\inner.txt"},
        {"C:\\Recycle Bin\\_..\\_..\\Old\\$IDDD444", bin + "\\$RCCC333\\$IDDD444"},
        {"C:\\Recycle Bin\\_..\\_..\\Old\\$RDDD444", bin + "\\$RCCC333\\$RDDD444"},
        {"C:\\Recycle Bin\\_..\\_..\\Old\\inner_1_.txt", bin + "\\$RGGG777.txt"},
        {"C:\\Recycle Bin\\a\\b_1_.txt", bin + "\\_RBBB222.TXT"},
        {"C:\\Recycle Bin\\a\\b_2_.txt", bin + "\\$RAAA111.txt"},
    };
    EXPECT_EQ(from, expectedFrom);
    // The later of two files recycled from one path is the first to get a name; the moved
    // finds keep what their data is read by.
    for (const FoundItem& item : volume.items)
    {
        if (item.name == "b_2_.txt")
        {
            EXPECT_EQ(item.first, 6u);
        }
    }
}

namespace
{
class FinishSink final : public IEventSink
{
public:
    void Post(u32 message, u32 code, const std::string&, u32) override
    {
        if (message != WM_SCAN_NOTIFY || code != 2)
            return;
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }
    bool Wait()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 120s, [this] { return m_finished; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_finished = false;
};

std::vector<std::string> Names(const std::vector<ResultRow>& rows)
{
    std::vector<std::string> names;
    for (const ResultRow& row : rows)
        names.push_back(row.name + (row.image == kImageFolder ? "\\" : ""));
    return names;
}
} // namespace

TEST(RecycleBin, MadeUpFolderBrowsesLikeAnyFolder)
{
    const std::string image = TestImage("recycle-fat");
    ASSERT_FALSE(image.empty());
    g_DriveTable.Clear();
    DriveSource source;
    source.drive = "C:";
    source.path = image;
    source.fileSystem = "FAT16";
    g_DriveTable.Register(source);
    FinishSink sink;
    CCatalog catalog;
    catalog.m_sink = &sink;
    ASSERT_EQ(catalog.StartSearch("C:"), kOk);
    ASSERT_TRUE(sink.Wait()) << "the search never finished";
    catalog.StopWorkers(false);

    std::vector<ResultRow> rows;
    ASSERT_TRUE(catalog.Navigate("C:", &rows));
    EXPECT_EQ(Names(rows),
              (std::vector<std::string>{"RECYCLER\\", "$RECYCLE.BIN\\", "Recycle Bin\\"}));
    ASSERT_TRUE(catalog.Navigate("Recycle Bin", &rows));
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"..", "Users\\", "Documents and Settings\\"}));
    ASSERT_TRUE(catalog.Navigate("Users", &rows));
    ASSERT_TRUE(catalog.Navigate("Alice", &rows));
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"..", "Old Project\\", "Documents\\"}));
    ASSERT_TRUE(catalog.Navigate("Documents", &rows));
    EXPECT_EQ(Names(rows),
              (std::vector<std::string>{"..", "Quarterly Report.txt", "Quarterly Report_1_.txt"}));
    EXPECT_EQ(catalog.m_fileCount, 2u);
    ASSERT_TRUE(catalog.Navigate("..", &rows));
    ASSERT_TRUE(catalog.Navigate("Old Project", &rows));
    EXPECT_EQ(Names(rows), (std::vector<std::string>{"..", "Project Notes.txt"}));
    catalog.m_sink = nullptr;
    g_DriveTable.Clear();
}
