// Test support: 8-bit PNG reading through libpng's simplified interface.
#include "support/png_read.h"

#include <png.h>

#include <cstring>
#include <stdexcept>

namespace mendora::testing {

TestImage readPng(const std::string& path) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        throw std::runtime_error(path + ": " + image.message);
    TestImage out;
    out.width = static_cast<int32_t>(image.width);
    out.height = static_cast<int32_t>(image.height);
    const bool grey = (image.format & PNG_FORMAT_FLAG_COLOR) == 0;
    image.format = grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    out.channels = grey ? 1 : 3;
    out.data.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.data.data(), 0, nullptr)) {
        png_image_free(&image);
        throw std::runtime_error(path + ": " + image.message);
    }
    return out;
}

} // namespace mendora::testing
