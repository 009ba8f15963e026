// ReadPartitionTable on disks crafted in memory: MBR primaries, extended boot record chains
// (long, looping, broken), GPT with primary and backup headers, and the inputs that are no table.
#include "platform/PartitionTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"
#include "platform/Status.h"

namespace
{
constexpr u32 kSector = 512;

class Disk
{
public:
    explicit Disk(u64 sectors, u32 sectorSize = kSector)
        : m_bytes(sectors * sectorSize, 0), m_sectorSize(sectorSize)
    {
    }

    u8* At(u64 lba) { return m_bytes.data() + lba * m_sectorSize; }

    // An MBR or EBR slot; also writes the boot signature of that sector.
    void Slot(u64 lba, u32 slot, u8 type, u32 start, u32 count, u8 boot = 0)
    {
        u8* e = At(lba) + 0x1BE + slot * 16;
        e[0] = boot;
        e[4] = type;
        StoreLe32(e + 8, start);
        StoreLe32(e + 12, count);
        At(lba)[510] = 0x55;
        At(lba)[511] = 0xAA;
    }

    // A GPT header at lba whose entry array (count entries of 128 bytes) sits at entryLba.
    void GptHeader(u64 lba, u64 entryLba, u32 count, u64 alternate)
    {
        u8* h = At(lba);
        std::memcpy(h, "EFI PART", 8);
        StoreLe32(h + 0x08, 0x00010000);
        StoreLe32(h + 0x0C, 92);
        StoreLe64(h + 0x18, lba);
        StoreLe64(h + 0x20, alternate);
        StoreLe64(h + 0x28, 34);
        StoreLe64(h + 0x30, Sectors() - 34);
        StoreLe64(h + 0x48, entryLba);
        StoreLe32(h + 0x50, count);
        StoreLe32(h + 0x54, 128);
        StoreLe32(h + 0x58, Crc32(At(entryLba), static_cast<std::size_t>(count) * 128));
        StoreLe32(h + 0x10, 0);
        StoreLe32(h + 0x10, Crc32(h, 92));
    }

    void GptEntry(u64 entryLba, u32 index, u64 first, u64 last)
    {
        u8* e = At(entryLba) + index * 128;
        for (int i = 0; i < 16; ++i)
            e[i] = static_cast<u8>(0xA0 + i);
        StoreLe64(e + 0x20, first);
        StoreLe64(e + 0x28, last);
    }

    [[nodiscard]] u64 Sectors() const { return m_bytes.size() / m_sectorSize; }
    [[nodiscard]] u64 Size() const { return m_bytes.size(); }

    u32 Read(PartitionTable* table, u64 diskSize = ~0ull)
    {
        DiskReadFn read = [this](u64 offset, void* buffer, u32 length)
        {
            if (offset > m_bytes.size() || length > m_bytes.size() - offset)
                return false;
            std::memcpy(buffer, m_bytes.data() + offset, length);
            return true;
        };
        return ReadPartitionTable(read, diskSize == ~0ull ? Size() : diskSize, kSector, table);
    }

private:
    std::vector<u8> m_bytes;
    u32 m_sectorSize;
};

struct Expected
{
    u32 number;
    u64 lba;
    u64 sectors;
};

void ExpectEntries(const PartitionTable& table, const std::vector<Expected>& expected,
                   u32 sectorSize = kSector)
{
    ASSERT_EQ(table.entries.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        SCOPED_TRACE("entry " + std::to_string(i));
        EXPECT_EQ(table.entries[i].number, expected[i].number);
        EXPECT_EQ(table.entries[i].offset, expected[i].lba * sectorSize);
        EXPECT_EQ(table.entries[i].length, expected[i].sectors * sectorSize);
    }
}

TEST(PartitionTableTest, MbrPrimariesKeepSlotNumbersAndClipToTheDisk)
{
    Disk disk(4096);
    disk.Slot(0, 0, 0x06, 64, 1000, 0x80);
    disk.Slot(0, 2, 0x07, 2048, 10000); // runs past the end of the disk
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_EQ(table.scheme, PartitionScheme::Mbr);
    EXPECT_FALSE(table.damaged);
    ExpectEntries(table, {{1, 64, 1000}, {3, 2048, 4096 - 2048}});
    EXPECT_EQ(table.entries[0].mbrType, 0x06);
}

TEST(PartitionTableTest, MbrEntriesOutsideTheDiskOrOverTheMbrAreDropped)
{
    Disk disk(1024);
    disk.Slot(0, 0, 0x06, 0, 100);    // covers the MBR
    disk.Slot(0, 1, 0x0C, 5000, 100); // beyond the end
    disk.Slot(0, 2, 0x0B, 100, 0);    // no sectors
    disk.Slot(0, 3, 0x07, 200, 100);
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_TRUE(table.damaged);
    ExpectEntries(table, {{4, 200, 100}});
}

TEST(PartitionTableTest, ExtendedChainListsLogicalsRelativeToTheirOwnRecord)
{
    Disk disk(8192);
    disk.Slot(0, 0, 0x0C, 64, 100);
    disk.Slot(0, 1, 0x0F, 1000, 7000);
    // EBR 1 at 1000: logical at +63, next EBR at ext + 2000.
    disk.Slot(1000, 0, 0x06, 63, 500);
    disk.Slot(1000, 1, 0x05, 2000, 600);
    // EBR 2 at 3000: an empty first slot is skipped but the chain goes on.
    disk.Slot(3000, 1, 0x05, 3000, 600);
    // EBR 3 at 4000: the last one.
    disk.Slot(4000, 0, 0x07, 1, 300);
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_FALSE(table.damaged);
    ExpectEntries(table, {{1, 64, 100}, {5, 1063, 500}, {6, 4001, 300}});
}

TEST(PartitionTableTest, EveryLogicalSlotOfARecordIsListed)
{
    Disk disk(8192);
    disk.Slot(0, 0, 0x0F, 1000, 7000);
    // EBR 1 at 1000: logicals in slots 0 and 1, the link in slot 2.
    disk.Slot(1000, 0, 0x06, 63, 400);
    disk.Slot(1000, 1, 0x0C, 500, 400);
    disk.Slot(1000, 2, 0x05, 2000, 600);
    // EBR 2 at 3000: the link first, logicals in slots 1 and 3; a second link is not followed.
    disk.Slot(3000, 0, 0x05, 3000, 600);
    disk.Slot(3000, 1, 0x07, 10, 100);
    disk.Slot(3000, 2, 0x05, 2000, 600);
    disk.Slot(3000, 3, 0x01, 200, 50);
    // EBR 3 at 4000: four logicals, no link.
    for (u32 i = 0; i < 4; ++i)
        disk.Slot(4000, i, 0x0B, 1 + 100 * i, 100);
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_FALSE(table.damaged);
    ExpectEntries(table, {{5, 1063, 400},
                          {6, 1500, 400},
                          {7, 3010, 100},
                          {8, 3200, 50},
                          {9, 4001, 100},
                          {10, 4101, 100},
                          {11, 4201, 100},
                          {12, 4301, 100}});
}

TEST(PartitionTableTest, LogicalsOfFullRecordsStopAtTheBound)
{
    // Three logicals and a link in every EBR: the bound on logicals comes before the one on
    // records.
    const u32 records = kMaxLogicalPartitions / 2;
    Disk disk(16 + 8 * records + 8);
    disk.Slot(0, 0, 0x05, 16, 8 * records + 4);
    for (u32 i = 0; i < records; ++i)
    {
        u64 ebr = 16 + 8ull * i;
        for (u32 slot = 0; slot < 3; ++slot)
            disk.Slot(ebr, slot, 0x01, 1 + slot, 1);
        disk.Slot(ebr, 3, 0x05, 8 * (i + 1), 8);
    }
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_TRUE(table.damaged);
    ASSERT_EQ(table.entries.size(), kMaxLogicalPartitions);
    EXPECT_EQ(table.entries.back().number, kMaxLogicalPartitions + 4);
}

struct LoopCase
{
    const char* name;
    u32 linkBack; // start of the last EBR's link, relative to the extended partition
};

void PrintTo(const LoopCase& c, std::ostream* os)
{
    *os << c.name;
}

class PartitionTableLoopTest : public ::testing::TestWithParam<LoopCase>
{
};

TEST_P(PartitionTableLoopTest, LoopingChainEndsWithWhatWasRead)
{
    Disk disk(8192);
    disk.Slot(0, 0, 0x05, 1000, 7000);
    disk.Slot(1000, 0, 0x06, 63, 500);
    disk.Slot(1000, 1, 0x05, 1000, 600);
    disk.Slot(2000, 0, 0x06, 63, 500);
    disk.Slot(2000, 1, 0x05, GetParam().linkBack, 600);
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_TRUE(table.damaged);
    ExpectEntries(table, {{5, 1063, 500}, {6, 2063, 500}});
}

INSTANTIATE_TEST_SUITE_P(Links, PartitionTableLoopTest,
                         ::testing::Values(LoopCase{"ToItself", 1000},
                                           LoopCase{"ToTheFirstRecord", 0},
                                           LoopCase{"OutsideTheDisk", 0x7FFFFFFF}),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST(PartitionTableTest, EndlessChainStopsAtTheLogicalPartitionBound)
{
    // Every EBR links to the next sector but one: a chain far longer than the bound.
    const u32 records = kMaxLogicalPartitions + 20;
    Disk disk(16 + 2 * records + 8);
    disk.Slot(0, 0, 0x05, 16, 2 * records + 4);
    for (u32 i = 0; i < records; ++i)
    {
        u64 ebr = 16 + 2ull * i;
        disk.Slot(ebr, 0, 0x01, 1, 1);
        disk.Slot(ebr, 1, 0x05, 2 * (i + 1), 2);
    }
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_TRUE(table.damaged);
    EXPECT_EQ(table.entries.size(), kMaxLogicalPartitions);
}

TEST(PartitionTableTest, GptBehindAProtectiveMbr)
{
    Disk disk(4096);
    disk.Slot(0, 0, 0xEE, 1, 4095);
    disk.GptEntry(2, 0, 2048, 3071);
    disk.GptEntry(2, 3, 3072, 9999); // runs past the end of the disk
    disk.GptHeader(1, 2, 128, 4095);
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_EQ(table.scheme, PartitionScheme::Gpt);
    EXPECT_FALSE(table.damaged);
    ExpectEntries(table, {{1, 2048, 1024}, {4, 3072, 1024}});
    EXPECT_EQ(table.entries[0].gptType[0], 0xA0);
    EXPECT_EQ(table.entries[0].mbrType, 0);
}

TEST(PartitionTableTest, GptFallsBackToTheBackupHeader)
{
    Disk disk(4096);
    disk.Slot(0, 0, 0xEE, 1, 4095);
    disk.GptEntry(4000, 1, 100, 199);
    disk.GptHeader(4095, 4000, 128, 1);
    disk.GptEntry(2, 1, 100, 199);
    disk.GptHeader(1, 2, 128, 4095);
    disk.At(1)[0x20] ^= 1; // primary header no longer matches its CRC
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_EQ(table.scheme, PartitionScheme::Gpt);
    EXPECT_TRUE(table.damaged);
    ExpectEntries(table, {{2, 100, 100}});
}

TEST(PartitionTableTest, GptWithBadEntryArrayLeavesTheMbrEntries)
{
    Disk disk(4096);
    disk.Slot(0, 0, 0xEE, 1, 2047);
    disk.Slot(0, 1, 0x07, 2048, 1024); // a hybrid MBR's second entry
    disk.GptEntry(2, 0, 2048, 3071);
    disk.GptHeader(1, 2, 128, 4095);
    disk.At(2)[0x20] ^= 1; // entry array no longer matches its CRC
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_EQ(table.scheme, PartitionScheme::Mbr);
    EXPECT_TRUE(table.damaged);
    ExpectEntries(table, {{2, 2048, 1024}});
}

struct HeaderFault
{
    const char* name;
    std::size_t field;
    u32 value;
};

void PrintTo(const HeaderFault& c, std::ostream* os)
{
    *os << c.name;
}

class PartitionTableGptHeaderTest : public ::testing::TestWithParam<HeaderFault>
{
};

TEST_P(PartitionTableGptHeaderTest, HostileHeaderFieldIsRejected)
{
    // The header's CRC is made right again after the change, so only the field check stops it.
    Disk disk(4096);
    disk.Slot(0, 0, 0xEE, 1, 4095);
    disk.GptEntry(2, 0, 2048, 3071);
    disk.GptHeader(1, 2, 128, 4095);
    u8* h = disk.At(1);
    StoreLe32(h + GetParam().field, GetParam().value);
    StoreLe32(h + 0x10, 0);
    StoreLe32(h + 0x10, Crc32(h, std::min<u32>(LoadLe32(h + 0x0C), 512)));
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_EQ(table.scheme, PartitionScheme::Mbr);
    EXPECT_TRUE(table.damaged);
    EXPECT_TRUE(table.entries.empty());
}

INSTANTIATE_TEST_SUITE_P(Fields, PartitionTableGptHeaderTest,
                         ::testing::Values(HeaderFault{"HeaderSizeBelowMinimum", 0x0C, 40},
                                           HeaderFault{"HeaderSizeAboveSector", 0x0C, 4096},
                                           HeaderFault{"EntrySizeTooSmall", 0x54, 64},
                                           HeaderFault{"EntrySizeNotMultipleOfEight", 0x54, 130},
                                           HeaderFault{"EntryArrayTooLarge", 0x50, 0x00100000},
                                           HeaderFault{"NoEntries", 0x50, 0},
                                           HeaderFault{"EntryArrayBeyondDisk", 0x48, 0x7FFFFFFF},
                                           HeaderFault{"EntryLbaOverflows", 0x4C, 0xFFFFFFFF},
                                           HeaderFault{"WrongOwnLba", 0x18, 7}),
                         [](const auto& tp) { return std::string(tp.param.name); });

TEST(PartitionTableTest, GptEntriesWithReversedOrOverflowingRangesAreSkipped)
{
    Disk disk(4096);
    disk.Slot(0, 0, 0xEE, 1, 4095);
    disk.GptEntry(2, 0, 3000, 2000);
    disk.GptEntry(2, 1, 0, ~0ull);
    disk.GptEntry(2, 2, ~0ull / 2, ~0ull);
    disk.GptEntry(2, 3, 100, 100);
    disk.GptHeader(1, 2, 128, 4095);
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_TRUE(table.damaged);
    ExpectEntries(table, {{4, 100, 1}});
}

TEST(PartitionTableTest, GptOfA4096ByteSectorDiskImagedIntoAFile)
{
    Disk disk(1024, 4096);
    disk.Slot(0, 0, 0xEE, 1, 1023);
    disk.GptEntry(2, 0, 256, 511);
    disk.GptHeader(1, 2, 32, 1023);
    PartitionTable table;
    ASSERT_EQ(disk.Read(&table), kOk);
    EXPECT_EQ(table.scheme, PartitionScheme::Gpt);
    EXPECT_EQ(table.sectorSize, 4096u);
    ExpectEntries(table, {{1, 256, 256}}, 4096);
}

TEST(PartitionTableTest, InputsThatHoldNoTable)
{
    PartitionTable table;
    {
        Disk disk(64); // all zero: no boot signature
        EXPECT_EQ(disk.Read(&table), kErrClose);
    }
    {
        Disk disk(64); // boot code where the table should be
        disk.Slot(0, 0, 0x06, 1, 10);
        disk.At(0)[0x1CE] = 'T';
        EXPECT_EQ(disk.Read(&table), kErrClose);
    }
    {
        Disk disk(64);
        disk.Slot(0, 0, 0x06, 1, 10);
        EXPECT_EQ(disk.Read(&table, 100), kErrTransfer); // shorter than one sector
        DiskReadFn failing = [](u64, void*, u32) { return false; };
        EXPECT_EQ(ReadPartitionTable(failing, 0, kSector, &table), kErrTransfer);
        DiskReadFn any = [](u64, void*, u32) { return true; };
        EXPECT_EQ(ReadPartitionTable(any, 0, 520, &table), kErrUnsupported);
    }
}

TEST(PartitionTableTest, Crc32MatchesTheStandardCheckValue)
{
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(nullptr, 0), 0u);
}
} // namespace
