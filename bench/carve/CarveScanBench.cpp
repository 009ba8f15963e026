// Google Benchmark cases for the header search: the scan of the deep search's blocks (run on
// every block of the pass, so it must cost little beside the read) over clusters of random
// data, text and zeros, and MatchHeader alone.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "carve/HeaderSearch.h"

namespace
{
constexpr std::size_t kVolumeBytes = 64u << 20;
constexpr std::size_t kBlockBytes = 1u << 20;
constexpr u8 kJpegStart[4] = {0xFF, 0xD8, 0xFF, 0xE1};

// A volume whose clusters are, in turn, random (compressed data: photos, archives), text,
// zeros, and now and then a header.
const std::vector<u8>& Volume(std::size_t cluster)
{
    static std::vector<u8> volume;
    static std::size_t madeFor = 0;
    if (madeFor == cluster)
        return volume;
    volume.assign(kVolumeBytes, 0);
    std::mt19937 random(30);
    const char* line = "The quick brown fox jumps over the lazy dog, caf\xC3\xA9 at 8.\r\n";
    for (std::size_t at = 0, n = 0; at < kVolumeBytes; at += cluster, ++n)
    {
        u8* p = volume.data() + at;
        if (n % 8 < 5)
            for (std::size_t i = 0; i < cluster; ++i)
                p[i] = static_cast<u8>(random());
        else if (n % 8 < 7)
            for (std::size_t i = 0; i < cluster; ++i)
                p[i] = static_cast<u8>(line[i % std::strlen(line)]);
        if (n % 97 == 0)
            std::memcpy(p, kJpegStart, sizeof kJpegStart);
    }
    madeFor = cluster;
    return volume;
}

void BmCarveScan(benchmark::State& state)
{
    const auto cluster = static_cast<std::size_t>(state.range(0));
    const std::vector<u8>& volume = Volume(cluster);
    for (auto _ : state)
    {
        CarveScan scan(0, 2, 2 + kVolumeBytes / cluster, cluster);
        for (std::size_t off = 0; off < volume.size(); off += kBlockBytes)
            scan.Scan(off, std::span<const u8>(volume).subspan(off, kBlockBytes));
        benchmark::DoNotOptimize(scan.Candidates().size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kVolumeBytes);
}
BENCHMARK(BmCarveScan)->Arg(512)->Arg(4096)->Arg(32768)->Unit(benchmark::kMillisecond);

void BmMatchHeader(benchmark::State& state)
{
    const std::vector<u8>& volume = Volume(4096);
    std::size_t at = 0;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(
            MatchHeader(std::span<const u8>(volume).subspan(at, kHeaderBytes)));
        at = (at + 4096) % (kVolumeBytes - 4096);
    }
}
BENCHMARK(BmMatchHeader);
} // namespace

BENCHMARK_MAIN();
