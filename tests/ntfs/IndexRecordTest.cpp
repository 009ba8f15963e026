// The index-record reader on the index records of a folder that mkntfs and libntfs-3g made at
// test time (tests/images/recipes/ntfsindx.sh), checked against the names The Sleuth Kit lists
// for that folder; then one of those records patched by hand, case by case.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <map>
#include <ostream>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ntfs/FileReference.h"
#include "ntfs/IndexRecord.h"
#include "ntfs/MftRecord.h"
#include "ntfs/NtfsResult.h"
#include "platform/ByteOrder.h"
#include "support/TestImages.h"

namespace
{
constexpr std::size_t kBlock = 4096; // the volume's index record size (mkntfs -c 4096)

// Name to record number of what fls lists in one folder: live names with flags "-u", deleted
// ones with "-d". Fails the test when fls fails.
std::map<std::string, u64> FlsNames(const std::string& image, const std::string& flags,
                                    const std::string& folder)
{
    std::string listing;
    EXPECT_EQ(RunCommand("fls " + flags + " '" + image + "' " + folder + " 2>&1", &listing), 0)
        << listing;
    static const std::regex kLine(R"(^\S+ (?:\* )?(\d+)(?:-\d+-\d+)?(?:\(realloc\))?:\t(.*)$)");
    std::map<std::string, u64> out;
    std::istringstream in(listing);
    std::string line;
    std::smatch m;
    while (std::getline(in, line))
        if (std::regex_match(line, m, kLine))
            out.emplace(m[2].str(), std::stoull(m[1].str()));
    return out;
}

struct Block
{
    std::vector<u8> bytes; // as on the volume
    u32 rc = 0;
    IndexRecordInfo info;
    std::vector<IndexNameEntry> entries;
};

// Every record that starts "INDX" at a cluster of the volume, read on a copy.
std::vector<Block> IndexBlocks(const std::vector<u8>& volume)
{
    std::vector<Block> out;
    for (std::size_t at = 0; at + kBlock <= volume.size(); at += kBlock)
    {
        if (std::memcmp(&volume[at], "INDX", 4) != 0)
            continue;
        Block b;
        b.bytes.assign(volume.begin() + static_cast<std::ptrdiff_t>(at),
                       volume.begin() + static_cast<std::ptrdiff_t>(at + kBlock));
        std::vector<u8> copy = b.bytes;
        b.rc = ReadIndexRecord(copy.data(), copy.size(), &b.info, &b.entries);
        out.push_back(std::move(b));
    }
    return out;
}

struct Volume
{
    std::string image;
    u64 folder = 0; // record number of /dir
    std::vector<Block> blocks;
};

const Volume& IndexVolume()
{
    static const Volume v = []
    {
        Volume out;
        out.image = TestImage("ntfs-index");
        if (out.image.empty())
            return out;
        const auto root = FlsNames(out.image, "", "");
        if (root.count("dir") != 0)
            out.folder = root.at("dir");
        out.blocks = IndexBlocks(ReadWholeFile(out.image));
        return out;
    }();
    return v;
}

bool InFolder(const Block& b, u64 folder)
{
    for (const IndexNameEntry& e : b.entries)
        if (!e.inSlack && NtfsRefRecord(e.parentReference) == folder)
            return true;
    return false;
}

// The names in use in the folder's records are exactly those fls lists as live, with the same
// record numbers; every name in the slack is one fls lists for the folder, and those that are
// no longer in use are its deleted names, with the records fls gives them.
TEST(IndexRecord, FolderRecordsAgreeWithSleuthKit)
{
    const Volume& v = IndexVolume();
    ASSERT_FALSE(v.image.empty());
    ASSERT_NE(v.folder, 0u);
    const std::string folder = std::to_string(v.folder);
    const auto live = FlsNames(v.image, "-u", folder);
    const auto deleted = FlsNames(v.image, "-d", folder);
    ASSERT_GT(live.size(), 300u);
    ASSERT_GT(deleted.size(), 50u);

    std::map<std::string, u64> inUse;
    std::set<std::string> foundDeleted;
    int folderBlocks = 0;
    int nodes = 0; // records with sub-node entries (index node flag 0x01)
    for (const Block& b : v.blocks)
    {
        ASSERT_EQ(b.rc, kNtfsOk);
        EXPECT_EQ(b.info.blockBytes, kBlock);
        if (!InFolder(b, v.folder))
            continue;
        ++folderBlocks;
        nodes += (b.bytes[0x24] & 1) != 0 ? 1 : 0;
        for (const IndexNameEntry& e : b.entries)
        {
            SCOPED_TRACE(e.name + " at VCN " + std::to_string(b.info.vcn));
            EXPECT_EQ(NtfsRefRecord(e.parentReference), v.folder);
            const u64 record = NtfsRefRecord(e.fileReference);
            if (!e.inSlack)
            {
                EXPECT_TRUE(inUse.emplace(e.name, record).second) << "listed twice";
                continue;
            }
            // An older copy of a live name (moved when the record was split), or a deleted one.
            const bool isLive = live.count(e.name) != 0;
            ASSERT_TRUE(isLive || deleted.count(e.name) != 0) << "not a name fls lists";
            // The header of a stale entry may be half overwritten; its key is whole.
            if (NtfsRefSequence(e.fileReference) != 0)
            {
                EXPECT_EQ(record, isLive ? live.at(e.name) : deleted.at(e.name));
            }
            if (!isLive)
                foundDeleted.insert(e.name);
        }
    }
    EXPECT_EQ(inUse, live);
    EXPECT_GE(folderBlocks, 10);
    EXPECT_GE(nodes, 1);
    EXPECT_GE(foundDeleted.size(), 20u);
    EXPECT_TRUE(std::any_of(foundDeleted.begin(), foundDeleted.end(),
                            [](const std::string& n) { return n.rfind("Résumé ", 0) == 0; }))
        << "no name outside ASCII among the deleted ones";
}

// Where the entries of a record lie, in its bytes with the update sequence applied.
struct Layout
{
    std::vector<std::size_t> inUse; // offsets of the entries in use, the end entry left out
    std::size_t slackStart = 0;     // the end of the bytes in use, rounded up to 8
    std::size_t slackFind = 0;      // offset of a deleted name's entry found in the slack
};

std::vector<u8> Unprotected(std::vector<u8> raw)
{
    EXPECT_EQ(ApplyUpdateSequence(raw.data(), raw.size()), kNtfsOk);
    return raw;
}

// Protects the record again: each stride's last word saved in the array, the update sequence
// number written in its place.
void Protect(std::vector<u8>& b)
{
    const std::size_t array = LoadLe16(&b[4]);
    const u16 usn = LoadLe16(&b[array]);
    for (std::size_t k = 1; k < LoadLe16(&b[6]) && k * 512 <= b.size(); ++k)
    {
        StoreLe16(&b[array + 2 * k], LoadLe16(&b[k * 512 - 2]));
        StoreLe16(&b[k * 512 - 2], usn);
    }
}

Layout LayoutOf(const std::vector<u8>& d, const std::string& slackName)
{
    Layout l;
    std::size_t pos = 0x18 + LoadLe32(&d[0x18]);
    const std::size_t end = 0x18 + LoadLe32(&d[0x1C]);
    while (pos + 0x10 <= end && (LoadLe32(&d[pos + 0x0C]) & 2) == 0)
    {
        l.inUse.push_back(pos);
        pos += LoadLe16(&d[pos + 8]);
    }
    l.slackStart = (end + 7) & ~std::size_t{7};
    std::string units; // the name in UTF-16LE (ASCII)
    for (char c : slackName)
        units += {c, '\0'};
    const auto hit = std::search(d.begin() + static_cast<std::ptrdiff_t>(l.slackStart), d.end(),
                                 units.begin(), units.end());
    l.slackFind = static_cast<std::size_t>(hit - d.begin()) - 0x52;
    return l;
}

// "U name#record" for an entry in use, "S ..." for one in the slack.
std::vector<std::string> Summary(const std::vector<IndexNameEntry>& entries)
{
    std::vector<std::string> out;
    for (const IndexNameEntry& e : entries)
        out.push_back(std::string(e.inSlack ? "S " : "U ") + e.name + "#" +
                      std::to_string(NtfsRefRecord(e.fileReference)));
    return out;
}

// A record of the folder with at least three entries in use, and in its slack a deleted ASCII
// name whose bytes occur once in the record.
const Block* PatchableBlock(std::string* slackName)
{
    const Volume& v = IndexVolume();
    for (const Block& b : v.blocks)
    {
        if (b.rc != kNtfsOk || !InFolder(b, v.folder) || (b.bytes[0x24] & 1) != 0)
            continue;
        const std::vector<u8> d = Unprotected(b.bytes);
        const auto inUse = std::count_if(b.entries.begin(), b.entries.end(),
                                         [](const IndexNameEntry& e) { return !e.inSlack; });
        for (const IndexNameEntry& e : b.entries)
        {
            if (!e.inSlack || inUse < 3 || e.name.rfind("doc", 0) != 0 ||
                NtfsRefSequence(e.fileReference) == 0)
                continue;
            std::string units;
            for (char c : e.name)
                units += {c, '\0'};
            const auto first = std::search(d.begin(), d.end(), units.begin(), units.end());
            if (std::search(first + 1, d.end(), units.begin(), units.end()) == d.end())
            {
                *slackName = e.name;
                return &b;
            }
        }
    }
    return nullptr;
}

enum class Expect
{
    Corrupt,        // kNtfsCorrupt, nothing appended, the bytes as they were
    Same,           // what the record gave unpatched
    FirstInUseOnly, // the walk of the entries in use ends after the first
    SecondLeftOut,  // the second entry in use is passed over
    SlackFindGone,  // the chosen slack find is not found
    SlackEmpty,     // nothing found in the slack
    SlackCopies,    // the slack holds a copy of the first entry in use and a deleted entry
};

struct PatchCase
{
    const char* label;
    bool onDisk; // patch the bytes as on the volume, else the fixed-up bytes, protected again
    std::function<void(std::vector<u8>&, const Layout&)> patch;
    Expect expect;
    std::size_t size = kBlock; // bytes handed to the reader (past the record: 0xEE)
};

void PrintTo(const PatchCase& c, std::ostream* os)
{
    *os << c.label;
}

void SetU16(std::vector<u8>& b, std::size_t at, u16 v)
{
    StoreLe16(&b[at], v);
}

void SetU32(std::vector<u8>& b, std::size_t at, u32 v)
{
    StoreLe32(&b[at], v);
}

constexpr u32 kMovedRecord = 1000; // added to the record number of the deleted copy

const std::vector<PatchCase>& PatchCases()
{
    using B = std::vector<u8>;
    using L = Layout;
    static const std::vector<PatchCase> cases = {
        {"bad signature", true, [](B& b, const L&) { b[3] = 'Y'; }, Expect::Corrupt},
        {"torn stride", true, [](B& b, const L&) { b[3 * 512 + 510] ^= 0xFF; }, Expect::Corrupt},
        {"array one entry short", true, [](B& b, const L&) { SetU16(b, 6, 8); }, Expect::Corrupt},
        {"array over the first entry", false, [](B& b, const L&) { SetU16(b, 4, 0x38); },
         Expect::Corrupt},
        {"allocation past the bytes", true, [](B& b, const L&) { SetU32(b, 0x20, 2 * kBlock); },
         Expect::Corrupt},
        {"allocation not whole strides", true,
         [](B& b, const L&) { SetU32(b, 0x20, kBlock - 0x18 - 8); }, Expect::Corrupt},
        {"bytes in use past the allocation", true,
         [](B& b, const L&) { SetU32(b, 0x1C, kBlock - 0x18 + 8); }, Expect::Corrupt},
        {"entries inside the header", true, [](B& b, const L&) { SetU32(b, 0x18, 0); },
         Expect::Corrupt},
        {"fewer bytes than the record", true, [](B&, const L&) {}, Expect::Corrupt, kBlock / 2},
        {"bytes past the record", true, [](B&, const L&) {}, Expect::Same, kBlock + 512},
        {"entry length 0", false, [](B& b, const L& l) { SetU16(b, l.inUse[1] + 8, 0); },
         Expect::FirstInUseOnly},
        {"entry length below its header", false,
         [](B& b, const L& l) { SetU16(b, l.inUse[1] + 8, 8); }, Expect::FirstInUseOnly},
        {"entry length past the block", false,
         [](B& b, const L& l) { SetU16(b, l.inUse[1] + 8, 0xFFF8); }, Expect::FirstInUseOnly},
        {"key longer than its entry", false,
         [](B& b, const L& l)
         { SetU16(b, l.inUse[1] + 10, static_cast<u16>(LoadLe16(&b[l.inUse[1] + 8]) - 8)); },
         Expect::SecondLeftOut},
        {"name length 0", false, [](B& b, const L& l) { b[l.inUse[1] + 0x50] = 0; },
         Expect::SecondLeftOut},
        {"name past the key", false, [](B& b, const L& l) { b[l.inUse[1] + 0x50] = 255; },
         Expect::SecondLeftOut},
        {"slack entry length 0", false, [](B& b, const L& l) { SetU16(b, l.slackFind + 8, 0); },
         Expect::SlackFindGone},
        {"slack entry longer than its key needs", false,
         [](B& b, const L& l)
         { SetU16(b, l.slackFind + 8, static_cast<u16>(LoadLe16(&b[l.slackFind + 8]) + 16)); },
         Expect::SlackFindGone},
        {"slack name past the key", false, [](B& b, const L& l) { b[l.slackFind + 0x50] = 255; },
         Expect::SlackFindGone},
        {"slack name length 0", false, [](B& b, const L& l) { b[l.slackFind + 0x50] = 0; },
         Expect::SlackFindGone},
        {"slack parent without a record", false,
         [](B& b, const L& l) { StoreLe64(&b[l.slackFind + 0x10], u64{3} << 48); },
         Expect::SlackFindGone},
        {"slack name holding U+0000", false,
         [](B& b, const L& l) { SetU16(b, l.slackFind + 0x52, 0); }, Expect::SlackFindGone},
        {"noise in the slack", false,
         [](B& b, const L& l)
         {
             std::mt19937 noise(29);
             for (std::size_t i = l.slackStart; i < b.size(); ++i)
                 b[i] = static_cast<u8>(noise());
         },
         Expect::SlackEmpty},
        {"slack holding a copy of an entry in use", false,
         [](B& b, const L& l)
         {
             std::fill(b.begin() + static_cast<std::ptrdiff_t>(l.slackStart), b.end(), 0);
             const std::size_t first = LoadLe16(&b[l.inUse[0] + 8]);
             const std::size_t second = LoadLe16(&b[l.inUse[1] + 8]);
             std::memcpy(&b[l.slackStart], &b[l.inUse[0]], first);
             std::memcpy(&b[l.slackStart + first], &b[l.inUse[1]], second);
             StoreLe64(&b[l.slackStart + first], LoadLe64(&b[l.inUse[1]]) + kMovedRecord);
         },
         Expect::SlackCopies},
    };
    return cases;
}

// What a case expects of the entries in use and of the slack, from the unpatched record's.
// Where the walk of the entries in use is cut short, copies of the entries it no longer
// reaches may show in the slack: the slack then holds at least what it held.
struct Outcome
{
    std::vector<std::string> inUse;
    std::vector<std::string> slack;
    bool slackAtLeast = false;
};

Outcome Expected(Expect expect, const std::vector<std::string>& base, const std::string& found)
{
    Outcome o;
    for (const std::string& s : base)
        (s[0] == 'U' ? o.inUse : o.slack).push_back(s);
    switch (expect)
    {
    case Expect::Corrupt:
    case Expect::Same:
        break;
    case Expect::FirstInUseOnly:
        o.inUse.resize(1);
        o.slackAtLeast = true;
        break;
    case Expect::SecondLeftOut:
        o.inUse.erase(o.inUse.begin() + 1);
        o.slackAtLeast = true;
        break;
    case Expect::SlackFindGone:
        o.slack.erase(std::remove_if(o.slack.begin(), o.slack.end(),
                                     [&](const std::string& s)
                                     { return s.rfind("S " + found + "#", 0) == 0; }),
                      o.slack.end());
        break;
    case Expect::SlackEmpty:
        o.slack.clear();
        break;
    case Expect::SlackCopies:
        const std::string& second = o.inUse[1];
        const std::size_t hash = second.find('#');
        o.slack = {"S " + second.substr(2, hash - 2) + "#" +
                   std::to_string(std::stoull(second.substr(hash + 1)) + kMovedRecord)};
        break;
    }
    return o;
}

class IndexRecordPatchTest : public ::testing::TestWithParam<PatchCase>
{
};

// Hand-patched records: a broken header or update sequence refuses the record and leaves its
// bytes alone; a broken entry in use ends the walk (lengths) or is passed over (key); a broken
// entry in the slack is not found, and the rest still are.
TEST_P(IndexRecordPatchTest, ReadsWhatHolds)
{
    const PatchCase& c = GetParam();
    std::string slackName;
    const Block* block = PatchableBlock(&slackName);
    ASSERT_NE(block, nullptr) << "no record of the folder with a deleted name in its slack";
    const std::vector<std::string> base = Summary(block->entries);

    std::vector<u8> bytes = block->bytes;
    std::vector<u8> fixed = Unprotected(bytes);
    const Layout layout = LayoutOf(fixed, slackName);
    ASSERT_GE(layout.inUse.size(), 3u);
    if (c.onDisk)
        c.patch(bytes, layout);
    else
    {
        c.patch(fixed, layout);
        Protect(fixed);
        bytes = fixed;
    }
    bytes.resize(std::max(c.size, bytes.size()), 0xEE);
    const std::vector<u8> before = bytes;
    IndexRecordInfo info;
    std::vector<IndexNameEntry> entries(1);
    entries[0].name = "sentinel";
    const u32 rc = ReadIndexRecord(bytes.data(), c.size, &info, &entries);
    entries.erase(entries.begin());
    if (c.expect == Expect::Corrupt)
    {
        EXPECT_EQ(rc, kNtfsCorrupt);
        EXPECT_TRUE(entries.empty());
        EXPECT_EQ(bytes, before);
        return;
    }
    ASSERT_EQ(rc, kNtfsOk);
    EXPECT_EQ(info.blockBytes, kBlock);
    EXPECT_EQ(info.vcn, block->info.vcn);
    const Outcome want = Expected(c.expect, base, slackName);
    std::vector<std::string> inUse;
    std::vector<std::string> slack;
    for (const std::string& s : Summary(entries))
        (s[0] == 'U' ? inUse : slack).push_back(s);
    EXPECT_EQ(inUse, want.inUse);
    if (!want.slackAtLeast)
    {
        EXPECT_EQ(slack, want.slack);
        return;
    }
    for (const std::string& s : want.slack)
        EXPECT_NE(std::find(slack.begin(), slack.end(), s), slack.end()) << s;
}

INSTANTIATE_TEST_SUITE_P(Cases, IndexRecordPatchTest, ::testing::ValuesIn(PatchCases()),
                         [](const ::testing::TestParamInfo<PatchCase>& p)
                         {
                             std::string n;
                             for (const char* s = p.param.label; *s; ++s)
                                 n += std::isalnum(static_cast<unsigned char>(*s)) ? *s : '_';
                             return n;
                         });
} // namespace
