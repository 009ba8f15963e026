// The device reader: a volume opened read-only through the drive table and read in whole
// sectors or in byte ranges that need not be sector aligned.
#pragma once

#include <memory>
#include <string>

#include "disk/DirectRW.h"

class CFile_RW : public CDirectRW
{
public:
    CFile_RW();
    ~CFile_RW() override;
    CFile_RW(const CFile_RW&) = delete;
    CFile_RW& operator=(const CFile_RW&) = delete;

    // Closes the open device, adopts sectorSize and opens the image file or block device that
    // the drive table lists for the drive text, read-only. An empty text only closes.
    // Returns 0; 3 (drive text not in the table, the path cannot be opened as a file or
    // block device, or the table lists an Expert Witness image, which CEwf_RW reads); 5 (empty
    // text: the reader is now closed); 7 (the old device did not close cleanly; the reader is
    // closed all the same); 8 (no sector buffer of that size).
    [[nodiscard]] u32 Open(const std::string& device, u32 sectorSize) override;

    // Reads byteCount bytes at byteOffset: a partial head sector and a partial tail sector go
    // through the sector buffer, the whole sectors between them straight into the buffer.
    // A read that meets the end of the device succeeds; *bytesDone tells how much arrived.
    // Returns 0, 1 (not open), 4 (negative or unreachable offset), 5 (read failed),
    // 8 (no sector buffer).
    [[nodiscard]] u32 ReadBytes(void* buffer, u32 byteCount, u32* bytesDone,
                                s64 byteOffset) override;
    // Writes byteCount bytes at byteOffset, reading and rewriting the partial sectors at the
    // ends so that their other bytes keep their values.
    // Returns 0, 4, 5 (read or write failed, or nothing to merge with), 8 (no sector buffer)
    // or 0xFFFFFFFF (not open).
    [[nodiscard]] u32 WriteBytes(const void* buffer, u32 byteCount, u32* bytesDone,
                                 s64 byteOffset) override;
    // Reads sectorCount whole sectors from firstSector on in one positioned transfer.
    // Returns 0 (also for a short read at the end of the device), 4 (position out of reach),
    // 5 (read failed, or a byte count that does not fit 32 bits) or 0xFFFFFFFF (not open).
    [[nodiscard]] u32 ReadSectors(void* buffer, u32 sectorCount, u32* bytesDone,
                                  u64 firstSector) override;
    // Writes whole sectors; statuses as for ReadSectors.
    [[nodiscard]] u32 WriteSectors(const void* buffer, u32 sectorCount, u32* bytesDone,
                                   u64 firstSector) override;

    [[nodiscard]] u32 SectorSize() const { return m_sectorSize; }

protected:
    // Positioned transfers of one contiguous byte range at an absolute device offset. A
    // transfer that meets the end of the device is a success with a short *bytesDone.
    // Return 0, 4 (offset out of reach) or 5 (transfer failed).
    [[nodiscard]] virtual u32 RawRead(void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset);
    [[nodiscard]] virtual u32 RawWrite(const void* buffer, u32 byteCount, u32* bytesDone,
                                       u64 byteOffset);
    [[nodiscard]] virtual bool IsOpen() const { return m_device >= 0; }

    // Replaces the sector buffer by a zero-filled one of the given size. Returns 0 or 8
    // (size 0, above kMaxSectorSize, or no memory); the old buffer stays on failure.
    [[nodiscard]] u32 AdoptSectorSize(u32 sectorSize);

    static constexpr u32 kMaxSectorSize = 64 * 1024;

private:
    // Closes the device; false when the system reported an error while closing.
    bool CloseDevice();

    u32 m_sectorSize = 512;
    std::unique_ptr<u8[]> m_sectorBuffer;
    int m_device = -1;
    u64 m_volumeOffset = 0; // byte offset of the volume inside the opened file or device
    u64 m_volumeLength = 0; // byte length of the volume; 0: up to the end of the file
};
