// Fuzzes the byte-range and sector operations of the reader against a plain byte-array model:
// every read must deliver exactly the bytes that exist at its offset, every write change
// exactly the bytes it reports, whatever the offsets, counts and sector size.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "disk/Mem_RW.h"

namespace
{
// Pulls little-endian integers off the input; zeros once it runs out.
struct Cursor
{
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    u64 Take(unsigned bytes)
    {
        u64 v = 0;
        for (unsigned i = 0; i < bytes; ++i)
            v |= static_cast<u64>(at < size ? data[at++] : 0) << (8 * i);
        return v;
    }
};

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

u64 Expected(u64 size, s64 offset, u64 count)
{
    if (offset < 0 || static_cast<u64>(offset) >= size)
        return 0;
    u64 left = size - static_cast<u64>(offset);
    return left < count ? left : count;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const u32 kSectorSizes[] = {512, 4096, 1024, 1, 7, 600};
    Cursor in{data, size};
    const u32 s = kSectorSizes[in.Take(1) % 6];
    const unsigned ops = static_cast<unsigned>(in.Take(1) % 24);
    const u64 imageSize = in.Take(2) % 12000;

    std::vector<u8> model(imageSize);
    for (u64 i = 0; i < imageSize; ++i)
        model[i] = static_cast<u8>(i * 151 + (i >> 8));
    CMem_RW rw(model, s);

    for (unsigned op = 0; op < ops; ++op)
    {
        const unsigned kind = static_cast<unsigned>(in.Take(1));
        const u64 raw = in.Take(8);
        // Mostly offsets near the image; now and then any 64-bit value at all.
        const s64 offset = (kind & 0x80) ? static_cast<s64>(raw)
                                         : static_cast<s64>(raw % (imageSize + 3 * u64{s} + 1));
        const u32 count = static_cast<u32>(in.Take(2) % 9000);
        std::vector<u8> buf(count + 16, 0xA5);
        u32 done = 0xDEAD;

        switch (kind % 3)
        {
        case 0:
        {
            u32 st = rw.ReadBytes(buf.data(), count, &done, offset);
            if (offset < 0)
            {
                Check(st == kErrSeek && done == 0);
                break;
            }
            Check(st == kOk || st == kErrSeek);
            if (st != kOk)
                break;
            Check(done == Expected(imageSize, offset, count));
            Check(done == 0 || std::memcmp(buf.data(), model.data() + offset, done) == 0);
            Check(buf[count] == 0xA5);
            break;
        }
        case 1:
        {
            for (u32 i = 0; i < count; ++i)
                buf[i] = static_cast<u8>(op + i);
            u32 st = rw.WriteBytes(buf.data(), count, &done, offset);
            Check(st == kOk || st == kErrSeek || st == kErrTransfer);
            if (st == kOk)
                Check(done == Expected(imageSize, offset, count));
            if (offset >= 0 && done > 0)
                std::memcpy(model.data() + offset, buf.data(), done);
            Check(rw.Image() == model);
            break;
        }
        default:
        {
            const u64 first = static_cast<u64>(offset) / s;
            const u32 sectors = count / s;
            std::vector<u8> whole(static_cast<std::size_t>(sectors) * s + 1, 0xA5);
            u32 st = rw.ReadSectors(whole.data(), sectors, &done, first);
            if (first > static_cast<u64>(INT64_MAX) / s)
            {
                Check(st == kErrSeek);
                break;
            }
            Check(st == kOk);
            const s64 at = static_cast<s64>(first * s);
            Check(done == Expected(imageSize, at, static_cast<u64>(sectors) * s));
            Check(done == 0 || std::memcmp(whole.data(), model.data() + at, done) == 0);
            Check(whole.back() == 0xA5);
            break;
        }
        }
    }
    return 0;
}
