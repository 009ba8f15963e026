// scripts/check-code.sh passes only when clang-tidy ran over every source and found nothing: a
// clang-tidy that is missing, crashes or cannot compile a source fails the check. clang-tidy is
// replaced by small scripts that behave each way.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/TestImages.h"

namespace
{
namespace fs = std::filesystem;

struct TidyCase
{
    const char* name;
    const char* script; // the stand-in's body; nullptr: no clang-tidy at all
    int status;         // the check's exit status
    const char* says;   // a part of what the check prints
};

TEST(CheckCode, FailsUnlessClangTidyCheckedEverySource)
{
    const TidyCase cases[] = {
        {"missing", nullptr, 2, "is not installed"},
        {"crash", "kill -SEGV $$\n", 2, "could not check every source"},
        {"compile error", "echo 'Error while processing src/x.cpp.' >&2\nexit 1\n", 2,
         "Error while processing"},
        {"finding", "echo 'src/x.cpp:1:1: warning: too long [readability-function-size]'\n", 1,
         "reported the findings above"},
        {"clean", "exit 0\n", 0, "clean"},
    };
    const fs::path dir = fs::path(ORL_BINARY_DIR) / "check-code-test";
    fs::remove_all(dir);
    fs::create_directories(dir / "build");
    std::ofstream(dir / "build" / "compile_commands.json") << "[]\n";
    for (const TidyCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        const fs::path tidy = dir / "clang-tidy";
        fs::remove(tidy);
        if (c.script != nullptr)
        {
            std::ofstream(tidy) << "#!/bin/sh\n" << c.script;
            fs::permissions(tidy, fs::perms::owner_all);
        }
        std::string out;
        const int status = RunCommand("ORL_SKIP_FORMAT=1 CLANG_TIDY='" + tidy.string() +
                                          "' bash '" ORL_SOURCE_DIR "/scripts/check-code.sh' '" +
                                          (dir / "build").string() + "' 2>&1",
                                      &out);
        EXPECT_EQ(status, c.status) << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
    }
    fs::remove_all(dir);
}
} // namespace
