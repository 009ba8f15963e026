// What a hostile destination or a damaged find must never make a recovery do: follow a link or
// a file planted where a folder belongs, flatten diverted files, stop at paths longer than
// PATH_MAX, or end the whole run over one impossible size.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/UserFolders.h"

#include "recovery/RecoveryFixture.h"

using namespace recoverytest;

namespace
{
// Reads a file through descriptors, level by level, so that no path length limit applies.
std::string ReadDeep(const std::string& root, const std::vector<std::string>& levels,
                     const std::string& name)
{
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (const std::string& level : levels)
    {
        const int next = fd < 0 ? -1 : ::openat(fd, level.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd >= 0)
            ::close(fd);
        fd = next;
    }
    const int file = fd < 0 ? -1 : ::openat(fd, name.c_str(), O_RDONLY);
    if (fd >= 0)
        ::close(fd);
    std::string out;
    char buffer[4096];
    ssize_t n = 0;
    while (file >= 0 && (n = ::read(file, buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<std::size_t>(n));
    if (file >= 0)
        ::close(file);
    return out;
}

std::vector<Event> WarningsOf(const RecordingSink& sink, u32 kind)
{
    std::vector<Event> out;
    for (const Event& e : sink.Of(kRecoverWarning))
        if (e.extra == kind)
            out.push_back(e);
    return out;
}

// The deleted folder _LDDIR of fat16 as a folder selection writes it.
const std::vector<std::string> kOldDirTree = {"_LDDIR/", "_LDDIR/Old Long Name.txt",
                                              "_LDDIR/_EEP1.TXT", "_LDDIR/_NNER/",
                                              "_LDDIR/_NNER/_NNER.TXT"};

class RecoverySafety : public RecoveryBase
{
protected:
    void SetUp() override
    {
        m_image = TestImage("fat16");
        ASSERT_FALSE(m_image.empty());
        m_dest = ScratchDir("dest");
        m_home = ScratchDir("home");
        m_outside = ScratchDir("outside");
        AddFat(m_image);
    }
    std::string m_image;
    std::string m_dest;
    std::string m_home;
    std::string m_outside;
};

struct PlantCase
{
    const char* name;
    const char* level; // below the destination
    int kind;          // 0 link to a folder outside, 1 dangling link, 2 link owned by nobody,
                       // 3 regular file
    std::size_t diverted;
    std::size_t boxes; // the folder messages, once per folder that failed
};
void PrintTo(const PlantCase& c, std::ostream* os)
{
    *os << c.name;
}

class RecoveryPlantedLevel : public RecoverySafety, public ::testing::WithParamInterface<PlantCase>
{
};
} // namespace

TEST_P(RecoveryPlantedLevel, IsNeverUsedAndItsFilesKeepTheirLevelsBelowTheDefaultFolder)
{
    const PlantCase& c = GetParam();
    HomeOverride home(m_home);
    const std::string planted = m_dest + "/" + c.level;
    if (std::string(c.level).find('/') != std::string::npos)
    {
        ASSERT_EQ(::mkdir((m_dest + "/_LDDIR").c_str(), 0755), 0);
    }
    if (c.kind == 3)
        WriteText(planted, "in the way");
    else
    {
        ASSERT_EQ(
            ::symlink(c.kind == 1 ? "/nonexistent/target" : m_outside.c_str(), planted.c_str()), 0);
    }
    if (c.kind == 2)
    {
        ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0) << "needs root";
    }

    ASSERT_EQ(Recover("C:", {{"_LDDIR", 1}}, m_dest), kOk);
    EXPECT_TRUE(Tree(m_outside).empty()) << "a planted link was followed";
    std::vector<std::string> everywhere = Tree(m_home + "/Founded Files");
    for (const std::string& entry : Tree(m_dest))
        if (entry != c.level && !entry.starts_with("../"))
            everywhere.push_back(entry);
    std::sort(everywhere.begin(), everywhere.end());
    everywhere.erase(std::unique(everywhere.begin(), everywhere.end()), everywhere.end());
    EXPECT_EQ(everywhere, kOldDirTree) << "every file is written once, with its levels";
    EXPECT_EQ(ReadText(m_home + "/Founded Files/_LDDIR/_NNER/_NNER.TXT"),
              FatContent("OLDDIR/INNER/INNER.TXT", 700));
    const std::vector<Event> diverted = WarningsOf(m_sink, kWarnDiverted);
    EXPECT_EQ(diverted.size(), c.diverted);
    for (const Event& e : diverted)
        EXPECT_NE(e.text.find("C:\\_LDDIR\\"), std::string::npos) << e.text;
    EXPECT_TRUE(WarningsOf(m_sink, kWarnIncomplete).empty());
    EXPECT_EQ(m_box.shown.size(), c.boxes);
    EXPECT_TRUE(Finished(m_sink));
    if (c.kind == 3)
    {
        EXPECT_EQ(ReadText(planted), "in the way");
    }
}

INSTANTIATE_TEST_SUITE_P(RecoverySafety, RecoveryPlantedLevel,
                         ::testing::Values(PlantCase{"LinkToAFolderOutside", "_LDDIR", 0, 3, 3},
                                           PlantCase{"DanglingLink", "_LDDIR", 1, 3, 3},
                                           PlantCase{"LinkOwnedByAnotherUser", "_LDDIR", 2, 3, 3},
                                           PlantCase{"FileWhereAFolderBelongs", "_LDDIR", 3, 3, 3},
                                           PlantCase{"LinkOneLevelDown", "_LDDIR/_NNER", 0, 1, 1}),
                         [](const ::testing::TestParamInfo<PlantCase>& p)
                         { return std::string(p.param.name); });

TEST_F(RecoverySafety, DestinationBelowAFileSendsEveryFileToTheDefaultFolderWithItsLevels)
{
    HomeOverride home(m_home);
    WriteText(m_dest + "/plain", "x");
    ASSERT_EQ(Recover("C:", {{"_LDDIR", 1}}, m_dest + "/plain/sub"), kOk);
    EXPECT_EQ(Tree(m_home + "/Founded Files"), kOldDirTree);
    EXPECT_EQ(WarningsOf(m_sink, kWarnDiverted).size(), 3u);
    EXPECT_TRUE(Finished(m_sink));
}

TEST_F(RecoverySafety, WhatIsMadeBelongsToTheUserPkexecActsFor)
{
    // The program reads the user from pkexec's variable, only when it runs as root.
    ::setenv("PKEXEC_UID", "65534", 1);
    const std::optional<InvokingUser> user = PkexecUser();
    ::unsetenv("PKEXEC_UID");
    ASSERT_TRUE(user.has_value()) << "needs root and a passwd entry for uid 65534";
    EXPECT_EQ(user->uid, 65534u);
    EXPECT_FALSE(PkexecUser().has_value());

    SetRecoveredFilesOwner(user->uid, user->gid);
    const u32 status = Recover("C:", {{"_LDDIR", 1}}, m_dest + "/new/level");
    ResetRecoveredFilesOwner();
    ASSERT_EQ(status, kOk);
    for (const char* entry : {"new", "new/level", "new/level/_LDDIR", "new/level/_LDDIR/_NNER",
                              "new/level/_LDDIR/_NNER/_NNER.TXT", "new/level/_LDDIR/_EEP1.TXT"})
    {
        struct stat st = {};
        ASSERT_EQ(::lstat((m_dest + "/" + std::string(entry)).c_str(), &st), 0) << entry;
        EXPECT_EQ(st.st_uid, user->uid) << entry;
    }
    // What existed before keeps its owner.
    struct stat dest = {};
    ASSERT_EQ(::lstat(m_dest.c_str(), &dest), 0);
    EXPECT_EQ(dest.st_uid, ::getuid());
}

TEST_F(RecoverySafety, PathsLongerThanPathMaxAreWrittenLevelByLevel)
{
    // 45 levels of 100 characters: 4,545 bytes below the destination.
    FoundItem file = *Item("C:", "_ELROOT.TXT");
    std::vector<std::string> levels;
    std::string path = "C:";
    for (int i = 0; i < 45; ++i)
    {
        levels.push_back(std::string(98, static_cast<char>('a' + i % 26)) + std::to_string(10 + i));
        path += "\\" + levels.back();
    }
    file.path = path;
    file.name = "deep.txt";
    m_catalog.m_volumes[0].items.push_back(file);
    ASSERT_EQ(Recover("C:", {{levels[0], 1}}, m_dest), kOk);
    EXPECT_EQ(ReadDeep(m_dest, levels, "deep.txt"), FatContent("DELROOT.TXT", 333));
    EXPECT_TRUE(m_sink.Of(kRecoverWarning).empty());
    EXPECT_TRUE(Finished(m_sink));
}

TEST_F(RecoverySafety, SizeLargerThanTheVolumeIsCutToItWithAWarningAndTheRunGoesOn)
{
    const FatVolumeState& volume = *FatStateOf(m_catalog.m_volumes[0]);
    FoundItem huge = *Item("C:", "_ELROOT.TXT");
    huge.name = "HUGE.BIN";
    huge.size = 0xFFFFFFFFu;
    m_catalog.m_volumes[0].items.push_back(huge);
    const u64 readable = (static_cast<u64>(volume.clusterCount) - huge.first + 1) *
                         volume.sectorsPerCluster * volume.bytesPerSector;
    ASSERT_EQ(Recover("C:", {{"HUGE.BIN", 0}, {"_ELROOT.TXT", 0}}, m_dest), kOk);
    EXPECT_TRUE(m_sink.Of(kRecoverFatal).empty());
    EXPECT_EQ(ReadText(m_dest + "/HUGE.BIN").size(), readable);
    EXPECT_EQ(ReadText(m_dest + "/_ELROOT.TXT"), FatContent("DELROOT.TXT", 333));
    const std::vector<Event> warnings = m_sink.Of(kRecoverWarning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].extra, kWarnIncomplete);
    EXPECT_EQ(warnings[0].text.rfind("C:\\HUGE.BIN claims 4294967295 bytes", 0), 0u)
        << warnings[0].text;
    EXPECT_TRUE(Finished(m_sink));
}

TEST_F(RecoveryBase, NtfsRunsClaimingMoreThanTheVolumeAreCutWithAWarning)
{
    const std::string image = TestImage("ntfs-scan");
    ASSERT_FALSE(image.empty());
    AddNtfs(image);
    const std::string dest = ScratchDir("dest");
    CNtfs& ntfs = *NtfsOf(m_catalog.m_volumes[0]);
    const u64 clusterBytes =
        static_cast<u64>(ntfs.GetSectorsPerCluster()) * ntfs.GetBytesPerSector();
    const u64 volumeClusters = ntfs.Boot().totalSectors / ntfs.GetSectorsPerCluster();
    // Sizes of 2^40, 2^63 and 2^64 - 1 bytes over one run of 4G clusters from cluster 16.
    const u64 sizes[] = {1ull << 40, 1ull << 63, ~0ull};
    // A deleted file of N:\docs whose data block holds runs (its length byte first).
    std::vector<SelEntry> selection;
    auto add = [&](const std::string& name, u64 size, const std::vector<u8>& runs)
    {
        FoundItem item;
        item.path = "N:\\docs";
        item.name = name;
        item.attr = 0x20;
        item.deleted = 1;
        item.size = size;
        u8* block = static_cast<u8*>(g_MemPool.Alloc(static_cast<int>(runs.size())));
        ASSERT_NE(block, nullptr);
        std::memcpy(block, runs.data(), runs.size());
        item.SetPayload(FindPayload::kRecordData, block);
        m_catalog.m_volumes[0].items.push_back(item);
        selection.push_back({name, 0});
    };
    for (std::size_t i = 0; i < 3; ++i)
        add("claims" + std::to_string(i) + ".bin", sizes[i],
            {10, 0x44, 0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0x00, 0x00, 0x00, 0x00});
    // A hole of 2^62 clusters: its byte length does not fit 64 bits, and the file is a hole of
    // its size all the same.
    add("sparse.bin", 1u << 20, {10, 0x08, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x00});
    selection.push_back({"deleted.txt", 0});
    ASSERT_NE(Item("N:\\docs", "deleted.txt"), nullptr);
    ASSERT_EQ(Recover("N:\\docs", selection, dest), kOk);
    EXPECT_TRUE(m_sink.Of(kRecoverFatal).empty());
    for (std::size_t i = 0; i < 3; ++i)
    {
        struct stat st = {};
        ASSERT_EQ(::stat((dest + "/claims" + std::to_string(i) + ".bin").c_str(), &st), 0);
        EXPECT_EQ(static_cast<u64>(st.st_size), (volumeClusters - 16) * clusterBytes);
    }
    EXPECT_EQ(WarningsOf(m_sink, kWarnIncomplete).size(), 3u);
    EXPECT_EQ(ReadText(dest + "/sparse.bin"), std::string(1u << 20, '\0'));
    EXPECT_EQ(ReadText(dest + "/deleted.txt").size(), 200u);
    EXPECT_TRUE(Finished(m_sink));
}
