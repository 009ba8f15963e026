// The application object: registers the drives and runs the main dialog for the life of the
// process.
#pragma once

#include <wx/app.h>

#include <string>

class CFileRecoveryApp : public wxApp
{
public:
    // Registers the sources named on the command line and the machine's block devices.
    bool OnInit() override;
    // Runs the main dialog modally; the program ends when it closes.
    int OnRun() override;

private:
    std::string m_driveNotice; // for the message line: disks that could not be opened
};
