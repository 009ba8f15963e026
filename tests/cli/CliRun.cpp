// Runs the built orlavent-cli and collects its exit status, standard output and error output.
#include "CliRun.h"

#include "support/TestImages.h"

std::string ShellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
    {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

CliRun RunOrlaventCli(const std::string& args)
{
    std::string errPath = ScratchDir("cli-run") + "/stderr";
    CliRun run;
    run.status = RunCommand(ShellQuote(std::string(ORL_BINARY_DIR) + "/orlavent-cli") + " " + args +
                                " 2>" + ShellQuote(errPath) + " </dev/null",
                            &run.out);
    std::vector<std::uint8_t> err = ReadWholeFile(errPath);
    run.err.assign(err.begin(), err.end());
    return run;
}
