// The image every host hands the plug-in module: 8-bit RGB, as the host exchanges it.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/standin_host/host_limits.h"

namespace mendora::runner {

using mendora::kMaxImageSide; // tools/standin_host/host_limits.h

// An RGB image: rows of exactly 3 x width bytes, red, green, blue per pixel.
struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

} // namespace mendora::runner
