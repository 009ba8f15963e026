// The bytes tests/images/ntfs-build.c writes into the NTFS test volumes, so that tests can
// compare what they read with what was written (see the head of ntfs-build.c).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One write of "file", "append", "fragment" or "stream" that starts at file offset start:
// lines "LABEL offset P: readable test content.\n", P the line's own offset, the last line cut.
// LABEL is the path as the script gives it, or "PATH:NAME" for a named stream.
inline std::string NtfsText(const std::string& label, std::uint64_t start, std::uint64_t size)
{
    std::string out;
    out.reserve(size);
    while (out.size() < size)
    {
        std::string line =
            label + " offset " + std::to_string(start + out.size()) + ": readable test content.\n";
        out.append(line, 0, size - out.size() < line.size() ? size - out.size() : line.size());
    }
    return out;
}

// One "noise" write of the file at path that starts at file offset start.
inline std::string NtfsNoise(const std::string& path, std::uint64_t start, std::uint64_t size)
{
    std::uint64_t seed = 0xCBF29CE484222325ULL; // FNV-1a, 64 bits
    for (unsigned char c : path)
    {
        seed ^= c;
        seed *= 0x100000001B3ULL;
    }
    std::string out(size, '\0');
    for (std::uint64_t i = 0; i < size; ++i)
    {
        const std::uint64_t o = start + i;
        std::uint64_t x = seed + o / 8 + 0x9E3779B97F4A7C15ULL; // splitmix64
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
        x ^= x >> 31;
        out[i] = static_cast<char>(x >> (8 * (o % 8)));
    }
    return out;
}

// The script's writes to one file, in order, each from where the previous one ended.
struct NtfsWrite
{
    enum Kind
    {
        kText,
        kNoise,
        kHole
    } kind;
    std::uint64_t size;
};

// The whole content of a file (or stream) that the writes made; label as for NtfsText.
inline std::string NtfsContent(const std::string& label, const std::vector<NtfsWrite>& writes)
{
    std::string out;
    for (const NtfsWrite& w : writes)
    {
        if (w.kind == NtfsWrite::kText)
            out += NtfsText(label, out.size(), w.size);
        else if (w.kind == NtfsWrite::kNoise)
            out += NtfsNoise(label, out.size(), w.size);
        else
            out.append(w.size, '\0');
    }
    return out;
}
