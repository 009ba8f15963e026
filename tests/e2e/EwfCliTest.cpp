// The built orlavent-cli on Expert Witness images that ewfacquire wrote at test time: listed
// drives, scan listings, boot sectors and recovered files equal those of the acquired raw
// bytes, and the segment files stay untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Every regular file below root, by its path relative to root, with its size and bytes. Of a
// file over 2 MiB (the NTFS volume's sparse 5 GiB file) only the first and last MiB are kept.
std::map<std::string, std::string> Tree(const fs::path& root)
{
    constexpr std::uintmax_t kPart = 1024 * 1024;
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
    {
        if (!entry.is_regular_file())
            continue;
        const std::uintmax_t size = entry.file_size();
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes(static_cast<std::size_t>(std::min(size, 2 * kPart)), '\0');
        if (size <= 2 * kPart)
        {
            in.read(bytes.data(), static_cast<std::streamsize>(size));
        }
        else
        {
            in.read(bytes.data(), kPart);
            in.seekg(static_cast<std::streamoff>(size - kPart));
            in.read(bytes.data() + kPart, kPart);
        }
        files[fs::relative(entry.path(), root).string()] = std::to_string(size) + ":" + bytes;
    }
    return files;
}

std::string SegmentHashes(const fs::path& folder)
{
    std::string out;
    EXPECT_EQ(RunCommand("cd '" + folder.string() + "' && sha256sum image.E*", &out), 0);
    return out;
}

class EwfCliTest : public ::testing::TestWithParam<const char*>
{
};
} // namespace

TEST_P(EwfCliTest, ImageActsAsTheAcquiredBytes)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    const fs::path folder = fs::canonical(image).parent_path();
    const std::string raw = (folder / "volume.raw").string();
    const std::string before = SegmentHashes(folder);

    // Same drives, file systems and labels; only the source named differs.
    CliResult drivesE = RunCli({"drives", image});
    CliResult drivesR = RunCli({"drives", raw});
    ASSERT_EQ(drivesE.status, 0) << drivesE.err;
    ASSERT_EQ(drivesR.status, 0) << drivesR.err;
    EXPECT_EQ(Replace(drivesE.out, image, "SOURCE"), Replace(drivesR.out, raw, "SOURCE"));

    // The same finds, item for item.
    CliResult scanE = RunCli({"scan", "--json", image});
    CliResult scanR = RunCli({"scan", "--json", raw});
    ASSERT_EQ(scanE.status, 0) << scanE.err;
    ASSERT_EQ(scanR.status, 0) << scanR.err;
    EXPECT_NE(scanR.out.find("\"deleted\":1"), std::string::npos) << scanR.out;
    EXPECT_EQ(scanE.out, scanR.out);

    // The same files recovered, byte for byte.
    const std::string scratch = ScratchDir("e2e-ewf");
    CliResult recE = RunCli({"recover", "--to", scratch + "/ewf", image});
    CliResult recR = RunCli({"recover", "--to", scratch + "/raw", raw});
    // 3 where finds share clusters (a file written over a deleted one and deleted in turn).
    ASSERT_TRUE(recR.status == 0 || recR.status == 3) << recR.err;
    ASSERT_EQ(recE.status, recR.status) << recE.err;
    ASSERT_TRUE(fs::exists(scratch + "/raw")) << recR.out;
    ASSERT_TRUE(fs::exists(scratch + "/ewf")) << recE.out;
    EXPECT_TRUE(Tree(scratch + "/ewf") == Tree(scratch + "/raw"));

    EXPECT_EQ(SegmentHashes(folder), before) << "the image was modified";
}

INSTANTIATE_TEST_SUITE_P(Images, EwfCliTest,
                         ::testing::Values("e01-fat12", "e01-ntfs", "e01-disk-finds"),
                         [](const ::testing::TestParamInfo<const char*>& param)
                         {
                             std::string name = param.param;
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

// bootinfo reads the boot sector through libewf too.
TEST(EwfCliBootInfoTest, BootSectorEqualsTheAcquiredBytes)
{
    const std::string image = TestImage("e01-fat12");
    ASSERT_FALSE(image.empty());
    const std::string raw = (fs::canonical(image).parent_path() / "volume.raw").string();
    CliResult e = RunCli({"bootinfo", image});
    CliResult r = RunCli({"bootinfo", raw});
    ASSERT_EQ(e.status, 0) << e.err;
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("FAT12"), std::string::npos) << r.out;
    EXPECT_EQ(Replace(e.out, image, "SOURCE"), Replace(r.out, raw, "SOURCE"));
}

namespace
{
// A damaged source: an image whose recipe damaged part of it, and what scan must say of it.
struct DamagedCase
{
    const char* image;
    const char* intact;  // the intact volume's image; null: the bytes acquired into image
    const char* named;   // standard error names the part that could not be read
    const char* missing; // a find of the intact volume that the damage hides
};

class DamagedSourceCliTest : public ::testing::TestWithParam<DamagedCase>
{
};
} // namespace

// A chunk that fails its checksum, or a source cut short, hides a folder or MFT records: the
// part is named on standard error and scan exits 4, while the rest of the volume is listed.
TEST_P(DamagedSourceCliTest, UnreadablePartIsNamedAndScanExitsFour)
{
    const DamagedCase& c = GetParam();
    const std::string image = TestImage(c.image);
    ASSERT_FALSE(image.empty());
    const std::string raw = c.intact != nullptr
                                ? TestImage(c.intact)
                                : (fs::canonical(image).parent_path() / "volume.raw").string();
    CliResult intact = RunCli({"scan", "--json", raw});
    ASSERT_EQ(intact.status, 0) << intact.err;
    ASSERT_NE(intact.out.find(c.missing), std::string::npos) << intact.out;

    CliResult scan = RunCli({"scan", "--json", image});
    EXPECT_EQ(scan.status, 4) << scan.err;
    EXPECT_NE(scan.err.find(c.named), std::string::npos) << scan.err;
    EXPECT_EQ(scan.out.find(c.missing), std::string::npos) << scan.out;

    // The listing names the part the same way.
    CliResult listing = RunCli({"scan", image});
    EXPECT_EQ(listing.status, 4) << listing.err;
    EXPECT_NE(listing.err.find(c.named), std::string::npos) << listing.err;
}

INSTANTIATE_TEST_SUITE_P(
    Images, DamagedSourceCliTest,
    ::testing::Values(
        DamagedCase{"src-e01-fat-folder", nullptr,
                    "C:\\DOCS could not be read: ", "Same Name Thrice"},
        DamagedCase{"src-e01-ntfs-mft", nullptr,
                    "C: MFT records 64 to 71 could not be read: ", "deleted.txt"},
        DamagedCase{"src-fat-cut", "fat16", "C:\\DOCS could not be read: ", "Same Name Thrice"},
        DamagedCase{"src-ntfs-cut", "ntfs-scan",
                    "could not be read: they lie past the end of the source", "deleted.txt"}),
    [](const ::testing::TestParamInfo<DamagedCase>& param)
    {
        std::string name = param.param.image;
        for (char& ch : name)
            if (ch == '-')
                ch = '_';
        return name;
    });

// A segment file that is a named pipe is refused before libewf opens it: its open() would wait
// for a writer for ever.
TEST(EwfCliSegmentTest, NamedPipeSegmentIsRefusedAtOnce)
{
    const std::string image = TestImage("e01-fat12");
    ASSERT_FALSE(image.empty());
    const fs::path from = fs::canonical(image).parent_path();
    const fs::path dir = ScratchDir("e2e-ewf-fifo");
    for (const char* segment : {"image.E01", "image.E03"})
        fs::copy_file(from / segment, dir / segment);
    ASSERT_EQ(RunCommand("mkfifo '" + (dir / "image.E02").string() + "'"), 0);
    CliOptions options;
    options.timeoutSeconds = 20;
    for (const char* command : {"drives", "scan"})
    {
        CliResult result = RunCli({command, (dir / "image.E01").string()}, options);
        EXPECT_EQ(result.status, 1) << command << ": " << result.err;
        EXPECT_NE(result.err.find("image.E01"), std::string::npos) << result.err;
    }
}

namespace
{
// A source that is damaged where the volume keeps a backup, or whose boot sector claims more
// than the source holds: the volume is found and searched, and the front ends say how.
struct NoticeCase
{
    const char* image;
    const char* intact; // an image whose scan equals this one's; "": none; null: volume.raw
    const char* drives; // text of the drive list
    const char* err;    // text of scan's standard error
};

class SourceNoticeCliTest : public ::testing::TestWithParam<NoticeCase>
{
};
} // namespace

TEST_P(SourceNoticeCliTest, VolumeIsSearchedAndTheDamageNamed)
{
    const NoticeCase& c = GetParam();
    const std::string image = TestImage(c.image);
    ASSERT_FALSE(image.empty());
    CliResult drives = RunCli({"drives", image});
    EXPECT_EQ(drives.status, 0) << drives.err;
    EXPECT_NE(drives.out.find(c.drives), std::string::npos) << drives.out;
    CliResult scan = RunCli({"scan", "--json", image});
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_NE(scan.err.find(c.err), std::string::npos) << scan.err;
    if (c.intact != nullptr && *c.intact == '\0')
        return;
    const std::string intact = c.intact != nullptr
                                   ? TestImage(c.intact)
                                   : (fs::canonical(image).parent_path() / "volume.raw").string();
    CliResult expected = RunCli({"scan", "--json", intact});
    ASSERT_EQ(expected.status, 0) << expected.err;
    EXPECT_NE(expected.out.find("\"condition\":\"good\""), std::string::npos) << expected.out;
    // Folder times are those of the images' builds, which may differ.
    const std::regex times("\"(created|accessed)\":\"[^\"]*\"");
    EXPECT_EQ(std::regex_replace(scan.out, times, "T"),
              std::regex_replace(expected.out, times, "T"));
}

INSTANTIATE_TEST_SUITE_P(
    Images, SourceNoticeCliTest,
    ::testing::Values(
        NoticeCase{"src-ntfs-huge-total", "ntfs-scan", "NTFS",
                   "C: the boot sector claims 72057594037927935 sectors, but the source holds "
                   "32768; the volume is searched as far as the source reaches"},
        NoticeCase{"src-e01-ntfs-boot", nullptr,
                   "sector 0 could not be read; read through the backup boot sector in sector "
                   "32767",
                   "C: sector 0 could not be read; the volume is read through its backup boot "
                   "sector in sector 32767"},
        NoticeCase{"src-e01-fat-probe", "", "FAT16", ""},
        NoticeCase{"src-exfat-backup", "",
                   "main boot region damaged; read through the backup boot region (sector 12)",
                   "C: the main boot region is damaged; the volume is read through its backup "
                   "boot region (sector 12)"}),
    [](const ::testing::TestParamInfo<NoticeCase>& param)
    {
        std::string name = param.param.image;
        for (char& ch : name)
            if (ch == '-')
                ch = '_';
        return name;
    });
