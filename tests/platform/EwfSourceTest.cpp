// Expert Witness images as command-line sources: the layout read through libewf equals the
// layout of the bytes that were acquired (partitions, offsets, file systems, labels), drives
// are registered with the image's format, and a set with a missing segment is named.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/DriveDiscovery.h"
#include "platform/SourceOpen.h"
#include "platform/Status.h"
#include "support/TestImages.h"

namespace fs = std::filesystem;

namespace
{
fs::path ImageFolder(const std::string& image)
{
    return fs::canonical(image).parent_path();
}

class EwfSourceTest : public ::testing::TestWithParam<const char*>
{
protected:
    void TearDown() override { g_DriveTable.Clear(); }
};
} // namespace

TEST_P(EwfSourceTest, LayoutEqualsTheAcquiredBytes)
{
    const std::string image = TestImage(GetParam());
    ASSERT_FALSE(image.empty());
    const std::string raw = (ImageFolder(image) / "volume.raw").string();
    SourceLayout ewf;
    SourceLayout plain;
    int error = 0;
    ASSERT_EQ(ReadSourceLayout(image, true, &ewf, &error), kOk) << SourceErrorText(error);
    ASSERT_EQ(ReadSourceLayout(raw, true, &plain, &error), kOk) << SourceErrorText(error);
    EXPECT_EQ(ewf.format, SourceFormat::Ewf);
    EXPECT_EQ(plain.format, SourceFormat::Raw);
    EXPECT_EQ(ewf.size, plain.size);
    EXPECT_EQ(ewf.scheme, plain.scheme);
    EXPECT_EQ(ewf.partitionCount, plain.partitionCount);
    ASSERT_FALSE(plain.volumes.empty());
    ASSERT_EQ(ewf.volumes.size(), plain.volumes.size());
    for (std::size_t i = 0; i < plain.volumes.size(); ++i)
    {
        const SourceVolume& a = ewf.volumes[i];
        const SourceVolume& b = plain.volumes[i];
        EXPECT_EQ(a.offset, b.offset) << i;
        EXPECT_EQ(a.length, b.length) << i;
        EXPECT_EQ(a.partition, b.partition) << i;
        EXPECT_EQ(a.info.type, b.info.type) << i;
        EXPECT_EQ(a.info.fileSystem, b.info.fileSystem) << i;
        EXPECT_EQ(a.info.label, b.info.label) << i;
        EXPECT_EQ(a.info.note, b.info.note) << i;
    }

    // Registered drives carry the format, and probing them again names the same volumes.
    std::vector<std::string> errors;
    std::vector<std::string> drives = AddCommandLineSources({image}, &errors);
    EXPECT_TRUE(errors.empty()) << errors.front();
    ASSERT_EQ(drives.size(), plain.volumes.size());
    for (std::size_t i = 0; i < drives.size(); ++i)
    {
        std::optional<DriveSource> source = g_DriveTable.Find(drives[i]);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->format, SourceFormat::Ewf);
        VolumeInfo info;
        ASSERT_EQ(ProbeSourceVolume(*source, &info), kOk);
        EXPECT_EQ(info.fileSystem, plain.volumes[i].info.fileSystem);
        EXPECT_EQ(info.label, plain.volumes[i].info.label);
    }
}

INSTANTIATE_TEST_SUITE_P(Images, EwfSourceTest,
                         ::testing::Values("e01-fat12", "e01-ntfs", "e01-disk-mbr",
                                           "e01-disk-finds"),
                         [](const ::testing::TestParamInfo<const char*>& param)
                         {
                             std::string name = param.param;
                             for (char& c : name)
                                 if (c == '-')
                                     c = '_';
                             return name;
                         });

TEST(EwfSourceMessageTest, SetWithAMissingSegmentIsNamed)
{
    const std::string image = TestImage("e01-fat12");
    ASSERT_FALSE(image.empty());
    const std::string first = ScratchDir("ewf") + "/image.E01";
    fs::copy_file(ImageFolder(image) / "image.E01", first);
    SourceLayout layout;
    int error = 0;
    EXPECT_EQ(ReadSourceLayout(first, true, &layout, &error), kErrOpenFailed);
    EXPECT_EQ(error, kErrBadEwfImage);
    std::vector<std::string> errors;
    EXPECT_TRUE(AddCommandLineSources({first}, &errors).empty());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "cannot open '" + first +
                             "': an Expert Witness image whose segment files cannot be read");
    g_DriveTable.Clear();
}
