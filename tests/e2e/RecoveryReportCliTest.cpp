// The recover command's --report on volumes made by mtools: a line for each file with the file
// written and its SHA-256 as sha256sum gives it, a stopped run's lines complete with the stopped
// file marked, an existing report refused; and files of a deleted folder's later clusters
// recovered byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
std::string Sha256Sum(const std::string& path)
{
    std::string out;
    EXPECT_EQ(RunCommand("sha256sum '" + path + "'", &out), 0) << path;
    return out.substr(0, 64);
}

// One report line taken apart; the JSON strings here hold no escapes but \\.
struct ReportLine
{
    std::string path, name, destination, sha256, condition, warnings;
    unsigned long long size = 0, written = 0;
    bool complete = false, stopped = false;
};

std::string Unescape(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"(\\\\)"), "\\");
}

std::vector<ReportLine> ParseReport(const std::string& text)
{
    static const std::regex line(
        R"re(\{"volume":"C:","path":"((?:[^"\\]|\\.)*)","name":"((?:[^"\\]|\\.)*)",)re"
        R"re("destination":"([^"]*)","size":(\d+),"written":(\d+),"condition":"([a-z]+)","overwritten_pct":\d+,"content":"[a-z]*",)re"
        R"re("sha256":"([0-9a-f]{64})","complete":(true|false),"stopped":(true|false),)re"
        R"re("warnings":\[(.*)\]\})re");
    std::vector<ReportLine> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
    {
        std::smatch m;
        EXPECT_TRUE(std::regex_match(l, m, line)) << l;
        if (m.empty())
            continue;
        lines.push_back(ReportLine{Unescape(m[1]), Unescape(m[2]), m[3], m[7], m[6], m[10],
                                   std::stoull(m[4]), std::stoull(m[5]), m[8] == "true",
                                   m[9] == "true"});
    }
    return lines;
}
} // namespace

TEST(RecoveryReportCliTest, OneLinePerFileWithTheDigestOfWhatWasWritten)
{
    const std::string fat = TestImage("fat32");
    ASSERT_FALSE(fat.empty());
    const std::string scratch = ScratchDir("report");
    const std::string dest = scratch + "/out";
    const std::string report = scratch + "/report.jsonl";
    // _ONE.TXT is there already: the report names the "New " file written instead.
    ASSERT_EQ(RunCli({"recover", "--to", dest, "--item", "C:\\DOCS\\_ONE.TXT", fat}).status, 0);
    CliResult run =
        RunCli({"recover", "--to", dest, "--report", report, "--item", "C:\\DOCS\\_ONE.TXT",
                "--item", "C:\\_LDDIR", "--item", "C:\\DOCS\\SUB\\Old Draft Notes.txt", fat});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<ReportLine> lines = ParseReport(ReadText(report));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"C:\\DOCS\\_ONE.TXT", "New _ONE.TXT"},
        {"C:\\_LDDIR\\_EEP1.TXT", "_LDDIR/_EEP1.TXT"},
        {"C:\\_LDDIR\\Old Long Name.txt", "_LDDIR/Old Long Name.txt"},
        {"C:\\_LDDIR\\_NNER\\_NNER.TXT", "_LDDIR/_NNER/_NNER.TXT"},
        {"C:\\DOCS\\SUB\\Old Draft Notes.txt", "Old Draft Notes.txt"},
    };
    ASSERT_EQ(lines.size(), expected.size()) << ReadText(report);
    for (std::size_t i = 0; i < lines.size(); ++i)
    {
        const ReportLine& l = lines[i];
        EXPECT_EQ(l.path + "\\" + l.name, expected[i].first);
        EXPECT_EQ(l.destination, dest + "/" + expected[i].second);
        EXPECT_EQ(l.sha256, Sha256Sum(l.destination)) << l.destination;
        EXPECT_EQ(l.written, fs::file_size(l.destination));
        EXPECT_EQ(l.size, l.written);
        EXPECT_EQ(l.condition, "good");
        EXPECT_TRUE(l.complete);
        EXPECT_FALSE(l.stopped);
        EXPECT_EQ(l.warnings, "");
    }

    // An existing report is never overwritten: nothing is searched or written.
    const std::string before = ReadText(report);
    CliResult again = RunCli({"recover", "--to", scratch + "/second", "--report", report, fat});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(
        again.err.find("the report file '" + report + "' exists already; it is never overwritten"),
        std::string::npos)
        << again.err;
    EXPECT_EQ(ReadText(report), before);
    EXPECT_FALSE(fs::exists(scratch + "/second"));
}

TEST(RecoveryReportCliTest, StoppedRunLeavesCompleteLinesWithTheStoppedFileMarked)
{
    const std::string big = TestImage("e2e-big");
    ASSERT_FALSE(big.empty());
    const std::string scratch = ScratchDir("report");
    const std::string dest = scratch + "/out";
    const std::string report = scratch + "/report.jsonl";
    CliOptions options;
    options.interruptOn = "Recovering C:\\_IG.DAT";
    // SMALL.TXT first, then BIG.DAT at 16 MiB a second: the interrupt lands in its middle.
    CliResult run = RunCli({"recover", "--to", dest, "--max-rate", "16M", "--report", report,
                            "--item", "C:\\_MALL.TXT", "--item", "C:\\_IG.DAT", big},
                           options);
    ASSERT_TRUE(run.interruptSent) << run.out << run.err;
    EXPECT_EQ(run.status, 130) << run.err;
    const std::string text = ReadText(report);
    EXPECT_TRUE(text.ends_with("}\n")) << text;
    const std::vector<ReportLine> lines = ParseReport(text);
    ASSERT_EQ(lines.size(), 2u) << text;
    EXPECT_EQ(lines[0].name, "_MALL.TXT");
    EXPECT_TRUE(lines[0].complete);
    EXPECT_FALSE(lines[0].stopped);
    const ReportLine& stopped = lines[1];
    EXPECT_EQ(stopped.name, "_IG.DAT");
    EXPECT_TRUE(stopped.stopped);
    EXPECT_FALSE(stopped.complete);
    EXPECT_EQ(stopped.size, 157286400u);
    EXPECT_GT(stopped.written, 0u);
    EXPECT_LT(stopped.written, stopped.size);
    EXPECT_EQ(stopped.written, fs::file_size(stopped.destination));
    EXPECT_EQ(stopped.sha256, Sha256Sum(stopped.destination));
    EXPECT_NE(stopped.warnings.find("Stopped while copying C:\\\\_IG.DAT"), std::string::npos)
        << stopped.warnings;
}

// Files whose entries lie in the later clusters of a deleted folder come back byte for byte.
TEST(RecoveryReportCliTest, FilesOfADeletedFoldersLaterClustersAreRecovered)
{
    for (const char* image : {"fatbigdel16", "fatbigdel32"})
    {
        const std::string path = TestImage(image);
        ASSERT_FALSE(path.empty());
        const std::string dest = ScratchDir("report") + "/out";
        CliResult run = RunCli({"recover", "--to", dest, "--item", "C:\\_AM\\_MG_0150.JPG",
                                "--item", "C:\\_AM\\Holiday Photo 100.jpg", path});
        // Both hold text, not pictures: copied as they are, each warned for as damaged.
        ASSERT_EQ(run.status, 3) << image << run.err;
        EXPECT_NE(run.err.find("_MG_0150.JPG is damaged: "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Holiday Photo 100.jpg is damaged: "), std::string::npos) << run.err;
        EXPECT_EQ(ReadText(fs::path(dest) / "_MG_0150.JPG"), FatContent("CAM/IMG_0150.JPG", 250))
            << image;
        EXPECT_EQ(ReadText(fs::path(dest) / "Holiday Photo 100.jpg"),
                  FatContent("CAM/Holiday Photo 100.jpg", 400))
            << image;
    }
}

// However the copy is occupied when the interrupt comes (reading, writing, waiting for the
// rate), and even when it comes twice at once as timeout(1) sends it (to the process, then to
// its group), the file it leaves short is named: the warning, then the last line, exit 130.
TEST(RecoveryReportCliTest, StopAtAnyMomentNamesTheIncompleteFile)
{
    const std::string big = TestImage("e2e-big");
    ASSERT_FALSE(big.empty());
    for (const int delayMs : {0, 5, 20, 60, 130, 210, 350, 480, 700, 1100})
    {
        SCOPED_TRACE(delayMs);
        const std::string dest = ScratchDir("stop") + "/out";
        CliOptions options;
        options.interruptOn = "Recovering C:\\_IG.DAT";
        options.interruptDelayMs = delayMs;
        options.interruptGroupToo = true;
        CliResult run = RunCli(
            {"recover", "--to", dest, "--max-rate", "10M", "--item", "C:\\_IG.DAT", big}, options);
        ASSERT_TRUE(run.interruptSent) << run.out << run.err;
        EXPECT_EQ(run.status, 130) << run.err;
        const std::uintmax_t written = fs::file_size(dest + "/_IG.DAT");
        EXPECT_LT(written, 157286400u);
        EXPECT_NE(run.err.find("orlavent-cli: warning: Stopped while copying C:\\_IG.DAT: " + dest +
                               "/_IG.DAT holds " + std::to_string(written) +
                               " of its 157286400 bytes."),
                  std::string::npos)
            << run.err;
        EXPECT_TRUE(
            run.err.ends_with("orlavent-cli: recovery stopped; C:\\_IG.DAT was left incomplete\n"))
            << run.err;
    }
}
