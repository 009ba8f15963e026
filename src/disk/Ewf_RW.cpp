// The Expert Witness reader: libewf decodes the image's chunks; the byte-range and sector
// logic is the device reader's.
#include "disk/Ewf_RW.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "platform/DriveTable.h"

namespace
{
constexpr u64 kMaxOffset = static_cast<u64>(std::numeric_limits<s64>::max());
} // namespace

u32 CEwf_RW::Open(const std::string& device, u32 sectorSize)
{
    m_image.Close();
    m_volumeOffset = 0;
    m_volumeLength = 0;
    if (sectorSize != SectorSize())
    {
        u32 status = AdoptSectorSize(sectorSize);
        if (status != kOk)
            return status;
    }
    if (device.empty())
        return kErrTransfer;
    std::optional<DriveSource> source = g_DriveTable.Find(device);
    if (!source || source->path.empty())
        return kErrOpenFailed;
    u32 status = m_image.Open(source->path);
    if (status != kOk)
        return status;
    m_volumeOffset = source->offset;
    m_volumeLength = source->length;
    return kOk;
}

u32 CEwf_RW::RawRead(void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset)
{
    *bytesDone = 0;
    if (byteOffset > kMaxOffset || m_volumeOffset > kMaxOffset - byteOffset)
        return kErrSeek;
    u64 count = byteCount;
    if (m_volumeLength != 0)
        count = byteOffset >= m_volumeLength ? 0 : std::min(count, m_volumeLength - byteOffset);
    if (count == 0)
        return kOk;
    // The image bounds the read by its media size: past it, nothing arrives.
    return m_image.Read(buffer, static_cast<u32>(count), bytesDone, m_volumeOffset + byteOffset);
}

u32 CEwf_RW::RawWrite(const void* /*buffer*/, u32 /*byteCount*/, u32* bytesDone, u64 /*byteOffset*/)
{
    *bytesDone = 0;
    return kErrUnsupported;
}

u32 CEwf_RW::WriteBytes(const void* /*buffer*/, u32 /*byteCount*/, u32* bytesDone,
                        s64 /*byteOffset*/)
{
    if (bytesDone)
        *bytesDone = 0;
    return kErrUnsupported;
}

u32 CEwf_RW::WriteSectors(const void* /*buffer*/, u32 /*sectorCount*/, u32* bytesDone,
                          u64 /*firstSector*/)
{
    if (bytesDone)
        *bytesDone = 0;
    return kErrUnsupported;
}
