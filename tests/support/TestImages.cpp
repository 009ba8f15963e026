// Test volumes built at test time by real tools.
#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

int RunCommand(const std::string& command, std::string* output)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    std::array<char, 4096> buf{};
    std::string out;
    std::size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0)
        out.append(buf.data(), n);
    int status = pclose(pipe);
    if (output)
        *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TestImage(const std::string& name)
{
    std::string out = std::string(ORL_TEST_IMAGES) + "/" + name + ".img";
    std::string scripts = ORL_TEST_SCRIPTS;
    // An image older than any recipe is stale: a changed recipe must never leave tests running
    // against an old volume. Removing it is safe while others read it (they hold it open).
    std::error_code ec;
    if (fs::exists(out, ec))
    {
        auto built = fs::last_write_time(out, ec);
        bool stale = false;
        for (const auto& entry : fs::recursive_directory_iterator(scripts, ec))
            if (entry.is_regular_file() && entry.last_write_time() > built)
                stale = true;
        if (!stale)
            return out;
        fs::remove(out, ec);
    }
    std::string log = std::string(ORL_TEST_IMAGES) + "/" + name + ".log";
    std::string cmd = "flock '" + std::string(ORL_TEST_IMAGES) + "/.lock' sh -c \"test -f '" + out +
                      "' || bash '" + scripts + "/make-image.sh' '" + name + "' '" + out +
                      "'\" > '" + log + "' 2>&1";
    int rc = RunCommand(cmd);
    if (rc != 0 || !fs::exists(out))
    {
        std::ifstream in(log);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ADD_FAILURE() << "building test image '" << name << "' failed (exit " << rc << "):\n"
                      << text;
        return {};
    }
    return out;
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<std::uint8_t> bytes;
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size >= 0)
    {
        bytes.resize(static_cast<std::size_t>(size));
        in.seekg(0);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    }
    if (size < 0 || !in)
    {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    return bytes;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ScratchDir(const std::string& tag)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = tag;
    if (info)
        name += std::string("-") + info->test_suite_name() + "-" + info->name();
    for (char& c : name)
        if (c == '/')
            c = '_';
    fs::path dir = fs::path(ORL_BINARY_DIR) / "scratch" / (name + "-" + std::to_string(getpid()));
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    return dir.string();
}
