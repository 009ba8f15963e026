// Scan control on volumes made by mkfs.fat/mtools and mkntfs/libntfs-3g, registered in the
// drive table: job-list order, search order, the finished notice, stopping and restarting.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "catalog/Catalog.h"
#include "disk/DirectRW.h"
#include "platform/DriveTable.h"
#include "platform/EventSink.h"
#include "scan/fat/FatVolumeState.h"
#include "scan/ntfs/NtfsVolumeState.h"
#include "support/TestImages.h"

namespace
{
using namespace std::chrono_literals;

constexpr u32 kFinished = 2;

// Records every notification and lets the test wait for the finished notice. Posting never
// waits for the receiver; delay makes each find slow, standing in for a slow device.
class WaitingSink final : public IEventSink
{
public:
    struct Event
    {
        u32 code;
        std::string text;
    };

    void Post(u32 message, u32 code, const std::string& text, u32) override
    {
        if (message != WM_SCAN_NOTIFY)
            return;
        if (code == 1 && delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        {
            std::lock_guard lock(m_mutex);
            m_events.push_back({code, text});
        }
        m_changed.notify_all();
        if (code == 1 && onFind)
            onFind();
    }

    // Waits until an event with code has arrived; false after timeout.
    bool WaitFor(u32 code, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout,
                                  [&]
                                  {
                                      for (const Event& e : m_events)
                                          if (e.code == code)
                                              return true;
                                      return false;
                                  });
    }

    std::vector<Event> Events()
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_events.clear();
    }

    std::atomic<int> delayMs{0};
    std::function<void()> onFind;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
};

std::size_t CountCode(const std::vector<WaitingSink::Event>& events, u32 code)
{
    std::size_t n = 0;
    for (const auto& e : events)
        n += e.code == code ? 1 : 0;
    return n;
}

void Register(const std::string& drive, const std::string& path, const std::string& fileSystem)
{
    DriveSource source;
    source.drive = drive;
    source.path = path;
    source.fileSystem = fileSystem;
    g_DriveTable.Register(source);
}

// A file of zeros: no file system at all.
std::string BlankImage()
{
    std::string path = ScratchDir("blank") + "/blank.img";
    std::ofstream out(path, std::ios::binary);
    std::vector<char> zeros(1 << 20, 0);
    out.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    return path;
}

class SearchControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_DriveTable.Clear();
        m_fat32 = TestImage("fat32");
        m_ntfs = TestImage("ntfs-scan");
        ASSERT_FALSE(m_fat32.empty());
        ASSERT_FALSE(m_ntfs.empty());
        Register("C:", m_fat32, "FAT32");
        Register("D:", m_ntfs, "NTFS");
        m_catalog.m_sink = &m_sink;
    }
    void TearDown() override
    {
        m_catalog.StopWorkers(false);
        m_catalog.m_sink = nullptr;
        g_DriveTable.Clear();
    }

    // Starts a search of selection and waits for its finished notice.
    void SearchToEnd(const std::string& selection)
    {
        ASSERT_EQ(m_catalog.StartSearch(selection), kOk);
        ASSERT_TRUE(m_sink.WaitFor(kFinished, 120s)) << "the search never finished";
        m_catalog.StopWorkers(false);
    }

    std::string m_fat32;
    std::string m_ntfs;
    WaitingSink m_sink;
    CCatalog m_catalog;
};

TEST_F(SearchControlTest, SearchesLastSelectedFirstAndFinishesOnce)
{
    SearchToEnd("C:D:");

    ASSERT_EQ(m_catalog.m_volumes.size(), 2u);
    EXPECT_EQ(m_catalog.m_volumes[0].name, "C:");
    EXPECT_EQ(m_catalog.m_volumes[0].fsType, kFsFat32);
    EXPECT_EQ(m_catalog.m_volumes[1].name, "D:");
    EXPECT_EQ(m_catalog.m_volumes[1].fsType, kFsNtfs);
    EXPECT_FALSE(m_catalog.m_volumes[0].items.empty());
    EXPECT_FALSE(m_catalog.m_volumes[1].items.empty());
    ASSERT_NE(FatStateOf(m_catalog.m_volumes[0]), nullptr);
    EXPECT_EQ(FatStateOf(m_catalog.m_volumes[0])->sectorsPerCluster, 1u);
    EXPECT_EQ(FatStateOf(m_catalog.m_volumes[0])->bytesPerSector, 512u);
    EXPECT_NE(NtfsOf(m_catalog.m_volumes[1]), nullptr);

    // Volume start, D:'s finds, volume start, C:'s finds, then one finished notice; after a
    // volume's finds, the progress of their content check.
    std::vector<WaitingSink::Event> events = m_sink.Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(CountCode(events, 0), 2u);
    EXPECT_EQ(CountCode(events, kFinished), 1u);
    EXPECT_EQ(events.back().code, kFinished);
    EXPECT_EQ(events.front().code, 0u);
    EXPECT_EQ(events.front().text, "Finding deleted File(s)...");
    std::string prefix = "D:\\";
    std::size_t finds = 0;
    for (std::size_t i = 1; i + 1 < events.size(); ++i)
    {
        if (events[i].code == 0)
        {
            EXPECT_EQ(events[i].text, "Finding deleted File(s)...");
            prefix = "C:\\";
            continue;
        }
        if (events[i].code == kScanDeepProgress)
        {
            EXPECT_EQ(events[i].text.rfind("Checking contents: ", 0), 0u) << events[i].text;
            continue;
        }
        ASSERT_EQ(events[i].code, 1u);
        EXPECT_EQ(events[i].text.rfind(prefix, 0), 0u) << events[i].text;
        ++finds;
    }
    EXPECT_EQ(prefix, "C:\\");
    EXPECT_EQ(finds, m_catalog.m_volumes[0].items.size() + m_catalog.m_volumes[1].items.size());

    // The first selected volume is the one to list; the FAT device is closed once searched.
    EXPECT_EQ(m_catalog.m_curPath, "C:");
    EXPECT_EQ(m_catalog.m_curVolume, 0);
    u8 sector[512];
    u32 done = 0;
    EXPECT_NE(m_catalog.m_volumes[0].reader->ReadSectors(sector, 1, &done, 0), kOk);
}

TEST_F(SearchControlTest, VolumeWithLargeSectorsIsSearchedInItsOwnSectors)
{
    // 4096-byte sectors: the FAT window must be read in volume sectors, not 512-byte ones,
    // or the folder chains read from the wrong FAT bytes.
    std::string image = TestImage("fatscan4k");
    ASSERT_FALSE(image.empty());
    Register("E:", image, "FAT16");
    SearchToEnd("E:");

    ASSERT_EQ(m_catalog.m_volumes.size(), 1u);
    const VolumeEntry& volume = m_catalog.m_volumes[0];
    ASSERT_NE(FatStateOf(volume), nullptr);
    EXPECT_EQ(FatStateOf(volume)->bytesPerSector, 4096u);
    std::vector<std::string> names;
    for (const FoundItem& item : volume.items)
        names.push_back(item.path + "\\" + item.name);
    EXPECT_EQ(names, (std::vector<std::string>{"E:\\WIDE", "E:\\WIDE\\_050.TXT",
                                               "E:\\WIDE\\Wide Straddling Name.txt"}));
}

TEST_F(SearchControlTest, SelectionWithoutUsableVolumeStartsNothing)
{
    std::string blank = BlankImage();
    Register("E:", blank, "");                    // the probe finds no file system
    Register("F:", blank, "FAT32");               // named FAT, but sector 0 holds no BPB
    Register("G:", m_fat32 + ".missing", "NTFS"); // cannot be opened
    Register("H:", m_fat32, "exFAT");             // named exFAT, but sector 0 says FAT32
    for (const char* selection : {"", "C", "E:", "F:", "G:", "H:", "E:F:G:H:", "Z:"})
    {
        SCOPED_TRACE(selection);
        EXPECT_EQ(m_catalog.StartSearch(selection), kErrTransfer);
        EXPECT_FALSE(m_catalog.m_searchThread.joinable());
        EXPECT_TRUE(m_catalog.m_volumes.empty());
    }
    EXPECT_TRUE(m_sink.Events().empty());
}

TEST_F(SearchControlTest, UnusableDrivesAreLeftOutOfTheJobList)
{
    std::string blank = BlankImage();
    Register("E:", blank, "FAT16");
    SearchToEnd("E:D:E:");
    ASSERT_EQ(m_catalog.m_volumes.size(), 1u);
    EXPECT_EQ(m_catalog.m_volumes[0].name, "D:");
    EXPECT_EQ(m_catalog.m_curPath, "D:");
}

TEST_F(SearchControlTest, RawDriveIsSearchedAsOneVolumeOfNoFileSystem)
{
    // Registered without a length: the engine takes the image's size. Zeros hold nothing to
    // carve; the normal search of such a drive finds nothing either.
    Register("R:", BlankImage(), "raw");
    for (const bool deep : {false, true})
    {
        SCOPED_TRACE(deep ? "deep" : "normal");
        m_catalog.m_deepSearch = deep;
        SearchToEnd("R:");
        ASSERT_EQ(m_catalog.m_volumes.size(), 1u);
        EXPECT_EQ(m_catalog.m_volumes[0].fsType, kFsNone);
        EXPECT_TRUE(m_catalog.m_volumes[0].items.empty());
    }
    // A raw drive whose source cannot be opened is left out like any other.
    Register("S:", ScratchDir("raw") + "/missing.img", "raw");
    EXPECT_EQ(m_catalog.StartSearch("S:"), kErrTransfer);
}

struct DetectCase
{
    const char* fileSystem;
    const char* image; // "fat32", "ntfs", "blank"
    u32 expected;
};

class SearchControlDetectTest : public SearchControlTest,
                                public ::testing::WithParamInterface<DetectCase>
{
};

TEST_P(SearchControlDetectTest, NamesFatNtfsAndExfat)
{
    const DetectCase& c = GetParam();
    std::string image = std::string(c.image) == "fat32"  ? m_fat32
                        : std::string(c.image) == "ntfs" ? m_ntfs
                                                         : BlankImage();
    Register("K:", image, c.fileSystem);
    EXPECT_EQ(CCatalog::DetectFileSystem("K:"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SearchControlDetectTest,
    ::testing::Values(DetectCase{"FAT12", "fat32", 0}, DetectCase{"FAT16", "fat32", 0},
                      DetectCase{"FAT32", "fat32", 0}, DetectCase{"FAT", "fat32", 0},
                      DetectCase{"NTFS", "ntfs", 4}, DetectCase{"exFAT", "fat32", 5},
                      DetectCase{"fat32", "fat32", 7}, DetectCase{"ext4", "blank", 7},
                      // A drive of no file system, carved sector by sector by the deep search.
                      DetectCase{"raw", "blank", 8},
                      // Registered without a name: the volume itself is probed.
                      DetectCase{"", "fat32", 0}, DetectCase{"", "ntfs", 4},
                      DetectCase{"", "blank", 7}));

TEST_F(SearchControlTest, DetectFileSystemRejectsEmptyAndUnknownDrives)
{
    EXPECT_EQ(CCatalog::DetectFileSystem(""), 7u);
    EXPECT_EQ(CCatalog::DetectFileSystem("Q:"), 7u);
    EXPECT_EQ(CCatalog::DetectFileSystem("c:"), 0u); // drive letters ignore case
}

TEST_F(SearchControlTest, StopMidSearchJoinsAndPostsNoFinishedNotice)
{
    // Each find takes 40 ms, so the whole search would take seconds.
    m_sink.delayMs = 40;
    ASSERT_EQ(m_catalog.StartSearch("C:D:"), kOk);
    ASSERT_TRUE(m_sink.WaitFor(1, 60s));

    auto before = std::chrono::steady_clock::now();
    m_catalog.StopWorkers(true);
    auto took = std::chrono::steady_clock::now() - before;

    EXPECT_LT(took, 2s) << "the search thread did not notice the cleared run flag";
    EXPECT_FALSE(m_catalog.m_searchThread.joinable());
    EXPECT_EQ(g_bRunning.load(), 0u);
    std::vector<WaitingSink::Event> events = m_sink.Events();
    EXPECT_EQ(CountCode(events, kFinished), 0u);
    // What was found stays; the first selected volume is the one to list.
    EXPECT_FALSE(m_catalog.m_volumes[1].items.empty());
    EXPECT_LT(CountCode(events, 1), 40u);
    EXPECT_EQ(m_catalog.m_curPath, "C:");
    EXPECT_EQ(m_catalog.m_curVolume, 0);

    // Nothing arrives afterwards.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(m_sink.Events().size(), events.size());
}

TEST_F(SearchControlTest, StopFromTheWorkersOwnThreadDoesNotJoinItself)
{
    std::atomic<int> stops{0};
    m_sink.onFind = [&]
    {
        if (stops++ == 0)
            m_catalog.StopWorkers(true);
    };
    ASSERT_EQ(m_catalog.StartSearch("D:"), kOk);
    ASSERT_TRUE(m_sink.WaitFor(1, 60s));
    m_catalog.StopWorkers(false);
    m_sink.onFind = nullptr;
    EXPECT_FALSE(m_catalog.m_searchThread.joinable());
    EXPECT_EQ(CountCode(m_sink.Events(), 1), 1u);
    EXPECT_EQ(CountCode(m_sink.Events(), kFinished), 0u);
}

TEST_F(SearchControlTest, SecondSearchStartsAfresh)
{
    SearchToEnd("C:");
    std::size_t first = m_catalog.m_volumes.at(0).items.size();
    ASSERT_GT(first, 0u);
    m_sink.Clear();

    SearchToEnd("D:C:");
    ASSERT_EQ(m_catalog.m_volumes.size(), 2u);
    EXPECT_EQ(m_catalog.m_volumes[1].items.size(), first);
    EXPECT_EQ(m_catalog.m_curPath, "D:");
    EXPECT_EQ(CountCode(m_sink.Events(), kFinished), 1u);
}

TEST_F(SearchControlTest, StartWhileSearchingStopsTheRunningSearch)
{
    m_sink.delayMs = 40;
    ASSERT_EQ(m_catalog.StartSearch("D:"), kOk);
    ASSERT_TRUE(m_sink.WaitFor(1, 60s));
    m_sink.delayMs = 0;
    ASSERT_EQ(m_catalog.StartSearch("C:"), kOk);
    ASSERT_TRUE(m_sink.WaitFor(kFinished, 120s));
    m_catalog.StopWorkers(false);
    ASSERT_EQ(m_catalog.m_volumes.size(), 1u);
    EXPECT_EQ(m_catalog.m_volumes[0].name, "C:");
    EXPECT_EQ(CountCode(m_sink.Events(), kFinished), 1u);
}
} // namespace
