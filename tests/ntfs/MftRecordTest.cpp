// One MFT record on crafted bytes: the update sequence fixups for any record size, the record's
// own buffer, the bounded attribute walk and the attribute values.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ntfs/AttributeIterator.h"
#include "ntfs/AttributeValues.h"
#include "ntfs/MftRecord.h"
#include "ntfs/NtfsRecordBuilder.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"

using namespace ntfstest;

namespace
{
constexpr u16 kUsn = 0x0A0B;

// A protected record of size bytes: "FILE", an update sequence array of count entries at offset
// (saved word 0x1000 + k for stride k), and every stride ending in the update sequence number.
std::vector<u8> Protected(std::size_t size, u16 count, u16 offset = 0x30)
{
    std::vector<u8> r(size, 0x5A);
    std::memcpy(r.data(), "FILE", 4);
    StoreLe16(&r[0x04], offset);
    StoreLe16(&r[0x06], count);
    StoreLe16(&r[offset], kUsn);
    for (u16 k = 0; k + 1 < count; ++k)
        StoreLe16(&r[offset + 2 * (k + 1)], static_cast<u16>(0x1000 + k));
    for (std::size_t end = 510; end < size; end += 512)
        StoreLe16(&r[end], kUsn);
    return r;
}

struct FixupCase
{
    const char* label;
    std::size_t size;
    u16 count;
    std::function<void(std::vector<u8>&)> mutate;
    u32 rc;
    u32 patched; // strides patched on success
};

class NtfsMftRecordFixupTest : public ::testing::TestWithParam<FixupCase>
{
};

// DeletedFile's record: $STANDARD_INFORMATION at 0x38, $FILE_NAME at 0x98, $DATA at 0x100,
// the end marker at 0x130, 0x138 bytes in use.
RecordLayout DeletedFile()
{
    RecordLayout s;
    s.names.push_back(FileName{u"a.txt", 40, 3, 1});
    s.data = RecordLayout::Data::Resident;
    s.value.assign(20, 'x');
    s.fixups = false;
    return s;
}

struct WalkCase
{
    const char* label;
    std::function<void(std::vector<u8>&)> mutate;
    std::vector<u32> types; // handed out before the walk ended
    u32 rc;                 // how it ended
};

class NtfsAttributeWalkTest : public ::testing::TestWithParam<WalkCase>
{
};
} // namespace

TEST_P(NtfsMftRecordFixupTest, ChecksEveryStrideBeforePatching)
{
    const FixupCase& c = GetParam();
    std::vector<u8> r = Protected(c.size, c.count);
    if (c.mutate)
        c.mutate(r);
    const std::vector<u8> before = r;
    ASSERT_EQ(ApplyUpdateSequence(r.data(), r.size()), c.rc);
    if (c.rc != kNtfsOk)
    {
        EXPECT_EQ(r, before) << "a refused record is left as read";
        return;
    }
    for (u32 k = 0; k < c.size / 512; ++k)
    {
        const u16 end = LoadLe16(&r[(k + 1) * 512 - 2]);
        EXPECT_EQ(end, k < c.patched ? 0x1000 + k : kUsn) << "stride " << k;
    }
    // A record patched where a read-ahead batch holds it may be patched again when it is read
    // a second time: that changes nothing.
    const std::vector<u8> once = r;
    (void)ApplyUpdateSequence(r.data(), r.size());
    EXPECT_EQ(r, once);
}

INSTANTIATE_TEST_SUITE_P(
    Strides, NtfsMftRecordFixupTest,
    ::testing::Values(FixupCase{"Record1K", 1024, 3, nullptr, kNtfsOk, 2},
                      FixupCase{"Record4K", 4096, 9, nullptr, kNtfsOk, 8},
                      FixupCase{"FewerStridesThanTheRecord", 1024, 2, nullptr, kNtfsOk, 1},
                      FixupCase{"TornLastStride", 4096, 9,
                                [](auto& r) { StoreLe16(&r[4094], 0x7777); }, kNtfsCorrupt, 0},
                      FixupCase{"TornFirstStride", 1024, 3,
                                [](auto& r) { StoreLe16(&r[510], 0x7777); }, kNtfsCorrupt, 0},
                      FixupCase{"MoreStridesThanTheRecord", 1024, 4, nullptr, kNtfsCorrupt, 0},
                      FixupCase{"CountOfOne", 1024, 1, nullptr, kNtfsCorrupt, 0},
                      FixupCase{"OddArrayOffset", 1024, 3, [](auto& r) { StoreLe16(&r[4], 0x31); },
                                kNtfsCorrupt, 0},
                      FixupCase{"ArrayOverTheFirstStrideEnd", 1024, 3,
                                [](auto& r) { StoreLe16(&r[4], 0x1FC); }, kNtfsCorrupt, 0},
                      FixupCase{"UpdateSequenceNumberZero", 1024, 3,
                                [](auto& r)
                                {
                                    StoreLe16(&r[0x30], 0);
                                    StoreLe16(&r[510], 0);
                                    StoreLe16(&r[1022], 0);
                                },
                                kNtfsCorrupt, 0},
                      FixupCase{"ShorterThanAStride", 256, 2, nullptr, kNtfsCorrupt, 0},
                      FixupCase{"Record256WithoutStrides", 256, 1, nullptr, kNtfsOk, 0},
                      FixupCase{"Record64K", 65536, 129, nullptr, kNtfsOk, 128},
                      FixupCase{"Record64KTorn", 65536, 129,
                                [](auto& r) { StoreLe16(&r[40958], 0x7777); }, kNtfsCorrupt, 0}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(NtfsMftRecord, OwnsItsBytesAndDecodesItsHeader)
{
    std::vector<u8> disk = Protected(1024, 3);
    StoreLe16(&disk[0x10], 7);
    StoreLe16(&disk[0x16], 3);
    StoreLe32(&disk[0x18], 0x1A8);
    const std::vector<u8> asRead = disk;
    CMftRecord record;
    record.Assign(disk.data(), disk.size());
    ASSERT_EQ(record.ApplyFixups(), kNtfsOk);
    EXPECT_TRUE(record.FixupsApplied());
    EXPECT_EQ(record.ApplyFixups(), kNtfsOk); // once only: the saved words stay
    EXPECT_EQ(LoadLe16(record.Bytes() + 510), 0x1000);
    EXPECT_EQ(disk, asRead);
    MftRecordHeader h;
    ASSERT_EQ(record.DecodeHeader(&h), kNtfsOk);
    EXPECT_EQ(h.sequence, 7);
    EXPECT_EQ(h.flags, 3);
    EXPECT_EQ(h.bytesInUse, 0x1A8u);
    EXPECT_EQ(h.usaCount, 3);

    // Attached, it patches the caller's bytes where they lie, until it is detached.
    std::vector<u8> batch = asRead;
    record.Attach(batch.data(), batch.size());
    EXPECT_EQ(record.Bytes(), batch.data());
    ASSERT_EQ(record.ApplyFixups(), kNtfsOk);
    EXPECT_EQ(LoadLe16(&batch[1022]), 0x1001);
    record.Detach();
    EXPECT_EQ(record.Size(), 0u);

    std::memcpy(record.Fill(1024), "BAAD", 4);
    EXPECT_FALSE(record.FixupsApplied());
    EXPECT_EQ(record.DecodeHeader(&h), kNtfsCorrupt);
    EXPECT_EQ(DecodeMftRecordHeader(ByteView(asRead.data(), 0x2F), &h), kNtfsCorrupt);
}

TEST_P(NtfsAttributeWalkTest, HandsOutOnlyCheckedAttributes)
{
    const WalkCase& c = GetParam();
    std::vector<u8> r = BuildRecord(DeletedFile());
    if (c.mutate)
        c.mutate(r);
    CAttributeIterator walk(ByteView(r.data(), r.size()));
    std::vector<u32> types;
    NtfsAttribute attr;
    u32 rc = kNtfsOk;
    while ((rc = walk.Next(&attr)) == kNtfsOk)
    {
        // Whatever is handed out lies inside the record, its name and value inside itself.
        EXPECT_LE(attr.offset + attr.length, LoadLe32(&r[0x18]));
        EXPECT_GE(attr.value.Data(), r.data() + attr.offset);
        EXPECT_LE(attr.value.Data() + attr.value.Size(), r.data() + attr.offset + attr.length);
        types.push_back(attr.type);
    }
    EXPECT_EQ(types, c.types);
    EXPECT_EQ(rc, c.rc);
    EXPECT_EQ(walk.Next(&attr), rc) << "the walk stays where it ended";
}

INSTANTIATE_TEST_SUITE_P(
    Records, NtfsAttributeWalkTest,
    ::testing::Values(
        WalkCase{"WellFormed", nullptr, {0x10, 0x30, 0x80}, kNtfsNotFound},
        WalkCase{"BytesInUsePastTheRecord",
                 [](auto& r) { StoreLe32(&r[0x18], 0x800); },
                 {},
                 kNtfsCorrupt},
        // The slack past the bytes in use is not the record's: an attribute reaching into it is
        // damaged even though it lies inside the 1024 bytes.
        WalkCase{"BytesInUseCutAnAttribute",
                 [](auto& r) { StoreLe32(&r[0x18], 0x120); },
                 {0x10, 0x30},
                 kNtfsCorrupt},
        WalkCase{"NoEndMarkerInUse",
                 [](auto& r) { StoreLe32(&r[0x18], 0x130); },
                 {0x10, 0x30, 0x80},
                 kNtfsCorrupt},
        WalkCase{
            "FirstOffsetMisaligned", [](auto& r) { StoreLe16(&r[0x14], 0x3C); }, {}, kNtfsCorrupt},
        WalkCase{
            "FirstOffsetInTheHeader", [](auto& r) { StoreLe16(&r[0x14], 0x10); }, {}, kNtfsCorrupt},
        WalkCase{"LengthMisaligned",
                 [](auto& r) { StoreLe32(&r[0x98 + 4], 0x66); },
                 {0x10},
                 kNtfsCorrupt},
        WalkCase{"LengthBelowAHeader",
                 [](auto& r) { StoreLe32(&r[0x98 + 4], 0x10); },
                 {0x10},
                 kNtfsCorrupt},
        WalkCase{"LengthPastBytesInUse",
                 [](auto& r) { StoreLe32(&r[0x98 + 4], 0xFFFFFFF8); },
                 {0x10},
                 kNtfsCorrupt},
        WalkCase{"TypeOutOfOrder",
                 [](auto& r) { StoreLe32(&r[0x100], 0x20); },
                 {0x10, 0x30},
                 kNtfsCorrupt},
        WalkCase{"TypeZero", [](auto& r) { StoreLe32(&r[0x98], 0); }, {0x10}, kNtfsCorrupt},
        WalkCase{"FormCodeTwo", [](auto& r) { r[0x98 + 8] = 2; }, {0x10}, kNtfsCorrupt},
        WalkCase{"NamePastTheAttribute",
                 [](auto& r)
                 {
                     r[0x98 + 9] = 1;
                     StoreLe16(&r[0x98 + 0x0A], 0x67);
                 },
                 {0x10},
                 kNtfsCorrupt},
        WalkCase{"ValuePastTheAttribute",
                 [](auto& r) { StoreLe32(&r[0x100 + 0x10], 0x7FFFFFFF); },
                 {0x10, 0x30},
                 kNtfsCorrupt},
        WalkCase{"ValueOffsetPastTheAttribute",
                 [](auto& r) { StoreLe16(&r[0x100 + 0x14], 0xFFF0); },
                 {0x10, 0x30},
                 kNtfsCorrupt},
        // Non-resident: the mapping pairs must start inside the attribute, which must hold the
        // whole non-resident header.
        WalkCase{"NonResidentShorterThanItsHeader",
                 [](auto& r) { r[0x100 + 8] = 1; },
                 {0x10, 0x30},
                 kNtfsCorrupt},
        WalkCase{"RunsOffsetPastTheAttribute",
                 [](auto& r)
                 {
                     r[0x98 + 8] = 1;
                     StoreLe16(&r[0x98 + 0x20], 0x70);
                 },
                 {0x10},
                 kNtfsCorrupt}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(NtfsAttributeWalk, FindsByTypeFromAnyAttribute)
{
    const std::vector<u8> r = BuildRecord(DeletedFile());
    const ByteView record(r.data(), r.size());
    NtfsAttribute attr;
    CAttributeIterator walk(record);
    // The order says no 0x20 follows the 0x30: the walk stops there, past it.
    EXPECT_EQ(walk.Find(0x20, &attr), kNtfsNotFound);
    ASSERT_EQ(walk.Next(&attr), kNtfsOk);
    EXPECT_EQ(attr.type, 0x80u);
    CAttributeIterator fromName(record, 0x98);
    ASSERT_EQ(fromName.Find(0x30, &attr), kNtfsOk);
    EXPECT_EQ(attr.offset, 0x98u);
    CAttributeIterator midway(record, 0x9C);
    EXPECT_EQ(midway.Find(0x30, &attr), kNtfsCorrupt);
}

TEST(NtfsAttributeValues, DecodesTheThreeValues)
{
    RecordLayout s = DeletedFile();
    s.created = 0x01D0000000000001;
    s.accessed = 0x01D0000000000002;
    std::vector<u8> r = BuildRecord(s);
    r[0x98 + 0x18 + 0x40] = 255; // a name length past what the value holds
    CAttributeIterator walk(ByteView(r.data(), r.size()));
    NtfsAttribute si;
    NtfsAttribute fn;
    NtfsAttribute data;
    ASSERT_EQ(walk.Find(0x10, &si), kNtfsOk);
    ASSERT_EQ(walk.Find(0x30, &fn), kNtfsOk);
    ASSERT_EQ(walk.Find(0x80, &data), kNtfsOk);

    NtfsStandardInformation info;
    ASSERT_EQ(DecodeStandardInformation(si, &info), kNtfsOk);
    EXPECT_EQ(info.created, 0x01D0000000000001);
    EXPECT_EQ(info.accessed, 0x01D0000000000002);
    NtfsFileName name;
    ASSERT_EQ(DecodeFileName(fn, &name), kNtfsOk);
    EXPECT_EQ(name.parentRef, 40u | (3ull << 48));
    EXPECT_EQ(name.nameLength, 255);
    EXPECT_EQ(name.NameUnits(), 5u);
    NtfsData value;
    ASSERT_EQ(DecodeData(data, &value), kNtfsOk);
    EXPECT_TRUE(value.resident);
    EXPECT_EQ(value.size, 20u);
    EXPECT_EQ(value.valueOffset, 0x118u);

    // $STANDARD_INFORMATION and $FILE_NAME always lie in the record.
    si.nonResident = true;
    fn.nonResident = true;
    EXPECT_EQ(DecodeStandardInformation(si, &info), kNtfsCorrupt);
    EXPECT_EQ(DecodeFileName(fn, &name), kNtfsCorrupt);
}
