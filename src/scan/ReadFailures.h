// Parts of a volume that a search could not read. Each is named to the front end as it is met
// (WM_SCAN_NOTIFY code kScanUnreadable), so that a folder or a stretch of MFT records whose
// bytes did not arrive is never simply missing from the results.
#pragma once

#include <string>
#include <utility>

#include "catalog/Catalog.h"
#include "platform/EventSink.h"
#include "platform/Types.h"

// Names folder (its full path, "C:\docs") of which bytes [byteOffset, byteOffset + bytes) of
// the volume could not be read: "C:\docs could not be read: ...".
void ReportUnreadableFolder(const CCatalog& catalog, const std::string& folder, u64 byteOffset,
                            u64 bytes);

// Names MFT records [first, end) of volume, which lie past the end of its source.
void ReportUnreadableRecords(const CCatalog& catalog, const std::string& volume, s64 first,
                             s64 end);

// MFT records of one volume that could not be read, gathered into runs of consecutive numbers:
// each run is named once ("C: MFT records 24 to 31 could not be read: ..."), when a record that
// does not continue it is added, and at Flush.
class UnreadableRecords
{
public:
    UnreadableRecords(const CCatalog& catalog, std::string volume)
        : m_catalog(catalog), m_volume(std::move(volume))
    {
    }
    ~UnreadableRecords() { Flush(); }
    UnreadableRecords(const UnreadableRecords&) = delete;
    UnreadableRecords& operator=(const UnreadableRecords&) = delete;

    void Add(s64 record);
    void Flush();

private:
    const CCatalog& m_catalog;
    std::string m_volume;
    s64 m_first = -1; // the run being gathered, -1 when none
    s64 m_last = -1;
};
