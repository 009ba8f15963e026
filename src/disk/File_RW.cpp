// The device reader: opens the image file or block device behind a drive text read-only and
// moves bytes with positioned transfers, bouncing partial sectors through one sector buffer.
#include "disk/File_RW.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include <unistd.h>

#include "platform/DriveTable.h"
#include "platform/SourceOpen.h"

static_assert(sizeof(off_t) == 8, "device offsets need a 64-bit off_t");

namespace
{
constexpr u64 kMaxOffset = static_cast<u64>(std::numeric_limits<s64>::max());

// Maps a byte range of the volume onto the file: adds the volume's offset and cuts the range
// at the volume's end and at the largest file offset. False when the start is out of reach.
bool MapToFile(u64 volumeOffset, u64 volumeLength, u64 byteOffset, u64* count, u64* fileOffset)
{
    if (byteOffset > kMaxOffset || volumeOffset > kMaxOffset - byteOffset)
        return false;
    *fileOffset = volumeOffset + byteOffset;
    if (volumeLength != 0)
        *count = byteOffset >= volumeLength ? 0 : std::min(*count, volumeLength - byteOffset);
    *count = std::min(*count, kMaxOffset - *fileOffset);
    return true;
}
} // namespace

CFile_RW::CFile_RW() : m_sectorBuffer(new (std::nothrow) u8[512]())
{
}

CFile_RW::~CFile_RW()
{
    CloseDevice();
}

bool CFile_RW::CloseDevice()
{
    if (m_device < 0)
        return true;
    // Linux releases the descriptor even when close reports an error, so the reader is
    // closed either way; keeping the number would risk closing someone else's file later.
    int rc = ::close(m_device);
    m_device = -1;
    m_volumeOffset = 0;
    m_volumeLength = 0;
    return rc == 0;
}

u32 CFile_RW::AdoptSectorSize(u32 sectorSize)
{
    if (sectorSize == 0 || sectorSize > kMaxSectorSize)
        return kErrNoMemory;
    std::unique_ptr<u8[]> fresh(new (std::nothrow) u8[sectorSize]());
    if (!fresh)
        return kErrNoMemory;
    m_sectorBuffer = std::move(fresh);
    m_sectorSize = sectorSize;
    return kOk;
}

u32 CFile_RW::Open(const std::string& device, u32 sectorSize)
{
    if (m_device >= 0 && !CloseDevice())
        return kErrClose;
    if (sectorSize != m_sectorSize || !m_sectorBuffer)
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
    // An Expert Witness image holds its media encoded: read raw it would yield no volume's
    // bytes, so it is left to the Expert Witness reader.
    if (source->format == SourceFormat::Ewf)
        return kErrOpenFailed;
    // Only a file or a block device holds a volume; a folder or a pipe cannot be positioned,
    // and a pipe is refused before open could wait for a writer.
    int error = 0;
    int fd = OpenSource(source->path, &error);
    if (fd < 0)
        return kErrOpenFailed;
    m_device = fd;
    m_volumeOffset = source->offset;
    m_volumeLength = source->length;
    return kOk;
}

u32 CFile_RW::RawRead(void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset)
{
    *bytesDone = 0;
    u64 count = byteCount;
    u64 at = 0;
    if (!MapToFile(m_volumeOffset, m_volumeLength, byteOffset, &count, &at))
        return kErrSeek;
    u8* out = static_cast<u8*>(buffer);
    u64 done = 0;
    while (done < count)
    {
        ssize_t got = ::pread(m_device, out + done, count - done, static_cast<off_t>(at + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return kErrTransfer;
        if (got == 0)
            break; // end of the file or device
        done += static_cast<u64>(got);
    }
    *bytesDone = static_cast<u32>(done);
    return kOk;
}

u32 CFile_RW::RawWrite(const void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset)
{
    *bytesDone = 0;
    u64 count = byteCount;
    u64 at = 0;
    if (!MapToFile(m_volumeOffset, m_volumeLength, byteOffset, &count, &at))
        return kErrSeek;
    const u8* in = static_cast<const u8*>(buffer);
    u64 done = 0;
    while (done < count)
    {
        ssize_t put = ::pwrite(m_device, in + done, count - done, static_cast<off_t>(at + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return kErrTransfer;
        if (put == 0)
            break;
        done += static_cast<u64>(put);
    }
    *bytesDone = static_cast<u32>(done);
    return kOk;
}

u32 CFile_RW::ReadBytes(void* buffer, u32 byteCount, u32* bytesDone, s64 byteOffset)
{
    if (!IsOpen())
        return kErrNotOpen;
    u32 unused = 0;
    u32* done = bytesDone ? bytesDone : &unused;
    *done = 0;
    if (!m_sectorBuffer)
        return kErrNoMemory;
    if (byteOffset < 0)
        return kErrSeek;
    if (byteCount == 0)
        return kOk;

    const u32 s = m_sectorSize;
    u8* const bounce = m_sectorBuffer.get();
    u8* dest = static_cast<u8*>(buffer);
    u64 pos = static_cast<u64>(byteOffset);
    u32 got = 0;

    // Head: the partial sector the range starts in.
    const u32 h = static_cast<u32>(pos % s);
    if (h != 0)
    {
        pos -= h;
        std::memset(bounce, 0, s);
        u32 status = RawRead(bounce, s, &got, pos);
        if (status != kOk)
            return status;
        const u32 n = std::min(s - h, byteCount);
        std::memcpy(dest, bounce + h, n);
        // Only bytes the device delivered count; a sector cut short by the end of the
        // device ends the range there.
        *done += got > h ? std::min(got - h, n) : 0;
        byteCount -= n;
        if (byteCount == 0 || got < s)
            return kOk;
        pos += s;
        dest += n;
    }

    // Middle: whole sectors straight into the caller's buffer.
    const u32 t = byteCount % s;
    if (byteCount >= s)
    {
        const u32 whole = byteCount - t;
        u32 status = RawRead(dest, whole, &got, pos);
        if (status != kOk)
            return status;
        *done += got;
        if (t == 0 || got < whole)
            return kOk;
        pos += got;
        dest += got;
    }

    // Tail: the partial sector the range ends in.
    std::memset(bounce, 0, s);
    u32 status = RawRead(bounce, s, &got, pos);
    if (status != kOk)
        return status;
    *done += std::min(t, got);
    std::memcpy(dest, bounce, t);
    return kOk;
}

u32 CFile_RW::WriteBytes(const void* buffer, u32 byteCount, u32* bytesDone, s64 byteOffset)
{
    if (!IsOpen())
        return kErrUnsupported;
    u32 unused = 0;
    u32* done = bytesDone ? bytesDone : &unused;
    *done = 0;
    if (!m_sectorBuffer)
        return kErrNoMemory;
    if (byteOffset < 0)
        return kErrSeek;
    if (byteCount == 0)
        return kOk;

    const u32 s = m_sectorSize;
    u8* const bounce = m_sectorBuffer.get();
    const u8* src = static_cast<const u8*>(buffer);
    u64 pos = static_cast<u64>(byteOffset);
    u32 got = 0;
    u32 put = 0;

    // Head: merge the caller's bytes into the sector the range starts in.
    const u32 h = static_cast<u32>(pos % s);
    if (h != 0)
    {
        pos -= h;
        std::memset(bounce, 0, s);
        u32 status = RawRead(bounce, s, &got, pos);
        if (status != kOk)
            return status;
        if (got == 0)
            return kErrTransfer;
        const u32 n = std::min(s - h, byteCount);
        std::memcpy(bounce + h, src, n);
        status = RawWrite(bounce, s, &put, pos);
        if (status != kOk)
            return status;
        *done += put > h ? std::min(put - h, n) : 0;
        byteCount -= n;
        if (byteCount == 0 || put < s)
            return kOk;
        pos += s;
        src += n;
    }

    // Middle: whole sectors straight from the caller's buffer.
    const u32 t = byteCount % s;
    if (byteCount >= s)
    {
        const u32 whole = byteCount - t;
        u32 status = RawWrite(src, whole, &put, pos);
        if (status != kOk)
            return status;
        *done += put;
        if (t == 0 || put < whole)
            return kOk;
        pos += put;
        src += put;
    }

    // Tail: merge the last bytes into the sector the range ends in.
    std::memset(bounce, 0, s);
    u32 status = RawRead(bounce, s, &got, pos);
    if (status != kOk)
        return status;
    if (got == 0)
        return kErrTransfer;
    std::memcpy(bounce, src, t);
    status = RawWrite(bounce, s, &put, pos);
    if (status != kOk)
        return status;
    *done += std::min(t, put);
    return kOk;
}

u32 CFile_RW::ReadSectors(void* buffer, u32 sectorCount, u32* bytesDone, u64 firstSector)
{
    if (!IsOpen())
        return kErrUnsupported;
    u32 unused = 0;
    u32* done = bytesDone ? bytesDone : &unused;
    *done = 0;
    if (firstSector > kMaxOffset / m_sectorSize)
        return kErrSeek;
    const u64 count = static_cast<u64>(sectorCount) * m_sectorSize;
    if (count > std::numeric_limits<u32>::max())
        return kErrTransfer;
    return RawRead(buffer, static_cast<u32>(count), done, firstSector * m_sectorSize);
}

u32 CFile_RW::WriteSectors(const void* buffer, u32 sectorCount, u32* bytesDone, u64 firstSector)
{
    if (!IsOpen())
        return kErrUnsupported;
    u32 unused = 0;
    u32* done = bytesDone ? bytesDone : &unused;
    *done = 0;
    if (firstSector > kMaxOffset / m_sectorSize)
        return kErrSeek;
    const u64 count = static_cast<u64>(sectorCount) * m_sectorSize;
    if (count > std::numeric_limits<u32>::max())
        return kErrTransfer;
    return RawWrite(buffer, static_cast<u32>(count), done, firstSector * m_sectorSize);
}
