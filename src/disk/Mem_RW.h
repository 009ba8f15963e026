// An in-memory volume behind the sector interface, for tests and fuzzing.
#pragma once

#include <vector>

#include "disk/DirectRW.h"

class CMem_RW : public CDirectRW
{
public:
    // The reader is open on the given bytes from construction on.
    explicit CMem_RW(std::vector<u8> image, u32 sectorSize = 512);
    // Views bytes owned by the caller (fuzzers); they must outlive the reader.
    CMem_RW(const u8* data, std::size_t size, u32 sectorSize = 512);

    [[nodiscard]] u32 Open(const std::string& device, u32 sectorSize) override;
    [[nodiscard]] u32 ReadBytes(void* buffer, u32 byteCount, u32* bytesDone,
                                s64 byteOffset) override;
    [[nodiscard]] u32 WriteBytes(const void* buffer, u32 byteCount, u32* bytesDone,
                                 s64 byteOffset) override;
    [[nodiscard]] u32 ReadSectors(void* buffer, u32 sectorCount, u32* bytesDone,
                                  u64 firstSector) override;
    [[nodiscard]] u32 WriteSectors(const void* buffer, u32 sectorCount, u32* bytesDone,
                                   u64 firstSector) override;

    [[nodiscard]] const std::vector<u8>& Image() const { return m_owned; }
    // Number of ReadSectors/ReadBytes calls served, for tests that count I/O.
    [[nodiscard]] u64 ReadCount() const { return m_reads; }

private:
    u32 Read(void* buffer, u64 byteCount, u32* bytesDone, u64 byteOffset);
    u32 Write(const void* buffer, u64 byteCount, u32* bytesDone, u64 byteOffset);

    std::vector<u8> m_owned;
    const u8* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_writable = false;
    bool m_open = true;
    u32 m_sectorSize;
    u64 m_reads = 0;
};
