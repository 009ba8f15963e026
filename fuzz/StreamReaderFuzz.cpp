// Fuzzes the readers the engines hand out to a copy: extents of clusters with holes among them,
// and NTFS compression units, over the bytes of a small volume. Whatever the extents claim, the
// pieces cover the stream in order and never more of it, their bytes lie inside the buffer
// they name, and the reader comes to an end.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "catalog/VolumeEngine.h"
#include "disk/Mem_RW.h"
#include "platform/ByteOrder.h"
#include "scan/ntfs/NtfsCompressedStream.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

// Input: u8 flags (bit 0 compressed, bits 1-2 cluster size 512 << n, bits 3-5 chunks a batch),
// u32 size (at most 1 MiB), u32 initialized size (all ones: the whole), u8 extent count N
// (at most 16), N extents of u32 vcn, u32 lcn, u32 length, u8 hole; then the volume's bytes.
constexpr std::size_t kHeader = 10;
constexpr std::size_t kExtent = 13;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    if (size < kHeader)
        return 0;
    DataStream stream;
    const u8 flags = data[0];
    stream.clusterBytes = u64{512} << ((flags >> 1) & 3);
    stream.size = std::min<u64>(LoadLe32(data + 1), 1u << 20);
    const u32 initialized = LoadLe32(data + 5);
    stream.initializedSize = initialized == 0xFFFFFFFFu ? ~0ull : initialized;
    stream.compressionUnit = (flags & 1) != 0 ? 16 : 0;
    const std::size_t count = std::min<std::size_t>(data[9], 16);
    std::size_t at = kHeader;
    for (std::size_t i = 0; i < count && size - at >= kExtent; ++i, at += kExtent)
        stream.extents.push_back(StreamExtent{LoadLe32(data + at), LoadLe32(data + at + 4),
                                              LoadLe32(data + at + 8), data[at + 12] != 0});
    // The volume in a block of its own, so that a read past it is caught.
    const std::vector<u8> volume(data + at, data + size);
    CMem_RW reader(volume.data(), volume.size());
    const u64 chunk = stream.clusterBytes * 4;
    const u64 room = chunk * (1 + ((flags >> 3) & 7));
    std::vector<u8> buffer(room);
    const std::unique_ptr<IStreamReader> streamReader =
        stream.compressionUnit != 0 ? OpenCompressedStream(&reader, stream)
                                    : OpenExtentStream(&reader, stream, chunk);
    if (!streamReader)
        return 0;
    u64 handed = 0;
    unsigned sum = 0;
    while (!streamReader->AtEnd())
    {
        const StreamPiece piece = streamReader->Next(buffer.data(), room);
        if (piece.bytes == 0)
            break;
        Check(piece.ready <= piece.bytes && piece.bytes <= stream.size - handed);
        Check(piece.hole ? piece.data == nullptr : piece.ready == 0 || piece.data != nullptr);
        for (u64 i = 0; !piece.hole && i < piece.ready; ++i)
            sum += piece.data[i];
        handed += piece.bytes;
        if (piece.ready < piece.bytes)
            break; // the read failed: the copy ends there
    }
    Check(handed + (streamReader->AtEnd() ? streamReader->TailZeros() : 0) <= stream.size);
    Check(sum <= 255 * handed);
    return 0;
}
