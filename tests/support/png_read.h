// Reads 8-bit PNG files for tests: RGB images and grey masks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mendora::testing {

struct TestImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t channels = 0;      // 1 (grey) or 3 (RGB)
    std::vector<uint8_t> data; // rows of width x channels bytes, no padding
};

// Reads an 8-bit grey or RGB PNG without conversion. Throws std::runtime_error naming the
// file when it cannot be read or has another format.
TestImage readPng(const std::string& path);

} // namespace mendora::testing
