// Fuzzes the partition-table reader with the input as a whole disk: MBR, extended boot record
// chains and GPT. The GPT checksums are also made right in a second copy, so that the fuzzer
// reaches the header fields and the entry array behind them. Every listed partition must lie
// inside the disk and the number of entries must stay within the stated bounds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/PartitionTable.h"

namespace
{
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

void Run(const std::vector<std::uint8_t>& disk, u64 diskSize, u32 sectorSize)
{
    DiskReadFn read = [&disk](u64 offset, void* buffer, u32 length)
    {
        if (offset > disk.size() || length > disk.size() - offset)
            return false;
        std::memcpy(buffer, disk.data() + offset, length);
        return true;
    };
    PartitionTable table;
    if (ReadPartitionTable(read, diskSize, sectorSize, &table) != 0)
        return;
    Check(
        table.entries.size() <= 4 + kMaxLogicalPartitions ||
        (table.scheme == PartitionScheme::Gpt && table.entries.size() <= kMaxGptEntryBytes / 128));
    for (const PartitionEntry& e : table.entries)
    {
        Check(e.length != 0);
        Check(e.offset <= UINT64_MAX - e.length);
        if (diskSize != 0)
            Check(e.offset < diskSize && e.length <= diskSize - e.offset);
    }
}

// Rewrites the entry-array and header CRCs of a GPT header at byte offset at.
void FixGptChecksums(std::vector<std::uint8_t>* disk, std::size_t at, u32 sectorSize)
{
    if (disk->size() < at + sectorSize || std::memcmp(disk->data() + at, "EFI PART", 8) != 0)
        return;
    u8* h = disk->data() + at;
    u32 headerSize = LoadLe32(h + 0x0C);
    u64 entryOffset = LoadLe64(h + 0x48) * sectorSize;
    u64 bytes = static_cast<u64>(LoadLe32(h + 0x50)) * LoadLe32(h + 0x54);
    if (LoadLe64(h + 0x48) <= UINT64_MAX / sectorSize && entryOffset <= disk->size() &&
        bytes <= disk->size() - entryOffset)
        StoreLe32(h + 0x58, Crc32(disk->data() + entryOffset, static_cast<std::size_t>(bytes)));
    if (headerSize >= 92 && headerSize <= sectorSize)
    {
        StoreLe32(h + 0x10, 0);
        StoreLe32(h + 0x10, Crc32(h, headerSize));
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 4 * 1024 * 1024)
        return 0;
    std::vector<std::uint8_t> disk(data, data + size);
    Run(disk, disk.size(), 512);
    Run(disk, 0, 512); // size unknown: reads past the end fail instead
    FixGptChecksums(&disk, 512, 512);
    FixGptChecksums(&disk, 4096, 4096);
    if (disk.size() >= 1024)
        FixGptChecksums(&disk, disk.size() / 512 * 512 - 512, 512);
    Run(disk, disk.size(), 512);
    if (size % 2 == 1)
        Run(disk, disk.size(), 4096);
    return 0;
}
