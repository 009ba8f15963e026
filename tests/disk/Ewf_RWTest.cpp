// CEwf_RW on images that ewfacquire wrote at test time: reads at any offset, across chunk and
// segment boundaries and past the end, compared with the bytes that were acquired; a volume at
// an offset of the media; the reader each drive gets; refusals (writes, raw files, missing
// segments) and a chunk whose checksum fails.
#include "disk/Ewf_RW.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "disk/DriveReader.h"
#include "platform/DriveTable.h"
#include "support/DriveSources.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
constexpr s64 kChunk = 16 * 512; // e01-pattern: 16 sectors per chunk

DriveSource EwfSource(const std::string& drive, const std::string& path, u64 offset = 0,
                      u64 length = 0)
{
    DriveSource source = MakeSource(drive, path, offset, length);
    source.format = SourceFormat::Ewf;
    return source;
}

// The folder that holds the segments and volume.raw of an e01 test image.
fs::path ImageFolder(const std::string& image)
{
    return fs::canonical(image).parent_path();
}

class Ewf_RWTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_image = TestImage("e01-pattern");
        ASSERT_FALSE(m_image.empty());
        m_raw = ReadWholeFile((ImageFolder(m_image) / "volume.raw").string());
        ASSERT_FALSE(m_raw.empty());
    }
    void TearDown() override { g_DriveTable.Clear(); }

    // Reads count bytes at offset and checks them, and their number, against the raw bytes.
    void ExpectRead(CDirectRW& reader, const char* what, s64 offset, u32 count, u64 base = 0,
                    u64 length = 0)
    {
        const u64 end = length != 0 ? base + length : m_raw.size();
        const u64 at = base + static_cast<u64>(offset);
        const u64 avail = at >= end ? 0 : std::min<u64>(count, end - at);
        std::vector<u8> got(count, 0xEE);
        u32 done = 12345;
        ASSERT_EQ(reader.ReadBytes(got.data(), count, &done, offset), kOk) << what;
        EXPECT_EQ(done, avail) << what;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<s64>(avail),
                               m_raw.begin() + static_cast<s64>(std::min<u64>(at, end))))
            << what;
    }

    std::string m_image;
    std::vector<u8> m_raw;
};
} // namespace

TEST_F(Ewf_RWTest, ReadsMatchTheAcquiredBytesEverywhere)
{
    ASSERT_TRUE(fs::exists(ImageFolder(m_image) / "image.E03")) << "expected three segments";
    g_DriveTable.Register(EwfSource("E:", m_image));
    CEwf_RW reader;
    ASSERT_EQ(reader.Open("E:", 512), kOk);
    ASSERT_EQ(reader.MediaSize(), m_raw.size());
    const s64 size = static_cast<s64>(m_raw.size());
    struct Case
    {
        const char* what;
        s64 offset;
        u32 count;
    };
    const Case cases[] = {
        {"first sector", 0, 512},
        {"odd offset inside a chunk", 1001, 77},
        {"across a chunk boundary", kChunk - 5, 10},
        {"several chunks from an odd offset", 3 * kChunk + 17, 5 * kChunk + 3},
        {"across the first segment's end", 1000 * 1024, 100 * 1024},
        {"the whole media", 0, static_cast<u32>(size)},
        {"the last bytes", size - 700, 700},
        {"running past the end", size - 100, 1000},
        {"at the end", size, 512},
        {"beyond the end", size + 4096, 16},
    };
    for (const Case& c : cases)
        ExpectRead(reader, c.what, c.offset, c.count);

    // Whole sectors: the last one, then a run cut short by the end, then none at all.
    std::vector<u8> sectors(4 * 512);
    u32 done = 0;
    const u64 last = m_raw.size() / 512 - 1;
    ASSERT_EQ(reader.ReadSectors(sectors.data(), 4, &done, last), kOk);
    EXPECT_EQ(done, 512u);
    EXPECT_TRUE(std::equal(sectors.begin(), sectors.begin() + 512, m_raw.end() - 512));
    ASSERT_EQ(reader.ReadSectors(sectors.data(), 1, &done, last + 10), kOk);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(reader.ReadBytes(sectors.data(), 16, &done, -1), kErrSeek);

    // Closing: reads are refused until the reader is opened again.
    EXPECT_EQ(reader.Open("", 512), kErrTransfer);
    EXPECT_EQ(reader.ReadBytes(sectors.data(), 16, &done, 0), kErrNotOpen);
}

TEST_F(Ewf_RWTest, VolumeAtAnOffsetIsCutAtItsLength)
{
    const u64 base = 5 * 512;
    const u64 length = 3 * static_cast<u64>(kChunk);
    g_DriveTable.Register(EwfSource("F:", m_image, base, length));
    CEwf_RW reader;
    ASSERT_EQ(reader.Open("F:", 512), kOk);
    ExpectRead(reader, "volume start", 0, 512, base, length);
    ExpectRead(reader, "across a chunk", kChunk - 100, 300, base, length);
    ExpectRead(reader, "past the volume's end", static_cast<s64>(length) - 10, 100, base, length);
    ExpectRead(reader, "beyond the volume", static_cast<s64>(length) + 512, 100, base, length);
}

TEST_F(Ewf_RWTest, EachDriveGetsTheReaderOfItsFormat)
{
    const std::string raw = (ImageFolder(m_image) / "volume.raw").string();
    g_DriveTable.Register(EwfSource("E:", m_image));
    g_DriveTable.Register(MakeSource("R:", raw));
    std::unique_ptr<CDirectRW> ewf = NewDriveReader("E:");
    std::unique_ptr<CDirectRW> file = NewDriveReader("R:");
    EXPECT_NE(dynamic_cast<CEwf_RW*>(ewf.get()), nullptr);
    EXPECT_EQ(dynamic_cast<CEwf_RW*>(file.get()), nullptr);
    ASSERT_EQ(ewf->Open("E:", 512), kOk);
    ASSERT_EQ(file->Open("R:", 512), kOk);
    std::vector<u8> a(3 * kChunk);
    std::vector<u8> b(3 * kChunk);
    u32 doneA = 0;
    u32 doneB = 0;
    ASSERT_EQ(ewf->ReadBytes(a.data(), static_cast<u32>(a.size()), &doneA, 7777), kOk);
    ASSERT_EQ(file->ReadBytes(b.data(), static_cast<u32>(b.size()), &doneB, 7777), kOk);
    EXPECT_EQ(doneA, doneB);
    EXPECT_EQ(a, b);
    // The device reader never hands out an Expert Witness image's encoded bytes.
    CFile_RW device;
    EXPECT_EQ(device.Open("E:", 512), kErrOpenFailed);
}

TEST_F(Ewf_RWTest, RefusesWritesRawFilesAndIncompleteSets)
{
    const fs::path folder = ImageFolder(m_image);
    const std::string scratch = ScratchDir("ewf");
    // Only the first of three segments: libewf would serve zeros for the rest.
    fs::copy_file(folder / "image.E01", fs::path(scratch) / "image.E01");
    g_DriveTable.Register(EwfSource("E:", m_image));
    g_DriveTable.Register(EwfSource("M:", scratch + "/image.E01"));
    g_DriveTable.Register(EwfSource("R:", (folder / "volume.raw").string()));

    CEwf_RW reader;
    EXPECT_EQ(reader.Open("M:", 512), kErrOpenFailed);
    EXPECT_EQ(reader.Open("R:", 512), kErrOpenFailed);
    EXPECT_EQ(reader.Open("Q:", 512), kErrOpenFailed);
    ASSERT_EQ(reader.Open("E:", 512), kOk);
    std::vector<u8> bytes(1024, 0x55);
    u32 done = 7;
    EXPECT_EQ(reader.WriteBytes(bytes.data(), 100, &done, 10), kErrUnsupported);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(reader.WriteSectors(bytes.data(), 2, &done, 0), kErrUnsupported);
    ExpectRead(reader, "unchanged after the refused writes", 0, 1024);
}

TEST_F(Ewf_RWTest, ChunkFailingItsChecksumFailsTheRead)
{
    // Copy the set and flip one byte of the chunk that holds offset 1500000 (segment 2: the
    // chunks are stored uncompressed, so the raw bytes are found as they are).
    const fs::path folder = ImageFolder(m_image);
    const fs::path scratch = ScratchDir("ewf");
    for (const char* name : {"image.E01", "image.E02", "image.E03"})
        fs::copy_file(folder / name, scratch / name);
    std::vector<u8> segment = ReadWholeFile((scratch / "image.E02").string());
    const u64 target = 1500000;
    auto it = std::search(segment.begin(), segment.end(), m_raw.begin() + target,
                          m_raw.begin() + target + 16);
    ASSERT_NE(it, segment.end());
    *it ^= 0x01;
    std::ofstream((scratch / "image.E02").string(), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(segment.data()),
               static_cast<std::streamsize>(segment.size()));

    g_DriveTable.Register(EwfSource("D:", (scratch / "image.E01").string()));
    CEwf_RW reader;
    ASSERT_EQ(reader.Open("D:", 512), kOk);
    std::vector<u8> bytes(512);
    u32 done = 9;
    EXPECT_EQ(reader.ReadBytes(bytes.data(), 512, &done, target), kErrTransfer);
    EXPECT_EQ(done, 0u);
    // The chunks around it still read.
    ExpectRead(reader, "before the damaged chunk", 0, 4096);
    ExpectRead(reader, "after the damaged chunk", (target / kChunk + 1) * kChunk, 4096);
}

TEST_F(Ewf_RWTest, ImageUnderAnotherNameOpensAsOneSegment)
{
    // Known by its signature, not its name: a one-segment image renamed to disk.img.
    const std::string ntfs = TestImage("e01-ntfs");
    ASSERT_FALSE(ntfs.empty());
    const fs::path folder = ImageFolder(ntfs);
    const std::string renamed = ScratchDir("ewf") + "/disk.img";
    fs::copy_file(folder / "image.E01", renamed);
    std::vector<u8> raw = ReadWholeFile((folder / "volume.raw").string());
    g_DriveTable.Register(EwfSource("N:", renamed));
    CEwf_RW reader;
    ASSERT_EQ(reader.Open("N:", 512), kOk);
    EXPECT_EQ(reader.MediaSize(), raw.size());
    std::vector<u8> got(64 * 1024);
    u32 done = 0;
    ASSERT_EQ(reader.ReadBytes(got.data(), static_cast<u32>(got.size()), &done, 0), kOk);
    ASSERT_EQ(done, got.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), raw.begin()));
}
