// The image every host hands the plug-in module: 8-bit RGB, as the host exchanges it.
#pragma once

#include <cstdint>
#include <vector>

namespace mendora::runner {

// The largest width and height the host's 16-bit filter rectangle can describe.
constexpr int32_t kMaxImageSide = 32767;

// An RGB image: rows of exactly 3 x width bytes, red, green, blue per pixel.
struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

} // namespace mendora::runner
