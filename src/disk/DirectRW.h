// The sector reader/writer interface through which every byte of a volume is read.
#pragma once

#include <string>

#include "platform/Status.h"
#include "platform/Types.h"

class CDirectRW
{
public:
    virtual ~CDirectRW() = default;

    // Opens the device behind a drive text ("C:"); an empty text closes the reader.
    // Returns 0, 3 (not opened), 5 (empty name), 7 (old device not closed), 8 (no memory).
    [[nodiscard]] virtual u32 Open(const std::string& device, u32 sectorSize)
    {
        (void)device;
        (void)sectorSize;
        return kErrUnsupported;
    }
    // Reads byteCount bytes at any byte offset. Returns 0, 1 (not open), 4 (seek), 5 (read).
    [[nodiscard]] virtual u32 ReadBytes(void* buffer, u32 byteCount, u32* bytesDone, s64 byteOffset)
    {
        (void)buffer;
        (void)byteCount;
        (void)bytesDone;
        (void)byteOffset;
        return kErrUnsupported;
    }
    // Writes byteCount bytes at any byte offset. Returns 0, 4, 5 or 0xFFFFFFFF (not open).
    [[nodiscard]] virtual u32 WriteBytes(const void* buffer, u32 byteCount, u32* bytesDone,
                                         s64 byteOffset)
    {
        (void)buffer;
        (void)byteCount;
        (void)bytesDone;
        (void)byteOffset;
        return kErrUnsupported;
    }
    // Reads whole sectors. Returns 0, 4, 5 or 0xFFFFFFFF (not open).
    [[nodiscard]] virtual u32 ReadSectors(void* buffer, u32 sectorCount, u32* bytesDone,
                                          u64 firstSector)
    {
        (void)buffer;
        (void)sectorCount;
        (void)bytesDone;
        (void)firstSector;
        return kErrUnsupported;
    }
    // Writes whole sectors. Returns 0, 4, 5 or 0xFFFFFFFF (not open).
    [[nodiscard]] virtual u32 WriteSectors(const void* buffer, u32 sectorCount, u32* bytesDone,
                                           u64 firstSector)
    {
        (void)buffer;
        (void)sectorCount;
        (void)bytesDone;
        (void)firstSector;
        return kErrUnsupported;
    }
};
