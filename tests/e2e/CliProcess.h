// Runs the built orlavent-cli as a child process with its own environment, capturing what it
// writes, optionally interrupting it with SIGINT once its output shows a given text.
#pragma once

#include <map>
#include <string>
#include <vector>

struct CliResult
{
    int status = -1; // exit status, or 128 + signal when a signal ended it
    std::string out;
    std::string err;
    bool interruptSent = false;
};

struct CliOptions
{
    std::map<std::string, std::string> env; // variables set in the child's environment
    std::string interruptOn;                // send SIGINT once stdout contains this text
    int interruptDelayMs = 0;               // ... this many milliseconds after it appeared
    bool interruptGroupToo = false;         // then to the child's process group too, as timeout(1)
                                            // does (the child gets a group of its own)
    std::string workDir;                    // working folder of the child ("" keeps ours)
    std::string user;    // run the child as this user, groups dropped ("" keeps ours; needs root)
    std::string program; // the program to run ("" is build/orlavent-cli)
    int timeoutSeconds = 120; // the child is killed after that and the calling test fails
};

// Runs build/orlavent-cli (or options.program) with args and waits for it (at most two minutes;
// then it is killed and the calling test fails).
CliResult RunCli(const std::vector<std::string>& args, const CliOptions& options = {});

// The lines of text, without their line ends.
std::vector<std::string> Lines(const std::string& text);

// The test data lines of a fat.sh content tag, exactly as the image recipe wrote them.
std::string FatContent(const std::string& tag, unsigned size);
