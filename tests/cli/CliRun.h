// Runs the built orlavent-cli with a shell-quoted argument text and collects what it said.
#pragma once

#include <string>

struct CliRun
{
    int status = -1;
    std::string out;
    std::string err;
};

// The text in single quotes for the shell.
std::string ShellQuote(const std::string& text);

// Runs orlavent-cli from the build tree with args (already quoted where needed).
CliRun RunOrlaventCli(const std::string& args);
