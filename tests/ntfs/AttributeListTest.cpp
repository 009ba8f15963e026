// DecodeAttributeList on crafted $ATTRIBUTE_LIST values (a list as a volume writes it, every bad
// length and name), and NtfsExtensionBelongs on base references old and new.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/AttributeList.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"

namespace
{
using Bytes = std::vector<u8>;

struct Entry
{
    u32 type;
    u64 lowestVcn;
    u64 record;
    u16 sequence;
    u16 id;
    std::u16string name;
    bool operator==(const Entry&) const = default;
};

void PrintTo(const Entry& e, std::ostream* os)
{
    *os << "{type 0x" << std::hex << e.type << ", vcn 0x" << e.lowestVcn << ", record 0x"
        << e.record << ", seq " << std::dec << e.sequence << ", id " << e.id << ", name "
        << e.name.size() << " units}";
}

// One entry as a volume writes it: the name at 0x1A, the length padded to 8 bytes. A length
// other than 0 replaces the padded one (the entry's bytes follow it, at least 0x1A of them).
Bytes Encode(const Entry& e, u16 length = 0, u8 nameOffset = 0x1A)
{
    const std::size_t natural = (0x1A + 2 * e.name.size() + 7) & ~std::size_t{7};
    Bytes b(length == 0 ? natural : std::max<std::size_t>(length, 0x1A), 0);
    StoreLe32(&b[0x00], e.type);
    StoreLe16(&b[0x04], length == 0 ? static_cast<u16>(natural) : length);
    b[0x06] = static_cast<u8>(e.name.size());
    b[0x07] = nameOffset;
    StoreLe64(&b[0x08], e.lowestVcn);
    StoreLe64(&b[0x10], e.record | (static_cast<u64>(e.sequence) << 48));
    StoreLe16(&b[0x18], e.id);
    for (std::size_t k = 0; k < e.name.size() && nameOffset + 2 * k + 1 < b.size(); ++k)
        StoreLe16(&b[nameOffset + 2 * k], static_cast<u16>(e.name[k]));
    return b;
}

// A large file's list: $STANDARD_INFORMATION and two $FILE_NAMEs in the base record 0x40,
// $DATA in three pieces over extension records, and a named $DATA.
const std::vector<Entry> kLargeFile = {
    {0x10, 0, 0x40, 3, 0, u""},
    {0x30, 0, 0x40, 3, 3, u""},
    {0x30, 0, 0x41, 1, 2, u""},
    {0x80, 0, 0x41, 1, 0, u""},
    {0x80, 0x1234, 0x42, 7, 0, u""},
    {0x80, 0x5000, 0x0000BEEF00000043, 0xFFFF, 1, u""},
    {0x80, 0, 0x40, 3, 5, u"Zone.Identifier"},
};

Bytes List(const std::vector<Entry>& entries)
{
    Bytes all;
    for (const Entry& e : entries)
    {
        const Bytes b = Encode(e);
        all.insert(all.end(), b.begin(), b.end());
    }
    return all;
}

Bytes Append(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<Entry> First(std::size_t n)
{
    return std::vector<Entry>(kLargeFile.begin(), kLargeFile.begin() + static_cast<long>(n));
}

struct ListCase
{
    const char* label;
    Bytes value;
    u32 rc;
    std::vector<Entry> entries; // on kNtfsCorrupt: those before the fault
};

void PrintTo(const ListCase& c, std::ostream* os)
{
    *os << c.label;
}

class NtfsAttributeListTest : public ::testing::TestWithParam<ListCase>
{
};
} // namespace

TEST_P(NtfsAttributeListTest, Decodes)
{
    const ListCase& c = GetParam();
    // An exact-size copy: a read past the value is a read past the allocation.
    const Bytes value = c.value;
    std::vector<NtfsAttrListEntry> out(1);
    EXPECT_EQ(DecodeAttributeList(ByteView(value.data(), value.size()), &out), c.rc);
    std::vector<Entry> got;
    for (const NtfsAttrListEntry& e : out)
    {
        std::u16string name;
        for (std::size_t k = 0; k + 1 < e.name.Size(); k += 2)
            name.push_back(static_cast<char16_t>(e.name.U16(k)));
        EXPECT_EQ(e.name.Size() % 2, 0u);
        got.push_back(Entry{e.type, e.lowestVcn, e.record, e.sequence, e.id, name});
    }
    EXPECT_EQ(got, c.entries);
}

INSTANTIATE_TEST_SUITE_P(
    Values, NtfsAttributeListTest,
    ::testing::Values(
        ListCase{"LargeFile", List(kLargeFile), kNtfsOk, kLargeFile},
        ListCase{"Empty", {}, kNtfsOk, {}},
        // Entries need not be padded: 0x1A bytes are enough when the walk stays inside.
        ListCase{"UnpaddedEntries",
                 Append(Encode(kLargeFile[0], 0x1A), Encode(kLargeFile[1], 0x1A)), kNtfsOk,
                 First(2)},
        ListCase{"NameAfterPadding", Encode(kLargeFile[6], 0x48, 0x20), kNtfsOk, {kLargeFile[6]}},
        ListCase{"LengthZero",
                 []
                 {
                     Bytes b = List(First(3));
                     StoreLe16(&b[0x44], 0);
                     return b;
                 }(),
                 kNtfsCorrupt, First(2)},
        ListCase{"LengthBelowHeader", Append(List(First(1)), Encode(kLargeFile[1], 0x18)),
                 kNtfsCorrupt, First(1)},
        ListCase{"LengthPastTheValue",
                 []
                 {
                     Bytes b = List(First(2));
                     StoreLe16(&b[0x24], 0x28);
                     return b;
                 }(),
                 kNtfsCorrupt, First(1)},
        ListCase{"NamePastTheEntry", Append(List(First(1)), Encode(kLargeFile[6], 0x30)),
                 kNtfsCorrupt, First(1)},
        ListCase{"NameInTheFixedPart", Append(List(First(1)), Encode(kLargeFile[6], 0, 0x18)),
                 kNtfsCorrupt, First(1)},
        ListCase{"TruncatedEntry",
                 []
                 {
                     Bytes b = List(First(3));
                     b.resize(0x40 + 0x19);
                     return b;
                 }(),
                 kNtfsCorrupt, First(2)},
        ListCase{"TruncatedName",
                 []
                 {
                     Bytes b = List(kLargeFile);
                     b.resize(b.size() - 8);
                     return b;
                 }(),
                 kNtfsCorrupt, First(6)}),
    [](const ::testing::TestParamInfo<ListCase>& p) { return std::string(p.param.label); });

TEST(NtfsExtensionBelongsTest, BaseReferenceNamesTheBaseOrItsFreedForm)
{
    const struct
    {
        u64 reference; // in the extension record's header
        u64 record;    // the base record
        u16 sequence;
        bool inUse;
        bool belongs;
    } kCases[] = {
        {0x0003000000000040, 0x40, 3, true, true},   {0x0003000000000040, 0x40, 3, false, true},
        {0x0003000000000040, 0x40, 4, false, true}, // the base was freed since
        {0x0003000000000040, 0x40, 4, true, false}, // reused: another file's base
        {0x0003000000000040, 0x40, 2, false, false}, {0x0003000000000040, 0x40, 5, false, false},
        {0xFFFF000000000040, 0x40, 1, false, true}, // freeing wraps past 0
        {0xFFFF000000000040, 0x40, 0, false, false}, {0x0003000000000041, 0x40, 3, true, false},
        {0x0003000100000040, 0x40, 3, true, false}, // record numbers have 48 bits
        {0x0000000000000040, 0x40, 0, true, false}, // no sequence number: no base
        {0x0000000000000000, 0x00, 1, true, false}, // a base record's own 0
    };
    for (const auto& c : kCases)
    {
        SCOPED_TRACE(::testing::Message() << std::hex << c.reference << " " << c.record << " "
                                          << c.sequence << " " << c.inUse);
        EXPECT_EQ(NtfsExtensionBelongs(c.reference, c.record, c.sequence, c.inUse), c.belongs);
    }
}
