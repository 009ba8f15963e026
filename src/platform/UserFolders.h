// The folders a recovery falls back on: the working folder's "Undeleted Files" and the user's
// "Founded Files".
#pragma once

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

// The current working folder followed by "/Undeleted Files", or an empty text when the working
// folder cannot be queried.
inline std::string WorkingFolderDestination()
{
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr)
        return std::string();
    std::string folder = cwd;
    std::free(cwd);
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + "Undeleted Files";
}

// The folder used whenever a destination cannot be created: "Founded Files" in the user's home
// folder ($HOME, else the password database's entry), or relative to the working folder when
// neither is known.
inline std::string DefaultRecoveryFolder()
{
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0')
        home = env;
    else
    {
        struct passwd entry = {};
        struct passwd* found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 &&
            found != nullptr && found->pw_dir != nullptr)
            home = found->pw_dir;
    }
    if (home.empty())
        return "Founded Files";
    if (home.back() != '/')
        home += '/';
    return home + "Founded Files";
}

// The user on whose behalf pkexec started this program as root: PKEXEC_UID, with the group and
// home folder of that user's entry. Nothing when not root or not started by pkexec.
struct InvokingUser
{
    uid_t uid = 0;
    gid_t gid = 0;
    std::string home;
};

inline std::optional<InvokingUser> PkexecUser()
{
    const char* text = std::getenv("PKEXEC_UID");
    if (::geteuid() != 0 || text == nullptr || *text == '\0')
        return std::nullopt;
    char* end = nullptr;
    const unsigned long uid = std::strtoul(text, &end, 10);
    if (*end != '\0' || uid == 0 || uid > 0xFFFFFFFEul)
        return std::nullopt;
    struct passwd entry = {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(static_cast<uid_t>(uid), &entry, buffer, sizeof buffer, &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr)
        return std::nullopt;
    return InvokingUser{found->pw_uid, found->pw_gid, found->pw_dir};
}
