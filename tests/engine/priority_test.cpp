// Fill priority: confidence term, strongest gradient with its edge and hole rules, and the
// front direction from the first two front neighbours. Priorities are compared bit for bit,
// each expected value written in the order the priority is computed: their exact bits decide
// the order in which the front is filled.
#include <cmath>

#include "engine_fixture.h"

namespace mendora {
namespace {

class Priority : public EngineGrids {};

// Grey rising by 10 a column: every central gradient is (10, 0), the isophote (0, -10).
void horizontalRamp() {
    for (int32_t x = 0; x < gridWidth; x++)
        for (int32_t y = 0; y < gridHeight; y++)
            setGrey(x, y, 10 * x);
}

TEST_F(Priority, FrontDirectionFromTwoFrontNeighbours) {
    makeGrids(9, 9, 1);
    horizontalRamp();
    setState(4, 4, kFront);
    setState(4, 5, kToFill);
    const double confidence = 8.0 / 9.0;

    // No front neighbour: N = (0.6, 0.8), so |N . I| = 8.
    EXPECT_EQ(computePriority(4, 4)->priority, confidence * (8.0 / 255.0));

    // Horizontal neighbours: dA = 2, dB = 0, N = (0, 1): |N . I| = 10.
    setState(3, 4, kFront);
    setState(5, 4, kFront);
    EXPECT_EQ(computePriority(4, 4)->priority, confidence * (10.0 / 255.0));

    // Diagonal neighbours (x - 1, y - 1) and (x + 1, y + 1): N = (0.7071..., 0.7071...), which
    // points along the diagonal (no change of sign).
    setState(3, 4, kKnown);
    setState(5, 4, kKnown);
    setState(3, 3, kFront);
    setState(5, 5, kFront);
    const double n = 2 / std::pow(8.0, 0.5);
    EXPECT_EQ(computePriority(4, 4)->priority,
              confidence * std::fabs((n * 0.0 + n * -10.0) / 255.0));
}

// At the left edge the gradient is one-sided and not halved: 30, not 15; it beats the
// central difference (40 - 0) / 2 = 20 of the next column. The window is clipped to 2 x 3.
TEST_F(Priority, OneSidedGradientAtTheEdge) {
    makeGrids(6, 9, 1);
    for (int32_t y = 0; y < gridHeight; y++) {
        setGrey(0, y, 0);
        setGrey(1, y, 30);
        setGrey(2, y, 40);
    }
    TrelHeapNode* node = computePriority(0, 4);
    EXPECT_EQ(node->priority, 1.0 * (0.8 * 30.0 / 255.0));
    EXPECT_EQ(node->x, 0);
    EXPECT_EQ(node->y, 4);
    // The same pixel keeps its node.
    EXPECT_EQ(computePriority(0, 4), node);
}

// A known pixel with a pixel to fill beside it (left, right, above, below) never supplies the
// gradient; touching it only diagonally does not exclude it.
TEST_F(Priority, HoleNeighboursExcludeGradients) {
    makeGrids(7, 7, 1);
    setGrey(4, 2, 100); // gradients (50, 0) at (3, 2) and (0, -50) at (4, 3)
    setState(3, 1, kToFill);
    setState(5, 3, kToFill);
    EXPECT_EQ(computePriority(3, 3)->priority, 0.0);

    setState(3, 1, kKnown);
    setState(5, 3, kKnown);
    setState(2, 1, kToFill); // diagonal to (3, 2)
    setState(5, 4, kToFill); // diagonal to (4, 3)
    // (3, 2) comes first in scan order and wins the tie: I = (0, -50), N = (0.6, 0.8).
    EXPECT_EQ(computePriority(3, 3)->priority, 40.0 / 255.0);
}

// Constant grey: no gradient, so the data term and the priority are 0.
TEST_F(Priority, FlatRegionHasZeroPriority) {
    makeGrids(5, 5, 2);
    setState(2, 2, kFront);
    setState(2, 3, kToFill);
    EXPECT_EQ(computePriority(2, 2)->priority, 0.0);
}

// Images one pixel wide or high: differences whose neighbour does not exist count 0, and
// nothing outside the grid is read.
TEST_F(Priority, OnePixelWideOrHigh) {
    makeGrids(1, 5, 1);
    for (int32_t y = 0; y < 5; y++)
        setGrey(0, y, 20 * y);
    // gy at y = 0 is one-sided: 20; gx does not exist: 0. I = (20, 0), N = (0.6, 0.8).
    EXPECT_EQ(computePriority(0, 0)->priority, 0.6 * 20.0 / 255.0);
    releaseFillGrids();

    makeGrids(5, 1, 1);
    for (int32_t x = 0; x < 5; x++)
        setGrey(x, 0, 20 * x);
    EXPECT_EQ(computePriority(4, 0)->priority, 0.8 * 20.0 / 255.0);
}

} // namespace
} // namespace mendora
