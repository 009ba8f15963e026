// CFile_RW on real files registered in the drive table: open and close, the three phases of a
// byte range, whole-sector reads beyond 4 GiB, volume windows and the end of the device.
#include "disk/File_RW.h"

#include <gtest/gtest.h>

#include <ostream>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/DriveTable.h"
#include "support/DriveSources.h"
#include "support/TestImages.h"

namespace
{
// Every byte differs from its neighbours and every sector from the others.
u8 Pattern(u64 i)
{
    return static_cast<u8>(i * 131 + (i >> 9) * 7 + 1);
}

std::vector<u8> PatternBytes(u64 from, u64 count)
{
    std::vector<u8> v(count);
    for (u64 i = 0; i < count; ++i)
        v[i] = Pattern(from + i);
    return v;
}

void WriteFile(const std::string& path, u64 size)
{
    std::vector<u8> bytes = PatternBytes(0, size);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

class File_RWTest : public ::testing::Test
{
protected:
    // 16 sectors and 100 bytes: the last sector is cut short by the end of the file.
    static constexpr u64 kFileSize = 16 * 512 + 100;

    void SetUp() override
    {
        m_dir = ScratchDir("file_rw");
        m_path = m_dir + "/volume.img";
        WriteFile(m_path, kFileSize);
        g_DriveTable.Clear();
        RegisterSource("C:", m_path);
    }
    void TearDown() override { g_DriveTable.Clear(); }

    std::string m_dir;
    std::string m_path;
};

TEST_F(File_RWTest, ClosedReaderAnswersNotOpen)
{
    CFile_RW rw;
    std::vector<u8> buf(512);
    u32 done = 7;
    EXPECT_EQ(rw.ReadBytes(buf.data(), 10, &done, 0), kErrNotOpen);
    EXPECT_EQ(rw.WriteBytes(buf.data(), 10, &done, 0), kErrUnsupported);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 0), kErrUnsupported);
    EXPECT_EQ(rw.WriteSectors(buf.data(), 1, &done, 0), kErrUnsupported);
}

TEST_F(File_RWTest, OpenWithEmptyNameClosesAndReturnsTransferFailure)
{
    CFile_RW rw;
    ASSERT_EQ(rw.Open("C:", 512), kOk);
    std::vector<u8> buf(512);
    u32 done = 0;
    ASSERT_EQ(rw.ReadSectors(buf.data(), 1, &done, 0), kOk);

    EXPECT_EQ(rw.Open("", 512), kErrTransfer);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 0), kErrUnsupported);
    EXPECT_EQ(rw.ReadBytes(buf.data(), 1, &done, 0), kErrNotOpen);
}

struct OpenCase
{
    const char* name;
    const char* drive;
    const char* path; // relative to the scratch folder; nullptr: no table entry
    u32 sectorSize;
    u32 status;
};

void PrintTo(const OpenCase& c, std::ostream* os)
{
    *os << c.name;
}

class File_RWOpenTest : public File_RWTest, public ::testing::WithParamInterface<OpenCase>
{
};

TEST_P(File_RWOpenTest, Status)
{
    const OpenCase& c = GetParam();
    if (c.path)
        RegisterSource("E:", m_dir + "/" + c.path);
    CFile_RW rw;
    EXPECT_EQ(rw.Open(c.drive, c.sectorSize), c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Drives, File_RWOpenTest,
    ::testing::Values(OpenCase{"Registered", "C:", nullptr, 512, kOk},
                      OpenCase{"LowerCaseDriveText", "c:", nullptr, 512, kOk},
                      OpenCase{"UnknownDrive", "Q:", nullptr, 512, kErrOpenFailed},
                      OpenCase{"MissingFile", "E:", "absent.img", 512, kErrOpenFailed},
                      OpenCase{"Folder", "E:", ".", 512, kErrOpenFailed},
                      OpenCase{"ZeroSectorSize", "C:", nullptr, 0, kErrNoMemory},
                      OpenCase{"HugeSectorSize", "C:", nullptr, 0x80000000u, kErrNoMemory},
                      OpenCase{"LargeSectors", "C:", nullptr, 4096, kOk}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(File_RWTest, ReopenSwitchesToTheNewDevice)
{
    std::string other = m_dir + "/other.img";
    {
        int fd = ::open(other.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        std::vector<u8> ones(512, 0x11);
        ASSERT_EQ(::write(fd, ones.data(), ones.size()), 512);
        ::close(fd);
    }
    RegisterSource("D:", other);
    CFile_RW rw;
    ASSERT_EQ(rw.Open("C:", 512), kOk);
    ASSERT_EQ(rw.Open("D:", 512), kOk);
    std::vector<u8> buf(512);
    u32 done = 0;
    ASSERT_EQ(rw.ReadSectors(buf.data(), 1, &done, 0), kOk);
    EXPECT_EQ(done, 512u);
    EXPECT_EQ(buf, std::vector<u8>(512, 0x11));
}

struct RangeCase
{
    const char* name;
    u32 sectorSize;
    s64 offset;
    u32 count;
    u32 expectDone; // bytes that exist at the offset, below count near the end of the file
};

void PrintTo(const RangeCase& c, std::ostream* os)
{
    *os << c.name;
}

class File_RWRangeTest : public File_RWTest, public ::testing::WithParamInterface<RangeCase>
{
};

TEST_P(File_RWRangeTest, ReadBytesDeliversTheFileBytes)
{
    const RangeCase& c = GetParam();
    CFile_RW rw;
    ASSERT_EQ(rw.Open("C:", c.sectorSize), kOk);
    // A guard byte after the range catches a phase that copies too much.
    std::vector<u8> buf(c.count + 1, 0xEE);
    u32 done = 12345;
    ASSERT_EQ(rw.ReadBytes(buf.data(), c.count, &done, c.offset), kOk);
    EXPECT_EQ(done, c.expectDone);
    std::vector<u8> want = PatternBytes(static_cast<u64>(c.offset), done);
    EXPECT_EQ(std::vector<u8>(buf.begin(), buf.begin() + done), want);
    EXPECT_EQ(buf[c.count], 0xEE);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, File_RWRangeTest,
    ::testing::Values(RangeCase{"AlignedSector", 512, 512, 512, 512},
                      RangeCase{"TenBytesInsideSectorOne", 512, 1000, 10, 10},
                      RangeCase{"HeadMiddleTail", 512, 500, 1034, 1034},
                      RangeCase{"HeadOnlyToSectorEnd", 512, 511, 1, 1},
                      RangeCase{"MiddleAndTail", 512, 1024, 1500, 1500},
                      RangeCase{"HeadAndMiddleNoTail", 512, 100, 924 + 1024, 1948},
                      RangeCase{"EmptyRange", 512, 77, 0, 0},
                      RangeCase{"WholeFile", 512, 0, 16 * 512 + 100, 16 * 512 + 100},
                      RangeCase{"MiddleCutByEnd", 512, 7680, 2048, 512 + 100},
                      RangeCase{"HeadCutByEnd", 512, 8200, 100, 92},
                      RangeCase{"TailCutByEnd", 512, 8000, 200, 200},
                      RangeCase{"TailPastEnd", 512, 8192, 600, 100},
                      RangeCase{"BeyondEnd", 512, 20000, 50, 0},
                      RangeCase{"LargeSectorHeadTail", 4096, 4000, 200, 200},
                      RangeCase{"LargeSectorMiddle", 4096, 4096, 4096, 4096}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(File_RWTest, ReadSectorsAtTheEndOfTheDeviceIsShortButSucceeds)
{
    CFile_RW rw;
    ASSERT_EQ(rw.Open("C:", 512), kOk);
    std::vector<u8> buf(2048);
    u32 done = 0;
    EXPECT_EQ(rw.ReadSectors(buf.data(), 4, &done, 14), kOk);
    EXPECT_EQ(done, 2u * 512 + 100);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 17), kOk);
    EXPECT_EQ(done, 0u);
}

TEST_F(File_RWTest, PositionsOutOfReachFailWithSeekStatus)
{
    CFile_RW rw;
    ASSERT_EQ(rw.Open("C:", 512), kOk);
    std::vector<u8> buf(1024);
    u32 done = 0;
    EXPECT_EQ(rw.ReadBytes(buf.data(), 10, &done, -1), kErrSeek);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 1ull << 60), kErrSeek);
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, ~0ull), kErrSeek);
    // 2^23 sectors of 512 bytes are 4 GiB: more than a 32-bit count can hold.
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1u << 23, &done, 0), kErrTransfer);
}

TEST_F(File_RWTest, WritesFailOnTheReadOnlyDevice)
{
    CFile_RW rw;
    ASSERT_EQ(rw.Open("C:", 512), kOk);
    std::vector<u8> buf(1024, 0x5A);
    u32 done = 99;
    EXPECT_EQ(rw.WriteSectors(buf.data(), 1, &done, 0), kErrTransfer);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(rw.WriteBytes(buf.data(), 3, &done, 5), kErrTransfer);
    EXPECT_EQ(rw.WriteBytes(buf.data(), 1024, &done, 512), kErrTransfer);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(ReadWholeFile(m_path), PatternBytes(0, kFileSize));
}

struct WindowCase
{
    const char* name;
    u64 volumeOffset;
    u64 volumeLength;
    u64 firstSector;
    u32 sectorCount;
    u32 expectDone;
};

void PrintTo(const WindowCase& c, std::ostream* os)
{
    *os << c.name;
}

class File_RWWindowTest : public File_RWTest, public ::testing::WithParamInterface<WindowCase>
{
};

TEST_P(File_RWWindowTest, ReadSectorsStaysInsideTheVolume)
{
    const WindowCase& c = GetParam();
    g_DriveTable.Register(MakeSource("F:", m_path, c.volumeOffset, c.volumeLength));
    CFile_RW rw;
    ASSERT_EQ(rw.Open("F:", 512), kOk);
    std::vector<u8> buf(std::size_t{c.sectorCount} * 512);
    u32 done = 0;
    ASSERT_EQ(rw.ReadSectors(buf.data(), c.sectorCount, &done, c.firstSector), kOk);
    EXPECT_EQ(done, c.expectDone);
    EXPECT_EQ(std::vector<u8>(buf.begin(), buf.begin() + done),
              PatternBytes(c.volumeOffset + c.firstSector * 512, done));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, File_RWWindowTest,
    ::testing::Values(WindowCase{"BootSectorOfVolume", 1024, 2048, 0, 1, 512},
                      WindowCase{"LastSectorOfVolume", 1024, 2048, 3, 1, 512},
                      WindowCase{"RunCutAtVolumeEnd", 1024, 2048, 2, 4, 1024},
                      WindowCase{"PastVolumeEnd", 1024, 2048, 4, 1, 0},
                      WindowCase{"UnalignedVolumeEnd", 1024, 1000, 1, 2, 488},
                      WindowCase{"NoLengthRunsToFileEnd", 4096, 0, 7, 2, 512 + 100},
                      WindowCase{"LengthBeyondFile", 7680, 1 << 20, 0, 4, 512 + 100}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(File_RWTest, ReadBytesHonoursTheVolumeWindow)
{
    g_DriveTable.Register(MakeSource("F:", m_path, 1024, 2048));
    CFile_RW rw;
    ASSERT_EQ(rw.Open("F:", 512), kOk);
    std::vector<u8> buf(100);
    u32 done = 0;
    ASSERT_EQ(rw.ReadBytes(buf.data(), 100, &done, 2000), kOk);
    EXPECT_EQ(done, 48u);
    EXPECT_EQ(std::vector<u8>(buf.begin(), buf.begin() + 48), PatternBytes(1024 + 2000, 48));
}

TEST_F(File_RWTest, VolumeOffsetThatOverflowsFailsWithSeekStatus)
{
    g_DriveTable.Register(MakeSource("F:", m_path, static_cast<u64>(INT64_MAX) - 100, 0));
    CFile_RW rw;
    ASSERT_EQ(rw.Open("F:", 512), kOk);
    std::vector<u8> buf(512);
    u32 done = 0;
    EXPECT_EQ(rw.ReadSectors(buf.data(), 1, &done, 1), kErrSeek);
}

TEST_F(File_RWTest, SectorTwoToTheTwentyThreeIsReadBeyondFourGiB)
{
    const u64 fourGiB = 1ull << 32;
    std::string sparse = m_dir + "/sparse.img";
    int fd = ::open(sparse.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(fourGiB + 1024)), 0);
    std::vector<u8> marker = PatternBytes(fourGiB, 1024);
    ASSERT_EQ(::pwrite(fd, marker.data(), marker.size(), static_cast<off_t>(fourGiB)), 1024);
    ::close(fd);
    RegisterSource("G:", sparse);

    CFile_RW rw;
    ASSERT_EQ(rw.Open("G:", 512), kOk);
    std::vector<u8> buf(512);
    u32 done = 0;
    ASSERT_EQ(rw.ReadSectors(buf.data(), 1, &done, 1ull << 23), kOk);
    EXPECT_EQ(done, 512u);
    EXPECT_EQ(buf, PatternBytes(fourGiB, 512));

    // A byte range across the 4 GiB boundary continues on the far side of it.
    std::vector<u8> across(40);
    ASSERT_EQ(rw.ReadBytes(across.data(), 40, &done, static_cast<s64>(fourGiB) - 20), kOk);
    EXPECT_EQ(done, 40u);
    std::vector<u8> want(20, 0);
    std::vector<u8> far = PatternBytes(fourGiB, 20);
    want.insert(want.end(), far.begin(), far.end());
    EXPECT_EQ(across, want);

    ASSERT_EQ(rw.Open("", 512), kErrTransfer);
    std::filesystem::remove(sparse);
}
} // namespace
