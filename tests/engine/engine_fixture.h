// A small grid set for stage tests: allocates the grids, lets a test set states, grey and L
// values directly, and releases everything afterwards.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "engine/fill_internal.h"

namespace mendora {

class EngineGrids : public ::testing::Test {
  protected:
    void makeGrids(int32_t w, int32_t h, int32_t radius) {
        ASSERT_TRUE(allocateFillGrids(w, h));
        engineRadius = radius;
        engineWindowSide = 2 * radius + 1;
        pixels.assign(static_cast<size_t>(w) * h * 3, 0);
        inputPixels = pixels.data();
        outputPixels = pixels.data();
        initialiseKnownPixels();
        for (int32_t x = 0; x < w; x++)
            for (int32_t y = 0; y < h; y++) {
                greys[x][y] = 0;
                labL[x][y] = 0;
            }
    }
    void TearDown() override {
        releaseFillGrids();
        engineRadius = 4;
        engineWindowSide = 9;
    }
    // Sets a pixel's state and keeps its confidence consistent with it.
    void setState(int32_t x, int32_t y, char state) {
        fillStates[x][y] = state;
        confidences[x][y] = state == kToFill ? 0.0 : 1.0;
    }

    std::vector<uint8_t> pixels;
};

} // namespace mendora
