// The window estimate on a copy of the window: each unknown pixel becomes the truncated mean of
// its in-window four-neighbours, known ones with their L values and unknown ones with their
// estimates.
#include "engine_fixture.h"

namespace mendora {
namespace {

class Estimate : public EngineGrids {
  protected:
    // A 5 x 5 window centred at (2, 2) of a 7 x 7 grid with radius 2.
    void SetUp() override { makeGrids(7, 7, 2); }
    std::vector<int32_t> estimate() {
        std::vector<int32_t> values;
        takeSnapshot(2, 2, window);
        estimateSnapshot(window, &values);
        return values;
    }
    // L of (x, y) in the window's copy after the estimate.
    int32_t estimatedL(int32_t x, int32_t y) const {
        return window.l[static_cast<size_t>(x * window.rows + y)];
    }
    WindowSnapshot window;
};

// Four known neighbours 10, 21, 30 and 42: the mean 25.75 truncates to 25, never 26.
TEST_F(Estimate, SingleUnknownIsTruncatedMean) {
    setState(3, 2, kToFill);
    setLightness(2, 2, 10);
    setLightness(4, 2, 21);
    setLightness(3, 1, 30);
    setLightness(3, 3, 42);
    EXPECT_EQ(estimate(), std::vector<int32_t>{25});
    EXPECT_EQ(estimatedL(3, 2), 25);
    EXPECT_EQ(lightness(3, 2), 0); // the grid is not written
}

// The window's top-left corner has only its right and lower neighbours inside the window
// (the pixels beyond the window do not count, whatever they hold): (11 + 20) / 2 = 15.5.
TEST_F(Estimate, CornerUnknownUsesItsTwoInWindowNeighbours) {
    setState(0, 0, kToFill);
    setLightness(1, 0, 11);
    setLightness(0, 1, 20);
    EXPECT_EQ(estimate(), std::vector<int32_t>{15});
}

// Two unknown neighbours share one equation: 4 u1 - u2 = 30 and 4 u2 - u1 = 150 give 18 and
// 42 exactly. Counting the pair twice would give 5 u1 - 2 u2 = 30, so u1 = 21.
TEST_F(Estimate, UnknownPairMakesOneEquation) {
    setState(1, 1, kToFill);
    setState(2, 1, kToFill);
    setLightness(0, 1, 10);
    setLightness(1, 0, 10);
    setLightness(1, 2, 10);
    setLightness(3, 1, 50);
    setLightness(2, 0, 50);
    setLightness(2, 2, 50);
    EXPECT_EQ(estimate(), (std::vector<int32_t>{18, 42}));
}

// Unknown pixels are listed rows first: (3, 1) comes before (1, 3) although its x is larger.
TEST_F(Estimate, EstimatesFollowRowScanOrder) {
    for (int32_t x = 0; x < 7; x++)
        for (int32_t y = 0; y < 7; y++)
            setLightness(x, y, 40);
    setState(1, 3, kToFill);
    setLightness(0, 3, 0);
    setLightness(1, 4, 0);
    setLightness(1, 2, 0); // (1, 3): neighbours 0, 0, 0 and 40
    setState(3, 1, kToFill);
    EXPECT_EQ(estimate(), (std::vector<int32_t>{40, 10}));
}

TEST_F(Estimate, WindowWithoutUnknownsWritesNothing) {
    setLightness(3, 3, 77);
    EXPECT_TRUE(estimate().empty());
    EXPECT_EQ(estimatedL(3, 3), 77);
}

} // namespace
} // namespace mendora
