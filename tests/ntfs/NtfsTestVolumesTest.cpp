// The NTFS test volumes of tests/images/recipes/ntfs-geometry.sh, checked with The Sleuth Kit
// and the boot sector: each has the geometry, attribute lists, compressed data and named
// streams it stands for, and holds the bytes the script wrote. A change of mkntfs or libntfs-3g
// that turned them into plain volumes fails here rather than silently weakening other tests.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "support/NtfsContent.h"
#include "support/TestImages.h"

namespace
{
// Path (as fls -r -p prints it) to TSK address ("67" or "67-128-4" for a stream), for live and
// deleted entries alike; a later entry of the same path (a deleted one) does not replace one.
std::map<std::string, std::string> Addresses(const std::string& image)
{
    std::map<std::string, std::string> out;
    std::string listing;
    EXPECT_EQ(RunCommand("fls -r -p '" + image + "' 2>&1", &listing), 0) << listing;
    static const std::regex kLine(R"(^\S+ (?:\* )?(\d+(?:-\d+-\d+)?)(?:\(realloc\))?:\t(.*)$)");
    std::istringstream in(listing);
    std::string line;
    std::smatch m;
    while (std::getline(in, line))
        if (std::regex_match(line, m, kLine))
        {
            std::string addr = m[1].str();
            // A file's unnamed $DATA is addressed by its record alone.
            if (m[2].str().find(':') == std::string::npos)
                addr = addr.substr(0, addr.find('-'));
            out.emplace(m[2].str(), addr);
        }
    return out;
}

std::string Istat(const std::string& image, const std::string& record, bool mustExist = true)
{
    std::string out;
    const int rc = RunCommand("istat '" + image + "' " + record + " 2>&1", &out);
    if (mustExist)
    {
        EXPECT_EQ(rc, 0) << out;
    }
    return rc == 0 ? out : std::string();
}

std::string Icat(const std::string& image, const std::string& addr)
{
    std::string out;
    EXPECT_EQ(RunCommand("icat '" + image + "' " + addr + " 2>&1", &out), 0) << addr;
    return out;
}

std::vector<unsigned char> BootSector(const std::string& image)
{
    std::vector<unsigned char> boot(512);
    std::ifstream in(image, std::ios::binary);
    in.read(reinterpret_cast<char*>(boot.data()), static_cast<std::streamsize>(boot.size()));
    EXPECT_TRUE(in) << image;
    return boot;
}

NtfsWrite Text(std::uint64_t n)
{
    return {NtfsWrite::kText, n};
}
NtfsWrite Noise(std::uint64_t n)
{
    return {NtfsWrite::kNoise, n};
}
NtfsWrite Hole(std::uint64_t n)
{
    return {NtfsWrite::kHole, n};
}

struct Geometry
{
    const char* image;
    unsigned bytesPerSector;    // boot sector 0x0B
    unsigned sectorsPerCluster; // 0x0D (0xF4 and below: 2 to the power of its negation)
    unsigned clustersPerRecord; // 0x40 (0xF6: records of 1,024 bytes)
    bool sleuthKitReads;        // The Sleuth Kit takes clusters of at most 64 KiB
};

class NtfsGeometryTest : public ::testing::TestWithParam<Geometry>
{
};

TEST_P(NtfsGeometryTest, BootSectorAndSleuthKit)
{
    const Geometry& g = GetParam();
    const std::string image = TestImage(g.image);
    ASSERT_FALSE(image.empty());
    const std::vector<unsigned char> boot = BootSector(image);
    EXPECT_EQ(boot[0x0B] | boot[0x0C] << 8, g.bytesPerSector);
    EXPECT_EQ(boot[0x0D], g.sectorsPerCluster);
    EXPECT_EQ(boot[0x40], g.clustersPerRecord);
    EXPECT_EQ(RunCommand("fsstat '" + image + "' >/dev/null 2>&1"), g.sleuthKitReads ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsGeometryTest,
                         ::testing::Values(Geometry{"ntfs-4k-sector", 4096, 1, 1, true},
                                           Geometry{"ntfs-64k-cluster", 512, 128, 0xF6, true},
                                           Geometry{"ntfs-2m-cluster", 512, 0xF4, 0xF6, false}),
                         [](const ::testing::TestParamInfo<Geometry>& p)
                         {
                             // "ntfs-4k-sector" -> "Ntfs4kSector"
                             std::string name;
                             bool upper = true;
                             for (char c : std::string(p.param.image))
                             {
                                 if (c == '-')
                                     upper = true;
                                 else
                                 {
                                     name += upper ? static_cast<char>(std::toupper(c)) : c;
                                     upper = false;
                                 }
                             }
                             return name;
                         });

// A file or stream of a volume, what its istat must show, and the writes that made it.
struct Content
{
    const char* name;
    const char* image;
    const char* path;  // as fls -r -p prints it
    const char* label; // as the script gave it
    const char* istat; // a line istat prints for it, or ""
    std::vector<NtfsWrite> writes;
};

class NtfsContentTest : public ::testing::TestWithParam<Content>
{
};

TEST_P(NtfsContentTest, SleuthKitReadsWhatWasWritten)
{
    const Content& c = GetParam();
    const std::string image = TestImage(c.image);
    ASSERT_FALSE(image.empty());
    const auto addresses = Addresses(image);
    const auto it = addresses.find(c.path);
    ASSERT_NE(it, addresses.end()) << c.path << " is not listed by fls";
    if (*c.istat)
    {
        EXPECT_NE(Istat(image, it->second.substr(0, it->second.find('-'))).find(c.istat),
                  std::string::npos)
            << c.path << ": no \"" << c.istat << "\"";
    }
    EXPECT_EQ(Icat(image, it->second), NtfsContent(c.label, c.writes)) << c.path;
}

const char* const kCompressed = "Non-Resident, Compressed";
const std::vector<NtfsWrite> kMixed = {Text(131072), Noise(65536), Hole(131072), Text(30000)};

INSTANTIATE_TEST_SUITE_P(
    Volumes, NtfsContentTest,
    ::testing::Values(Content{"SectorResident2500",
                              "ntfs-4k-sector",
                              "docs/resident 2500.txt",
                              "/docs/resident 2500.txt",
                              "$DATA (128-2)   Name: N/A   Resident   size: 2500",
                              {Text(2500)}},
                      Content{"SectorDeletedResident",
                              "ntfs-4k-sector",
                              "resident gone.txt",
                              "/resident gone.txt",
                              "Not Allocated File",
                              {Text(2500)}},
                      Content{"SectorDeletedInDeletedFolder",
                              "ntfs-4k-sector",
                              "docs/old/gone.txt",
                              "/docs/old/gone.txt",
                              "Not Allocated File",
                              {Text(9000)}},
                      Content{"Cluster64kDeletedTwoRuns",
                              "ntfs-64k-cluster",
                              "data/two runs.bin",
                              "/data/two runs.bin",
                              "Not Allocated File",
                              {Text(70000), Text(70000)}},
                      Content{"Cluster64kDeletedBig",
                              "ntfs-64k-cluster",
                              "big gone.bin",
                              "/big gone.bin",
                              "",
                              {Text(300000)}},
                      Content{"StreamLiveNonResident",
                              "ntfs-streams",
                              "streams/live.txt:big",
                              "/streams/live.txt:big",
                              "Name: big   Non-Resident",
                              {Text(9000)}},
                      Content{"StreamLiveUnicodeName",
                              "ntfs-streams",
                              "streams/live.txt:ストリーム",
                              "/streams/live.txt:ストリーム",
                              "Name: ストリーム   Resident",
                              {Text(120)}},
                      Content{"StreamDeletedNonResident",
                              "ntfs-streams",
                              "streams/gone.txt:thumb",
                              "/streams/gone.txt:thumb",
                              "Not Allocated File",
                              {Text(12000)}},
                      Content{"StreamDeletedResident",
                              "ntfs-streams",
                              "streams/gone.txt:Zone.Identifier",
                              "/streams/gone.txt:Zone.Identifier",
                              "",
                              {Text(300)}},
                      Content{"StreamOfEmptyFile",
                              "ntfs-streams",
                              "streams/empty with stream.txt:données",
                              "/streams/empty with stream.txt:données",
                              "",
                              {Text(5000)}},
                      Content{"StreamUnicodeFileAndName",
                              "ntfs-streams",
                              "streams/ünïcode 名前.txt:流れ",
                              "/streams/ünïcode 名前.txt:流れ",
                              "",
                              {Text(700)}},
                      Content{"CompressedSmall",
                              "ntfs-compressed",
                              "packed/small.txt",
                              "/packed/small.txt",
                              kCompressed,
                              {Text(1000)}},
                      Content{"CompressedSeveralUnits",
                              "ntfs-compressed",
                              "packed/several.txt",
                              "/packed/several.txt",
                              kCompressed,
                              {Text(200000)}},
                      Content{"CompressedMixedDeleted", "ntfs-compressed", "packed/mixed.bin",
                              "/packed/mixed.bin", kCompressed, kMixed},
                      Content{"CompressedMixedLive", "ntfs-compressed", "packed/mixed kept.bin",
                              "/packed/mixed kept.bin", kCompressed, kMixed},
                      Content{"LinkedLive",
                              "ntfs-attrlist",
                              "links/kept.txt",
                              "/links/kept.txt",
                              "Links: 41",
                              {Text(3000)}}),
    [](const ::testing::TestParamInfo<Content>& p) { return std::string(p.param.name); });

// The files whose records need an attribute list, by their live name: the base record has one,
// and the file's $DATA is spread over extension records when it says so.
TEST(NtfsAttributeListVolume, RecordsHaveAttributeLists)
{
    const std::string image = TestImage("ntfs-attrlist");
    ASSERT_FALSE(image.empty());
    const auto addresses = Addresses(image);
    ASSERT_EQ(addresses.count("links/kept.txt"), 1u);
    ASSERT_EQ(addresses.count("frag/kept.bin"), 1u);
    const long links = std::stol(addresses.at("links/kept.txt"));
    const long frag = std::stol(addresses.at("frag/kept.bin"));
    EXPECT_NE(Istat(image, std::to_string(links)).find("$ATTRIBUTE_LIST"), std::string::npos);

    // The fragmented files: frag/kept.bin and, one record on, frag/gone.bin (deleted, and
    // nameless: libntfs-3g removes a deleted file's name from an extension record). Each has
    // an attribute list, 800 runs, and its $DATA extents in extension records of its own.
    std::vector<NtfsWrite> writes;
    for (int i = 0; i < 400; ++i)
    {
        writes.push_back(Hole(2048));
        writes.push_back(Text(2048));
    }
    for (long base : {frag, frag + 1})
    {
        const std::string istat = Istat(image, std::to_string(base));
        EXPECT_NE(istat.find("$ATTRIBUTE_LIST"), std::string::npos) << base;
        int dataExtents = 0;
        // Past the MFT's last record istat fails, and the extension records are fewer than 16.
        for (long r = base + 1; r < base + 16; ++r)
        {
            const std::string ext = Istat(image, std::to_string(r), false);
            if (ext.find("Base File Record: " + std::to_string(base) + "\n") != std::string::npos &&
                ext.find("Type: $DATA") != std::string::npos)
                ++dataExtents;
        }
        EXPECT_GE(dataExtents, 2) << "record " << base;
    }
    EXPECT_NE(Istat(image, std::to_string(frag + 1)).find("Not Allocated File"), std::string::npos);
    EXPECT_EQ(Icat(image, std::to_string(frag)), NtfsContent("/frag/kept.bin", writes));
}
} // namespace
