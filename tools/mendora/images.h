// Reading and writing the command line's images: 8-bit PNG and JPEG in, PNG out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mendora::cli {

// An RGB image: rows of exactly 3 x width bytes, red, green, blue per pixel.
struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

// The largest width and height the host's 16-bit filter rectangle can describe.
constexpr int32_t kMaxImageSide = 32767;

// Reads an 8-bit PNG or JPEG as RGB. Grey, grey with alpha and RGBA images are converted
// (alpha dropped), and `notice` then says so in a few words ("grey image converted to RGB");
// otherwise it is empty. Returns false with the reason in `error` (without the file name) when
// the file is missing or unreadable, is no PNG or JPEG, has 16 bits per sample, or is wider
// or taller than kMaxImageSide.
bool readImage(const std::string& path, RgbImage& image, std::string& notice, std::string& error);

// Reads a mask: one byte per pixel in rows of `width` bytes, 1 where the mask's pixel is
// nonzero (its grey value, any of its colours, or its alpha when it has alpha) and 0
// elsewhere. Fails like readImage.
bool readMask(const std::string& path, int32_t& width, int32_t& height, std::vector<uint8_t>& mask,
              std::string& error);

// Writes `image` as PNG to `path` through a temporary file in the same folder, renamed over
// `path` once it is complete: a failed write leaves no half-written file and an existing file
// untouched. Returns false with the reason in `error`.
bool writePng(const std::string& path, const RgbImage& image, std::string& error);

} // namespace mendora::cli
