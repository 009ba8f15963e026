// An in-memory volume behind the sector interface. Transfers past the end deliver what
// exists, like a device at its end: success with a short count.
#include "disk/Mem_RW.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace
{
// The same reach as a device offset, so that both readers fail the same positions.
constexpr u64 kMaxPosition = static_cast<u64>(std::numeric_limits<s64>::max());
} // namespace

CMem_RW::CMem_RW(std::vector<u8> image, u32 sectorSize)
    : m_owned(std::move(image)), m_data(m_owned.data()), m_size(m_owned.size()), m_writable(true)
{
    if (sectorSize != SectorSize())
        m_open = AdoptSectorSize(sectorSize) == kOk;
}

CMem_RW::CMem_RW(const u8* data, std::size_t size, u32 sectorSize)
    : m_data(data), m_size(data ? size : 0)
{
    if (sectorSize != SectorSize())
        m_open = AdoptSectorSize(sectorSize) == kOk;
}

u32 CMem_RW::Open(const std::string& device, u32 sectorSize)
{
    m_open = false;
    if (sectorSize != SectorSize())
    {
        u32 status = AdoptSectorSize(sectorSize);
        if (status != kOk)
            return status;
    }
    if (device.empty())
        return kErrTransfer;
    m_open = true;
    return kOk;
}

u32 CMem_RW::RawRead(void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset)
{
    ++m_reads;
    *bytesDone = 0;
    if (byteOffset > kMaxPosition)
        return kErrSeek;
    u64 n = 0;
    if (byteOffset < m_size)
    {
        n = std::min<u64>(m_size - byteOffset, byteCount);
        std::memcpy(buffer, m_data + byteOffset, n);
    }
    *bytesDone = static_cast<u32>(n);
    return kOk;
}

u32 CMem_RW::RawWrite(const void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset)
{
    *bytesDone = 0;
    if (byteOffset > kMaxPosition)
        return kErrSeek;
    if (!m_writable)
        return kErrTransfer;
    u64 n = 0;
    if (byteOffset < m_size)
    {
        n = std::min<u64>(m_size - byteOffset, byteCount);
        std::memcpy(m_owned.data() + byteOffset, buffer, n);
    }
    *bytesDone = static_cast<u32>(n);
    return kOk;
}
