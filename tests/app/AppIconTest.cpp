// The icon the windows show against the icon files installed for menus and docks: both come
// from data/icons/orlavent.svg, through two renderers, and must show the same picture.
#include "app/AppIcon.h"

#include <gtest/gtest.h>

#include <wx/bitmap.h>
#include <wx/image.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace
{
constexpr int kGrid = 8;          // the pictures are compared as 8 × 8 blocks
constexpr double kTolerance = 16; // per channel and block, out of 255

// Mean of one channel over a block of the picture laid over a mid-grey background. Blocks
// rather than pixels: the renderers smooth edges differently.
double BlockMean(const wxImage& image, int bx, int by, int channel)
{
    const int block = image.GetWidth() / kGrid;
    double sum = 0;
    for (int y = by * block; y < (by + 1) * block; ++y)
        for (int x = bx * block; x < (bx + 1) * block; ++x)
        {
            const unsigned char value = channel == 0   ? image.GetRed(x, y)
                                        : channel == 1 ? image.GetGreen(x, y)
                                                       : image.GetBlue(x, y);
            const double alpha = image.HasAlpha() ? image.GetAlpha(x, y) / 255.0 : 1.0;
            sum += alpha * value + (1.0 - alpha) * 128.0;
        }
    return sum / (block * block);
}
} // namespace

TEST(AppIconTest, MatchesTheInstalledIconFiles)
{
    for (int size : {32, 48})
    {
        const std::string file = std::string(ORL_BINARY_DIR) + "/icons/" + std::to_string(size) +
                                 "x" + std::to_string(size) + "/apps/orlavent.png";
        wxImage installed;
        ASSERT_TRUE(installed.LoadFile(file, wxBITMAP_TYPE_PNG)) << file;
        const wxImage drawn = wxBitmap(AppIcon(size)).ConvertToImage();
        ASSERT_EQ(drawn.GetSize(), installed.GetSize()) << size;
        for (int by = 0; by < kGrid; ++by)
            for (int bx = 0; bx < kGrid; ++bx)
                for (int c = 0; c < 3; ++c)
                    EXPECT_LT(
                        std::abs(BlockMean(drawn, bx, by, c) - BlockMean(installed, bx, by, c)),
                        kTolerance)
                        << "size " << size << ", block " << bx << "," << by << ", channel " << c;
    }
}
