// Tone matching at the seams: the membrane added to a fill, checked on cases whose exact
// answer is known (a constant offset, a fill that already matches, a fill carrying a ramp on,
// a linear ramp between two known edges), with both solvers.
#include "tools/standin_host/tone_match.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace mendora::tone {
namespace {

// An image of `Sample`s with `step` samples a pixel (the colours first) and a region mask.
template <class Sample> struct TestImage {
    int32_t width, height, colours, step;
    std::vector<Sample> samples;
    std::vector<uint8_t> region;
    TestImage(int32_t w, int32_t h, int32_t c, int32_t s)
        : width(w), height(h), colours(c), step(s), samples(static_cast<size_t>(w * h * s)),
          region(static_cast<size_t>(w * h), 0) {}
    Sample& at(int32_t x, int32_t y, int32_t c) {
        return samples[static_cast<size_t>((y * width + x) * step + c)];
    }
    bool inRegion(int32_t x, int32_t y) const {
        return x >= 0 && y >= 0 && x < width && y < height &&
               region[static_cast<size_t>(y * width + x)] != 0;
    }
    // A region pixel with a known neighbour, or a known pixel with a region neighbour.
    bool onSeam(int32_t x, int32_t y) const {
        const bool own = inRegion(x, y);
        const int32_t dx[] = {-1, 1, 0, 0}, dy[] = {0, 0, -1, 1};
        for (int i = 0; i < 4; i++) {
            const int32_t qx = x + dx[i], qy = y + dy[i];
            if (qx >= 0 && qy >= 0 && qx < width && qy < height && inRegion(qx, qy) != own)
                return true;
        }
        return false;
    }
    // Within two pixels of a seam, on either side: the pixels a seam's mismatch reads.
    bool nearSeam(int32_t x, int32_t y) const {
        if (onSeam(x, y))
            return true;
        const int32_t dx[] = {-1, 1, 0, 0}, dy[] = {0, 0, -1, 1};
        for (int i = 0; i < 4; i++) {
            const int32_t qx = x + dx[i], qy = y + dy[i];
            if (qx >= 0 && qy >= 0 && qx < width && qy < height &&
                inRegion(qx, qy) == inRegion(x, y) && onSeam(qx, qy))
                return true;
        }
        return false;
    }
    ToneMatch match(const uint8_t* picture = nullptr) {
        const SampleLayout layout{width, height, colours, step, static_cast<size_t>(width * step)};
        return matchTones(samples.data(), layout, region.data(), static_cast<size_t>(width),
                          picture);
    }
};

// Runs each case with the direct solver and with conjugate gradients for every part.
class ToneMatchTest : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override { limitDirectSolve(GetParam() ? 0 : -1); }
    void TearDown() override { limitDirectSolve(-1); }
};

// A textured image with three separate regions (one in the top-left corner touching two
// borders, one inside, one along the bottom border) whose fills have texture of their own;
// every pixel within two of a seam holds the same grey on the known side, and that grey minus
// the region's offset on the filled side. The membrane then moves each region by exactly its
// offset (0: unchanged) and touches nothing else, nor the fourth sample (alpha).
template <class Sample> void expectOffsetsRemoved(Sample base, const int32_t offsets[3]) {
    TestImage<Sample> image(40, 30, 3, 4);
    const int32_t boxes[3][4] = {{0, 0, 9, 7}, {15, 8, 27, 19}, {30, 24, 38, 30}};
    for (int32_t part = 0; part < 3; part++)
        for (int32_t y = boxes[part][1]; y < boxes[part][3]; y++)
            for (int32_t x = boxes[part][0]; x < boxes[part][2]; x++)
                image.region[static_cast<size_t>(y * image.width + x)] = 1;
    // A notch makes the middle region not convex.
    image.region[static_cast<size_t>(8 * image.width + 20)] = 0;
    std::vector<int32_t> partOf(image.region.size(), -1);
    for (int32_t part = 0; part < 3; part++)
        for (int32_t y = boxes[part][1]; y < boxes[part][3]; y++)
            for (int32_t x = boxes[part][0]; x < boxes[part][2]; x++)
                partOf[static_cast<size_t>(y * image.width + x)] = part;
    for (int32_t y = 0; y < image.height; y++)
        for (int32_t x = 0; x < image.width; x++)
            for (int32_t c = 0; c < 4; c++) {
                // Texture everywhere (its own in each channel), the same grey along the seams.
                Sample value = static_cast<Sample>(base + ((x * 7 + y * 13 + c * 5) % 23) * 3);
                if (c < 3 && image.nearSeam(x, y))
                    value = base;
                if (c < 3 && image.inRegion(x, y))
                    value = static_cast<Sample>(
                        value - offsets[partOf[static_cast<size_t>(y * image.width + x)]]);
                image.at(x, y, c) = value;
            }
    TestImage<Sample> before = image;
    ASSERT_EQ(image.match(), ToneMatch::matched);
    for (int32_t y = 0; y < image.height; y++)
        for (int32_t x = 0; x < image.width; x++)
            for (int32_t c = 0; c < 4; c++) {
                const int32_t part = partOf[static_cast<size_t>(y * image.width + x)];
                const int32_t shift = c < 3 && image.inRegion(x, y) ? offsets[part] : 0;
                ASSERT_EQ(image.at(x, y, c), before.at(x, y, c) + shift)
                    << "at " << x << "," << y << " channel " << c;
            }
}

TEST_P(ToneMatchTest, RemovesEachRegionsConstantOffsetExactly) {
    const int32_t offsets[3] = {17, -9, 40};
    expectOffsetsRemoved<uint8_t>(100, offsets);
    const int32_t wide[3] = {5000, -1234, 257};
    expectOffsetsRemoved<uint16_t>(30000, wide);
}

TEST_P(ToneMatchTest, LeavesAFillThatAlreadyMatchesUnchanged) {
    const int32_t none[3] = {0, 0, 0};
    expectOffsetsRemoved<uint8_t>(100, none);
    expectOffsetsRemoved<uint16_t>(30000, none);
}

// A region of whole rows between a known row of 10 above and of 60 below, filled with 0: the
// membrane is the straight ramp between them (the side borders do not pin it), 20 30 40 50.
// A grey image (one colour a pixel) whose fill already holds 0.
TEST_P(ToneMatchTest, SpreadsTheRimsMismatchHarmonically) {
    TestImage<uint8_t> image(7, 6, 1, 1);
    for (int32_t x = 0; x < image.width; x++) {
        image.at(x, 0, 0) = 10;
        image.at(x, 5, 0) = 60;
        for (int32_t y = 1; y <= 4; y++)
            image.region[static_cast<size_t>(y * image.width + x)] = 1;
    }
    ASSERT_EQ(image.match(), ToneMatch::matched);
    for (int32_t y = 1; y <= 4; y++)
        for (int32_t x = 0; x < image.width; x++)
            EXPECT_EQ(image.at(x, y, 0), 10 + 10 * y) << x << "," << y;
}

// A fill that carries the surroundings' ramp on is left as it is, and one off by a constant is
// moved back onto the ramp: inside a box, in a part along the left border and in a part one
// pixel wide (where the slope is read on the known side only). The bare step across the seam
// would read the ramp's slope as a mismatch and flatten the ramp.
TEST_P(ToneMatchTest, KeepsTheSurroundingsRamp) {
    for (const int32_t offset : {0, 9}) {
        TestImage<uint8_t> image(24, 20, 3, 3);
        for (int32_t y = 0; y < image.height; y++)
            for (int32_t x = 0; x < image.width; x++) {
                const bool box = x >= 6 && x < 16 && y >= 5 && y < 13;
                const bool border = x < 4 && y >= 14 && y < 18;
                const bool line = x == 20 && y >= 3 && y < 9;
                image.region[static_cast<size_t>(y * image.width + x)] = box || border || line;
            }
        for (int32_t y = 0; y < image.height; y++)
            for (int32_t x = 0; x < image.width; x++)
                for (int32_t c = 0; c < 3; c++) {
                    const int32_t ramp = 40 + 3 * x + 2 * y + 10 * c;
                    image.at(x, y, c) =
                        static_cast<uint8_t>(image.inRegion(x, y) ? ramp - offset : ramp);
                }
        ASSERT_EQ(image.match(), ToneMatch::matched);
        for (int32_t y = 0; y < image.height; y++)
            for (int32_t x = 0; x < image.width; x++)
                for (int32_t c = 0; c < 3; c++)
                    ASSERT_EQ(image.at(x, y, c), 40 + 3 * x + 2 * y + 10 * c)
                        << "offset " << offset << " at " << x << "," << y << " channel " << c;
    }
}

// Pixels that are no picture (fully transparent) neither pull nor lend a slope: a fill off by
// 30 whose every neighbour is such a pixel stays as it is, and a fill carrying the ramp on
// stays on it though the pixels beyond its known neighbours on the left, and its right-hand
// neighbours themselves, are no picture and hold 0.
TEST_P(ToneMatchTest, PixelsThatAreNoPictureNeitherPullNorLendASlope) {
    TestImage<uint8_t> image(24, 20, 1, 1);
    std::vector<uint8_t> picture(static_cast<size_t>(24 * 20), 1);
    for (int32_t y = 0; y < image.height; y++)
        for (int32_t x = 0; x < image.width; x++) {
            const size_t i = static_cast<size_t>(y * image.width + x);
            image.region[i] = x >= 6 && x < 16 && y >= 5 && y < 13;
            image.at(x, y, 0) = static_cast<uint8_t>(40 + 3 * x + 2 * y);
            if ((x == 4 && y >= 5 && y < 13) || (x == 16 && y >= 5 && y < 13)) {
                picture[i] = 0;
                image.at(x, y, 0) = 0;
            }
        }
    const std::vector<uint8_t> ramp = image.samples;
    ASSERT_EQ(image.match(picture.data()), ToneMatch::matched);
    EXPECT_EQ(image.samples, ramp);

    std::fill(picture.begin(), picture.end(), 0);
    for (size_t i = 0; i < image.region.size(); i++)
        if (image.region[i] != 0)
            image.samples[i] = static_cast<uint8_t>(image.samples[i] - 30);
    const std::vector<uint8_t> off = image.samples;
    ASSERT_EQ(image.match(picture.data()), ToneMatch::matched);
    EXPECT_EQ(image.samples, off);
}

// Corrections beyond the samples' range are held to it; an image that is all region, and one
// without any, are left as they are.
TEST_P(ToneMatchTest, HoldsValuesToTheRangeAndSkipsRegionsWithoutKnownNeighbours) {
    // Two region pixels among known 255s, filled with 240 and 254. Their mismatches: 15 above
    // and below the first, 15 - (0 + (240 - 254)) / 2 = 22 left of it; 1 above and below the
    // second, 1 - (0 + 14) / 2 = -6 right of it. The membrane, 4 u1 - u2 = 52 and
    // 4 u2 - u1 = -4, is (13.6, 2.4): 253.6 and 256.4, the second held to 255.
    TestImage<uint8_t> image(6, 5, 1, 1);
    std::fill(image.samples.begin(), image.samples.end(), uint8_t{255});
    image.region[2 * 6 + 2] = image.region[2 * 6 + 3] = 1;
    image.at(2, 2, 0) = 240;
    image.at(3, 2, 0) = 254;
    ASSERT_EQ(image.match(), ToneMatch::matched);
    EXPECT_EQ(image.at(2, 2, 0), 254);
    EXPECT_EQ(image.at(3, 2, 0), 255);

    TestImage<uint16_t> all(4, 3, 3, 3);
    for (size_t i = 0; i < all.samples.size(); i++)
        all.samples[i] = static_cast<uint16_t>(i * 1000);
    std::fill(all.region.begin(), all.region.end(), 1);
    const std::vector<uint16_t> before = all.samples;
    EXPECT_EQ(all.match(), ToneMatch::nothingDone);
    EXPECT_EQ(all.samples, before);
    std::fill(all.region.begin(), all.region.end(), 0);
    EXPECT_EQ(all.match(), ToneMatch::nothingDone);
    EXPECT_EQ(all.samples, before);
}

INSTANTIATE_TEST_SUITE_P(Solvers, ToneMatchTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("ConjugateGradients")
                                               : std::string("Cholesky");
                         });

} // namespace
} // namespace mendora::tone
