// The sampling area of our hosts: the band around each region against the distance measured
// pixel by pixel, and the check for a source window against the window-by-window rule.
#include "tools/standin_host/sampling_area.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace mendora::runner {
namespace {

constexpr int32_t kWidth = 41;
constexpr int32_t kHeight = 29;

// Two regions (a pixel near the top-left corner and a small cross) and an odd one at the
// right border, in rows `stride` bytes apart with padding set (the stride must be honoured).
std::vector<uint8_t> regions(size_t stride) {
    std::vector<uint8_t> mask(stride * kHeight, 0);
    for (size_t y = 0; y < kHeight; y++)
        for (size_t x = kWidth; x < stride; x++)
            mask[y * stride + x] = 1;
    mask[2 * stride + 3] = 9;
    for (int32_t d = -2; d <= 2; d++) {
        mask[18 * stride + 20 + static_cast<size_t>(d)] = 1;
        mask[static_cast<size_t>(18 + d) * stride + 20] = 1;
    }
    mask[27 * stride + 40] = 255;
    return mask;
}

TEST(SamplingArea, BandHoldsThePixelsWithinItsDistanceOfEachRegion) {
    const size_t stride = 44;
    const std::vector<uint8_t> mask = regions(stride);
    for (const int32_t band : {1, 2, 5, 7, 60}) {
        const AreaMask area = bandAroundSelection(mask.data(), kWidth, kHeight, stride, band);
        ASSERT_EQ(area.bytes.size(), static_cast<size_t>(kWidth * kHeight));
        for (int32_t y = 0; y < kHeight; y++)
            for (int32_t x = 0; x < kWidth; x++) {
                bool near = false;
                for (int32_t sy = 0; sy < kHeight; sy++)
                    for (int32_t sx = 0; sx < kWidth; sx++)
                        near = near || (mask[static_cast<size_t>(sy) * stride + sx] != 0 &&
                                        (sx - x) * (sx - x) + (sy - y) * (sy - y) <= band * band);
                ASSERT_EQ(area.bytes[static_cast<size_t>(y * kWidth + x)] != 0, near)
                    << "band " << band << " at " << x << "," << y;
            }
    }
}

TEST(SamplingArea, SourceWindowCheckFollowsTheCandidateRule) {
    const std::vector<uint8_t> mask = regions(kWidth);
    AreaMask area{kWidth, kHeight, std::vector<uint8_t>(kWidth * kHeight, 0)};
    // A 7 x 5 block of allowed pixels at columns 30..36, rows 3..7, one of them selected below.
    for (int32_t y = 3; y < 8; y++)
        for (int32_t x = 30; x < 37; x++)
            area.bytes[static_cast<size_t>(y * kWidth + x)] = 1;
    const SourceRectangle whole{0, 0, kWidth, kHeight};
    EXPECT_TRUE(anySourceWindow(area, mask.data(), whole, 2));  // 5 x 5 fits
    EXPECT_FALSE(anySourceWindow(area, mask.data(), whole, 3)); // 7 x 7 does not
    // The rectangle cuts it: right edge exclusive.
    EXPECT_TRUE(anySourceWindow(area, mask.data(), SourceRectangle{0, 0, 35, 8}, 2));
    EXPECT_FALSE(anySourceWindow(area, mask.data(), SourceRectangle{0, 0, 34, 8}, 2));
    EXPECT_FALSE(anySourceWindow(area, mask.data(), SourceRectangle{0, 0, 35, 7}, 2));
    EXPECT_TRUE(anySourceWindow(area, mask.data(), SourceRectangle{32, 3, 100, 100}, 2));
    EXPECT_FALSE(anySourceWindow(area, mask.data(), SourceRectangle{33, 0, 100, 100}, 2));
    // A selected pixel inside it leaves the windows beside it.
    std::vector<uint8_t> holed = mask;
    holed[5 * kWidth + 33] = 1;
    EXPECT_FALSE(anySourceWindow(area, holed.data(), whole, 2));
    EXPECT_TRUE(anySourceWindow(area, holed.data(), whole, 1));
    // Intersected with a mask leaving out its middle column: 3 wide on either side.
    AreaMask other{kWidth, kHeight, std::vector<uint8_t>(kWidth * kHeight, 1)};
    for (int32_t y = 0; y < kHeight; y++)
        other.bytes[static_cast<size_t>(y * kWidth + 33)] = 0;
    intersectArea(area, other);
    EXPECT_TRUE(anySourceWindow(area, mask.data(), whole, 1));
    EXPECT_FALSE(anySourceWindow(area, mask.data(), whole, 2));
}

} // namespace
} // namespace mendora::runner
