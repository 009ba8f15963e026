// Expert Witness (EWF, .E01) images as volume sources: the segment files of one image opened
// read-only through libewf, and the media they hold read as one run of bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Types.h"

// The signature every EWF segment file begins with ("EVF", then 09 0D 0A FF 00).
inline constexpr u8 kEwfSignature[8] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};

// True when data holds at least the signature and begins with it.
[[nodiscard]] bool HasEwfSignature(const u8* data, std::size_t size);

// True when the open descriptor (an image file) begins with the EWF signature.
[[nodiscard]] bool IsEwfFile(int fd);
// True when path is an image file (opened as OpenSource opens sources) that begins with it.
[[nodiscard]] bool IsEwfPath(const std::string& path);

class EwfImage
{
public:
    EwfImage() = default;
    ~EwfImage();
    EwfImage(const EwfImage&) = delete;
    EwfImage& operator=(const EwfImage&) = delete;

    // Closes the open image, then opens the image whose segment file path names: its further
    // segments (.E02, ...) are looked for beside the file path resolves to. A file whose name
    // follows no segment naming is opened as a one-segment image. Nothing is opened for
    // writing. Returns 0, 3 (not an image file, libewf cannot open the segments, or segments
    // are missing from the set) or 8 (no memory for the handle).
    [[nodiscard]] u32 Open(const std::string& path);
    void Close();
    [[nodiscard]] bool IsOpen() const { return m_handle != nullptr; }

    // Bytes of media the image holds, and its sector size (512 when the image names none).
    [[nodiscard]] u64 MediaSize() const { return m_mediaSize; }
    [[nodiscard]] u32 BytesPerSector() const { return m_bytesPerSector; }
    // What libewf said about the last failure, "" when it said nothing.
    [[nodiscard]] const std::string& LastError() const { return m_lastError; }

    // Reads up to count bytes of media at offset. A read that meets the end of the media
    // succeeds with a short *done (0 at or past the end). Returns 0, 1 (not open),
    // 4 (offset beyond any file offset) or 5 (libewf could not read or decode the chunks, or
    // a chunk failed its checksum; *done is then 0).
    [[nodiscard]] u32 Read(void* buffer, u32 count, u32* done, u64 offset);

private:
    // libewf's count of chunks that failed their checksum so far.
    [[nodiscard]] u32 ChecksumErrors();
    // Takes the media ranges of libewf's checksum errors from index m_damaged.size() up to
    // count into m_damaged; where libewf names none, the range [offset, offset + bytes).
    void NoteDamage(u32 count, u64 offset, u64 bytes);
    // True when [offset, offset + bytes) meets a range that failed its checksum.
    [[nodiscard]] bool Damaged(u64 offset, u64 bytes) const;

    // A range of media bytes whose chunk failed its checksum: libewf counts the failure once,
    // and hands the same chunk out again from its cache as if it were sound.
    struct DamagedRange
    {
        u64 from = 0;
        u64 to = 0;
    };

    std::intptr_t* m_handle = nullptr; // the libewf_handle_t of the open image
    u64 m_mediaSize = 0;
    u32 m_bytesPerSector = 512;
    std::string m_lastError;
    std::vector<DamagedRange> m_damaged;
    u32 m_errorsNoted = 0; // libewf's checksum errors taken into m_damaged
};
