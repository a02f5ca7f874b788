// Fuzz target: the loaded plug-in module driven through the stand-in host with fuzzed
// geometry, plane count, tile sizes, mask (absent or any bytes and row stride), parameter block,
// failing handle procedures, deliverBuffers answers, abort answers and selector sequences in any
// order. The oracle, after every input:
//   - sanitizers report nothing (they halt the run);
//   - every result is 0, -108, -128, -30100 or the host's own deliverBuffers answer;
//   - the plug-in never wrote outside the output buffer or into the input buffer;
//   - output bytes of unselected pixels are as delivered, and every selected pixel holds either
//     its delivered colour or the colour of a pixel that was known at the start.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "support/texture.h"
#include "tools/standin_host/standin_host.h"

using namespace mendora;
using namespace mendora::standin;

namespace {

[[noreturn]] void fail(const char* what, int value) {
    std::fprintf(stderr, "oracle: %s (%d)\n", what, value);
    std::abort();
}

int16_t fuzzedRadius(FuzzedDataProvider& in) {
    // Mostly usable radii; now and then values only the early checks can answer fast. Radii of
    // 9 to 21 are valid but make a fill so slow that the fuzzer would stall on them.
    static const int16_t extremes[] = {0, -1, -32768, 32767, 100, 22, 45};
    if (in.ConsumeIntegralInRange(0, 9) == 0)
        return in.PickValueInArray(extremes);
    return in.ConsumeIntegralInRange<int16_t>(-2, 6);
}

int16_t fuzzedBound(FuzzedDataProvider& in, int32_t extent) {
    if (in.ConsumeIntegralInRange(0, 7) == 0)
        return in.ConsumeIntegral<int16_t>();
    return static_cast<int16_t>(in.ConsumeIntegralInRange<int32_t>(-3, extent + 3));
}

int32_t fuzzedExtent(FuzzedDataProvider& in) {
    if (in.ConsumeIntegralInRange(0, 15) == 0)
        return in.ConsumeIntegralInRange(0, 300);
    return in.ConsumeIntegralInRange(0, 40);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool loaded = false;
    if (!loaded) {
        std::string error;
        if (!loadPlugin(FUZZ_MODULE_PATH, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::abort();
        }
        loaded = true;
    }
    FuzzedDataProvider in(data, size);
    resetHost();

    const int32_t width = fuzzedExtent(in);
    const int32_t height = fuzzedExtent(in);
    HostImage image{width, height, testing::texturedImage(width, height, in.ConsumeIntegral<uint32_t>())};
    // Some pixels straight from the input, so that flat and repeated areas occur too.
    const size_t raw = in.ConsumeIntegralInRange<size_t>(0, image.pixels.size());
    for (size_t i = 0; i < raw && in.remaining_bytes() > 0; i++)
        image.pixels[i] = in.ConsumeIntegral<uint8_t>();
    setImage(image);

    std::vector<uint8_t> mask;
    const int maskKind = in.ConsumeIntegralInRange(0, 4);
    if (maskKind > 0) {
        if (maskKind == 1) {
            mask.assign(static_cast<size_t>(width) * height, 0);
            for (auto& m : mask)
                m = in.ConsumeIntegral<uint8_t>() < 40 ? in.ConsumeIntegral<uint8_t>() : 0;
        } else if (maskKind == 2) {
            mask.assign(static_cast<size_t>(width) * height, in.ConsumeIntegral<uint8_t>());
        } else {
            mask = testing::discMask(width, height, in.ConsumeIntegralInRange(0, width),
                                     in.ConsumeIntegralInRange(0, height),
                                     in.ConsumeIntegralInRange(0, 12),
                                     static_cast<uint8_t>(in.ConsumeIntegralInRange(1, 255)));
        }
        setSelection(mask);
    }

    HostSettings& settings = hostSettings();
    settings.offerBigCoordinates = in.ConsumeBool();
    settings.planeCount = in.PickValueInArray<int16_t>({3, 3, 3, 4, 5, 2, 1, 0, -1});
    settings.memoryLimit = in.ConsumeIntegral<int32_t>();
    settings.outputTileWidth = in.ConsumeBool() ? 256 : in.ConsumeIntegral<int16_t>();
    settings.outputTileHeight = in.ConsumeBool() ? 256 : in.ConsumeIntegral<int16_t>();
    if (in.ConsumeIntegralInRange(0, 5) == 0)
        settings.filterRect = Rect32{in.ConsumeIntegralInRange(-4, height + 4),
                                     in.ConsumeIntegralInRange(-4, width + 4),
                                     in.ConsumeIntegralInRange(-4, height + 4),
                                     in.ConsumeIntegralInRange(-4, width + 4)};
    settings.maskRowStride = in.ConsumeBool() ? 0 : in.ConsumeIntegralInRange(0, width + 9);
    settings.maskPadding = in.ConsumeIntegral<uint8_t>();
    settings.newHandleFails = in.ConsumeIntegralInRange(0, 15) == 0;
    settings.lockHandleFails = in.ConsumeIntegralInRange(0, 15) == 0;
    const int16_t deliverAnswer =
        in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<int16_t>() : 0;
    settings.deliverAnswer = deliverAnswer;
    settings.abortAnswer = in.ConsumeIntegralInRange(0, 7) == 0;

    const FillParameters block{fuzzedBound(in, width), fuzzedBound(in, height),
                               fuzzedBound(in, width), fuzzedBound(in, height), fuzzedRadius(in)};
    beginRun();
    const int steps = in.ConsumeIntegralInRange(1, 10);
    for (int s = 0; s < steps; s++) {
        // A typical run now and then, otherwise any selector, also outside 0 to 5.
        static const int16_t selectors[] = {1, 2, 3, 4, 5, 2, 3, 4, 5, 0, 6, -1, 32767};
        const int16_t selector =
            in.remaining_bytes() > 0 ? in.PickValueInArray(selectors) : int16_t{5};
        if (selector == 3 && in.ConsumeBool())
            writeParameterBlock(block);
        const int16_t result = selector == 0 ? callAbout() : callSelector(selector);
        if (result != 0 && result != -108 && result != -128 && result != -30100 &&
            result != deliverAnswer)
            fail("result code outside the set", result);
        if (!buffersIntact())
            fail("write outside the output buffer or into the input", selector);
    }

    // Pixels: only when the exchange covered the whole image, so that buffer and mask align.
    const std::vector<uint8_t> output = outputBuffer();
    const std::vector<uint8_t> delivered = deliveredOutputBuffer();
    if (!output.empty() && !settings.filterRect && output.size() == image.pixels.size()) {
        std::set<uint32_t> known;
        for (size_t i = 0; i < output.size() / 3; i++)
            if (mask.empty() || mask[i] == 0)
                known.insert(image.pixels[3 * i] | image.pixels[3 * i + 1] << 8 |
                             image.pixels[3 * i + 2] << 16);
        for (size_t i = 0; i < output.size() / 3; i++) {
            const bool same = output[3 * i] == delivered[3 * i] &&
                              output[3 * i + 1] == delivered[3 * i + 1] &&
                              output[3 * i + 2] == delivered[3 * i + 2];
            if (same)
                continue;
            if (mask.empty() || mask[i] == 0)
                fail("unselected pixel written", static_cast<int>(i));
            const uint32_t colour = output[3 * i] | output[3 * i + 1] << 8 | output[3 * i + 2] << 16;
            if (!known.count(colour))
                fail("filled colour of no known pixel", static_cast<int>(i));
        }
    }
    return 0;
}
