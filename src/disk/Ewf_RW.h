// The Expert Witness reader: a volume inside an .E01 image (and its further segments) read
// through libewf, read-only, in whole sectors or in byte ranges.
#pragma once

#include <string>

#include "disk/File_RW.h"
#include "platform/EwfImage.h"

class CEwf_RW : public CFile_RW
{
public:
    CEwf_RW() = default;
    ~CEwf_RW() override = default;
    CEwf_RW(const CEwf_RW&) = delete;
    CEwf_RW& operator=(const CEwf_RW&) = delete;

    // Closes the open image, adopts sectorSize and opens the Expert Witness image that the
    // drive table lists for the drive text, read-only; the volume lies at the entry's offset
    // of the decoded media. An empty text only closes.
    // Returns 0; 3 (drive text not in the table, or no image libewf can open at its path);
    // 5 (empty text: the reader is now closed); 8 (no sector buffer of that size, or no
    // memory for the image handle).
    [[nodiscard]] u32 Open(const std::string& device, u32 sectorSize) override;

    // The image is never written: both return 0xFFFFFFFF and write nothing.
    [[nodiscard]] u32 WriteBytes(const void* buffer, u32 byteCount, u32* bytesDone,
                                 s64 byteOffset) override;
    [[nodiscard]] u32 WriteSectors(const void* buffer, u32 sectorCount, u32* bytesDone,
                                   u64 firstSector) override;

    // Bytes of decoded media in the open image, 0 when closed.
    [[nodiscard]] u64 MediaSize() const { return m_image.MediaSize(); }

protected:
    // Reads of the volume's byte range, cut at the volume's end and at the end of the media.
    // Returns 0, 4 (offset out of reach) or 5 (libewf could not read or decode the data).
    [[nodiscard]] u32 RawRead(void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset) override;
    [[nodiscard]] u32 RawWrite(const void* buffer, u32 byteCount, u32* bytesDone,
                               u64 byteOffset) override;
    [[nodiscard]] bool IsOpen() const override { return m_image.IsOpen(); }

private:
    EwfImage m_image;
    u64 m_volumeOffset = 0; // byte offset of the volume in the media
    u64 m_volumeLength = 0; // byte length of the volume; 0: up to the end of the media
};
