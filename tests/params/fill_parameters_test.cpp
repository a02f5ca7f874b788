// Defaults and range check of the parameter block.
#include <gtest/gtest.h>

#include <vector>

#include "params/fill_parameters.h"

namespace mendora {
namespace {

TEST(FillParametersTest, DefaultsFollowTheFilterRectangleAndMarkTheDataBlock) {
    FillParameters block{7, 7, 7, 7, 7};
    std::vector<uint8_t> data(kDataBlockSize, 0xEE);
    writeDefaultParameters(block, data.data(), 640, 480);
    EXPECT_EQ(block.sourceLeft, 0);
    EXPECT_EQ(block.sourceTop, 0);
    EXPECT_EQ(block.sourceRight, 640);
    EXPECT_EQ(block.sourceBottom, 480);
    EXPECT_EQ(block.patchRadius, 4);
    for (int32_t i = 0; i < kDataBlockSize; i++)
        EXPECT_EQ(data[i], i == kDefaultsWrittenOffset ? 1 : 0xEE) << "byte " << i;
}

TEST(FillParametersTest, BoundsOutsideTheRectangleAreReset) {
    struct Case {
        FillParameters stored;
        FillParameters corrected;
    };
    // R = 640, B = 480.
    const Case cases[] = {
        {{0, 0, -5, 480, 4}, {0, 0, 640, 480, 4}},        // a negative right edge
        {{640, 0, 640, 480, 4}, {640, 0, 640, 480, 4}},   // left equal to R stays
        {{641, 0, 640, 480, 4}, {0, 0, 640, 480, 4}},     // left beyond R
        {{-1, -1, 641, 481, 4}, {0, 0, 640, 480, 4}},     // every side just outside
        {{0, 480, 640, 480, 4}, {0, 480, 640, 480, 4}},   // top equal to B stays
        {{300, 200, 100, 50, 4}, {300, 200, 100, 50, 4}}, // reversed: passes unchanged
        {{10, 10, 12, 12, 4}, {10, 10, 12, 12, 4}},       // too small for a patch: passes
    };
    for (const Case& c : cases) {
        FillParameters block = c.stored;
        int32_t radius = 4;
        normaliseSourceBounds(block, 640, 480, radius);
        EXPECT_EQ(block.sourceLeft, c.corrected.sourceLeft);
        EXPECT_EQ(block.sourceTop, c.corrected.sourceTop);
        EXPECT_EQ(block.sourceRight, c.corrected.sourceRight);
        EXPECT_EQ(block.sourceBottom, c.corrected.sourceBottom);
    }
}

TEST(FillParametersTest, OnlyAPositiveRadiusReplacesTheEngineRadius) {
    for (int16_t requested : {int16_t{0}, int16_t{-3}}) {
        FillParameters block{0, 0, 10, 10, requested};
        int32_t radius = 6;
        normaliseSourceBounds(block, 10, 10, radius);
        EXPECT_EQ(radius, 6);
        EXPECT_EQ(block.patchRadius, requested);
    }
    FillParameters block{0, 0, 10, 10, 2};
    int32_t radius = 6;
    normaliseSourceBounds(block, 10, 10, radius);
    EXPECT_EQ(radius, 2);
}

} // namespace
} // namespace mendora
