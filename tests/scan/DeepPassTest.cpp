#include "scan/DeepPass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "catalog/Catalog.h"
#include "disk/Faulty_RW.h"
#include "platform/EventSink.h"
#include "support/RecordingSink.h"

namespace
{
struct PassCase
{
    const char* what;
    u64 start;
    u64 end;
    u32 unit;
    u32 lookahead;
    bool counted; // the engine counts what it recognised: the progress shows its count
};

// A failing disk that counts its transfers and clears the run flag at the one numbered stopAt,
// as a user's stop coming while a block is read again unit by unit.
class StoppingReader final : public CFaulty_RW
{
public:
    using CFaulty_RW::CFaulty_RW;
    u64 stopAt = 0;
    u64 transfers = 0;

protected:
    u32 RawRead(void* buffer, u32 byteCount, u32* bytesDone, u64 byteOffset) override
    {
        if (++transfers == stopAt)
            g_bRunning = 0;
        return CFaulty_RW::RawRead(buffer, byteCount, bytesDone, byteOffset);
    }
};

// A volume whose every 4-byte word holds its own offset, so that a block's bytes tell where
// they were read from.
std::vector<u8> CountingImage(std::size_t bytes)
{
    std::vector<u8> image(bytes);
    for (std::size_t at = 0; at + 4 <= bytes; at += 4)
    {
        const u32 value = static_cast<u32>(at);
        std::memcpy(image.data() + at, &value, 4);
    }
    return image;
}
} // namespace

// Every unit of the range is handed over once, in order, in blocks that begin on a unit and
// show the lookahead of the next; the progress ends at the whole range.
TEST(DeepPass, VisitsEveryUnitOnceWithLookahead)
{
    const PassCase cases[] = {
        {"one short block", 0, 4096, 512, 0, false},
        {"blocks and a tail", 512, (kDeepBlockBytes * 2) + 12288 + 512, 4096, 1024, true},
        {"a unit that does not divide the block", 1024, kDeepBlockBytes + 99 * 3072, 3072, 0,
         false},
        {"lookahead past the end", 0, kDeepBlockBytes + 4096, 4096, 65536, false},
    };
    for (const PassCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        const std::vector<u8> image = CountingImage(static_cast<std::size_t>(c.end));
        CFaulty_RW reader(image);
        CCatalog catalog;
        RecordingSink sink(WM_SCAN_NOTIFY);
        catalog.m_sink = &sink;
        VolumeEntry entry;
        entry.name = "C:";
        g_bRunning = 1;
        u64 expected = c.start;
        // The tap (carving's header search) sees each block's own bytes, in order, once.
        u64 tapped = c.start;
        entry.deepTap = [&](u64 offset, std::span<const u8> bytes)
        {
            EXPECT_EQ(offset, tapped);
            EXPECT_EQ(0, std::memcmp(bytes.data(), image.data() + offset, bytes.size()));
            tapped += bytes.size();
        };
        const DeepRange range{c.start, c.end, c.unit, c.lookahead};
        const bool whole = RunDeepPass(
            catalog, entry, &reader, range,
            [&](const DeepBlock& block)
            {
                EXPECT_EQ(block.offset, expected);
                EXPECT_EQ((block.offset - c.start) % c.unit, 0u);
                EXPECT_EQ(block.bytes.size(),
                          std::min<u64>(block.own + c.lookahead, c.end - block.offset));
                EXPECT_EQ(0, std::memcmp(block.bytes.data(), image.data() + block.offset,
                                         block.bytes.size()));
                EXPECT_EQ(block.unreadableUnits, nullptr);
                expected += block.own;
            },
            c.counted ? DeepCount([] { return std::size_t{7}; }) : DeepCount());
        EXPECT_TRUE(whole);
        EXPECT_EQ(expected, c.end);
        EXPECT_EQ(tapped, c.end);
        const auto progress = sink.Of(kScanDeepProgress);
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back().extra, 1000u);
        EXPECT_EQ(progress.back().text, c.counted ? "Deep search: 100% read, 7 found"
                                                  : "Deep search: 100% read, 0 found");
        catalog.m_sink = nullptr;
    }
}

// A unit that cannot be read is zeros and flagged, named once, and the units beside it still
// arrive; a cleared run flag ends the pass after the block in hand.
TEST(DeepPass, UnreadableUnitsAndStop)
{
    const u64 end = kDeepBlockBytes * 3;
    const std::vector<u8> image = CountingImage(static_cast<std::size_t>(end));
    CFaulty_RW reader(image);
    reader.FailSector(kDeepBlockBytes / 512 + 9); // unit 1 of the second block
    CCatalog catalog;
    RecordingSink sink(WM_SCAN_NOTIFY);
    catalog.m_sink = &sink;
    VolumeEntry entry;
    entry.name = "C:";
    g_bRunning = 1;
    std::vector<u64> seen;
    const bool whole =
        RunDeepPass(catalog, entry, &reader, DeepRange{0, end, 4096, 0},
                    [&](const DeepBlock& block)
                    {
                        seen.push_back(block.offset);
                        if (block.offset != kDeepBlockBytes)
                            return;
                        ASSERT_NE(block.unreadableUnits, nullptr);
                        EXPECT_FALSE((*block.unreadableUnits)[0]);
                        EXPECT_TRUE((*block.unreadableUnits)[1]);
                        EXPECT_FALSE((*block.unreadableUnits)[2]);
                        EXPECT_EQ(block.bytes[4096], 0);
                        EXPECT_EQ(block.bytes[8192 - 1], 0);
                        EXPECT_EQ(0, std::memcmp(block.bytes.data() + 8192,
                                                 image.data() + block.offset + 8192, 4096));
                        g_bRunning = 0; // a stop while this block is in hand
                    });
    EXPECT_FALSE(whole);
    EXPECT_EQ(seen, (std::vector<u64>{0, kDeepBlockBytes}));
    const auto unreadable = sink.Of(kScanUnreadable);
    ASSERT_EQ(unreadable.size(), 1u);
    EXPECT_NE(unreadable[0].text.find("bytes 8392704 to 8396799"), std::string::npos)
        << unreadable[0].text;
    catalog.m_sink = nullptr;
    g_bRunning = 0;
}

// A stop while a failed block is read again unit by unit ends the reading at once (a failing
// disk may take seconds a unit); the units not tried are not named as unreadable.
TEST(DeepPass, StopDuringUnitByUnitReadsEndsAtOnce)
{
    const u64 end = kDeepBlockBytes * 3;
    StoppingReader reader(CountingImage(static_cast<std::size_t>(end)));
    reader.FailAfter(1); // the first block arrives, every later transfer fails
    reader.stopAt = 5;   // the second block's whole read and three of its units
    CCatalog catalog;
    RecordingSink sink(WM_SCAN_NOTIFY);
    catalog.m_sink = &sink;
    VolumeEntry entry;
    entry.name = "C:";
    g_bRunning = 1;
    std::vector<u64> seen;
    const bool whole = RunDeepPass(catalog, entry, &reader, DeepRange{0, end, 4096, 0},
                                   [&](const DeepBlock& block) { seen.push_back(block.offset); });
    EXPECT_FALSE(whole);
    EXPECT_LE(reader.transfers, 6u); // not the 2,048 units of the block
    EXPECT_EQ(seen, std::vector<u64>{0});
    EXPECT_TRUE(sink.Of(kScanUnreadable).empty());
    catalog.m_sink = nullptr;
    g_bRunning = 0;
}
