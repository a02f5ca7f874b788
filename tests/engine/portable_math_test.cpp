// The portable cosine against the platform's: the same bits on every argument the descriptors
// use up to radius 5, at most one unit in the last place anywhere, and correctly rounded where
// the platform's is not. Also the square root that stands for
// pow(v, 0.5) in the front direction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/portable_math.h"

namespace mendora {
namespace {

int64_t ulpDistance(double a, double b) {
    int64_t ia, ib;
    std::memcpy(&ia, &a, sizeof a);
    std::memcpy(&ib, &b, sizeof b);
    if (ia < 0)
        ia = INT64_MIN - ia;
    if (ib < 0)
        ib = INT64_MIN - ib;
    return ia > ib ? ia - ib : ib - ia;
}

TEST(PortableCos, MatchesPlatformOnBasisArguments) {
    const double pi = 3.141592653589793;
    // Descriptors of radius r use the frequencies below r + 1 (the complete anti-diagonals).
    for (int h = 3; h <= 11; h += 2)
        for (int d = 0; d < h; d++)
            for (int f = 0; f <= (h - 1) / 2; f++) {
                const double x = (d + 0.5) * pi * f / h;
                ASSERT_EQ(portableCos(x), std::cos(x)) << "h " << h << " d " << d << " f " << f;
            }
    EXPECT_EQ(portableCos(0.0), 1.0);
    EXPECT_EQ(portableCos(pi / 2), 6.123233995736766e-17); // cos of the double nearest pi/2
    EXPECT_EQ(portableCos(-2.5), portableCos(2.5));
    // h = 11, d = 10, f = 9: the exact cosine is -0.2817325568414285333 (60-digit decimal
    // arithmetic), whose nearest double is the one below; glibc's cos answers one ulp away.
    EXPECT_EQ(portableCos(26.989136887657768), -0.28173255684142856);
}

TEST(PortableCos, WithinOneUlpOverAWideRange) {
    uint32_t state = 12345;
    for (int i = 0; i < 200000; i++) {
        state = state * 1103515245u + 12345u;
        const double x = state / 4294967296.0 * 600.0;
        ASSERT_LE(ulpDistance(portableCos(x), std::cos(x)), 1) << "x " << x;
    }
}

TEST(PortableCos, SquareRootStandsForHalfPower) {
    for (double v : {1.0, 2.0, 4.0, 5.0, 8.0})
        EXPECT_EQ(std::sqrt(v), std::pow(v, 0.5)) << v;
}

} // namespace
} // namespace mendora
