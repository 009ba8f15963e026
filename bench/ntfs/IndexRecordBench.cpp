// Bench driver: the speed of ReadIndexRecord in records a second, over the index records of an
// NTFS image (every "INDX" at a cluster boundary), as they are and with their slack filled with
// noise (the slack search then tries every 8-byte step), each record copied before it is read
// as the deep search does. Prints one line per set: records, seconds, records/s, MiB/s.
//   index-record-bench IMAGE [CLUSTER_BYTES] [SECONDS_PER_SET]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "ntfs/IndexRecord.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"

namespace
{
using Records = std::vector<std::vector<u8>>;

Records Collect(const std::vector<u8>& image, std::size_t cluster)
{
    Records out;
    for (std::size_t at = 0; at + cluster <= image.size(); at += cluster)
        if (std::memcmp(&image[at], "INDX", 4) == 0)
            out.emplace_back(image.begin() + static_cast<std::ptrdiff_t>(at),
                             image.begin() + static_cast<std::ptrdiff_t>(at + cluster));
    return out;
}

// The same records with every byte of their slack replaced by noise, the stride ends kept
// (they hold the update sequence number on disk).
Records WithNoisySlack(Records records)
{
    std::mt19937 noise(29);
    for (std::vector<u8>& r : records)
    {
        const std::size_t inUse = 0x18 + std::size_t{LoadLe32(&r[0x1C])};
        for (std::size_t i = inUse; i < r.size(); ++i)
            if (i % 512 < 510)
                r[i] = static_cast<u8>(noise());
    }
    return records;
}

void Time(const char* label, const Records& records, double seconds)
{
    if (records.empty())
        return;
    std::vector<u8> copy(records[0].size());
    std::vector<IndexNameEntry> entries;
    u64 done = 0;
    u64 names = 0;
    const auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (elapsed < seconds)
    {
        for (const std::vector<u8>& r : records)
        {
            std::memcpy(copy.data(), r.data(), r.size());
            IndexRecordInfo info;
            entries.clear();
            if (ReadIndexRecord(copy.data(), r.size(), &info, &entries) == kNtfsOk)
                names += entries.size();
        }
        done += records.size();
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double bytes = static_cast<double>(done) * static_cast<double>(records[0].size());
    std::printf("%-14s %10llu records %6.2f s %12.0f records/s %8.0f MiB/s (%.1f names each)\n",
                label, static_cast<unsigned long long>(done), elapsed,
                static_cast<double>(done) / elapsed, bytes / elapsed / (1024.0 * 1024.0),
                static_cast<double>(names) / static_cast<double>(done));
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: index-record-bench IMAGE [CLUSTER_BYTES] [SECONDS]\n");
        return 2;
    }
    const std::size_t cluster = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 4096;
    const double seconds = argc > 3 ? std::strtod(argv[3], nullptr) : 2.0;
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<u8> image((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
    if (!in.is_open() || image.empty() || cluster < 512 || cluster % 512 != 0)
    {
        std::fprintf(stderr, "index-record-bench: cannot read %s\n", argv[1]);
        return 1;
    }
    const Records records = Collect(image, cluster);
    std::printf("%zu index records of %zu bytes in %s\n", records.size(), cluster, argv[1]);
    Time("as on disk", records, seconds);
    Time("noisy slack", WithNoisySlack(records), seconds);
    return 0;
}
