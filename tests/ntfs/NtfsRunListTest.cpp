// DecodeRunList on crafted mapping pairs: VCNs, signed offsets, holes, and every impossible pair.
#include <gtest/gtest.h>

#include <vector>

#include "ntfs/NtfsResult.h"
#include "ntfs/RunList.h"

namespace
{
struct Extent
{
    u64 vcn;
    u64 lcn; // kHole for a hole
    u64 length;
    bool operator==(const Extent&) const = default;
};
constexpr u64 kHole = ~0ull;

void PrintTo(const Extent& e, std::ostream* os)
{
    *os << "{vcn " << e.vcn << ", " << (e.lcn == kHole ? "hole" : "lcn " + std::to_string(e.lcn))
        << ", " << e.length << "}";
}

struct RunListCase
{
    const char* label;
    std::vector<u8> bytes;
    u32 rc;
    std::vector<Extent> extents; // on kNtfsCorrupt: the runs before the fault
    u64 lastVcn = kNtfsVcnUnknown;
};

class NtfsRunListTest : public ::testing::TestWithParam<RunListCase>
{
};
} // namespace

TEST_P(NtfsRunListTest, Decodes)
{
    const RunListCase& c = GetParam();
    // An exact-size copy: a read past the list is a read past the allocation.
    const std::vector<u8> bytes = c.bytes;
    std::vector<NtfsExtent> out{NtfsExtent{1, 1, 1, false}};
    EXPECT_EQ(DecodeRunList(bytes.data(), bytes.size(), 0, c.lastVcn, &out), c.rc);
    std::vector<Extent> got;
    for (const NtfsExtent& e : out)
        got.push_back(Extent{e.vcn, e.hole ? kHole : e.lcn, e.length});
    EXPECT_EQ(got, c.extents);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, NtfsRunListTest,
    ::testing::Values(
        RunListCase{"OneRun", {0x21, 0x18, 0x34, 0x56, 0x00}, kNtfsOk, {{0, 0x5634, 0x18}}},
        RunListCase{"Empty", {0x00}, kNtfsOk, {}},
        RunListCase{"LaterOffsetsSigned",
                    {0x21, 0x10, 0x80, 0x00, 0x11, 0x08, 0xF0, 0x00},
                    kNtfsOk,
                    {{0, 0x80, 0x10}, {0x10, 0x70, 8}}},
        // Holes carry no cluster; the next offset counts from the last run with clusters.
        RunListCase{"HolesMarked",
                    {0x11, 0x10, 0x20, 0x01, 0x08, 0x21, 0x04, 0x00, 0x01, 0x00},
                    kNtfsOk,
                    {{0, 0x20, 0x10}, {0x10, kHole, 8}, {0x18, 0x120, 4}}},
        RunListCase{"OnlyAHole", {0x01, 0x40, 0x00}, kNtfsOk, {{0, kHole, 0x40}}},
        RunListCase{"FiveByteOffset",
                    {0x51, 1, 2, 3, 4, 5, 6, 0x11, 0x01, 0x01, 0x00},
                    kNtfsOk,
                    {{0, 0x0605040302, 1}, {1, 0x0605040303, 1}}},
        RunListCase{"EightByteFields",
                    {0x88, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x00},
                    kNtfsOk,
                    {{0, 0x4000000000000000, 1}}},
        RunListCase{
            "LengthWithTopBitIsUnsigned", {0x11, 0x80, 0x10, 0x00}, kNtfsOk, {{0, 0x10, 0x80}}},
        // Impossible pairs end the list; what came before stays.
        RunListCase{"NegativeFirstCluster", {0x11, 0x10, 0x80, 0x00}, kNtfsCorrupt, {}},
        RunListCase{"NegativeLaterCluster",
                    {0x11, 0x04, 0x10, 0x11, 0x04, 0xE0, 0x00},
                    kNtfsCorrupt,
                    {{0, 0x10, 4}}},
        RunListCase{"NineByteLength",
                    {0x11, 0x04, 0x10, 0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x00},
                    kNtfsCorrupt,
                    {{0, 0x10, 4}}},
        RunListCase{"NineByteOffset", {0x91, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x00}, kNtfsCorrupt, {}},
        RunListCase{
            "ZeroLength", {0x11, 0x04, 0x10, 0x11, 0x00, 0x01, 0x00}, kNtfsCorrupt, {{0, 0x10, 4}}},
        RunListCase{"NoLengthField", {0x10, 0x01, 0x00}, kNtfsCorrupt, {}},
        RunListCase{"PairPastTheEnd", {0x11, 0x10}, kNtfsCorrupt, {}},
        RunListCase{"NoTerminator", {0x11, 0x04, 0x10}, kNtfsCorrupt, {{0, 0x10, 4}}},
        RunListCase{"ClusterPast63Bits",
                    {0x81, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x11, 1, 1, 0x00},
                    kNtfsCorrupt,
                    {{0, 0x7FFFFFFFFFFFFFFF, 1}}},
        RunListCase{"VcnsPast63Bits",
                    {0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00},
                    kNtfsCorrupt,
                    {}},
        // With the attribute's highest VCN known, runs must end within it.
        RunListCase{"WithinLastVcn",
                    {0x11, 0x08, 0x10, 0x01, 0x08, 0x00},
                    kNtfsOk,
                    {{0, 0x10, 8}, {8, kHole, 8}},
                    15},
        RunListCase{
            "PastLastVcn", {0x11, 0x08, 0x10, 0x01, 0x08, 0x00}, kNtfsCorrupt, {{0, 0x10, 8}}, 14}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(NtfsRunList, NumbersRunsFromTheFirstVcnAndRefusesNull)
{
    const u8 bytes[] = {0x11, 0x04, 0x10, 0x01, 0x02, 0x00};
    std::vector<NtfsExtent> out;
    ASSERT_EQ(DecodeRunList(bytes, sizeof bytes, 100, 105, &out), kNtfsOk);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].vcn, 100u);
    EXPECT_EQ(out[1].vcn, 104u);
    EXPECT_EQ(DecodeRunList(bytes, sizeof bytes, 100, 104, &out), kNtfsCorrupt);
    EXPECT_EQ(DecodeRunList(nullptr, 10, &out), kNtfsCorrupt);
    EXPECT_TRUE(out.empty());
}
