// The recover command's --report: one JSON object a line for each file the recovery wrote or
// tried to write, in a file created for it alone.
#pragma once

#include <string>
#include <vector>

#include "catalog/Catalog.h"
#include "records/RecoveredFile.h"

// The condition the report gives for a found item.
[[nodiscard]] std::string ReportedCondition(const FoundItem& item);

// The report line of one file (without its line break): volume, path, name, destination (null
// when none was created), size, written, condition, overwritten_pct, content, sha256 (null when
// none), complete, stopped and warnings.
[[nodiscard]] std::string ReportLine(const RecoveredFile& file);

class CRecoveryReport final : public IRecoveryObserver
{
public:
    CRecoveryReport() = default;
    ~CRecoveryReport() override;
    CRecoveryReport(const CRecoveryReport&) = delete;
    CRecoveryReport& operator=(const CRecoveryReport&) = delete;

    // Creates path for the report; never replaces or follows anything that exists, and refuses
    // a folder on one of the volumes read. False with *error saying why.
    [[nodiscard]] bool Create(const std::string& path, const std::vector<VolumeEntry>& volumes,
                              std::string* error);
    // Writes each line whole with one call.
    void FileDone(const RecoveredFile& file) override;
    // Flushes the report to its disk and closes it. False with *error when a line or the flush
    // failed.
    [[nodiscard]] bool Close(std::string* error);

private:
    int m_fd = -1;
    std::string m_path;
    int m_error = 0; // errno of the first failed write
};
