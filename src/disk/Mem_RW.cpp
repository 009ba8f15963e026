// An in-memory volume behind the sector interface. Reads past the end deliver what exists,
// like a device read at its end: success with a short count.
#include "disk/Mem_RW.h"

#include <cstring>

CMem_RW::CMem_RW(std::vector<u8> image, u32 sectorSize)
    : m_owned(std::move(image)), m_data(m_owned.data()), m_size(m_owned.size()), m_writable(true),
      m_sectorSize(sectorSize)
{
}

CMem_RW::CMem_RW(const u8* data, std::size_t size, u32 sectorSize)
    : m_data(data), m_size(size), m_sectorSize(sectorSize)
{
}

u32 CMem_RW::Open(const std::string& device, u32 sectorSize)
{
    m_sectorSize = sectorSize;
    m_open = !device.empty();
    return m_open ? kOk : kErrTransfer;
}

u32 CMem_RW::Read(void* buffer, u64 byteCount, u32* bytesDone, u64 byteOffset)
{
    ++m_reads;
    u64 n = 0;
    if (byteOffset < m_size)
    {
        n = m_size - byteOffset;
        if (n > byteCount)
            n = byteCount;
        std::memcpy(buffer, m_data + byteOffset, n);
    }
    if (bytesDone)
        *bytesDone = static_cast<u32>(n);
    return kOk;
}

u32 CMem_RW::Write(const void* buffer, u64 byteCount, u32* bytesDone, u64 byteOffset)
{
    if (!m_writable)
        return kErrTransfer;
    u64 n = 0;
    if (byteOffset < m_size)
    {
        n = m_size - byteOffset;
        if (n > byteCount)
            n = byteCount;
        std::memcpy(m_owned.data() + byteOffset, buffer, n);
    }
    if (bytesDone)
        *bytesDone = static_cast<u32>(n);
    return kOk;
}

u32 CMem_RW::ReadBytes(void* buffer, u32 byteCount, u32* bytesDone, s64 byteOffset)
{
    if (!m_open)
        return kErrNotOpen;
    if (byteOffset < 0)
        return kErrSeek;
    return Read(buffer, byteCount, bytesDone, static_cast<u64>(byteOffset));
}

u32 CMem_RW::WriteBytes(const void* buffer, u32 byteCount, u32* bytesDone, s64 byteOffset)
{
    if (!m_open)
        return kErrUnsupported;
    if (byteOffset < 0)
        return kErrSeek;
    return Write(buffer, byteCount, bytesDone, static_cast<u64>(byteOffset));
}

u32 CMem_RW::ReadSectors(void* buffer, u32 sectorCount, u32* bytesDone, u64 firstSector)
{
    if (!m_open)
        return kErrUnsupported;
    u64 count = static_cast<u64>(sectorCount) * m_sectorSize;
    if (count > 0xFFFFFFFFu || firstSector > (~0ull) / m_sectorSize)
        return kErrSeek;
    return Read(buffer, count, bytesDone, firstSector * m_sectorSize);
}

u32 CMem_RW::WriteSectors(const void* buffer, u32 sectorCount, u32* bytesDone, u64 firstSector)
{
    if (!m_open)
        return kErrUnsupported;
    u64 count = static_cast<u64>(sectorCount) * m_sectorSize;
    if (count > 0xFFFFFFFFu || firstSector > (~0ull) / m_sectorSize)
        return kErrSeek;
    return Write(buffer, count, bytesDone, firstSector * m_sectorSize);
}
