// Pixels between GIMP and the plug-in module. In: the drawable's buffer (any type and precision
// GIMP offers) and the image's selection. Out: 8-bit R'G'B' pixels and a 0/1 mask for the
// module; afterwards the filled pixels in the drawable's own format blended by the selection's
// strength, alpha untouched, or a new layer's pixels.
#include "tools/gimp/gimp_pixels.h"

#include <cmath>
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

// The bytes of a pixel of `own` before its alpha: alpha is the last component of GIMP's
// formats, and every component of a format has the same size.
size_t colourBytesOf(const Babl* own) {
    const size_t pixelBytes = static_cast<size_t>(babl_format_get_bytes_per_pixel(own));
    if (!babl_format_has_alpha(own))
        return pixelBytes;
    return pixelBytes - pixelBytes / static_cast<size_t>(babl_format_get_n_components(own));
}

// `own` with its components as floats: the same model and space ("R'G'B'A u16" -> "R'G'B'A
// float"; the type is the encoding's last word).
const Babl* floatFormat(const Babl* own) {
    std::string encoding = babl_format_get_encoding(own);
    encoding.replace(encoding.rfind(' ') + 1, std::string::npos, "float");
    return babl_format_with_space(encoding.c_str(), own);
}

// Blends the `partial` pixels of `bytes` (all in `own`, whole pixels) towards `converted` by
// `strength`, o + (f - o) * s on the colour components in floatFormat(own), and puts the
// result back into `bytes` in `own` (alpha bytes kept).
void blendInFloat(const Babl* own, const std::vector<size_t>& partial,
                  const std::vector<float>& strength, const std::vector<uint8_t>& converted,
                  std::vector<uint8_t>& bytes) {
    const size_t pixelBytes = static_cast<size_t>(babl_format_get_bytes_per_pixel(own));
    const size_t colourBytes = colourBytesOf(own);
    const Babl* floats = floatFormat(own);
    const size_t components = static_cast<size_t>(babl_format_get_n_components(own));
    const size_t colours = babl_format_has_alpha(own) ? components - 1 : components;
    const size_t n = partial.size();
    // The partial pixels gathered, old and fill, in `own`, then as floats.
    std::vector<uint8_t> oldOwn(n * pixelBytes), fillOwn(n * pixelBytes);
    for (size_t k = 0; k < n; k++) {
        std::memcpy(&oldOwn[k * pixelBytes], &bytes[partial[k] * pixelBytes], pixelBytes);
        std::memcpy(&fillOwn[k * pixelBytes], &converted[partial[k] * pixelBytes], pixelBytes);
    }
    std::vector<float> oldFloat(n * components), fillFloat(n * components);
    babl_process(babl_fish(own, floats), oldOwn.data(), oldFloat.data(), static_cast<long>(n));
    babl_process(babl_fish(own, floats), fillOwn.data(), fillFloat.data(), static_cast<long>(n));
    for (size_t k = 0; k < n; k++)
        for (size_t c = 0; c < colours; c++) {
            float& old = oldFloat[k * components + c];
            old = old + (fillFloat[k * components + c] - old) * strength[partial[k]];
        }
    babl_process(babl_fish(floats, own), oldFloat.data(), oldOwn.data(), static_cast<long>(n));
    for (size_t k = 0; k < n; k++)
        std::memcpy(&bytes[partial[k] * pixelBytes], &oldOwn[k * pixelBytes], colourBytes);
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

std::vector<float> readSelection(GeglBuffer* selection, const GeglRectangle& area) {
    // Floats, so that the faintest feathered value still reads as nonzero and a 16-bit or
    // float selection keeps its precision for the blend.
    std::vector<float> strength(size_t{1} * area.width * area.height);
    gegl_buffer_get(selection, &area, 1.0, babl_format("Y float"), strength.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    return strength;
}

std::vector<uint8_t> filledBytes(GeglBuffer* buffer, const Babl* own, const GeglRectangle& size,
                                 const runner::RgbImage& filled,
                                 const std::vector<float>& strength) {
    const size_t pixelBytes = static_cast<size_t>(babl_format_get_bytes_per_pixel(own));
    const size_t count = strength.size();
    const size_t colourBytes = colourBytesOf(own);

    std::vector<uint8_t> bytes(pixelBytes * count);
    gegl_buffer_get(buffer, &size, 1.0, own, bytes.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    std::vector<uint8_t> converted(pixelBytes * count);
    babl_process(babl_fish(moduleFormat(own), own), filled.pixels.data(), converted.data(),
                 static_cast<long>(count));
    std::vector<size_t> partial;
    for (size_t i = 0; i < count; i++) {
        if (strength[i] >= 1.0f)
            std::memcpy(&bytes[i * pixelBytes], &converted[i * pixelBytes], colourBytes);
        else if (strength[i] > 0.0f)
            partial.push_back(i);
    }
    if (partial.empty())
        return bytes;
    if (babl_format_get_type(own, 0) == babl_type("u8")) {
        for (const size_t i : partial)
            for (size_t c = 0; c < colourBytes; c++) {
                const double old = bytes[i * pixelBytes + c];
                const double fill = converted[i * pixelBytes + c];
                bytes[i * pixelBytes + c] =
                    static_cast<uint8_t>(std::floor(old + (fill - old) * strength[i] + 0.5));
            }
        return bytes;
    }
    blendInFloat(own, partial, strength, converted, bytes);
    return bytes;
}

const Babl* newLayerFormat(const Babl* own) {
    if (babl_format_has_alpha(own))
        return own;
    // "R'G'B' u16" -> "R'G'B'A u16": the model's name is the encoding up to its space.
    std::string encoding = babl_format_get_encoding(own);
    encoding.insert(encoding.find(' '), "A");
    return babl_format_with_space(encoding.c_str(), own);
}

std::vector<uint8_t> newLayerBytes(const std::vector<uint8_t>& bytes, const Babl* own,
                                   const std::vector<float>& strength) {
    const Babl* layer = newLayerFormat(own);
    const size_t pixelBytes = static_cast<size_t>(babl_format_get_bytes_per_pixel(layer));
    std::vector<uint8_t> pixels(pixelBytes * strength.size());
    babl_process(babl_fish(own, layer), bytes.data(), pixels.data(),
                 static_cast<long>(strength.size()));
    for (size_t i = 0; i < strength.size(); i++)
        if (strength[i] <= 0.0f)
            std::memset(&pixels[i * pixelBytes], 0, pixelBytes);
    return pixels;
}

} // namespace mendora::gimp
