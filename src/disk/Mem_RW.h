// An in-memory volume behind the sector interface, for tests and fuzzing. It shares the
// device reader's byte-range logic and replaces only the positioned transfers.
#pragma once

#include <cstddef>
#include <vector>

#include "disk/File_RW.h"

class CMem_RW : public CFile_RW
{
public:
    // The reader is open on the given bytes from construction on; they may be written.
    explicit CMem_RW(std::vector<u8> image, u32 sectorSize = 512);
    // Views bytes owned by the caller (fuzzers); they must outlive the reader. Writes fail.
    CMem_RW(const u8* data, std::size_t size, u32 sectorSize = 512);

    // An empty text closes the reader (5), any other reopens it on the same bytes (0).
    // Returns 8 when no sector buffer of that size can be made.
    [[nodiscard]] u32 Open(const std::string& device, u32 sectorSize) override;

    [[nodiscard]] const std::vector<u8>& Image() const { return m_owned; }
    // Number of positioned reads served: one per ReadSectors, one to three per ReadBytes.
    [[nodiscard]] u64 ReadCount() const { return m_reads; }

protected:
    [[nodiscard]] u32 RawRead(void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset) override;
    [[nodiscard]] u32 RawWrite(const void* buffer, u32 byteCount, u32* bytesDone,
                               u64 byteOffset) override;
    [[nodiscard]] bool IsOpen() const override { return m_open; }

private:
    std::vector<u8> m_owned;
    const u8* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_writable = false;
    bool m_open = true;
    u64 m_reads = 0;
};
