// Recoveries from FAT and NTFS volumes made by mkfs.fat/mtools and mkntfs/libntfs-3g: file and
// folder selections, name clashes, hostile names, failing reads, free space, stopping, the
// destination folder with its fall-back, and the refusal to write onto the volume being read.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "disk/Faulty_RW.h"
#include "ntfs/AttributeIterator.h"
#include "recovery/RecoveryFixture.h"

using namespace recoverytest;

namespace
{
std::vector<u8> Bytes(const std::string& path)
{
    const std::string text = ReadText(path);
    return std::vector<u8>(text.begin(), text.end());
}

std::vector<u32> Codes(const std::vector<Event>& events)
{
    std::vector<u32> codes;
    for (const Event& e : events)
        codes.push_back(e.code);
    return codes;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// FAT12, FAT16 and FAT32 volumes of fat.sh

class RecoveryFat : public RecoveryBase, public ::testing::WithParamInterface<const char*>
{
protected:
    void SetUp() override
    {
        m_image = TestImage(GetParam());
        ASSERT_FALSE(m_image.empty());
        AddFat(m_image);
        m_dest = ScratchDir("dest");
    }
    u32 ClusterBytes() const
    {
        const FatVolumeState& v = *FatStateOf(m_catalog.m_volumes[0]);
        return v.sectorsPerCluster * v.bytesPerSector;
    }
    std::string m_image;
    std::string m_dest;
};

TEST_P(RecoveryFat, RecoversSelectedFilesWithTheirContent)
{
    ASSERT_EQ(
        Recover("C:", {{"_ELROOT.TXT", 0}, {"NOT THERE.TXT", 0}, {"Deleted Long Name.txt", 0}},
                m_dest),
        kOk);
    EXPECT_EQ(Tree(m_dest), (std::vector<std::string>{"Deleted Long Name.txt", "_ELROOT.TXT"}));
    EXPECT_EQ(ReadText(m_dest + "/_ELROOT.TXT"), FatContent("DELROOT.TXT", 333));
    EXPECT_EQ(ReadText(m_dest + "/Deleted Long Name.txt"),
              FatContent("Deleted Long Name.txt", 1200));

    // Per file: the name, the range, one step per four-cluster chunk; then the summary.
    const u32 chunk = 4 * ClusterBytes();
    std::vector<u32> expected;
    for (u32 size : {333u, 1200u})
    {
        expected.push_back(kRecoverFile);
        expected.push_back(kRecoverRange);
        for (u32 i = 0; i < (size + chunk - 1) / chunk; ++i)
            expected.push_back(kRecoverStep);
    }
    expected.push_back(kRecoverFinished);
    EXPECT_EQ(Codes(m_sink.events), expected);
    const std::vector<Event> files = m_sink.Of(kRecoverFile);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].text, "Recovering C:\\_ELROOT.TXT");
    EXPECT_EQ(files[0].extra, 0x20u);
    EXPECT_EQ(m_sink.Of(kRecoverRange)[0].extra, 10u);
    EXPECT_EQ(m_sink.Of(kRecoverStep)[0].extra, 1u);
    const Event& last = m_sink.events.back();
    EXPECT_EQ(last.text, "Finished Recovery Successfully.");
    EXPECT_EQ(last.extra, 0xFFFFFFu);
    EXPECT_EQ(m_catalog.m_lastDest, m_dest);
}

TEST_P(RecoveryFat, FolderSelectionRebuildsOnlyFoldersThatHoldFiles)
{
    // A deleted sub-folder without files, and one holding only a folder, are never made.
    FoundItem hollow;
    hollow.attr = 0x10;
    hollow.path = "C:\\_LDDIR";
    hollow.name = "EMPTYSUB";
    m_catalog.m_volumes[0].items.push_back(hollow);
    hollow.path = "C:\\_LDDIR\\EMPTYSUB";
    hollow.name = "DEEPER";
    m_catalog.m_volumes[0].items.push_back(hollow);

    ASSERT_EQ(Recover("C:", {{"_LDDIR", 1}, {"DOCS", 1}}, m_dest), kOk);
    EXPECT_EQ(Tree(m_dest),
              (std::vector<std::string>{"DOCS/", "DOCS/SUB/", "DOCS/SUB/Old Draft Notes.txt",
                                        "DOCS/Same Name Thrice.txt", "DOCS/Same Name Thrice_1_.txt",
                                        "DOCS/Same Name Thrice_2_.txt", "DOCS/_ONE.TXT", "_LDDIR/",
                                        "_LDDIR/Old Long Name.txt", "_LDDIR/_EEP1.TXT",
                                        "_LDDIR/_NNER/", "_LDDIR/_NNER/_NNER.TXT"}));
    EXPECT_EQ(ReadText(m_dest + "/_LDDIR/_EEP1.TXT"), FatContent("OLDDIR/KEEP1.TXT", 500));
    EXPECT_EQ(ReadText(m_dest + "/_LDDIR/Old Long Name.txt"),
              FatContent("OLDDIR/Old Long Name.txt", 600));
    EXPECT_EQ(ReadText(m_dest + "/_LDDIR/_NNER/_NNER.TXT"),
              FatContent("OLDDIR/INNER/INNER.TXT", 700));
    EXPECT_EQ(ReadText(m_dest + "/DOCS/_ONE.TXT"), FatContent("DOCS/GONE.TXT", 444));
    EXPECT_EQ(ReadText(m_dest + "/DOCS/SUB/Old Draft Notes.txt"),
              FatContent("DOCS/SUB/Old Draft Notes.txt", 3000));
    EXPECT_TRUE(m_sink.Of(kRecoverWarning).empty());
    EXPECT_TRUE(Finished(m_sink));
}

TEST_P(RecoveryFat, SelectionInsideASubFolderMapsBelowTheDestination)
{
    ASSERT_EQ(Recover("C:\\DOCS", {{"_ONE.TXT", 0}, {"SUB", 1}}, m_dest), kOk);
    EXPECT_EQ(Tree(m_dest),
              (std::vector<std::string>{"SUB/", "SUB/Old Draft Notes.txt", "_ONE.TXT"}));
    EXPECT_EQ(m_sink.Of(kRecoverFile)[1].text, "Recovering C:\\DOCS\\SUB\\Old Draft Notes.txt");
}

INSTANTIATE_TEST_SUITE_P(Volumes, RecoveryFat, ::testing::Values("fat12", "fat16", "fat32"));

// ---------------------------------------------------------------------------------------------
// One FAT16 volume for the rest

class RecoveryFat16 : public RecoveryBase
{
protected:
    void SetUp() override
    {
        m_image = TestImage("fat16");
        ASSERT_FALSE(m_image.empty());
        m_dest = ScratchDir("dest");
    }
    std::string m_image;
    std::string m_dest;
};

TEST_F(RecoveryFat16, ClashingNamesGetNewAndNeverTruncateAFile)
{
    AddFat(m_image);
    // Listed in any case: "New " in front. "New " + name present too: the next free name.
    WriteText(m_dest + "/_elroot.txt", "mine");
    WriteText(m_dest + "/deleted long name.txt", "mine too");
    WriteText(m_dest + "/New Deleted Long Name.txt", "and mine");
    ASSERT_EQ(Recover("C:", {{"_ELROOT.TXT", 0}, {"Deleted Long Name.txt", 0}}, m_dest), kOk);
    EXPECT_EQ(ReadText(m_dest + "/_elroot.txt"), "mine");
    EXPECT_EQ(ReadText(m_dest + "/deleted long name.txt"), "mine too");
    EXPECT_EQ(ReadText(m_dest + "/New Deleted Long Name.txt"), "and mine");
    EXPECT_EQ(ReadText(m_dest + "/New _ELROOT.TXT"), FatContent("DELROOT.TXT", 333));
    EXPECT_EQ(ReadText(m_dest + "/New (2) Deleted Long Name.txt"),
              FatContent("Deleted Long Name.txt", 1200));
    EXPECT_TRUE(m_sink.Of(kRecoverWarning).empty());
}

TEST_F(RecoveryFat16, ClashInsideASelectedFolderUsesThatFoldersListing)
{
    AddFat(m_image);
    ASSERT_EQ(::mkdir((m_dest + "/_LDDIR").c_str(), 0755), 0);
    WriteText(m_dest + "/_LDDIR/_eep1.txt", "mine");
    ASSERT_EQ(Recover("C:", {{"_LDDIR", 1}}, m_dest), kOk);
    EXPECT_EQ(ReadText(m_dest + "/_LDDIR/_eep1.txt"), "mine");
    EXPECT_EQ(ReadText(m_dest + "/_LDDIR/New _EEP1.TXT"), FatContent("OLDDIR/KEEP1.TXT", 500));
    EXPECT_EQ(ReadText(m_dest + "/_LDDIR/Old Long Name.txt"),
              FatContent("OLDDIR/Old Long Name.txt", 600));
}

TEST_F(RecoveryFat16, EmptyFileIsCreatedWithARangeButNoStep)
{
    AddFat(m_image);
    FoundItem empty;
    empty.path = "C:";
    empty.name = "EMPTY.TXT";
    empty.attr = 0x20;
    empty.first = 2;
    m_catalog.m_volumes[0].items.push_back(empty);
    ASSERT_EQ(Recover("C:", {{"EMPTY.TXT", 0}}, m_dest), kOk);
    EXPECT_EQ(Tree(m_dest), std::vector<std::string>{"EMPTY.TXT"});
    EXPECT_EQ(ReadText(m_dest + "/EMPTY.TXT"), "");
    EXPECT_EQ(Codes(m_sink.events),
              (std::vector<u32>{kRecoverFile, kRecoverRange, kRecoverFinished}));
}

TEST_F(RecoveryFat16, NameTooLongForTheDestinationIsShortenedWithAWarning)
{
    AddFat(m_image);
    FoundItem item = *Item("C:", "_ELROOT.TXT");
    item.name = std::string(300, 'x') + ".txt";
    m_catalog.m_volumes[0].items.push_back(item);
    ASSERT_EQ(Recover("C:", {{item.name.str(), 0}, {"_ELROOT.TXT", 0}}, m_dest), kOk);
    const std::string fitted = FitName(item.name.str(), 255);
    EXPECT_EQ(fitted.size(), 255u);
    EXPECT_TRUE(fitted.ends_with(".txt"));
    const std::vector<Event> warnings = m_sink.Of(kRecoverWarning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].extra, kWarnRenamed);
    EXPECT_NE(warnings[0].text.find("C:\\" + item.name), std::string::npos);
    EXPECT_EQ(Tree(m_dest), (std::vector<std::string>{"_ELROOT.TXT", fitted}));
    EXPECT_EQ(ReadText(m_dest + "/" + fitted), FatContent("DELROOT.TXT", 333));
    EXPECT_TRUE(Finished(m_sink));
}

namespace
{
struct FaultCase
{
    const char* name;
    int kind; // 0 failing sector, 1 short at sector, 2 every read fails
};
void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}
} // namespace

class RecoveryFatFaults : public RecoveryFat16, public ::testing::WithParamInterface<FaultCase>
{
};

TEST_P(RecoveryFatFaults, UnreadableDataEndsTheFileWithAWarning)
{
    auto reader = std::make_unique<CFaulty_RW>(Bytes(m_image));
    CFaulty_RW* faulty = reader.get();
    AddFat(m_image, "C:", std::move(reader));
    const FoundItem* bad = Item("C:\\DOCS\\SUB", "Old Draft Notes.txt");
    ASSERT_NE(bad, nullptr);
    s64 sector = static_cast<s64>(bad->first);
    ASSERT_TRUE(FatStateOf(m_catalog.m_volumes[0])->boot->ClusterToSector(&sector));
    // 3000 bytes in 2 KiB clusters: the first chunk (8 KiB) covers the whole file.
    switch (GetParam().kind)
    {
    case 0:
        faulty->FailSector(static_cast<u64>(sector) + 1);
        break;
    case 1:
        faulty->ShortAtSector(static_cast<u64>(sector));
        break;
    default:
        faulty->FailAfter(0);
        break;
    }
    ASSERT_EQ(
        Recover("C:\\DOCS\\SUB", {{"Old Draft Notes.txt", 0}, {"Deep Long Name.txt", 0}}, m_dest),
        kOk);
    const std::vector<Event> warnings = m_sink.Of(kRecoverWarning);
    ASSERT_GE(warnings.size(), 1u);
    EXPECT_NE(warnings[0].text.find("C:\\DOCS\\SUB\\Old Draft Notes.txt"), std::string::npos)
        << warnings[0].text;
    EXPECT_EQ(ReadText(m_dest + "/Old Draft Notes.txt"), "");
    EXPECT_TRUE(Finished(m_sink));
}

INSTANTIATE_TEST_SUITE_P(RecoveryFat16, RecoveryFatFaults,
                         ::testing::Values(FaultCase{"FailingSector", 0},
                                           FaultCase{"DeviceEndsThere", 1},
                                           FaultCase{"EveryReadFails", 2}),
                         [](const ::testing::TestParamInfo<FaultCase>& p)
                         { return std::string(p.param.name); });

TEST_F(RecoveryFat16, ClearingTheRunFlagLeavesAShorterFileAndStillFinishes)
{
    AddFat(m_image);
    // A large deleted file: 40 KiB from the first cluster, four 2 KiB clusters per chunk.
    FoundItem big = *Item("C:\\DOCS\\SUB", "Old Draft Notes.txt");
    big.name = "BIGGER.BIN";
    big.size = 40 * 1024;
    m_catalog.m_volumes[0].items.push_back(big);
    m_sink.onPost = [](const Event& e)
    {
        if (e.code == kRecoverStep && e.extra == 2)
            g_bRunning = 0;
    };
    ASSERT_EQ(Recover("C:\\DOCS\\SUB", {{"BIGGER.BIN", 0}, {"Old Draft Notes.txt", 0}}, m_dest),
              kOk);
    EXPECT_EQ(Tree(m_dest), std::vector<std::string>{"BIGGER.BIN"});
    EXPECT_EQ(ReadText(m_dest + "/BIGGER.BIN").size(), 2u * 8192);
    // The short file is named, with what it holds.
    const std::vector<Event> warnings = m_sink.Of(kRecoverWarning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].extra, kWarnStopped);
    EXPECT_EQ(warnings[0].text, "Stopped while copying C:\\DOCS\\SUB\\BIGGER.BIN: " + m_dest +
                                    "/BIGGER.BIN holds 16384 of its 40960 bytes.");
    EXPECT_TRUE(Finished(m_sink));
}

namespace
{
struct SpaceCase
{
    const char* name;
    u64 size;
    u64 blockSize;
    u64 freeBlocks;
    bool enough;
};
void PrintTo(const SpaceCase& c, std::ostream* os)
{
    *os << c.name;
}
} // namespace

class RecoveryFreeSpace : public RecoveryFat16, public ::testing::WithParamInterface<SpaceCase>
{
};

TEST_P(RecoveryFreeSpace, StopsTheRunBeforeAFileThatWouldNotFit)
{
    AddFat(m_image);
    const SpaceCase& c = GetParam();
    FoundItem item = *Item("C:", "_ELROOT.TXT");
    item.name = "SIZED.BIN";
    item.size = c.size;
    m_catalog.m_volumes[0].items.push_back(item);
    // Let the volume claim clusters enough for every size here: a size larger than its volume
    // is cut to what the volume holds before the check.
    FatStateOf(m_catalog.m_volumes[0])->clusterCount = 0xFFFFFFF0u;
    FakeHost host;
    host.freeSpace = [&c](const std::string&, u64* blockSize, u64* freeBlocks)
    {
        *blockSize = c.blockSize;
        *freeBlocks = c.freeBlocks;
        return true;
    };
    SetRecoveryHost(&host);
    // Stop after the first chunk: only the check matters here, not gigabytes of copying.
    m_sink.onPost = [](const Event& e)
    {
        if (e.code == kRecoverStep)
            g_bRunning = 0;
    };
    ASSERT_EQ(Recover("C:", {{"SIZED.BIN", 0}}, m_dest), kOk);
    if (c.enough)
    {
        EXPECT_EQ(Tree(m_dest), std::vector<std::string>{"SIZED.BIN"});
        EXPECT_TRUE(m_sink.Of(kRecoverFatal).empty());
        EXPECT_TRUE(Finished(m_sink));
    }
    else
    {
        EXPECT_TRUE(Tree(m_dest).empty());
        const std::vector<Event> fatal = m_sink.Of(kRecoverFatal);
        ASSERT_EQ(fatal.size(), 1u);
        EXPECT_EQ(fatal[0].text, "Drive has NOT enough space to store files.");
        EXPECT_FALSE(Finished(m_sink));
    }
}

INSTANTIATE_TEST_SUITE_P(
    RecoveryFat16, RecoveryFreeSpace,
    ::testing::Values(SpaceCase{"OneClusterShort", 333, 512, 1, false},
                      SpaceCase{"OneClusterMore", 333, 512, 2, true},
                      SpaceCase{"ExactlyAtTheLimit", 10 * 4096, 4096, 11, false},
                      SpaceCase{"JustAboveTheLimit", 10 * 4096, 4096, 12, true},
                      // 5 GiB against 3 GiB free: a 32-bit size would have wrapped to 1 GiB.
                      SpaceCase{"FiveGiBAgainstThree", 5ull << 30, 4096, (3ull << 30) / 4096,
                                false},
                      SpaceCase{"FiveGiBAgainstSix", 5ull << 30, 4096, (6ull << 30) / 4096, true}),
    [](const ::testing::TestParamInfo<SpaceCase>& p) { return std::string(p.param.name); });

// The free-space answer is reused for the files that follow it in the same folder, lowered by
// what they take; the file system is asked again before a file is refused.
TEST_F(RecoveryFat16, FreeSpaceIsAskedAgainOnlyWhenTheEstimateRunsOut)
{
    AddFat(m_image);
    const FoundItem model = *Item("C:", "_ELROOT.TXT");
    for (const char* name : {"A.BIN", "B.BIN", "C.BIN"})
    {
        FoundItem item = model;
        item.name = name;
        item.size = 100; // one block of 512 each
        m_catalog.m_volumes[0].items.push_back(item);
    }
    struct Case
    {
        std::vector<u64> answers; // free blocks, one per question
        std::size_t questions;
        std::vector<std::string> written;
    };
    const std::vector<Case> cases = {
        // Enough for all three: one question.
        {{9}, 1, {"A.BIN", "B.BIN", "C.BIN"}},
        // The estimate refuses C.BIN; the file system, asked again, still has room.
        {{3, 3}, 2, {"A.BIN", "B.BIN", "C.BIN"}},
        // ... or has filled up meanwhile: C.BIN is refused and the run ends.
        {{3, 1}, 2, {"A.BIN", "B.BIN"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.answers.size() == 1 ? "enough" : std::to_string(c.answers[1]));
        std::filesystem::remove_all(m_dest);
        m_sink.events.clear();
        std::size_t asked = 0;
        FakeHost host;
        host.freeSpace = [&](const std::string&, u64* blockSize, u64* freeBlocks)
        {
            *blockSize = 512;
            *freeBlocks = c.answers[std::min(asked, c.answers.size() - 1)];
            ++asked;
            return true;
        };
        SetRecoveryHost(&host);
        ASSERT_EQ(Recover("C:", {{"A.BIN", 0}, {"B.BIN", 0}, {"C.BIN", 0}}, m_dest), kOk);
        EXPECT_EQ(asked, c.questions);
        EXPECT_EQ(Tree(m_dest), c.written);
        EXPECT_EQ(Finished(m_sink), c.written.size() == 3);
        SetRecoveryHost(nullptr);
    }
}

TEST_F(RecoveryFat16, NoVolumeBeingBrowsedGivesFiveAndNoThread)
{
    AddFat(m_image);
    EXPECT_EQ(Recover("", {{"_ELROOT.TXT", 0}}, m_dest), kErrTransfer);
    EXPECT_EQ(Recover("Q:\\DOCS", {{"_ELROOT.TXT", 0}}, m_dest), kErrTransfer);
    EXPECT_TRUE(m_sink.events.empty());
    EXPECT_TRUE(Tree(m_dest).empty());
    // The drive text matches in any case.
    EXPECT_EQ(Recover("c:", {{"_ELROOT.TXT", 0}}, m_dest), kOk);
}

// The command line's way: a request names its volume, folder, entries, destination and
// options; the view shown and the wizard's selection are neither read nor changed.
TEST_F(RecoveryFat16, ExplicitRequestLeavesTheViewAndTheSelectionAlone)
{
    AddFat(m_image);
    m_catalog.m_sink = &m_sink;
    m_catalog.m_curPath = "C:\\_LDDIR";
    m_catalog.m_curVolume = 0;
    g_Selection = {{"_EEP1.TXT", 0}};
    RecoveryRequest request{"c:", "C:\\DOCS", {{"_ONE.TXT", 0}, {"SUB", 1}}, m_dest, {}};
    EXPECT_EQ(m_catalog.StartRecovery(RecoveryRequest{"Q:", "Q:", {}, m_dest, {}}), kErrTransfer);
    EXPECT_EQ(m_catalog.StartRecovery(RecoveryRequest{"", "", {}, m_dest, {}}), kErrTransfer);
    ASSERT_EQ(m_catalog.StartRecovery(request), kOk);
    m_catalog.m_recoverThread.join();
    EXPECT_EQ(Tree(m_dest),
              (std::vector<std::string>{"SUB/", "SUB/Old Draft Notes.txt", "_ONE.TXT"}));
    EXPECT_EQ(ReadText(m_dest + "/_ONE.TXT"), FatContent("DOCS/GONE.TXT", 444));
    EXPECT_TRUE(Finished(m_sink));
    EXPECT_EQ(m_catalog.m_curPath, "C:\\_LDDIR");
    ASSERT_EQ(g_Selection.size(), 1u);
    EXPECT_EQ(g_Selection[0].name, "_EEP1.TXT");
    EXPECT_EQ(m_catalog.m_lastDest, m_dest);
}

TEST_F(RecoveryFat16, DestinationOnTheVolumeBeingReadIsRefused)
{
    AddFat(m_image);
    // Present the volume as the block device /dev/fake-source, whose file system holds the
    // destination's nearest existing folder.
    DriveSource source;
    source.drive = "C:";
    source.path = "/dev/fake-source";
    source.display = "/dev/fake-source";
    g_DriveTable.Register(source);
    FakeHost host;
    host.stat = [this](const std::string& path) -> std::optional<PathFacts>
    {
        if (path == "/dev/fake-source")
            return PathFacts{false, true, 1, 0x4242};
        std::optional<PathFacts> facts = SystemRecoveryHost().Stat(path);
        if (facts && path.starts_with(m_dest))
            facts->device = 0x4242;
        return facts;
    };
    SetRecoveryHost(&host);
    const std::string target = m_dest + "/rescue";
    EXPECT_EQ(Recover("C:", {{"_ELROOT.TXT", 0}}, target), kErrDestination);
    ASSERT_EQ(m_sink.events.size(), 1u);
    EXPECT_EQ(m_sink.events[0].code, kRecoverFatal);
    EXPECT_EQ(m_sink.events[0].text, "Refusing to recover onto " + target +
                                         ": it is the volume being read (/dev/fake-source).");
    EXPECT_TRUE(Tree(m_dest).empty()) << "nothing may be made on the source";
    EXPECT_FALSE(m_catalog.m_recoverThread.joinable());

    // Beside an image file is fine.
    source.path = m_image;
    g_DriveTable.Register(source);
    m_sink.events.clear();
    EXPECT_EQ(Recover("C:", {{"_ELROOT.TXT", 0}}, target), kOk);
    EXPECT_EQ(Tree(m_dest), (std::vector<std::string>{"rescue/", "rescue/_ELROOT.TXT"}));
}

// ---------------------------------------------------------------------------------------------
// The destination folder

class RecoveryDestination : public RecoveryFat16
{
protected:
    void SetUp() override
    {
        RecoveryFat16::SetUp();
        m_home = ScratchDir("home");
        AddFat(m_image);
        m_catalog.m_messageBox = &m_box;
    }
    std::string m_home;
};

TEST_F(RecoveryDestination, MissingLevelsAreCreatedAndExistingOnesListed)
{
    std::string folder = m_dest + "/a/b/c";
    ASSERT_EQ(m_catalog.PrepareFolder(folder), kOk);
    EXPECT_EQ(folder, m_dest + "/a/b/c");
    EXPECT_EQ(Tree(m_dest), (std::vector<std::string>{"a/", "a/b/", "a/b/c/"}));
    WriteText(m_dest + "/a/Mixed Case.txt", "x");
    folder = m_dest + "/a";
    ASSERT_EQ(m_catalog.PrepareFolder(folder), kOk);
    std::multiset<std::string> names(m_catalog.m_destNames.begin(), m_catalog.m_destNames.end());
    EXPECT_EQ(names, (std::multiset<std::string>{".", "..", "B", "MIXED CASE.TXT"}));
    EXPECT_TRUE(m_box.shown.empty());
}

TEST_F(RecoveryDestination, UncreatableLevelFallsBackToTheDefaultFolder)
{
    HomeOverride home(m_home);
    WriteText(m_dest + "/plain", "a file where a folder should be");
    std::string folder = m_dest + "/plain/sub/leaf";
    ASSERT_EQ(m_catalog.PrepareFolder(folder), kOk);
    EXPECT_EQ(folder, m_home + "/Founded Files");
    ASSERT_EQ(m_box.shown.size(), 2u);
    EXPECT_EQ(m_box.shown[0].first, "Unable to create directory:\n\n" + m_dest + "/plain/sub");
    EXPECT_EQ(m_box.shown[0].second, "Error");
    EXPECT_EQ(m_box.shown[1].first, "Use default directory due to a failed directory creation:"
                                    "\n\n   " +
                                        m_home + "/Founded Files!");
    EXPECT_EQ(m_box.shown[1].second, "Error");
    EXPECT_EQ(ReadText(m_dest + "/plain"), "a file where a folder should be");
}

TEST_F(RecoveryDestination, LastLevelThatIsAFileFallsBackWithoutTheLevelMessage)
{
    HomeOverride home(m_home);
    WriteText(m_dest + "/plain", "x");
    std::string folder = m_dest + "/plain";
    ASSERT_EQ(m_catalog.PrepareFolder(folder), kOk);
    EXPECT_EQ(folder, m_home + "/Founded Files");
    ASSERT_EQ(m_box.shown.size(), 1u);
    EXPECT_EQ(m_box.shown[0].second, "Error");
}

TEST_F(RecoveryDestination, RunWritesIntoTheDefaultFolderWhenTheGivenOneFails)
{
    HomeOverride home(m_home);
    WriteText(m_dest + "/plain", "x");
    ASSERT_EQ(Recover("C:", {{"_ELROOT.TXT", 0}}, m_dest + "/plain/sub"), kOk);
    EXPECT_EQ(ReadText(m_home + "/Founded Files/_ELROOT.TXT"), FatContent("DELROOT.TXT", 333));
    EXPECT_EQ(m_catalog.m_lastDest, m_home + "/Founded Files");
    EXPECT_EQ(m_catalog.m_destDir, m_home + "/Founded Files");
}

TEST_F(RecoveryDestination, NoUsableFolderAtAllGives512AndNoThread)
{
    WriteText(m_home + "/file", "x");
    HomeOverride home(m_home + "/file");
    WriteText(m_dest + "/plain", "x");
    EXPECT_EQ(Recover("C:", {{"_ELROOT.TXT", 0}}, m_dest + "/plain/sub/leaf"), kErrDestination);
    ASSERT_EQ(m_box.shown.size(), 2u);
    EXPECT_EQ(m_box.shown[0].first, "Unable to create directory:\n\n" + m_dest + "/plain/sub");
    EXPECT_EQ(m_box.shown[1].first, "Failed to create the given directory:\n\n" + m_home +
                                        "/file/Founded Files!\n\nProgram will exit. Reset the "
                                        "directory and try again please!");
    EXPECT_EQ(m_box.shown[1].second, "Sorry:");
    EXPECT_FALSE(m_catalog.m_recoverThread.joinable());
    EXPECT_TRUE(m_sink.events.empty());
}

TEST_F(RecoveryDestination, EmptyTextUsesTheRememberedFolder)
{
    char* cwd = ::getcwd(nullptr, 0);
    ASSERT_NE(cwd, nullptr);
    EXPECT_EQ(CCatalog().m_lastDest, std::string(cwd) + "/Undeleted Files");
    std::free(cwd);

    m_catalog.m_lastDest = m_dest + "/remembered";
    ASSERT_EQ(Recover("C:", {{"_ELROOT.TXT", 0}}, ""), kOk);
    EXPECT_EQ(ReadText(m_dest + "/remembered/_ELROOT.TXT"), FatContent("DELROOT.TXT", 333));
}

TEST_F(RecoveryDestination, SubFolderThatCannotBeMadeEndsTheRun)
{
    // The target folder of a selected folder is taken by a file, and so is the default.
    WriteText(m_home + "/file", "x");
    HomeOverride home(m_home + "/file");
    WriteText(m_dest + "/_LDDIR", "in the way");
    ASSERT_EQ(Recover("C:", {{"_LDDIR", 1}}, m_dest), kOk);
    const std::vector<Event> fatal = m_sink.Of(kRecoverFatal);
    ASSERT_EQ(fatal.size(), 1u);
    EXPECT_EQ(fatal[0].text,
              "Failed to Create Save Path. Please close all possible applications and try again.");
    EXPECT_FALSE(Finished(m_sink));
    EXPECT_EQ(ReadText(m_dest + "/_LDDIR"), "in the way");
}

// ---------------------------------------------------------------------------------------------
// Hostile names from a patched FAT directory

class RecoveryHostile : public RecoveryBase
{
};

TEST_F(RecoveryHostile, NamesFromTheVolumeNeverLeaveTheDestination)
{
    const std::string image = TestImage("recovery_hostile");
    ASSERT_FALSE(image.empty());
    AddFat(image, "H:");
    std::vector<std::string> listed;
    for (const FoundItem& item : m_catalog.m_volumes[0].items)
        listed.push_back(item.path + "\\" + item.name);
    const std::string root = ScratchDir("hostile");
    const std::string dest = root + "/dest";
    ASSERT_EQ(Recover("H:", {{"HOST", 1}}, dest), kOk);

    // Everything made lies below dest; nothing appeared beside it.
    EXPECT_EQ(Tree(root).front(), "dest/");
    for (const std::string& rel : Tree(root))
        EXPECT_TRUE(rel.starts_with("dest/")) << rel;
    const std::string canonical = std::filesystem::canonical(dest).string() + "/";
    std::multiset<std::string> contents;
    for (const std::string& rel : Tree(dest))
    {
        const std::string full = dest + "/" + rel;
        EXPECT_TRUE(std::filesystem::canonical(full).string().starts_with(canonical)) << rel;
        if (!rel.ends_with("/"))
            contents.insert(ReadText(full));
    }
    EXPECT_TRUE(std::filesystem::exists(dest + "/HOST/ab_cd long.txt"))
        << ::testing::PrintToString(Tree(dest)) << ::testing::PrintToString(listed);
    EXPECT_TRUE(std::filesystem::exists(dest + "/HOST/ct_l long.txt"));
    EXPECT_TRUE(std::filesystem::is_regular_file(dest + "/HOST/_.."));
    EXPECT_TRUE(std::filesystem::exists(dest + "/HOST/.._..r long/Inner File.txt"));
    const std::multiset<std::string> expected = {
        FatContent("HOST/ab-cd long.txt", 300), FatContent("HOST/ct-l long.txt", 310),
        FatContent("HOST/Zq", 320), FatContent("HOST/Yw dir long/Inner File.txt", 330),
        FatContent("HOST/Plain Name.txt", 340)};
    EXPECT_EQ(contents, expected) << ::testing::PrintToString(Tree(dest))
                                  << ::testing::PrintToString(listed);
}

// ---------------------------------------------------------------------------------------------
// NTFS: ntfs.sh's ntfs-scan volume, checked against The Sleuth Kit's icat

class RecoveryNtfs : public RecoveryBase
{
protected:
    void SetUp() override
    {
        m_image = TestImage("ntfs-scan");
        ASSERT_FALSE(m_image.empty());
        m_dest = ScratchDir("dest");
    }

    // icat's bytes of the record that holds item.
    std::string Icat(const FoundItem& item)
    {
        CNtfs& ntfs = *NtfsOf(m_catalog.m_volumes[0]);
        for (s64 r = 0; r < static_cast<s64>(ntfs.RecordCount()); ++r)
        {
            s64 sector = r;
            if (ntfs.RecordToSector(sector) && static_cast<u64>(sector) == item.first)
            {
                std::string out;
                EXPECT_EQ(RunCommand("icat '" + m_image + "' " + std::to_string(r), &out), 0);
                return out;
            }
        }
        ADD_FAILURE() << "no record for " << item.name;
        return std::string();
    }

    std::string m_image;
    std::string m_dest;
};

TEST_F(RecoveryNtfs, ResidentAndNonResidentDataMatchIcat)
{
    AddNtfs(m_image);
    ASSERT_EQ(Recover("N:", {{"frag.bin", 0}, {"old", 1}}, m_dest), kOk);
    ASSERT_EQ(Recover("N:\\docs",
                      {{"deleted.txt", 0},
                       {"big.bin", 0},
                       {"report.doc", 0},
                       {"Final Report 2024.txt", 0},
                       {"caf\xC3\xA9 \xC3\xBC.txt", 0},
                       {"sub", 1}},
                      m_dest + "/docs"),
              kOk);
    EXPECT_TRUE(m_sink.Of(kRecoverWarning).empty());
    EXPECT_EQ(m_sink.Of(kRecoverFinished).size(), 2u);
    const std::pair<const char*, const char*> files[] = {
        {"N:", "frag.bin"},
        {"N:\\old", "gone.txt"},
        {"N:\\old\\inner", "deep.txt"},
        {"N:\\docs", "deleted.txt"},
        {"N:\\docs", "big.bin"},
        {"N:\\docs", "report.doc"},
        {"N:\\docs", "Final Report 2024.txt"},
        {"N:\\docs", "caf\xC3\xA9 \xC3\xBC.txt"},
        {"N:\\docs\\sub", "nested.txt"},
    };
    std::vector<std::string> expectedTree;
    for (const auto& [path, name] : files)
    {
        const FoundItem* item = Item(path, name);
        ASSERT_NE(item, nullptr) << path << "\\" << name;
        const std::string rel = MapFolder(item->path.str(), "N:", ".").substr(1) + "/" + name;
        expectedTree.push_back(rel.substr(1));
        const std::string ours = ReadText(m_dest + rel);
        EXPECT_EQ(ours.size(), item->size) << rel;
        EXPECT_EQ(ours, Icat(*item)) << rel;
    }
    expectedTree.insert(expectedTree.end(), {"docs/", "docs/sub/", "old/", "old/inner/"});
    std::sort(expectedTree.begin(), expectedTree.end());
    EXPECT_EQ(Tree(m_dest), expectedTree);
    // Resident values come without range or steps; run lists with both.
    const std::vector<Event>& events = m_sink.events;
    for (std::size_t i = 0; i + 1 < events.size(); ++i)
    {
        if (events[i].code != kRecoverFile)
            continue;
        if (events[i].text == "Recovering N:\\docs\\deleted.txt")
        {
            EXPECT_EQ(events[i + 1].code, kRecoverFile);
        }
        if (events[i].text == "Recovering N:\\docs\\big.bin")
        {
            EXPECT_EQ(events[i + 1].code, kRecoverRange);
        }
    }
}

TEST_F(RecoveryNtfs, EncryptedDataIsCopiedAsStoredWithAWarning)
{
    // big.bin's $DATA flagged encrypted, in a copy of the volume.
    AddNtfs(m_image);
    const FoundItem* item = Item("N:\\docs", "big.bin");
    ASSERT_NE(item, nullptr);
    const u64 recordAt = item->first * 512;
    const std::string expected = Icat(*item);
    const std::string copy = ScratchDir("encrypted") + "/volume.img";
    std::filesystem::copy_file(m_image, copy);
    {
        std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
        std::vector<u8> record(1024);
        f.seekg(static_cast<std::streamoff>(recordAt));
        f.read(reinterpret_cast<char*>(record.data()), 1024);
        CAttributeIterator walk(ByteView(record.data(), record.size()));
        NtfsAttribute data;
        ASSERT_EQ(walk.Find(0x80, &data), kNtfsOk);
        const u64 flags = recordAt + data.offset + 0x0C;
        f.seekp(static_cast<std::streamoff>(flags));
        const char encrypted[2] = {0, 0x40};
        f.write(encrypted, 2);
    }
    m_catalog.m_volumes.clear();
    AddNtfs(copy, "M:");
    ASSERT_EQ(Recover("M:\\docs", {{"big.bin", 0}}, m_dest), kOk);
    EXPECT_EQ(ReadText(m_dest + "/big.bin"), expected);
    const std::vector<Event> warnings = m_sink.Of(kRecoverWarning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].extra, kWarnIncomplete);
    EXPECT_NE(warnings[0].text.find("M:\\docs\\big.bin is encrypted"), std::string::npos)
        << warnings[0].text;
}

TEST_F(RecoveryNtfs, SparseRunsBecomeHolesNotVolumeBytes)
{
    AddNtfs(m_image);
    const FoundItem* item = Item("N:\\docs", "huge.iso");
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(item->size, 5ull << 30);
    FakeHost host;
    host.freeSpace = [](const std::string&, u64* blockSize, u64* freeBlocks)
    {
        *blockSize = 4096;
        *freeBlocks = 1ull << 40;
        return true;
    };
    SetRecoveryHost(&host);
    ASSERT_EQ(Recover("N:\\docs", {{"huge.iso", 0}}, m_dest), kOk);
    EXPECT_TRUE(m_sink.Of(kRecoverWarning).empty());
    const std::string file = m_dest + "/huge.iso";
    struct stat st = {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(static_cast<u64>(st.st_size), 5ull << 30);
    EXPECT_LT(st.st_blocks, 64) << "the holes were written out";
    std::ifstream in(file, std::ios::binary);
    std::string head(65536, 'x');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    EXPECT_EQ(head, std::string(65536, '\0'));
}

TEST_F(RecoveryNtfs, UnreadableVolumeWarnsForEveryFile)
{
    auto reader = std::make_unique<CFaulty_RW>(Bytes(m_image));
    CFaulty_RW* faulty = reader.get();
    AddNtfs(m_image, "N:", std::move(reader));
    faulty->FailAfter(0);
    ASSERT_EQ(Recover("N:\\docs", {{"deleted.txt", 0}, {"big.bin", 0}}, m_dest), kOk);
    const std::vector<Event> warnings = m_sink.Of(kRecoverWarning);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].text.find("N:\\docs\\deleted.txt"), std::string::npos);
    EXPECT_NE(warnings[1].text.find("N:\\docs\\big.bin"), std::string::npos);
    EXPECT_EQ(ReadText(m_dest + "/deleted.txt"), "");
    EXPECT_EQ(ReadText(m_dest + "/big.bin"), "");
    EXPECT_TRUE(Finished(m_sink));
}

TEST_F(RecoveryNtfs, ResidentValueReachingPastItsRecordIsClippedWithAWarning)
{
    AddNtfs(m_image);
    FoundItem* item = Item("N:\\docs", "deleted.txt");
    ASSERT_NE(item, nullptr);
    u16 offset = 0;
    ASSERT_TRUE(NtfsDataIsResident(RecordDataOf(*item), &offset));
    const u64 valueBytes = item->size;
    item->size = 1024 - offset + 100;
    // Read again from its record, the value ends where its attribute says; an item known only
    // by its data block is cut at the record's end.
    ASSERT_EQ(Recover("N:\\docs", {{"deleted.txt", 0}}, m_dest), kOk);
    EXPECT_EQ(ReadText(m_dest + "/deleted.txt").size(), valueBytes);
    EXPECT_EQ(m_sink.Of(kRecoverWarning).size(), 1u);
    EXPECT_TRUE(Finished(m_sink));
    item->record = 0;
    const std::string blockDest = ScratchDir("block");
    ASSERT_EQ(Recover("N:\\docs", {{"deleted.txt", 0}}, blockDest), kOk);
    EXPECT_EQ(ReadText(blockDest + "/deleted.txt").size(), 1024u - offset);
    EXPECT_EQ(m_sink.Of(kRecoverWarning).size(), 2u);
}
