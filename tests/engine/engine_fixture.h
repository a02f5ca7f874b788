// A small grid set for stage tests: allocates the grids, lets a test set states, grey and L
// values directly (the whole grid being the front's reach), and releases everything afterwards.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "engine/fill_internal.h"

namespace mendora {

// Sets one measure of a pixel's word, keeping the others.
inline void setLightness(int32_t x, int32_t y, int32_t value) {
    labWords[x][y] = packLab(value, colourA(x, y), colourB(x, y), greyAt(x, y));
}
inline void setGrey(int32_t x, int32_t y, int32_t value) {
    labWords[x][y] = packLab(lightness(x, y), colourA(x, y), colourB(x, y), value);
}

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
        // The whole grid is the front's reach: tests read and write confidences anywhere.
        allocateFrontReach(PixelRect{0, 0, h, w});
        for (int32_t x = 0; x < w; x++)
            for (int32_t y = 0; y < h; y++)
                labWords[x][y] = 0;
    }
    void TearDown() override {
        releaseFillGrids();
        engineRadius = 4;
        engineWindowSide = 9;
    }
    // Sets a pixel's state and keeps its confidence consistent with it.
    void setState(int32_t x, int32_t y, char state) {
        fillStates[x][y] = state;
        confidenceAt(x, y) = state == kToFill ? 0.0 : 1.0;
    }

    std::vector<uint8_t> pixels;
};

} // namespace mendora
