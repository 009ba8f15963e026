// orlavent-cli's listings for other tools and its filters: the body file read by The Sleuth
// Kit's mactime and compared with fls -m, the CSV listing read by Python's csv module against
// the JSON one, and --filter, --type and --recoverable on scan and recover.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
const std::map<std::string, std::string> kUtc = {{"TZ", "UTC"}};

std::vector<std::string> Split(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (std::size_t next; (next = line.find(separator, at)) != std::string::npos; at = next + 1)
        fields.push_back(line.substr(at, next - at));
    fields.push_back(line.substr(at));
    return fields;
}

// The lines of a body file by their name column (the second); a name met twice keeps none,
// since the two cannot be told apart.
std::map<std::string, std::vector<std::string>> BodyByName(const std::string& body)
{
    std::map<std::string, std::vector<std::string>> lines;
    std::set<std::string> twice;
    for (const std::string& line : Lines(body))
    {
        std::vector<std::string> fields = Split(line, '|');
        EXPECT_EQ(fields.size(), 11u) << line;
        if (fields.size() != 11)
            continue;
        if (!lines.emplace(fields[1], fields).second)
            twice.insert(fields[1]);
    }
    for (const std::string& name : twice)
        lines.erase(name);
    return lines;
}

// The body-file name of a JSON line's item: "C:/docs/name", " (deleted)" after a deleted one.
std::string BodyName(const std::string& jsonLine)
{
    auto field = [&jsonLine](const std::string& key)
    {
        const std::string start = "\"" + key + "\":\"";
        std::size_t at = jsonLine.find(start);
        std::string value;
        for (at += start.size(); at < jsonLine.size() && jsonLine[at] != '"'; ++at)
        {
            if (jsonLine[at] == '\\' && at + 1 < jsonLine.size())
                ++at;
            value += jsonLine[at];
        }
        return value;
    };
    std::string path = field("path");
    std::replace(path.begin(), path.end(), '\\', '/');
    const bool deleted = jsonLine.find("\"deleted\":1") != std::string::npos;
    return path + "/" + field("name") + (deleted ? " (deleted)" : "");
}

// Every image a test uses is checked to be unchanged when the test ends.
class TimelineCliTest : public ::testing::Test
{
protected:
    std::string Image(const std::string& name)
    {
        std::string path = TestImage(name);
        if (!path.empty() && !m_hashes.contains(path))
            m_hashes[path] = Hash(path);
        return path;
    }
    void TearDown() override
    {
        for (const auto& [path, hash] : m_hashes)
            EXPECT_EQ(Hash(path), hash) << path << " was modified";
    }
    static std::string Hash(const std::string& path)
    {
        std::string out;
        EXPECT_EQ(RunCommand("sha256sum '" + path + "'", &out), 0);
        return out.substr(0, 64);
    }

    // scan with args on image as drive C:, in UTC; fails the test when it does not succeed.
    static std::string Scan(const std::vector<std::string>& args, const std::string& image)
    {
        std::vector<std::string> all{"scan"};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back("C:=" + image);
        CliOptions options;
        options.env = kUtc;
        CliResult run = RunCli(all, options);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.out;
    }

    std::map<std::string, std::string> m_hashes;
};

// The body file's columns against fls -m: on NTFS the four $STANDARD_INFORMATION times and the
// record number of every find both name alike; on FAT the access date and the creation time
// (FAT keeps no change time, and the write time is not listed: mtime is 0); on exFAT the
// write time too. exFAT's 10 ms increments, which fls leaves out, may add a second to the
// creation and write times.
TEST_F(TimelineCliTest, BodyFileAgreesWithFls)
{
    enum class Fs
    {
        kNtfs,
        kFat,
        kExfat,
    };
    struct Case
    {
        const char* image;
        Fs fs;
        std::size_t leastMatched; // finds that fls names alike, at least
    };
    auto within = [](const std::string& ours, const std::string& theirs, long long slack)
    {
        const long long difference = std::stoll(ours) - std::stoll(theirs);
        return difference >= 0 && difference <= slack;
    };
    for (const Case& c : {Case{"timeline-ntfs", Fs::kNtfs, 7}, Case{"ntfs-scan", Fs::kNtfs, 10},
                          Case{"fat32", Fs::kFat, 15}, Case{"exfat-4k", Fs::kExfat, 10}})
    {
        SCOPED_TRACE(c.image);
        const std::string image = Image(c.image);
        ASSERT_FALSE(image.empty());
        const auto ours = BodyByName(Scan({"--bodyfile"}, image));
        std::string fls;
        ASSERT_EQ(RunCommand("TZ=UTC fls -r -m C: '" + image + "'", &fls), 0);
        const auto theirs = BodyByName(fls);
        const long long slack = c.fs == Fs::kExfat ? 1 : 0;
        std::size_t matched = 0;
        for (const auto& [name, line] : ours)
        {
            const auto other = theirs.find(name);
            if (other == theirs.end())
                continue; // a name the search numbered, or a made-up folder
            const std::vector<std::string>& tsk = other->second;
            ++matched;
            EXPECT_EQ(line[0], "0") << name;
            EXPECT_EQ(line[3].substr(1), tsk[3].substr(1)) << name; // mode after the name type
            if (line[3][0] == 'r')
            {
                EXPECT_EQ(line[6], tsk[6]) << name;
            }
            EXPECT_EQ(line[7], tsk[7]) << name << " atime";
            if (c.fs == Fs::kFat)
            {
                EXPECT_EQ(line[8], "0") << name << " mtime";
            }
            else
            {
                EXPECT_TRUE(within(line[8], tsk[8], slack)) << name << " mtime " << line[8];
            }
            EXPECT_EQ(line[9], tsk[9]) << name << " ctime";
            EXPECT_TRUE(within(line[10], tsk[10], slack)) << name << " crtime " << line[10];
            if (c.fs == Fs::kNtfs)
            {
                EXPECT_EQ(line[2], tsk[2].substr(0, tsk[2].find('-'))) << name;
            }
        }
        EXPECT_GE(matched, c.leastMatched);
    }
}

// mactime reads the body file of each acceptance volume, and its timeline names every deleted
// find that scan lists.
TEST_F(TimelineCliTest, MactimeListsEveryDeletedFind)
{
    for (const char* name : {"fat32", "ntfs-scan", "exfat-4k", "timeline-ntfs"})
    {
        SCOPED_TRACE(name);
        const std::string image = Image(name);
        ASSERT_FALSE(image.empty());
        const std::string body = ScratchDir("mactime") + "/body.txt";
        std::ofstream(body, std::ios::binary) << Scan({"--bodyfile"}, image);
        std::string timeline;
        ASSERT_EQ(RunCommand("mactime -b '" + body + "' -z UTC -d", &timeline), 0);
        std::set<std::string> named;
        for (const std::string& line : Lines(timeline))
        {
            // Date,Size,Type,Mode,UID,GID,Meta,"File Name": the name is the rest of the line,
            // quoted, its quotes doubled.
            std::size_t at = 0;
            for (int column = 0; column < 7 && at != std::string::npos; ++column)
                at = line.find(',', at + 1);
            if (at == std::string::npos || line.size() < at + 3 || line[at + 1] != '"' ||
                line.back() != '"')
                continue;
            std::string file;
            for (std::size_t i = at + 2; i + 1 < line.size(); ++i)
            {
                file += line[i];
                if (line[i] == '"')
                    ++i;
            }
            named.insert(file);
        }
        std::size_t deleted = 0;
        for (const std::string& line : Lines(Scan({"--json"}, image)))
        {
            if (line.find("\"deleted\":1") == std::string::npos)
                continue;
            ++deleted;
            EXPECT_TRUE(named.contains(BodyName(line))) << BodyName(line);
        }
        EXPECT_GT(deleted, 3u);
    }
}

// The CSV listing, read by Python's csv module, holds the JSON listing's values row by row,
// names with commas and quotes, recycled, deep and carved finds included.
TEST_F(TimelineCliTest, CsvHoldsTheJsonColumns)
{
    for (const char* name : {"fat32", "timeline-ntfs", "recycle-ntfs", "carve_fat32"})
    {
        SCOPED_TRACE(name);
        const std::string image = Image(name);
        ASSERT_FALSE(image.empty());
        const std::string dir = ScratchDir("csv");
        std::ofstream(dir + "/listing.csv", std::ios::binary) << Scan({"--csv", "--deep"}, image);
        std::ofstream(dir + "/listing.jsonl", std::ios::binary)
            << Scan({"--json", "--deep"}, image);
        std::string out;
        EXPECT_EQ(RunCommand("python3 '" ORL_SOURCE_DIR "/tests/e2e/csv_vs_json.py' '" + dir +
                                 "/listing.csv' '" + dir + "/listing.jsonl' 2>&1",
                             &out),
                  0)
            << out;
    }
}

// The filter options narrow every listing to the finds that pass them.
TEST_F(TimelineCliTest, FilterNarrowsTheListings)
{
    struct Case
    {
        const char* image;
        std::vector<std::string> args;
        std::set<std::string> expected; // body-file names of the finds listed
    };
    const std::vector<Case> cases = {
        {"timeline-ntfs", {"--type", "pictures"}, {"C:/photos/beach.jpg (deleted)"}},
        {"timeline-ntfs",
         {"--filter=*.TXT"},
         {"C:/photos/notes.txt (deleted)", "C:/old/a,b \"c\".txt (deleted)"}},
        {"timeline-ntfs",
         {"--filter", "report", "--type", "documents"},
         {"C:/Report 2024.doc (deleted)"}},
        {"timeline-ntfs", {"--filter", "o?d"}, {"C:/old (deleted)"}},
        {"timeline-ntfs", {"--type", "video", "--filter", "beach"}, {}},
        {"cond-fat",
         {"--recoverable", "--filter", "*.TXT"},
         {"C:/DEL/_EEP.TXT (deleted)", "C:/DEL/_ART.TXT (deleted)", "C:/DEL/_AME.TXT (deleted)",
          "C:/OLD/_ATE.TXT (deleted)"}},
    };
    for (const Case& c : cases)
    {
        const std::string image = Image(c.image);
        ASSERT_FALSE(image.empty());
        SCOPED_TRACE(std::string(c.image) + " " + c.args.front());
        std::vector<std::string> args = c.args;
        args.push_back("--bodyfile");
        std::set<std::string> listed;
        for (const auto& [name, line] : BodyByName(Scan(args, image)))
            listed.insert(name);
        EXPECT_EQ(listed, c.expected);
        // The JSON and the text listings show the same finds.
        args.back() = "--json";
        const std::vector<std::string> json = Lines(Scan(args, image));
        EXPECT_EQ(json.size(), c.expected.size());
        const auto folders = static_cast<std::size_t>(
            std::count_if(json.begin(), json.end(),
                          [](const std::string& line)
                          { return line.find("\"dir\":true") != std::string::npos; }));
        args.pop_back();
        const std::string count = "  " + std::to_string(json.size() - folders) + " file(s), " +
                                  std::to_string(folders) + " folder(s)\n";
        EXPECT_TRUE(Scan(args, image).ends_with(count)) << count;
    }
}

// recover with a filter copies exactly the files that pass it, among those chosen, below the
// folders an unfiltered recovery makes for them.
TEST_F(TimelineCliTest, FilterChoosesWhatRecoverCopies)
{
    const std::string image = Image("timeline-ntfs");
    ASSERT_FALSE(image.empty());
    struct Case
    {
        std::vector<std::string> args;
        std::map<std::string, std::uintmax_t> expected; // path: size (0 for a folder)
    };
    const std::vector<Case> cases = {
        {{"--filter", "*.txt"},
         {{"photos", 0}, {"photos/notes.txt", 200}, {"old", 0}, {"old/a,b \"c\".txt", 700}}},
        {{"--filter", "*.txt", "--item", "C:\\old"}, {{"old", 0}, {"old/a,b \"c\".txt", 700}}},
        {{"--filter", "notes", "--item", "C:\\photos\\notes.txt"}, {{"notes.txt", 200}}},
        {{"--type", "video"}, {{"photos", 0}, {"photos/clip.mp4", 900}}},
        {{"--filter", "nothing-matches"}, {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.args.front() + " " + c.args[1]);
        const std::string dir = ScratchDir("filter-recover") + "/out";
        std::vector<std::string> args{"recover", "--to", dir};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("C:=" + image);
        CliResult run = RunCli(args);
        // The clip's bytes are no movie: copied, and counted as damaged.
        ASSERT_EQ(run.status, c.args[1] == "video" ? 3 : 0) << run.err;
        std::map<std::string, std::uintmax_t> written;
        if (fs::exists(dir))
            for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir))
                written[fs::relative(entry.path(), dir).string()] =
                    entry.is_regular_file() ? entry.file_size() : 0;
        EXPECT_EQ(written, c.expected);
    }
}

// Mistakes in the new options are usage errors, named on standard error.
TEST_F(TimelineCliTest, OptionMistakesAreUsageErrors)
{
    const std::string image = Image("timeline-ntfs");
    ASSERT_FALSE(image.empty());
    const std::vector<std::vector<std::string>> cases = {
        {"scan", "--type", "spreadsheets"}, {"scan", "--filter"},
        {"scan", "--json", "--csv"},        {"scan", "--bodyfile", "--json"},
        {"recover", "--type", "nothing"},   {"recover", "--filter="},
    };
    for (std::vector<std::string> args : cases)
    {
        SCOPED_TRACE(args[1]);
        args.push_back("C:=" + image);
        CliResult run = RunCli(args);
        EXPECT_EQ(run.status, 2) << run.out;
        EXPECT_NE(run.err.find("orlavent-cli " + args[0] + ": "), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}
} // namespace
