// Placeholder for the index-record reader: it recognises no record until the reader itself
// replaces this file.
#include "ntfs/IndexRecord.h"

#include "ntfs/NtfsResult.h"

u32 ReadIndexRecord(u8* /*bytes*/, std::size_t /*size*/, IndexRecordInfo* /*info*/,
                    std::vector<IndexNameEntry>* /*entries*/)
{
    return kNtfsCorrupt;
}
