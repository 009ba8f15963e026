#include "scan/ReadFailures.h"

#include "platform/EventSink.h"
#include "platform/Format.h"

void ReportUnreadableFolder(const CCatalog& catalog, const std::string& folder, u64 byteOffset,
                            u64 bytes)
{
    catalog.Post(WM_SCAN_NOTIFY, kScanUnreadable,
                 Format("%s could not be read: no data came from bytes %llu to %llu of the volume",
                        folder.c_str(), static_cast<unsigned long long>(byteOffset),
                        static_cast<unsigned long long>(byteOffset) + (bytes != 0 ? bytes - 1 : 0)),
                 0);
}

void UnreadableRecords::Add(s64 record)
{
    if (m_first >= 0 && record == m_last + 1)
    {
        m_last = record;
        return;
    }
    Flush();
    m_first = record;
    m_last = record;
}

void UnreadableRecords::Flush()
{
    if (m_first < 0)
        return;
    const std::string what =
        m_first == m_last
            ? Format("%s MFT record %lld", m_volume.c_str(), static_cast<long long>(m_first))
            : Format("%s MFT records %lld to %lld", m_volume.c_str(),
                     static_cast<long long>(m_first), static_cast<long long>(m_last));
    m_catalog.Post(WM_SCAN_NOTIFY, kScanUnreadable,
                   what + " could not be read: the source gave no data for them", 0);
    m_first = -1;
    m_last = -1;
}

void ReportUnreadableRecords(const CCatalog& catalog, const std::string& volume, s64 first, s64 end)
{
    catalog.Post(WM_SCAN_NOTIFY, kScanUnreadable,
                 Format("%s MFT records %lld to %lld could not be read: they lie past the end of "
                        "the source",
                        volume.c_str(), static_cast<long long>(first),
                        static_cast<long long>(end - 1)),
                 0);
}
