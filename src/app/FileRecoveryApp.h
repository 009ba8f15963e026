// The application object: registers the drives and runs the main dialog for the life of the
// process.
#pragma once

#include <wx/app.h>

#include <string>
#include <vector>

class CFileRecoveryApp : public wxApp
{
public:
    // Registers the sources named on the command line and the machine's block devices.
    bool OnInit() override;
    // Runs the main dialog modally; the program ends when it closes.
    int OnRun() override;
    // The sources named on the command line, as given: what the drive list's deep search reads
    // again for lost volumes (AddLostVolumeDrives).
    [[nodiscard]] const std::vector<std::string>& Sources() const { return m_sources; }

private:
    std::string m_driveNotice; // for the message line: disks that could not be opened
    std::vector<std::string> m_sources;
};
