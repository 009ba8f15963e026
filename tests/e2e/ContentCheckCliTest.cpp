// orlavent-cli on deleted pictures and archives whose contents a validator judges (content.sh):
// every layout that holds the file is valid, every one that does not is damaged, a wrong
// inferred layout is laid out again from the file's bytes, and recover warns for a damaged one.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "CliProcess.h"
#include "support/TestImages.h"

namespace
{
// The line of scan --json that lists name.
std::string LineOf(const std::string& listing, const std::string& name)
{
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);)
        if (line.find("\"name\":\"" + name + "\"") != std::string::npos)
            return line;
    return std::string();
}

// The bytes The Sleuth Kit reads for the deleted file name in the root of image.
std::string SleuthKitBytes(const std::string& image, const std::string& name)
{
    std::string listing;
    EXPECT_EQ(RunCommand("fls -r -d -p '" + image + "'", &listing), 0);
    const std::size_t at = listing.find(":\t" + name + "\n");
    const std::size_t star = at == std::string::npos ? at : listing.rfind("* ", at);
    if (star == std::string::npos)
    {
        ADD_FAILURE() << name << " not in " << listing;
        return std::string();
    }
    std::string bytes;
    EXPECT_EQ(
        RunCommand("icat -r '" + image + "' " + listing.substr(star + 2, at - star - 2), &bytes),
        0);
    return bytes;
}
} // namespace

TEST(ContentCheckCli, EveryLayoutIsJudgedByItsContentsAndWrongGuessesAreLaidOutAgain)
{
    const std::string image = TestImage("fat-content");
    ASSERT_FALSE(image.empty());
    const std::filesystem::path written = image + ".d";
    const struct
    {
        const char* name;
        const char* judged; // condition and content as scan --json gives them
        bool exact;         // recover gives the bytes as written
    } cases[] = {
        {"Whole.jpg", R"("condition":"good","overwritten_pct":0,)", true},
        {"Inter A.jpg", R"("condition":"inferred","overwritten_pct":0,)", true},
        {"Inter B.txt", R"("condition":"inferred","overwritten_pct":0,)", true},
        {"Around.zip", R"("condition":"inferred","overwritten_pct":0,)", true},
        {"Hop.png", R"("condition":"inferred","overwritten_pct":0,)", true},
        // Laid out through random bytes at first: their contents call for another layout.
        {"Wrong.jpg", R"("condition":"inferred","overwritten_pct":0,)", true},
        {"Wrong.png", R"("condition":"inferred","overwritten_pct":0,)", true},
        {"Wrong.zip", R"("condition":"inferred","overwritten_pct":0,)", true},
        // A live file took a cluster; random bytes took one nothing else claims.
        {"Over.jpg", R"("condition":"partial",)", false},
        {"Gone.jpg", R"("condition":"good","overwritten_pct":0,)", false},
    };
    CliResult scan = RunCli({"scan", "--json", "C:=" + image});
    ASSERT_EQ(scan.status, 0) << scan.err;
    const std::string dest = ScratchDir("content-recover");
    CliResult run = RunCli({"recover", "--to", dest, "C:=" + image});
    // Over.jpg is partial, Gone.jpg damaged: not every file came back intact.
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::string line = LineOf(scan.out, c.name);
        const std::string content = std::string(c.name).ends_with(".txt") ? ""
                                    : c.exact                             ? "valid"
                                                                          : "damaged";
        EXPECT_NE(line.find(c.judged), std::string::npos) << line;
        EXPECT_NE(line.find("\"content\":\"" + content + "\""), std::string::npos) << line;
        const std::string got = ReadText((std::filesystem::path(dest) / c.name).string());
        const std::string want = ReadText((written / c.name).string());
        ASSERT_FALSE(want.empty());
        EXPECT_EQ(got == want, c.exact);
        const std::string warning = std::string(c.name) + " is damaged: its contents do not "
                                                          "hold together as a ";
        EXPECT_EQ(run.err.find(warning) != std::string::npos, content == "damaged") << run.err;
    }
    EXPECT_NE(run.out.find("2 file(s) do not hold together as files of their type"),
              std::string::npos)
        << run.out;

    // The Sleuth Kit reads a file of one stretch as its first cluster and size give it.
    EXPECT_EQ(SleuthKitBytes(image, "Whole.jpg"), ReadText((written / "Whole.jpg").string()));
}

// On exFAT and NTFS the metadata of a deleted file still holds its clusters, all free, so its
// condition is good; only its contents tell that random bytes took one of them.
TEST(ContentCheckCli, ContentsTellWhatTheMetadataCannotOnExfatAndNtfs)
{
    for (const char* name : {"content-exfat", "content-ntfs"})
    {
        SCOPED_TRACE(name);
        const std::string image = TestImage(name);
        ASSERT_FALSE(image.empty());
        const std::filesystem::path written = image + ".d";
        CliResult scan = RunCli({"scan", "--json", "C:=" + image});
        ASSERT_EQ(scan.status, 0) << scan.err;
        const std::string dest = ScratchDir(std::string(name) + "-recover");
        CliResult run = RunCli({"recover", "--to", dest, "C:=" + image});
        EXPECT_EQ(run.status, 3) << run.out << run.err;
        for (const char* file : {"Whole.jpg", "Whole.zip", "Gone.jpg", "Gone.png"})
        {
            SCOPED_TRACE(file);
            const bool whole = std::string(file).starts_with("Whole");
            const std::string line = LineOf(scan.out, file);
            EXPECT_NE(line.find(R"("deleted":1,)"), std::string::npos) << line;
            EXPECT_NE(line.find(R"("condition":"good",)"), std::string::npos) << line;
            EXPECT_NE(line.find(whole ? R"("content":"valid")" : R"("content":"damaged")"),
                      std::string::npos)
                << line;
            // Both tools read the same bytes; only the validator tells them apart.
            const std::string got = ReadText((std::filesystem::path(dest) / file).string());
            EXPECT_EQ(got == ReadText((written / file).string()), whole);
            EXPECT_EQ(got, SleuthKitBytes(image, file));
            EXPECT_EQ(run.err.find(std::string(file) + " is damaged") != std::string::npos, !whole)
                << run.err;
        }
    }
}
