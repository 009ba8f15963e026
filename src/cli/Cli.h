// The command-line program's entry: subcommand dispatch, global help and version.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Runs one command line (program name excluded) and returns the process exit status:
// 0 success, 1 a source failed, 2 a usage error.
int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// Tells the commands that the process ends as soon as RunCli returns (the program's main
// does): the memory of a search may then be left for the process's end to reclaim.
void EndProcessAfterCommand();
[[nodiscard]] bool ProcessEndsAfterCommand();
