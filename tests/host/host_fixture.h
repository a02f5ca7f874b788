// Shared set-up of the plug-in module tests: the module loaded into the stand-in host once per
// process, a fresh host before every test, and textured images with a selected hole.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/texture.h"
#include "tools/standin_host/standin_host.h"

namespace mendora::testing {

// The colour the host paints into the selected pixels before a run. The textured images never
// hold it (their green never drops below 70), so a selected pixel left unfilled shows.
constexpr uint8_t kHoleColour[3] = {255, 0, 255};

// Loads the module at `path` unless it is the one loaded already, so that its state carries
// over from test to test as it would from run to run in a host.
inline void loadModule(const char* path, bool reload = false) {
    static std::string loadedPath;
    if (standin::pluginLoaded() && loadedPath == path && !reload)
        return;
    std::string error;
    loadedPath.clear();
    ASSERT_TRUE(standin::loadPlugin(path, error)) << error;
    loadedPath = path;
}

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        loadModule(modulePath());
        standin::resetHost();
    }

    // The module under test: the plug-in's own code with test dialogs, whose region dialog
    // confirms at once unless a script is typed into the host's terminal, so that runs do not
    // depend on what the product's dialogs do without a user.
    static const char* modulePath() { return ZENDREL_SCRIPTED_MODULE_PATH; }

    // Gives the host a textured width x height image, the hole colour in the pixels `mask`
    // selects, and the selection itself (none when `mask` is empty).
    void offerImage(int32_t width, int32_t height, const std::vector<uint8_t>& mask = {},
                    uint32_t seed = 12345) {
        image.width = width;
        image.height = height;
        image.pixels = texturedImage(width, height, seed);
        selection = mask;
        for (size_t i = 0; i < mask.size(); i++)
            if (mask[i] != 0)
                for (int c = 0; c < 3; c++)
                    image.pixels[i * 3 + c] = kHoleColour[c];
        standin::setImage(image);
        if (mask.empty())
            standin::clearSelection();
        else
            standin::setSelection(mask);
    }

    // Checks the output of a whole-image run: every selected pixel holds a colour of some known
    // pixel of the input, and every other byte is as delivered.
    void expectSelectionFilled(const std::vector<uint8_t>& output) const {
        ASSERT_EQ(output.size(), image.pixels.size());
        std::set<uint32_t> knownColours;
        for (size_t i = 0; i < selection.size(); i++)
            if (selection[i] == 0)
                knownColours.insert(colourAt(image.pixels, i));
        int32_t unfilled = 0;
        int32_t changedOutside = 0;
        for (size_t i = 0; i < output.size() / 3; i++) {
            const bool selected = !selection.empty() && selection[i] != 0;
            if (selected && knownColours.count(colourAt(output, i)) == 0)
                unfilled++;
            if (!selected && colourAt(output, i) != colourAt(image.pixels, i))
                changedOutside++;
        }
        EXPECT_EQ(unfilled, 0) << "selected pixels without a colour from the known pixels";
        EXPECT_EQ(changedOutside, 0) << "pixels changed outside the selection";
    }

    // The calls of one kind the host recorded since the run began.
    static std::vector<standin::HostCall> callsOf(standin::HostCallKind kind) {
        std::vector<standin::HostCall> calls;
        for (const standin::HostCall& call : standin::hostCalls())
            if (call.kind == kind)
                calls.push_back(call);
        return calls;
    }

    static uint32_t colourAt(const std::vector<uint8_t>& pixels, size_t pixel) {
        return pixels[pixel * 3] | pixels[pixel * 3 + 1] << 8 | pixels[pixel * 3 + 2] << 16;
    }

    standin::HostImage image;
    std::vector<uint8_t> selection;
};

} // namespace mendora::testing
