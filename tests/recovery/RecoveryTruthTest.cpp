// What the recovery says of the files it writes, on NTFS volumes made by mkntfs and libntfs-3g
// and checked against The Sleuth Kit's icat: a file counts as intact only when it came back
// whole and sound; a sparse file needs room for its clusters only; a compressed stream whose
// compression unit is damaged is never copied as stored.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "ntfs/AttributeIterator.h"
#include "recovery/RecoveryFixture.h"

using namespace recoverytest;

namespace
{
// Keeps what the recovery said of each file.
class RecordingObserver final : public IRecoveryObserver
{
public:
    void FileDone(const RecoveredFile& file) override { files.push_back(file); }
    std::vector<RecoveredFile> files;
};

// One field of the unnamed $DATA attribute header in the record at recordAt, in a copy of image.
std::string PatchedCopy(const std::string& image, u64 recordAt, u32 field,
                        const std::vector<u8>& bytes, const std::string& tag)
{
    const std::string copy = ScratchDir(tag) + "/volume.img";
    std::filesystem::copy_file(image, copy);
    std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<u8> record(1024);
    f.seekg(static_cast<std::streamoff>(recordAt));
    f.read(reinterpret_cast<char*>(record.data()), 1024);
    CAttributeIterator walk(ByteView(record.data(), record.size()));
    NtfsAttribute data;
    EXPECT_EQ(walk.Find(0x80, &data), kNtfsOk);
    f.seekp(static_cast<std::streamoff>(recordAt + data.offset + field));
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    return copy;
}

class RecoveryTruth : public RecoveryBase
{
protected:
    void TearDown() override
    {
        m_catalog.m_recoveryObserver = nullptr;
        RecoveryBase::TearDown();
    }

    // The volume image opened alone as drive.
    void Open(const std::string& image, const std::string& drive)
    {
        m_catalog.m_volumes.clear();
        m_image = image;
        AddNtfs(image, drive);
    }

    // icat's bytes of the record that holds item, read from image.
    std::string Icat(const FoundItem& item, const std::string& image)
    {
        CNtfs& ntfs = *NtfsOf(m_catalog.m_volumes[0]);
        for (s64 r = 0; r < static_cast<s64>(ntfs.RecordCount()); ++r)
        {
            s64 sector = r;
            if (ntfs.RecordToSector(sector) && static_cast<u64>(sector) == item.first)
            {
                std::string out;
                EXPECT_EQ(RunCommand("icat '" + image + "' " + std::to_string(r), &out), 0);
                return out;
            }
        }
        ADD_FAILURE() << "no record for " << item.name;
        return std::string();
    }

    std::string m_image;
    RecordingObserver m_observer;
};
} // namespace

// "complete" in the report follows the same rule as the run's exit status: a file clipped to
// what its clusters hold, an encrypted file copied as stored, a file copied from clusters other
// data has taken, a file whose contents do not hold together as its type and a file written
// below the default folder did not come back as asked; the file as found did.
TEST_F(RecoveryTruth, OnlyFilesThatCameBackIntactAreWhole)
{
    const std::string image = TestImage("ntfs-scan");
    ASSERT_FALSE(image.empty());
    enum class Change
    {
        None,
        Clipped,
        Encrypted,
        Partial,
        Damaged,
        Diverted
    };
    const struct
    {
        Change change;
        const char* drive;
        bool whole;
        const char* warning; // in the one warning expected, "" for none
    } cases[] = {
        {Change::None, "C:", true, ""},
        {Change::Clipped, "D:", false, "more than its clusters on the volume hold"},
        {Change::Encrypted, "E:", false, "is encrypted"},
        {Change::Partial, "F:", false, "is partial"},
        {Change::Damaged, "H:", false,
         "is damaged: its contents do not hold together as a bin "
         "file; "},
        {Change::Diverted, "G:", false, "its folder below"},
    };
    HomeOverride home(ScratchDir("home"));
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.drive);
        Open(image, c.drive);
        const std::string folder = std::string(c.drive) + "\\docs";
        FoundItem* item = Item(folder, "big.bin");
        ASSERT_NE(item, nullptr);
        if (c.change == Change::Clipped)
            item->size = 4ull << 30;
        else if (c.change == Change::Partial)
        {
            item->condition = FindCondition::kPartial;
            item->overwrittenPct = 40;
        }
        else if (c.change == Change::Damaged)
            item->SetContent(FindContent::kDamaged);
        else if (c.change == Change::Encrypted)
        {
            Open(PatchedCopy(image, item->first * 512, 0x0C, {0, 0x40}, "truth"), c.drive);
            item = Item(folder, "big.bin");
            ASSERT_NE(item, nullptr);
        }
        m_observer.files.clear();
        m_sink.events.clear();
        m_catalog.m_recoveryObserver = &m_observer;
        std::string dest = ScratchDir("truth");
        if (c.change == Change::Diverted)
        {
            // A file where the destination's folder belongs: the run goes to the default folder.
            WriteText(dest + "/plain", "x");
            dest += "/plain/sub";
        }
        ASSERT_EQ(Recover(folder, {{"big.bin", 0}}, dest), kOk);
        ASSERT_EQ(m_observer.files.size(), 1u);
        const RecoveredFile& file = m_observer.files[0];
        EXPECT_EQ(file.whole, c.whole);
        EXPECT_FALSE(file.stopped);
        EXPECT_EQ(file.written, std::filesystem::file_size(file.destination));
        const std::vector<Event> warnings = m_sink.Of(kRecoverWarning);
        ASSERT_EQ(warnings.size(), *c.warning == '\0' ? 0u : 1u);
        if (!warnings.empty())
        {
            EXPECT_NE(warnings[0].text.find(c.warning), std::string::npos) << warnings[0].text;
        }
    }
}

// A deleted file that is one hole of 1 TiB takes no room: it is written as a hole, and the file
// after it is recovered too.
TEST_F(RecoveryTruth, SparseFileNeedsRoomForItsClustersOnly)
{
    const std::string image = TestImage("ntfs-recovery2");
    ASSERT_FALSE(image.empty());
    Open(image, "N:");
    const FoundItem* hole = Item("N:\\sparse", "hole.vhd");
    const FoundItem* after = Item("N:\\sparse", "after.txt");
    ASSERT_NE(hole, nullptr);
    ASSERT_NE(after, nullptr);
    ASSERT_EQ(hole->size, 1ull << 40);
    FakeHost host;
    host.freeSpace = [](const std::string&, u64* blockSize, u64* freeBlocks)
    {
        *blockSize = 4096;
        *freeBlocks = 16384; // 64 MiB
        return true;
    };
    SetRecoveryHost(&host);
    const std::string dest = ScratchDir("sparse");
    ASSERT_EQ(Recover("N:\\sparse", {{"hole.vhd", 0}, {"after.txt", 0}}, dest), kOk);
    EXPECT_TRUE(m_sink.Of(kRecoverFatal).empty()) << m_sink.Of(kRecoverFatal)[0].text;
    EXPECT_TRUE(m_sink.Of(kRecoverWarning).empty());
    EXPECT_TRUE(Finished(m_sink));
    struct stat st = {};
    ASSERT_EQ(::stat((dest + "/hole.vhd").c_str(), &st), 0);
    EXPECT_EQ(static_cast<u64>(st.st_size), 1ull << 40);
    EXPECT_LT(st.st_blocks, 64) << "the hole was written out";
    EXPECT_EQ(ReadText(dest + "/after.txt"), Icat(*after, image));
}

// A compressed stream is read in units of 16 clusters whatever its unit field says; a field
// other than 4 is damage: a warning, not intact, and never the stored bytes as the content.
TEST_F(RecoveryTruth, DamagedCompressionUnitIsNeverCopiedAsStored)
{
    const std::string image = TestImage("ntfs-recovery2");
    ASSERT_FALSE(image.empty());
    Open(image, "N:");
    const FoundItem* packed = Item("N:\\packed", "text.txt");
    ASSERT_NE(packed, nullptr);
    const u64 recordAt = packed->first * 512;
    const std::string expected = Icat(*packed, image);
    ASSERT_EQ(expected.size(), 200000u);
    const char drives[] = "PQRSTU";
    const u16 units[] = {4, 0, 17, 255, 65535, 3};
    for (std::size_t i = 0; i < std::size(units); ++i)
    {
        const u16 unit = units[i];
        SCOPED_TRACE(unit);
        const std::string drive = std::string(1, drives[i]) + ":";
        Open(PatchedCopy(image, recordAt, 0x22, {static_cast<u8>(unit), static_cast<u8>(unit >> 8)},
                         "unit"),
             drive);
        m_observer.files.clear();
        m_sink.events.clear();
        m_catalog.m_recoveryObserver = &m_observer;
        const std::string dest = ScratchDir("unit");
        ASSERT_EQ(Recover(drive + "\\packed", {{"text.txt", 0}}, dest), kOk);
        EXPECT_TRUE(ReadText(dest + "/text.txt") == expected) << "not the content icat gives";
        ASSERT_EQ(m_observer.files.size(), 1u);
        const std::vector<Event> warnings = m_sink.Of(kRecoverWarning);
        if (unit == 4)
        {
            EXPECT_TRUE(m_observer.files[0].whole);
            EXPECT_TRUE(warnings.empty());
            continue;
        }
        EXPECT_FALSE(m_observer.files[0].whole);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0].extra, kWarnIncomplete);
        EXPECT_NE(warnings[0].text.find("The compression unit of " + drive +
                                        "\\packed\\text.txt is damaged"),
                  std::string::npos)
            << warnings[0].text;
    }
}

// A stop right after a unit never written leaves the file as long as the warning says it is:
// the hole gets its length, as at the end of a copy. The file is in units of 64 KiB: two of
// text, one of noise, two never written, then a last part unit of text.
TEST_F(RecoveryTruth, StopAfterAHoleUnitLeavesTheLengthTheWarningNames)
{
    const std::string image = TestImage("ntfs-compressed");
    ASSERT_FALSE(image.empty());
    Open(image, "N:");
    const FoundItem* mixed = Item("N:\\packed", "mixed.bin");
    ASSERT_NE(mixed, nullptr);
    const std::string whole = Icat(*mixed, image);
    ASSERT_EQ(whole.size(), 357680u);
    m_sink.onPost = [](const Event& e)
    {
        if (e.code == kRecoverStep && e.extra == 5)
            g_bRunning = 0;
    };
    m_catalog.m_recoveryObserver = &m_observer;
    const std::string dest = ScratchDir("stopped");
    ASSERT_EQ(Recover("N:\\packed", {{"mixed.bin", 0}}, dest), kOk);
    const std::vector<Event> warnings = m_sink.Of(kRecoverWarning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].text, "Stopped while copying N:\\packed\\mixed.bin: " + dest +
                                    "/mixed.bin holds 327680 of its 357680 bytes.");
    ASSERT_EQ(m_observer.files.size(), 1u);
    EXPECT_EQ(m_observer.files[0].written, 327680u);
    EXPECT_TRUE(ReadText(dest + "/mixed.bin") == whole.substr(0, 327680))
        << "not the first five units icat gives";
}
