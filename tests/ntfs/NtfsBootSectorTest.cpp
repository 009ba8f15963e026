// The boot sector's parameter block and the geometry decoded from its signed encodings.
#include <gtest/gtest.h>

#include <vector>

#include "ntfs/NtfsBootSector.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"

namespace
{
struct GeometryCase
{
    const char* label;
    u16 bytesPerSector;
    u8 sectorsPerCluster;
    u32 clustersPerRecord;
    u32 clustersPerIndex;
    u32 rc;
    u64 clusterBytes;
    u64 recordBytes;
    u64 indexBytes;
};

class NtfsBootSectorTest : public ::testing::TestWithParam<GeometryCase>
{
};
} // namespace

TEST_P(NtfsBootSectorTest, DecodesGeometry)
{
    const GeometryCase& c = GetParam();
    NtfsBootParams p;
    p.bytesPerSector = c.bytesPerSector;
    p.sectorsPerCluster = c.sectorsPerCluster;
    p.clustersPerRecord = c.clustersPerRecord;
    p.clustersPerIndex = c.clustersPerIndex;
    NtfsGeometry g;
    ASSERT_EQ(DecodeNtfsGeometry(p, &g), c.rc);
    EXPECT_EQ(g.clusterBytes, c.clusterBytes);
    EXPECT_EQ(g.recordBytes, c.recordBytes);
    EXPECT_EQ(g.indexBlockBytes, c.indexBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, NtfsBootSectorTest,
    ::testing::Values(
        GeometryCase{"Common4K", 512, 8, 0xF6, 1, kNtfsOk, 4096, 1024, 4096},
        GeometryCase{"RecordInClusters", 512, 2, 1, 0xF4, kNtfsOk, 1024, 1024, 4096},
        GeometryCase{"TwoClustersPerRecord", 512, 1, 2, 8, kNtfsOk, 512, 1024, 4096},
        GeometryCase{"SmallClustersWithShift", 512, 1, 0xF6, 0xF4, kNtfsOk, 512, 1024, 4096},
        GeometryCase{"FourKRecords", 4096, 1, 0xF4, 1, kNtfsOk, 4096, 4096, 4096},
        GeometryCase{"RecordsOfTwoClusters", 512, 8, 2, 1, kNtfsOk, 4096, 8192, 4096},
        GeometryCase{"LargestPlainCluster", 512, 0x80, 0xF6, 0xF4, kNtfsOk, 65536, 1024, 4096},
        // Clusters over 128 sectors store the negated shift: 0xF8 is 2^8 sectors.
        GeometryCase{"ShiftedCluster", 512, 0xF8, 0xF6, 0xF4, kNtfsOk, 131072, 1024, 4096},
        GeometryCase{"LargestShiftedCluster", 4096, 0xF4, 0xF6, 0xF4, kNtfsOk, 1ull << 24, 1024,
                     4096},
        // The size lies in the field's first byte; the other three are not part of it.
        GeometryCase{"UnusedUpperBytes", 512, 8, 0x1F6, 0x301, kNtfsOk, 4096, 1024, 4096},
        GeometryCase{"SectorSizeNotMultipleOf512", 520, 2, 1, 1, kNtfsCorrupt, 0, 0, 0},
        GeometryCase{"SectorSizeZero", 0, 2, 1, 1, kNtfsCorrupt, 0, 0, 0},
        GeometryCase{"ClusterNotPowerOfTwo", 512, 3, 1, 1, kNtfsCorrupt, 0, 0, 0},
        GeometryCase{"ClusterZero", 512, 0, 1, 1, kNtfsCorrupt, 0, 0, 0},
        GeometryCase{"ClusterByteUnused", 512, 0x81, 0xF6, 1, kNtfsCorrupt, 0, 0, 0},
        GeometryCase{"ClusterShiftTooLarge", 512, 0xF3, 0xF6, 1, kNtfsCorrupt, 0, 0, 0},
        GeometryCase{"RecordZero", 512, 8, 0, 1, kNtfsCorrupt, 0, 0, 0},
        GeometryCase{"SmallestRecord", 512, 1, 0xF8, 1, kNtfsOk, 512, 256, 512},
        GeometryCase{"RecordBelowTheSmallest", 512, 1, 0xF9, 1, kNtfsCorrupt, 0, 0, 0},
        GeometryCase{"RecordOf2To32", 512, 8, 0xE0, 1, kNtfsCorrupt, 0, 0, 0},
        GeometryCase{"RecordNotPowerOfTwo", 512, 8, 3, 1, kNtfsCorrupt, 0, 0, 0},
        // The engine reads no index blocks: a bad encoding there is only noted.
        GeometryCase{"IndexBlockBad", 512, 8, 0xF6, 0, kNtfsOk, 4096, 1024, 0}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(NtfsBootSector, CopiesTheParameterBlockAndZerosWhatIsMissing)
{
    std::vector<u8> sector(512, 0);
    StoreLe16(&sector[0x0B], 4096);
    sector[0x0D] = 0xF8;
    StoreLe64(&sector[0x28], 0x123456789ull);
    StoreLe64(&sector[0x30], 0xC0000ull);
    StoreLe64(&sector[0x38], 2);
    StoreLe32(&sector[0x40], 0xF6);
    StoreLe32(&sector[0x50], 0xCAFEF00D);
    NtfsBootParams p;
    DecodeNtfsBootSector(sector.data(), sector.size(), &p);
    EXPECT_EQ(p.bytesPerSector, 4096);
    EXPECT_EQ(p.sectorsPerCluster, 0xF8);
    EXPECT_EQ(p.totalSectors, 0x123456789ull);
    EXPECT_EQ(p.mftCluster, 0xC0000ull);
    EXPECT_EQ(p.mftMirrCluster, 2u);
    EXPECT_EQ(p.clustersPerRecord, 0xF6u);
    EXPECT_EQ(p.checksum, 0xCAFEF00Du);
    // A short sector: the fields past its end read as 0.
    DecodeNtfsBootSector(sector.data(), 0x30, &p);
    EXPECT_EQ(p.totalSectors, 0x123456789ull);
    EXPECT_EQ(p.mftCluster, 0u);
    EXPECT_EQ(p.checksum, 0u);
}
