// The 32-bit plug-in at the edge of its address space, under the stand-in host: an image whose
// descriptors cannot fit in a 32-bit process ends with out of memory and nothing written, and the
// same loaded module fills a small image byte for byte right after. The region dialog is answered
// by the command line's own automation (OK with the stored values).
//
// With arguments `--fill WIDTH HEIGHT [PERCENT]` it instead fills one generated textured image
// of that size with a compact hole of PERCENT of its pixels (default 3; 0 for a single pixel,
// which measures the memory of the set-up in seconds) and prints the outcome and the time:
// scripts/measure-windows-capacity uses it to find the largest image the 32-bit build fills.
#include <algorithm>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
// GCC 14 cannot follow stb's PNG reader through its inlined paths: it takes the 16-bit
// transparency key, set only when a tRNS chunk was read, for one that may be used unset.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <stb_image.h>
#pragma GCC diagnostic pop

#include "host/host_hooks.h"
#include "support/texture.h"
#include "tools/standin_host/dialog_answer.h"
#include "tools/standin_host/standin_host.h"

namespace mendora {
namespace {

std::string modulePath() {
    char path[MAX_PATH];
    std::string text(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return text.substr(0, text.find_last_of("\\/") + 1) + MENDORA_MODULE_NAME;
}

std::vector<uint8_t> readPng(const std::string& path, int channels, int& width, int& height) {
    int stored = 0;
    uint8_t* pixels = stbi_load(path.c_str(), &width, &height, &stored, channels);
    if (pixels == nullptr)
        return {};
    std::vector<uint8_t> bytes(pixels, pixels + static_cast<size_t>(width) * height * channels);
    stbi_image_free(pixels);
    return bytes;
}

// A whole run with the region dialog confirmed as it opens.
standin::FilterRunResult confirmedRun() {
    std::string error;
    standin::hostSettings().parentWindow =
        runner::prepareRegionDialogAnswer(runner::DialogValues{}, false, error);
    const standin::FilterRunResult run = standin::runFilter(true);
    runner::endRegionDialogAnswer();
    return run;
}

TEST(LargeImage, TooLargeIsOutOfMemoryThenASmallImageFills) {
    std::string error;
    ASSERT_TRUE(standin::loadPlugin(modulePath(), error)) << error;
    standin::resetHost();
    standin::hostSettings().memoryLimit = 0x7FFFFFFF;
    {
        // 9,000 x 9,000: 81 million pixels. The host's buffers (about 0.6 GB with the output)
        // and the engine's grids (5 bytes a pixel, 0.4 GB) fit, the descriptors (80 bytes a
        // pixel, 6.5 GB) never do in the 2 GB a 32-bit process has.
        const int32_t side = 9000;
        standin::HostImage big{side, side, {}};
        big.pixels.assign(static_cast<size_t>(side) * side * 3, 90);
        standin::setImage(big);
        big.pixels.clear();
        big.pixels.shrink_to_fit();
        std::vector<uint8_t> mask(static_cast<size_t>(side) * side, 0);
        mask[static_cast<size_t>(side) * 4500 + 4500] = 255;
        standin::setSelection(mask);
    }
    const standin::FilterRunResult tooLarge = confirmedRun();
    EXPECT_EQ(tooLarge.prepareResult, 0);
    EXPECT_EQ(tooLarge.result, -108);
    const std::vector<uint8_t> output = standin::outputBuffer();
    EXPECT_EQ(output.size(), size_t{9000} * 9000 * 3);
    EXPECT_TRUE(std::all_of(output.begin(), output.end(), [](uint8_t v) { return v == 90; }))
        << "the output buffer still holds the input: nothing written";

    // The same module, right after: a sample fill, byte for byte.
    const std::string dir = std::string(MENDORA_TEST_DATA) + "/fill-samples/noise_large_r4/";
    int w = 0, h = 0, mw = 0, mh = 0, ew = 0, eh = 0;
    const std::vector<uint8_t> input = readPng(dir + "in.png", 3, w, h);
    const std::vector<uint8_t> mask = readPng(dir + "mask.png", 1, mw, mh);
    const std::vector<uint8_t> expected = readPng(dir + "expected.png", 3, ew, eh);
    ASSERT_FALSE(input.empty());
    ASSERT_EQ(mask.size(), static_cast<size_t>(w) * h);
    standin::resetHost();
    standin::setImage(standin::HostImage{w, h, input});
    standin::setSelection(mask);
    const standin::FilterRunResult small = confirmedRun();
    EXPECT_EQ(small.result, 0);
    EXPECT_TRUE(standin::outputBuffer() == expected) << "the sample fill differs";

    // Our hosts' hooks reach the Windows module too, found in the program beside the host's
    // callbacks: the same fill with every step reported, then a stop at the third step.
    int32_t steps = 0;
    int64_t lastDone = -1;
    int64_t lastTotal = 0;
    standin::hostSettings().fillHooks.progress = [&](int32_t stage, int64_t done, int64_t total) {
        if (stage != MENDORA_STAGE_FILLING)
            return;
        steps += done > 0 ? 1 : 0;
        lastDone = done;
        lastTotal = total;
    };
    EXPECT_EQ(confirmedRun().result, 0);
    EXPECT_TRUE(standin::outputBuffer() == expected) << "the observed fill differs";
    EXPECT_GT(steps, 3);
    EXPECT_EQ(lastDone, lastTotal);
    steps = 0;
    standin::hostSettings().fillHooks.stopRequested = [&] { return steps == 3; };
    EXPECT_EQ(confirmedRun().startResult, errCanceled);
    EXPECT_EQ(steps, 3);
    standin::unloadPlugin();
}

// One generated photograph-sized case: prints "WIDTH x HEIGHT: result R, S s".
int fillOnce(int32_t width, int32_t height, double percent) {
    std::string error;
    if (!standin::loadPlugin(modulePath(), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    standin::resetHost();
    standin::hostSettings().memoryLimit = 0x7FFFFFFF;
    {
        standin::HostImage image{width, height, testing::texturedImage(width, height, 5)};
        standin::setImage(image);
    }
    // A disc of `percent` of the pixels in the middle.
    const int32_t radius =
        static_cast<int32_t>(std::sqrt(percent / 100.0 * width * height / 3.14159265));
    standin::setSelection(testing::discMask(width, height, width / 2, height / 2, radius));
    const auto start = std::chrono::steady_clock::now();
    const standin::FilterRunResult run = confirmedRun();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d x %d: result %d, %.1f s\n", width, height, run.result, seconds);
    return run.result == 0 ? 0 : 1;
}

} // namespace
} // namespace mendora

int main(int argc, char** argv) {
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--fill") == 0)
        return mendora::fillOnce(std::atoi(argv[2]), std::atoi(argv[3]),
                                 argc == 5 ? std::atof(argv[4]) : 3.0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
