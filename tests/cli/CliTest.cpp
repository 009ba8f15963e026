// orlavent-cli's command line: help, version, and the usage mistakes that exit with status 2.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "CliRun.h"

namespace
{
struct UsageCase
{
    const char* label;
    const char* args;
    int status;
    bool onStdout; // where the expected text goes
    const char* text;
};

// Test names and failure messages show the case label, not the bytes of the case.
void PrintTo(const UsageCase& c, std::ostream* os)
{
    *os << c.label;
}

class CliUsage : public ::testing::TestWithParam<UsageCase>
{
};
} // namespace

TEST_P(CliUsage, ExitsWithStatusAndSaysWhy)
{
    const UsageCase& c = GetParam();
    CliRun run = RunOrlaventCli(c.args);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    const std::string& where = c.onStdout ? run.out : run.err;
    EXPECT_NE(where.find(c.text), std::string::npos) << "stdout:\n"
                                                     << run.out << "stderr:\n"
                                                     << run.err;
    // Help goes to stdout only; mistakes leave stdout empty for scripts.
    if (c.status == 2)
    {
        EXPECT_EQ(run.out, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, CliUsage,
    ::testing::Values(
        UsageCase{"NoCommand", "", 2, false, "Usage: orlavent-cli COMMAND"},
        UsageCase{"Help", "--help", 0, true, "bootinfo "},
        UsageCase{"HelpCommand", "help bootinfo", 0, true, "Usage: orlavent-cli bootinfo"},
        UsageCase{"CommandHelp", "bootinfo -h", 0, true, "X:=PATH"},
        UsageCase{"Version", "--version", 0, true, "orlavent-cli "},
        UsageCase{"UnknownCommand", "frobnicate", 2, false, "unknown command 'frobnicate'"},
        UsageCase{"HelpOfUnknownCommand", "help frobnicate", 2, false, "unknown command"},
        UsageCase{"NoSource", "bootinfo --json", 2, false, "no SOURCE given"},
        UsageCase{"UnknownOption", "bootinfo --fast a.img", 2, false, "unknown option '--fast'"},
        UsageCase{"LetterTwice", "bootinfo D:=a.img D:=b.img", 2, false, "D: is given twice"},
        UsageCase{"RateWithoutValue", "recover a.img --max-rate", 2, false,
                  "--max-rate needs a value"},
        UsageCase{"RateThatIsNoRate", "recover --max-rate 5T a.img", 2, false,
                  "'5T' is not a rate"},
        UsageCase{"RateOfZero", "recover --max-rate=0 a.img", 2, false, "'0' is not a rate"},
        UsageCase{"RecoverHelpNamesTheRate", "recover --help", 0, true, "--max-rate RATE"},
        UsageCase{"ReportWithoutValue", "recover a.img --report", 2, false,
                  "--report needs a value"},
        UsageCase{"RecoverHelpNamesTheReport", "recover --help", 0, true, "--report FILE"}),
    [](const ::testing::TestParamInfo<UsageCase>& p) { return std::string(p.param.label); });
