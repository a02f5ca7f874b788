// Deterministic textured test images and compact masks, for tests and benchmarks.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace mendora::testing {

// xorshift32: the same sequence on every platform.
inline uint32_t nextRandom(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// An RGB image (3 bytes a pixel, rows of 3 x width bytes): soft diagonal stripes over a
// colour gradient, with per-pixel noise, so that windows differ and edges cross the image.
inline std::vector<uint8_t> texturedImage(int32_t width, int32_t height, uint32_t seed = 12345) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    uint32_t state = seed | 1;
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++) {
            const double stripe = 0.5 + 0.5 * std::sin((x + 2 * y) * 0.21);
            const int32_t noise = static_cast<int32_t>(nextRandom(state) % 41) - 20;
            uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
            const int32_t base[3] = {static_cast<int32_t>(60 + 120 * stripe + x % 37),
                                     static_cast<int32_t>(90 + 80 * stripe + y % 29),
                                     static_cast<int32_t>(140 - 90 * stripe)};
            for (int c = 0; c < 3; c++) {
                const int32_t v = base[c] + noise;
                p[c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    return pixels;
}

// A mask of one byte a pixel (rows of `width` bytes) selecting a disc of the given radius
// around (cx, cy) with `value`.
inline std::vector<uint8_t> discMask(int32_t width, int32_t height, int32_t cx, int32_t cy,
                                     int32_t radius, uint8_t value = 255) {
    std::vector<uint8_t> mask(static_cast<size_t>(width) * height, 0);
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++)
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius)
                mask[static_cast<size_t>(y) * width + x] = value;
    return mask;
}

} // namespace mendora::testing
