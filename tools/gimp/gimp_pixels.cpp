// Pixels between GIMP and the plug-in module. In: the drawable's buffer (any type and precision
// GIMP offers) and the image's selection. Out: 8-bit R'G'B' pixels and a 0/1 mask for the
// module; afterwards the filled pixels in the drawable's own format, alpha untouched.
#include "tools/gimp/gimp_pixels.h"

#include <cstring>

namespace mendora::gimp {

namespace {

// 8-bit R'G'B' in the colour space of the drawable's format, so that filling moves no colour
// into another space.
const Babl* moduleFormat(const Babl* own) {
    return babl_format_with_space("R'G'B' u8", own);
}

// True when an image of `size` fits the host's 16-bit rectangles; else false with the reason
// in `error`.
bool fitsTheHost(const GeglRectangle& size, std::string& error) {
    if (size.width > runner::kMaxImageSide || size.height > runner::kMaxImageSide) {
        error = "the layer is " + std::to_string(size.width) + " x " + std::to_string(size.height) +
                " pixels; at most " + std::to_string(runner::kMaxImageSide) +
                " on each side can be filled";
        return false;
    }
    return true;
}

} // namespace

bool readDrawable(GeglBuffer* buffer, const Babl* own, const GeglRectangle& size,
                  runner::RgbImage& pixels, std::string& error) {
    if (!fitsTheHost(size, error))
        return false;
    pixels.width = size.width;
    pixels.height = size.height;
    pixels.pixels.resize(size_t{3} * size.width * size.height);
    gegl_buffer_get(buffer, &size, 1.0, moduleFormat(own), pixels.pixels.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    return true;
}

bool readVisible(GeglBuffer* visible, const Babl* own, const GeglRectangle& area,
                 runner::RgbImage& pixels, std::vector<uint8_t>& transparent, std::string& error) {
    if (!fitsTheHost(area, error))
        return false;
    const size_t count = size_t{1} * area.width * area.height;
    std::vector<uint8_t> rgba(4 * count);
    gegl_buffer_get(visible, &area, 1.0, babl_format_with_space("R'G'B'A u8", own), rgba.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    pixels.width = area.width;
    pixels.height = area.height;
    pixels.pixels.resize(3 * count);
    transparent.resize(count);
    for (size_t i = 0; i < count; i++) {
        std::memcpy(&pixels.pixels[3 * i], &rgba[4 * i], 3);
        transparent[i] = rgba[4 * i + 3] == 0 ? 1 : 0;
    }
    return true;
}

std::vector<uint8_t> readSelection(GeglBuffer* selection, const GeglRectangle& area) {
    // Floats, so that the faintest feathered value still reads as nonzero.
    std::vector<float> coverage(size_t{1} * area.width * area.height);
    gegl_buffer_get(selection, &area, 1.0, babl_format("Y float"), coverage.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    std::vector<uint8_t> mask(coverage.size());
    for (size_t i = 0; i < coverage.size(); i++)
        mask[i] = coverage[i] > 0.0f ? 1 : 0;
    return mask;
}

std::vector<uint8_t> filledBytes(GeglBuffer* buffer, const Babl* own, const GeglRectangle& size,
                                 const runner::RgbImage& filled, const std::vector<uint8_t>& mask) {
    const size_t pixelBytes = static_cast<size_t>(babl_format_get_bytes_per_pixel(own));
    const size_t count = mask.size();
    // Alpha is the last component of GIMP's formats; its bytes stay as they are.
    const size_t colourBytes =
        babl_format_has_alpha(own)
            ? pixelBytes - pixelBytes / static_cast<size_t>(babl_format_get_n_components(own))
            : pixelBytes;

    std::vector<uint8_t> bytes(pixelBytes * count);
    gegl_buffer_get(buffer, &size, 1.0, own, bytes.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    std::vector<uint8_t> converted(pixelBytes * count);
    babl_process(babl_fish(moduleFormat(own), own), filled.pixels.data(), converted.data(),
                 static_cast<long>(count));
    for (size_t i = 0; i < count; i++)
        if (mask[i] != 0)
            std::memcpy(&bytes[i * pixelBytes], &converted[i * pixelBytes], colourBytes);
    return bytes;
}

} // namespace mendora::gimp
