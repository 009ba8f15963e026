// The built orlavent-cli on volumes made by mkfs.fat/mtools and mkntfs/libntfs-3g: scan
// listings against expected ones, recovered bytes against the recipes' content and The Sleuth
// Kit's icat, name clashes, Ctrl-C, hostile names, unusable destinations, and images that stay
// untouched.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
constexpr const char* kFinished = "Finished Recovery Successfully.";

std::string Sha256(const std::string& path)
{
    std::string out;
    EXPECT_EQ(RunCommand("sha256sum '" + path + "'", &out), 0);
    return out.substr(0, 64);
}

// The text of a file the run must have written.
std::string ReadWritten(const fs::path& path)
{
    EXPECT_TRUE(fs::is_regular_file(path)) << "cannot read " << path;
    return ReadText(path);
}

// The bytes The Sleuth Kit's icat reads for a metadata address.
std::string Icat(const std::string& image, const std::string& address)
{
    std::string out;
    EXPECT_EQ(RunCommand("icat '" + image + "' " + address, &out), 0) << address;
    return out;
}

// Metadata address of a deleted path in fls -r -d output ("r/r * 581:\tDOCS/GONE.TXT").
std::string DeletedAddress(const std::string& image, const std::string& path)
{
    std::string out;
    EXPECT_EQ(RunCommand("fls -r -d '" + image + "'", &out), 0);
    for (const std::string& line : Lines(out))
    {
        std::size_t tab = line.find('\t');
        std::size_t star = line.find("* ");
        if (tab != std::string::npos && star != std::string::npos && line.substr(tab + 1) == path)
            return line.substr(star + 2, line.find(':', star) - star - 2);
    }
    ADD_FAILURE() << "fls lists no deleted " << path;
    return "0";
}

// Every image used by a test is checked to be unchanged when the test ends.
class OrlaventCliTest : public ::testing::Test
{
protected:
    std::string Image(const std::string& name)
    {
        std::string path = TestImage(name);
        if (!path.empty() && !m_hashes.contains(path))
            m_hashes[path] = Sha256(path);
        return path;
    }
    void TearDown() override
    {
        for (const auto& [path, hash] : m_hashes)
            EXPECT_EQ(Sha256(path), hash) << path << " was modified";
    }

    std::map<std::string, std::string> m_hashes;
};

// scan --json output with the times that the build sets (folders on FAT, everything on NTFS)
// replaced by "*", so that it can be compared with a stored listing.
std::string StableListing(const std::string& json)
{
    static const std::regex time(
        "\"(created|accessed)\":\"(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)\"");
    std::string out;
    for (const std::string& line : Lines(json))
    {
        EXPECT_EQ(std::distance(std::sregex_iterator(line.begin(), line.end(), time),
                                std::sregex_iterator()),
                  2)
            << line;
        bool stable = line.find("\"fs\":\"NTFS\"") == std::string::npos &&
                      line.find("\"dir\":false") != std::string::npos;
        out += stable ? line : std::regex_replace(line, time, "\"$1\":\"*\"");
        out += '\n';
    }
    return out;
}

struct ListingCase
{
    const char* image;
    const char* expected; // file under tests/e2e/expected
};

class OrlaventCliListingTest : public OrlaventCliTest,
                               public ::testing::WithParamInterface<ListingCase>
{
};

TEST_P(OrlaventCliListingTest, ScanJsonMatchesExpectedListing)
{
    std::string image = Image(GetParam().image);
    ASSERT_FALSE(image.empty());
    CliResult run = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(run.status, 0) << run.err;
    std::string expected =
        ReadWritten(fs::path(ORL_SOURCE_DIR) / "tests/e2e/expected" / GetParam().expected);
    EXPECT_EQ(StableListing(run.out), expected);
}

INSTANTIATE_TEST_SUITE_P(Images, OrlaventCliListingTest,
                         // The ambiguous images carry a stray signature that makes libblkid
                         // name no file system: sector 0 decides, and the finds are the same.
                         ::testing::Values(ListingCase{"fat32", "fat32.jsonl"},
                                           ListingCase{"ntfs-scan", "ntfs-scan.jsonl"},
                                           ListingCase{"fat32-ambiguous", "fat32.jsonl"},
                                           ListingCase{"ntfs-scan-ambiguous", "ntfs-scan.jsonl"}),
                         [](const ::testing::TestParamInfo<ListingCase>& param)
                         {
                             std::string name = param.param.image;
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

// scan lists a live folder only when a deleted find lies below it, in the text listing as in
// the JSON one, and the text listing's count line counts what it lists.
TEST_F(OrlaventCliTest, ScanListsOnlyTheLiveFoldersAboveFinds)
{
    static const std::regex item(
        R"re("path":"((?:[^"\\]|\\.)*)","name":"((?:[^"\\]|\\.)*)","dir":(true|false),"deleted":(\d))re");
    // Names and paths here hold no escapes but the doubled backslash.
    auto plain = [](const std::string& t)
    { return std::regex_replace(t, std::regex(R"(\\\\)"), "\\"); };
    for (const char* name : {"ntfs-scan", "fat32", "exfat-4k"})
    {
        SCOPED_TRACE(name);
        const std::string image = Image(name);
        ASSERT_FALSE(image.empty());
        CliResult json = RunCli({"scan", "--json", "C:=" + image});
        CliResult text = RunCli({"scan", "C:=" + image});
        ASSERT_EQ(json.status, 0) << json.err;
        ASSERT_EQ(text.status, 0) << text.err;
        std::vector<std::string> liveFolders;
        std::vector<std::string> deletedPaths;
        unsigned files = 0;
        unsigned folders = 0;
        for (const std::string& line : Lines(json.out))
        {
            std::smatch m;
            ASSERT_TRUE(std::regex_search(line, m, item)) << line;
            const std::string full = plain(m[1]) + "\\" + plain(m[2]);
            (m[3] == "true" ? folders : files) += 1;
            if (m[4] == "1")
                deletedPaths.push_back(full);
            else if (m[3] == "true")
                liveFolders.push_back(full);
            EXPECT_NE(text.out.find("  " + full + "\n"), std::string::npos) << full;
        }
        for (const std::string& folder : liveFolders)
            EXPECT_TRUE(std::any_of(deletedPaths.begin(), deletedPaths.end(),
                                    [&](const std::string& p)
                                    { return p.starts_with(folder + "\\"); }))
                << folder << " holds no deleted find";
        EXPECT_NE(text.out.find("  " + std::to_string(files) + " file(s), " +
                                std::to_string(folders) + " folder(s)\n"),
                  std::string::npos)
            << text.out;
    }
}

TEST_F(OrlaventCliTest, AmbiguousVolumeIsListedWithANote)
{
    std::string fat = Image("fat32-ambiguous");
    std::string ntfs = Image("ntfs-scan-ambiguous");
    ASSERT_FALSE(fat.empty());
    ASSERT_FALSE(ntfs.empty());
    CliResult run = RunCli({"drives", "C:=" + fat, "D:=" + ntfs});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string note =
        "  (other file-system signatures found too; searched as sector 0 says)";
    EXPECT_TRUE(std::regex_search(
        run.out, std::regex("\nC: +[A-Za-z-]+ +FAT +.*" +
                            std::regex_replace(note, std::regex("[()]"), "\\$&") + "\n")))
        << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\nD: +[A-Za-z-]+ +NTFS +"))) << run.out;
}

TEST_F(OrlaventCliTest, ScanListsVolumesInArgumentOrder)
{
    std::string fat = Image("fat32");
    std::string ntfs = Image("ntfs-scan");
    CliResult run = RunCli({"scan", "--json", ntfs, fat});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    // C: (the NTFS volume, named first) comes first, although it is searched last.
    auto firstFat =
        std::find_if(lines.begin(), lines.end(),
                     [](const std::string& l)
                     { return l.find("\"volume\":\"D:\",\"fs\":\"FAT32\"") != std::string::npos; });
    ASSERT_NE(firstFat, lines.begin());
    for (auto it = lines.begin(); it != lines.end(); ++it)
        EXPECT_EQ(it < firstFat, it->find("\"volume\":\"C:\",\"fs\":\"NTFS\"") != std::string::npos)
            << *it;

    CliResult text = RunCli({"scan", ntfs, fat});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("C: NTFS"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("D: FAT32"), std::string::npos) << text.out;
    EXPECT_TRUE(std::regex_search(
        text.out,
        std::regex("deleted +file +444 +2021-03-04 05:06:08 +good +D:\\\\DOCS\\\\_ONE\\.TXT")))
        << text.out;
}

TEST_F(OrlaventCliTest, TerminalShowsALiveProgressLine)
{
    std::string fat = Image("fat32");
    // script(1) runs the program on a pseudo-terminal; its standard error is that terminal.
    std::string out;
    std::string command = "script -qec \"'" + std::string(ORL_BINARY_DIR) +
                          "/orlavent-cli' scan '" + fat + "'\" /dev/null";
    ASSERT_EQ(RunCommand(command, &out), 0) << out;
    EXPECT_NE(out.find("\r\x1b[KSearching: "), std::string::npos) << out;
    EXPECT_NE(out.find("file(s)"), std::string::npos) << out;
    // Without a terminal there is no progress line.
    CliResult piped = RunCli({"scan", fat});
    EXPECT_EQ(piped.err.find("Searching"), std::string::npos) << piped.err;
}

TEST_F(OrlaventCliTest, ScanOfNoUsableVolumeFails)
{
    std::string blank = ScratchDir("e2e") + "/blank.img";
    std::ofstream(blank) << std::string(1 << 16, '\0');
    CliResult run = RunCli({"scan", blank});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(
        run.err.find("Failed to search deleted file(s) on Drive.\n\nPlease reselect another."),
        std::string::npos)
        << run.err;
    EXPECT_EQ(RunCli({"scan"}).status, 2);
    EXPECT_EQ(RunCli({"scan", "--bogus", blank}).status, 2);
}

// A listing that cannot be written (standard output on a full disk) is a failure, whether the
// lines were buffered or written in blocks straight to the descriptor.
TEST_F(OrlaventCliTest, UnwritableListingFails)
{
    const std::string image = Image("fat32");
    ASSERT_FALSE(image.empty());
    const std::string err = ScratchDir("e2e") + "/full.err";
    for (const char* format : {"--json ", ""})
    {
        const std::string command = std::string(ORL_BINARY_DIR) + "/orlavent-cli scan " + format +
                                    "'C:=" + image + "' >/dev/full 2>'" + err + "'";
        EXPECT_EQ(RunCommand(command, nullptr), 1) << format;
        EXPECT_NE(ReadWritten(err).find("the output could not be written in full"),
                  std::string::npos)
            << format;
    }
}

// A named pipe holds no volume: the commands say so at once instead of waiting for a writer.
TEST_F(OrlaventCliTest, NamedPipeSourceIsRefusedAtOnce)
{
    const std::string pipe = ScratchDir("e2e") + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    CliOptions quick;
    quick.timeoutSeconds = 20;
    const std::string reason = "neither an image file nor a block device";
    CliResult scan = RunCli({"scan", pipe}, quick);
    EXPECT_EQ(scan.status, 1);
    EXPECT_NE(scan.err.find("orlavent-cli: cannot open '" + pipe + "': " + reason + "\n"),
              std::string::npos)
        << scan.err;
    CliResult boot = RunCli({"bootinfo", pipe}, quick);
    EXPECT_EQ(boot.status, 1);
    EXPECT_NE(boot.err.find("C: " + pipe + ": is " + reason), std::string::npos) << boot.err;
}

// Record 0's run list claims 0x1FF00000 clusters (some 2^31 records) of a 2 TiB sparse volume:
// the scan reads only as far as the MFT's $DATA sizes reach, says so on standard error, and
// lists what the volume holds.
TEST_F(OrlaventCliTest, OverstatedMftRunListIsSearchedOnlyAsFarAsTheMftReaches)
{
    // Not through Image(): hashing 2 TiB of holes would take far longer than the scan.
    const std::string image = TestImage("ntfs-overstated-mft");
    ASSERT_FALSE(image.empty());
    CliOptions quick;
    quick.timeoutSeconds = 30;
    const auto start = std::chrono::steady_clock::now();
    CliResult run = RunCli({"scan", "--json", "C:=" + image}, quick);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::regex_search(
        run.err, std::regex("orlavent-cli: C: the MFT's run list claims 2143289344 records, but "
                            "its \\$DATA attribute holds [0-9]+; the records beyond are not "
                            "searched\n")))
        << run.err;
    static const std::regex item(
        "\"path\":(\"[^\"]*\"),\"name\":(\"[^\"]*\"),\"dir\":(true|false),\"deleted\":([01])");
    std::vector<std::string> items;
    for (const std::string& line : Lines(run.out))
    {
        std::smatch m;
        if (std::regex_search(line, m, item))
            items.push_back(m[1].str() + " " + m[2].str() + " " + m[3].str() + " " + m[4].str());
    }
    EXPECT_EQ(items,
              (std::vector<std::string>{R"("C:" "kept" true 0)", R"("C:\\kept" "gone.txt" false 1)",
                                        R"("C:" "old.txt" false 1)"}))
        << run.out;
}

// Names of up to 255 UTF-16 units (765 bytes of UTF-8 for CJK) are listed whole.
TEST_F(OrlaventCliTest, LongNtfsNamesAreListedWhole)
{
    const std::string image = Image("ntfs-long-names");
    ASSERT_FALSE(image.empty());
    auto repeat = [](const std::string& piece, int times)
    {
        std::string out;
        for (int i = 0; i < times; ++i)
            out += piece;
        return out;
    };
    const std::string cjk8 = "\xE6\x96\x87\xE4\xBB\xB6\xE5\x90\x8D\xE7\xA7\xB0\xE6\xB5\x8B\xE8\xAF"
                             "\x95\xE6\xBC\xA2\xE5\xAD\x97"; // 8 characters
    const std::string cjk255 = repeat(cjk8, 32).substr(0, 255 * 3);
    const std::vector<std::string> names = {std::string(251, 'n') + ".txt", cjk255,
                                            cjk255.substr(0, 128 * 3),
                                            repeat("\xF0\xA0\x80\x8B", 125) + ".txt"};
    CliResult json = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(json.status, 0) << json.err;
    CliResult text = RunCli({"scan", "C:=" + image});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(Lines(json.out).size(), names.size()) << json.out;
    for (const std::string& name : names)
    {
        EXPECT_NE(json.out.find("\"path\":\"C:\",\"name\":\"" + name + "\""), std::string::npos)
            << name;
        EXPECT_NE(text.out.find(" C:\\" + name + "\n"), std::string::npos) << name;
    }
}

TEST_F(OrlaventCliTest, DrivesListsLetterTypeFileSystemLabelAndSource)
{
    std::string fat = Image("fat32");
    CliResult run = RunCli({"drives", "K:=" + fat});
    ASSERT_EQ(run.status, 0) << run.err;
    std::regex row("K: +Fixed +FAT32 +ORLFAT32 +.*fat32\\.img");
    EXPECT_TRUE(std::regex_search(run.out, row)) << run.out;
}

// Run as an ordinary user, the drives command cannot open the machine's block devices: a loop
// device holding a FAT volume is left out and standard error says why. As root the same device
// is listed and nothing is said.
TEST_F(OrlaventCliTest, DrivesTellsAnOrdinaryUserToRunAsAdministrator)
{
    ASSERT_EQ(geteuid(), 0u) << "needs root: it attaches a loop device and runs as nobody";
    const std::string notice = "orlavent-cli: Run as administrator to search the disks.\n";
    std::string fat = Image("fat32");
    // A copy of the program where nobody may run it: the build tree may sit in root's home.
    char folder[] = "/tmp/orlavent-user-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const fs::path program = fs::path(folder) / "orlavent-cli";
    fs::copy_file(fs::path(ORL_BINARY_DIR) / "orlavent-cli", program);
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    std::string device;
    EXPECT_EQ(RunCommand("losetup -f --show -r '" + fat + "'", &device), 0);
    device.erase(device.find_last_not_of(" \n") + 1);
    if (device.empty())
        fs::remove_all(folder);
    ASSERT_FALSE(device.empty()) << "losetup needs root and a free loop device";

    CliResult asRoot = RunCli({"drives"});
    CliOptions ordinary;
    ordinary.user = "nobody";
    ordinary.program = program.string();
    CliResult asUser = RunCli({"drives"}, ordinary);
    (void)RunCommand("losetup -d " + device);
    fs::remove_all(folder);

    EXPECT_EQ(asRoot.status, 0) << asRoot.err;
    EXPECT_TRUE(std::regex_search(asRoot.out, std::regex(" FAT32 +ORLFAT32 +" + device + "\n")))
        << asRoot.out;
    EXPECT_EQ(asRoot.err.find(notice), std::string::npos) << asRoot.err;
    EXPECT_EQ(asUser.status, 0) << asUser.err;
    EXPECT_EQ(asUser.out.find(device), std::string::npos) << asUser.out;
    EXPECT_NE(asUser.err.find(notice), std::string::npos) << asUser.err;
}

TEST_F(OrlaventCliTest, RecoversFilesAndFoldersWithTheirBytes)
{
    std::string fat = Image("fat32");
    std::string dest = ScratchDir("e2e") + "/out";
    CliResult run = RunCli({"recover", "--to", dest, "--item", "C:\\DOCS\\_ONE.TXT", "--item",
                            "c:\\_LDDIR\\", "--item", "C:\\DOCS\\SUB\\Old Draft Notes.txt", fat});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Recovering C:\\_LDDIR\\_NNER\\_NNER.TXT"), std::string::npos);
    EXPECT_NE(run.out.find(kFinished), std::string::npos);

    // The recipe's content; the first byte of a deleted short name is lost.
    const std::map<std::string, std::pair<std::string, unsigned>> expected = {
        {"_ONE.TXT", {"DOCS/GONE.TXT", 444}},
        {"Old Draft Notes.txt", {"DOCS/SUB/Old Draft Notes.txt", 3000}},
        {"_LDDIR/_EEP1.TXT", {"OLDDIR/KEEP1.TXT", 500}},
        {"_LDDIR/Old Long Name.txt", {"OLDDIR/Old Long Name.txt", 600}},
        {"_LDDIR/_NNER/_NNER.TXT", {"OLDDIR/INNER/INNER.TXT", 700}},
    };
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dest))
        files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, expected.size());
    for (const auto& [file, source] : expected)
        EXPECT_EQ(ReadWritten(fs::path(dest) / file), FatContent(source.first, source.second))
            << file;
    // The Sleuth Kit reads the same bytes.
    EXPECT_EQ(ReadWritten(fs::path(dest) / "_ONE.TXT"),
              Icat(fat, DeletedAddress(fat, "DOCS/_ONE.TXT")));
}

TEST_F(OrlaventCliTest, RecoversNtfsRootLikeIcat)
{
    std::string ntfs = Image("ntfs-scan");
    std::string dest = ScratchDir("e2e") + "/out";
    CliResult run = RunCli({"recover", "--to", dest, ntfs});
    // The three report.doc files hold plain text: copied, each named in a warning as damaged,
    // and so not intact.
    ASSERT_EQ(run.status, 3) << run.err;
    EXPECT_TRUE(run.out.ends_with("3 file(s) do not hold together as files of their type (see the "
                                  "warnings).\n"))
        << run.out;
    for (const char* doc : {"report.doc", "report_1_.doc", "report_2_.doc"})
        EXPECT_NE(run.err.find(std::string(doc) + " is damaged: its contents do not hold together "
                                                  "as a doc file"),
                  std::string::npos)
            << run.err;
    for (const char* path : {"docs/deleted.txt", "docs/big.bin", "docs/sub/nested.txt",
                             "old/inner/deep.txt", "old/gone.txt", "frag.bin"})
        EXPECT_EQ(ReadWritten(fs::path(dest) / path), Icat(ntfs, DeletedAddress(ntfs, path)))
            << path;
    // A file whose parent record was lost lands in its numbered folder below the root.
    EXPECT_TRUE(fs::exists(fs::path(dest) / "Folder_1_" / "f.txt"));
}

TEST_F(OrlaventCliTest, ExistingNameGetsNewPrefix)
{
    std::string fat = Image("fat32");
    std::string dest = ScratchDir("e2e") + "/out";
    std::vector<std::string> args = {"recover", "--to", dest, "--item", "C:\\DOCS\\_ONE.TXT", fat};
    ASSERT_EQ(RunCli(args).status, 0);
    CliResult second = RunCli(args);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(ReadWritten(fs::path(dest) / "New _ONE.TXT"), FatContent("DOCS/GONE.TXT", 444));
    EXPECT_EQ(ReadWritten(fs::path(dest) / "_ONE.TXT"), FatContent("DOCS/GONE.TXT", 444));
}

TEST_F(OrlaventCliTest, InterruptStopsRecoveryAndKeepsWhatWasWritten)
{
    std::string big = Image("e2e-big");
    std::string dest = ScratchDir("e2e") + "/out";
    CliOptions options;
    options.interruptOn = "Recovering C:\\_IG.DAT";
    // At 16 MiB a second the copy of the 150 MiB file takes nine seconds: the interrupt lands in
    // its middle however fast the machine copies.
    CliResult run = RunCli(
        {"recover", "--to", dest, "--max-rate", "16M", "--item", "C:\\_IG.DAT", big}, options);
    ASSERT_TRUE(run.interruptSent) << run.out << run.err;
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_TRUE(run.err.ends_with("recovery stopped; C:\\_IG.DAT was left incomplete\n"))
        << run.err;
    EXPECT_NE(run.err.find("warning: Stopped while copying C:\\_IG.DAT"), std::string::npos);
    EXPECT_EQ(run.out.find(kFinished), std::string::npos) << "a stop is no success";

    // The part written is the start of the file: lines "%010u\n" counting from 1.
    std::string data = ReadWritten(fs::path(dest) / "_IG.DAT");
    EXPECT_GT(data.size(), 0u);
    EXPECT_LT(data.size(), 157286400u);
    std::size_t whole = data.size() / 11;
    for (std::size_t line = 0; line < whole; line += 997)
    {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%010zu\n", line + 1);
        ASSERT_EQ(data.substr(line * 11, 11), expected) << "line " << line + 1;
    }
}

TEST_F(OrlaventCliTest, HostileNamesStayInsideTheDestination)
{
    std::string hostile = Image("recovery-hostile");
    std::string scratch = ScratchDir("e2e");
    std::string dest = scratch + "/a/b/out";
    CliResult run = RunCli({"recover", "--to", dest, hostile});
    ASSERT_EQ(run.status, 0) << run.err;
    // Nothing but the destination chain appears in the scratch folder.
    for (const auto& e : fs::recursive_directory_iterator(scratch))
    {
        std::string path = e.path().string();
        bool inside = path.starts_with(dest + "/") || dest.starts_with(path);
        EXPECT_TRUE(inside) << path;
        if (e.is_regular_file())
        {
            EXPECT_GT(fs::file_size(e.path()), 0u) << path;
        }
    }
    // Control characters reach neither the terminal nor the JSON unescaped.
    for (char c : run.out)
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n') << run.out;
    CliResult json = RunCli({"scan", "--json", hostile});
    ASSERT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("ct\\u0001l long.txt"), std::string::npos) << json.out;
}

TEST_F(OrlaventCliTest, UncreatableDestinationFallsBackToTheDefaultFolder)
{
    std::string fat = Image("fat32");
    std::string scratch = ScratchDir("e2e");
    std::ofstream(scratch + "/file") << "a file, not a folder";
    fs::create_directories(scratch + "/home");
    CliOptions options;
    options.env["HOME"] = scratch + "/home";
    CliResult run =
        RunCli({"recover", "--to", scratch + "/file/sub/out", "--item", "C:\\DOCS\\_ONE.TXT", fat},
               options);
    // Written whole, but not where it was asked for: named, and the outcome says so.
    ASSERT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find("Use default directory due to a failed directory creation"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("warning: C:\\DOCS\\_ONE.TXT was written to " + scratch +
                           "/home/Founded Files/_ONE.TXT"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out.find(kFinished), std::string::npos);
    EXPECT_TRUE(run.out.ends_with("1 file(s) were written below the default folder instead of "
                                  "the destination (see the warnings).\n"))
        << run.out;
    EXPECT_EQ(ReadWritten(scratch + "/home/Founded Files/_ONE.TXT"),
              FatContent("DOCS/GONE.TXT", 444));

    // With the default folder unusable too, nothing starts.
    options.env["HOME"] = scratch + "/file";
    CliResult none =
        RunCli({"recover", "--to", scratch + "/file/sub/out", "--item", "C:\\DOCS\\_ONE.TXT", fat},
               options);
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("Failed to recover deleted file(s)."), std::string::npos) << none.err;
    EXPECT_EQ(none.out.find(kFinished), std::string::npos);
}

TEST_F(OrlaventCliTest, UnknownItemRecoversNothing)
{
    std::string fat = Image("fat32");
    std::string dest = ScratchDir("e2e") + "/out";
    CliResult run = RunCli({"recover", "--to", dest, "--item", "C:\\DOCS\\_ONE.TXT", "--item",
                            "C:\\NO\\SUCH.TXT", fat});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("C:\\NO\\SUCH.TXT"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(fs::path(dest) / "_ONE.TXT"));
}
} // namespace
