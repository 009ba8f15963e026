// Runs the built orlavent-cli as a child process.
#include "CliProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>

#include "support/TestImages.h"

extern char** environ;

namespace
{
std::string ShellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}
} // namespace

CliResult RunCli(const std::vector<std::string>& args, const CliOptions& options)
{
    CliResult result;
    const std::string program =
        options.program.empty() ? std::string(ORL_BINARY_DIR) + "/orlavent-cli" : options.program;
    uid_t uid = 0;
    gid_t gid = 0;
    if (!options.user.empty())
    {
        const passwd* account = getpwnam(options.user.c_str());
        if (account == nullptr)
        {
            ADD_FAILURE() << "no user " << options.user;
            return result;
        }
        uid = account->pw_uid;
        gid = account->pw_gid;
    }
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
    {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return result;
    }
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e)
    {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (!options.env.contains(name))
            envText.push_back(entry);
    }
    for (const auto& [name, value] : options.env)
        envText.push_back(name + "=" + value);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : envText)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t child = fork();
    if (child == 0)
    {
        if (options.interruptGroupToo)
            setpgid(0, 0);
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0)
            _exit(126);
        if (!options.user.empty() &&
            (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
        {
            constexpr char kNoSwitch[] = "cannot switch to the other user: not root?\n";
            (void)!write(STDERR_FILENO, kNoSwitch, sizeof kNoSwitch - 1);
            _exit(125);
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (child < 0)
    {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    bool seen = false; // the text to interrupt on has appeared
    auto interruptAt = std::chrono::steady_clock::now();
    while (open > 0)
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            kill(child, SIGKILL);
            ADD_FAILURE() << "orlavent-cli did not end within " << options.timeoutSeconds
                          << " seconds";
            break;
        }
        int wait = 200;
        if (seen && !result.interruptSent)
            wait =
                std::clamp(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                interruptAt - std::chrono::steady_clock::now())
                                                .count()),
                           0, wait);
        if (poll(fds, 2, wait) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i)
        {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0)
            {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
        }
        if (!options.interruptOn.empty() && !seen &&
            result.out.find(options.interruptOn) != std::string::npos)
        {
            seen = true;
            interruptAt = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(options.interruptDelayMs);
        }
        if (seen && !result.interruptSent && std::chrono::steady_clock::now() >= interruptAt)
        {
            kill(child, SIGINT);
            if (options.interruptGroupToo)
            {
                // A moment later, as a busy machine delivers the two: the first one has been
                // handled by then.
                usleep(20000);
                kill(-child, SIGINT);
            }
            result.interruptSent = true;
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    int status = 0;
    waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string FatContent(const std::string& tag, unsigned size)
{
    std::string out;
    std::string command =
        "bash -c " +
        ShellQuote(". " + ShellQuote(std::string(ORL_TEST_SCRIPTS) + "/recipes/fat.sh") +
                   " && _fat_content " + ShellQuote(tag) + " " + std::to_string(size));
    EXPECT_EQ(RunCommand(command, &out), 0) << command;
    return out;
}
