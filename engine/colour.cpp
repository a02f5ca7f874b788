// Colour measures.
// In: a packed colour (red in bits 0-7). Out: a grey level, or a truncated CIELAB triple.
#include "engine/colour.h"

#include <array>
#include <cmath>

namespace mendora {

int32_t greyLevel(uint32_t colour) {
    const int32_t r = colour & 0xFF;
    const int32_t g = colour >> 8 & 0xFF;
    const int32_t b = colour >> 16 & 0xFF;
    // The weights add up to 32767, so s is at most 8,355,585 and the quotient at most 255.
    const int32_t s = 9765 * r + 19267 * g + 3735 * b;
    return static_cast<int32_t>(s / 32767.0);
}

// sRGB transfer curve: the strict comparison puts 0.04045 itself on the linear segment.
static double linearise(double v) {
    if (v > 0.04045)
        return std::pow((v + 0.055) / 1.055, 2.4);
    return v / 12.92;
}

// linearise of every 8-bit channel value c, taken at c * 1.0 / 255.0 as rgbToLab does: a
// channel has 256 values, so the table gives the same bits as the call at a sixth of the pow
// calls of a conversion. Built once, on first use (thread-safe).
static const std::array<double, 256>& linearChannels() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> values{};
        for (uint32_t c = 0; c < 256; c++)
            values[c] = linearise(c * 1.0 / 255.0);
        return values;
    }();
    return table;
}

// The CIELAB companding function. The cube root goes through pow with the double nearest
// one third, not cbrt, whose last bit can differ; 0.13793103448275862 is the double nearest
// 16/116.
static double labCompand(double t) {
    if (t > 0.008856)
        return std::pow(t, 0.3333333333333333);
    return 7.787 * t + 0.13793103448275862;
}

void rgbToLab(uint32_t colour, int32_t& L, int32_t& a, int32_t& b) {
    const std::array<double, 256>& linear = linearChannels();
    const double r = linear[colour & 0xFF] * 100.0;
    const double g = linear[colour >> 8 & 0xFF] * 100.0;
    const double bl = linear[colour >> 16 & 0xFF] * 100.0;
    // The sRGB-to-XYZ rows rounded to four decimals; each sum runs left to right.
    const double X = r * 0.4124 + g * 0.3576 + bl * 0.1805;
    const double Y = r * 0.2126 + g * 0.7152 + bl * 0.0722;
    const double Z = r * 0.0193 + g * 0.1192 + bl * 0.9505;
    const double fx = labCompand(X / 95.047);
    const double fy = labCompand(Y / 100.0);
    const double fz = labCompand(Z / 108.883);
    // Conversion to int truncates toward zero: -0.9 gives 0, -86.2 gives -86.
    L = static_cast<int32_t>(116.0 * fy - 16.0);
    a = static_cast<int32_t>((fx - fy) * 500.0);
    b = static_cast<int32_t>((fy - fz) * 200.0);
}

} // namespace mendora
