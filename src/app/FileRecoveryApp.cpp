// orlavent [SOURCE...]: the desktop wizard. Each SOURCE (an image file or a block device,
// "PATH" or "X:=PATH") joins the machine's FAT and NTFS drives in the drive list.
#include "app/FileRecoveryApp.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/FileRecoveryDlg.h"
#include "platform/DriveDiscovery.h"

wxIMPLEMENT_APP(CFileRecoveryApp);

bool CFileRecoveryApp::OnInit()
{
    SetAppName("Orlavent");
    std::vector<std::string> sources;
    for (int i = 1; i < argc; ++i)
        sources.emplace_back(argv[i].fn_str());
    std::vector<std::string> errors;
    (void)AddCommandLineSources(sources, &errors);
    for (const std::string& error : errors)
        std::fprintf(stderr, "orlavent: %s\n", error.c_str());
    (void)DiscoverBlockDevices();
    return true;
}

int CFileRecoveryApp::OnRun()
{
    CFileRecoveryDlg dialog(nullptr);
    dialog.ShowModal();
    return 0;
}
