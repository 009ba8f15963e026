// Test volumes built at test time by real tools (mkfs.fat, mtools, mkntfs, ntfs-3g).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Path of the named test image under the build tree, building it first with
// tests/images/make-image.sh when it does not exist yet. Builds are serialised with a lock so
// that tests running in parallel share one build. A failed build fails the calling test
// (a missing tool is a failure, never a skip) and returns an empty path.
std::string TestImage(const std::string& name);

// Whole file as bytes, read in one block (test volumes run to tens of MiB); fails the calling
// test when it cannot be read.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);

// Whole file as text; empty when it cannot be read (a file a run should not have written).
std::string ReadText(const std::string& path);

// Runs a shell command, returns its exit status and collects its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

// A fresh empty folder under the build tree, unique per test.
std::string ScratchDir(const std::string& tag);
