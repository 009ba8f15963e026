// orlavent [SOURCE...]: the desktop wizard. Each SOURCE (an image file or a block device,
// "PATH" or "X:=PATH") joins the machine's FAT, exFAT and NTFS drives in the drive list.
#include "app/FileRecoveryApp.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/FileRecoveryDlg.h"
#include "platform/DriveDiscovery.h"
#include "platform/UserFolders.h"
#include "recovery/Recovery.h"

wxIMPLEMENT_APP_NO_MAIN(CFileRecoveryApp);

namespace
{
constexpr const char* kUsage =
    "Usage: orlavent [SOURCE...]\n"
    "\n"
    "Opens the wizard that finds deleted files and folders on FAT, exFAT and NTFS volumes and\n"
    "copies them to a folder. The drive list shows the machine's fixed block devices that hold\n"
    "FAT, exFAT or NTFS volumes (reading them needs root: the menu entry starts the wizard\n"
    "through pkexec) and every SOURCE, an image file or a block device, as drives C:, D:,\n"
    "...; X:=PATH registers PATH as drive X: instead.\n"
    "\n"
    "Options:\n"
    "  -h, --help  show this help\n"
    "  --version   show the version\n";
} // namespace

bool CFileRecoveryApp::OnInit()
{
    SetAppName("Orlavent");
    std::vector<std::string> sources;
    for (int i = 1; i < argc; ++i)
        sources.emplace_back(argv[i].fn_str());
    m_sources = sources;
    std::vector<std::string> errors;
    (void)AddCommandLineSources(sources, &errors);
    for (const std::string& error : errors)
        std::fprintf(stderr, "orlavent: %s\n", error.c_str());
    std::vector<DeniedDevice> denied;
    (void)DiscoverBlockDevices("/sys", "/dev", &denied);
    // The drive choice lists fixed drives only: a refused CD drive or stick is no reason to
    // ask for the password.
    if (std::any_of(denied.begin(), denied.end(),
                    [](const DeniedDevice& d) { return d.driveType == DriveType::Fixed; }))
    {
        m_driveNotice = kRunAsAdministratorText;
        std::fprintf(stderr, "orlavent: %s\n", kRunAsAdministratorText);
    }
    // What the probe noted of a drive (a boot sector read from its backup, an ambiguous
    // volume) is said before the drive is chosen, as `orlavent-cli drives` says it.
    for (const std::string& note : g_DriveTable.Notes())
    {
        std::fprintf(stderr, "orlavent: %s\n", note.c_str());
        m_driveNotice += (m_driveNotice.empty() ? "" : " ") + note + ".";
    }
    return true;
}

int CFileRecoveryApp::OnRun()
{
    CFileRecoveryDlg dialog(nullptr, m_driveNotice);
    dialog.SetSources(m_sources);
    dialog.ShowModal();
    return 0;
}

int main(int argc, char** argv)
{
    // Answered before the toolkit starts, so that they work without a display.
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0)
    {
        std::printf("orlavent %s\n", ORL_VERSION);
        return 0;
    }
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
    {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // Started as root by pkexec from the menu: the folders offered and made are the user's own
    // (their home, not root's), and what is recovered belongs to them.
    if (const std::optional<InvokingUser> user = PkexecUser())
    {
        ::setenv("HOME", user->home.c_str(), 1);
        if (::chdir(user->home.c_str()) != 0)
            std::fprintf(stderr, "orlavent: cannot enter %s\n", user->home.c_str());
        SetRecoveredFilesOwner(user->uid, user->gid);
    }
    return wxEntry(argc, argv);
}
