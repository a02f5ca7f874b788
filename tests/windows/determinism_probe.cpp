// Floating-point probe: the Linux and the Windows builds must fill byte-identically, but
// they call different maths libraries (glibc natively, the 32-bit mingw runtime on Windows).
// This program is built in both builds from the same source; scripts/test-windows runs both
// and compares what they print.
//
// Default output, one line per slice, each a 64-bit FNV-1a hash:
//   lab R HASH      the engine's integer CIELAB triples of all colours with red R
//   labraw R HASH   the same colours' CIELAB values before truncation (IEEE bits); they
//                   may differ without changing any fill, so they are informative only
//   dct R HASH      the engine's cosine basis for patch radius R (1 to 12), IEEE bits
// With --colour R: every colour with red R, one line each: G B L a b and the raw values.
// With --dct R: every basis entry for radius R in hexadecimal.
// Exits 0, or 2 on bad arguments.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/colour.h"
#include "engine/fill_internal.h"

namespace {

struct Fnv {
    uint64_t value = 1469598103934665603ull;
};

void hashBytes(Fnv& hash, const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        hash.value ^= bytes[i];
        hash.value *= 1099511628211ull;
    }
}

uint64_t bitsOf(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

void hashDouble(Fnv& hash, double value) {
    const uint64_t bits = bitsOf(value);
    hashBytes(hash, &bits, sizeof bits);
}

void hashInt(Fnv& hash, int32_t value) {
    hashBytes(hash, &value, sizeof value);
}

// The CIELAB steps before truncation, in the engine's order: the raw values behind
// rgbToLab, so that a difference hidden by the truncation still shows.
double linearised(int channel) {
    const double v = channel * 1.0 / 255.0;
    if (v > 0.04045)
        return std::pow((v + 0.055) / 1.055, 2.4);
    return v / 12.92;
}

double companded(double t) {
    if (t > 0.008856)
        return std::pow(t, 0.3333333333333333);
    return 7.787 * t + 0.13793103448275862;
}

void rawLab(int red, int green, int blue, double lab[3]) {
    const double r = linearised(red) * 100.0;
    const double g = linearised(green) * 100.0;
    const double b = linearised(blue) * 100.0;
    const double fx = companded((r * 0.4124 + g * 0.3576 + b * 0.1805) / 95.047);
    const double fy = companded((r * 0.2126 + g * 0.7152 + b * 0.0722) / 100.0);
    const double fz = companded((r * 0.0193 + g * 0.1192 + b * 0.9505) / 108.883);
    lab[0] = 116.0 * fy - 16.0;
    lab[1] = (fx - fy) * 500.0;
    lab[2] = (fy - fz) * 200.0;
}

uint32_t packed(int red, int green, int blue) {
    return static_cast<uint32_t>(red) | static_cast<uint32_t>(green) << 8 |
           static_cast<uint32_t>(blue) << 16;
}

void printLabSlice(int red, bool detail) {
    Fnv lab, raw;
    for (int green = 0; green < 256; ++green)
        for (int blue = 0; blue < 256; ++blue) {
            int32_t L, a, b;
            mendora::rgbToLab(packed(red, green, blue), L, a, b);
            double values[3];
            rawLab(red, green, blue, values);
            if (detail) {
                std::printf("%d %d %" PRId32 " %" PRId32 " %" PRId32 " %016" PRIx64 " %016" PRIx64
                            " %016" PRIx64 "\n",
                            green, blue, L, a, b, bitsOf(values[0]), bitsOf(values[1]),
                            bitsOf(values[2]));
                continue;
            }
            hashInt(lab, L);
            hashInt(lab, a);
            hashInt(lab, b);
            for (double value : values)
                hashDouble(raw, value);
        }
    if (!detail) {
        std::printf("lab %d %016" PRIx64 "\n", red, lab.value);
        std::printf("labraw %d %016" PRIx64 "\n", red, raw.value);
    }
}

void printBasis(int radius, bool detail) {
    mendora::engineWindowSide = 2 * radius + 1;
    mendora::buildDctBasis();
    const int n = mendora::engineWindowSide * mendora::engineWindowSide;
    Fnv hash;
    for (int row = 0; row < n; ++row)
        for (int column = 0; column < n; ++column) {
            const double entry = mendora::descriptorBasis[row][column];
            if (detail)
                std::printf("%d %d %016" PRIx64 "\n", row, column, bitsOf(entry));
            else
                hashDouble(hash, entry);
        }
    mendora::releaseDescriptorStructures();
    if (!detail)
        std::printf("dct %d %016" PRIx64 "\n", radius, hash.value);
}

bool readNumber(const char* text, int low, int high, int& value) {
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int value = 0;
    if (argc == 3 && std::strcmp(argv[1], "--colour") == 0 && readNumber(argv[2], 0, 255, value)) {
        printLabSlice(value, true);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--dct") == 0 && readNumber(argv[2], 1, 12, value)) {
        printBasis(value, true);
        return 0;
    }
    if (argc != 1) {
        std::fprintf(stderr, "usage: %s [--colour RED | --dct RADIUS]\n", argv[0]);
        return 2;
    }
    for (int red = 0; red < 256; ++red)
        printLabSlice(red, false);
    for (int radius = 1; radius <= 12; ++radius)
        printBasis(radius, false);
    return 0;
}
