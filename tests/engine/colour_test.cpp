// Colour measures against a table of reference colours. The values are those of the formulas
// evaluated in double precision (sRGB D65, matrix rounded to four decimals), truncated.
#include <gtest/gtest.h>

#include "engine/colour.h"

namespace mendora {
namespace {

struct ColourCase {
    int r, g, b;
    int grey;
    int L, A, B;
};

constexpr ColourCase kTable[] = {
    {0, 0, 0, 0, 0, 0, 0},         {255, 255, 255, 255, 100, 0, 0},  {128, 128, 128, 128, 53, 0, 0},
    {10, 10, 10, 10, 2, 0, 0},     {255, 0, 0, 75, 53, 80, 67},      {0, 255, 0, 149, 87, -86, 83},
    {0, 0, 255, 29, 32, 79, -107}, {200, 150, 100, 159, 65, 12, 33},
};

uint32_t pack(int r, int g, int b) {
    return static_cast<uint32_t>(r | g << 8 | b << 16);
}

TEST(Colour, ReferenceTable) {
    for (const ColourCase& c : kTable) {
        SCOPED_TRACE(::testing::Message() << "(" << c.r << ", " << c.g << ", " << c.b << ")");
        EXPECT_EQ(greyLevel(pack(c.r, c.g, c.b)), c.grey);
        int32_t L = -1, a = -1, b = -1;
        rgbToLab(pack(c.r, c.g, c.b), L, a, b);
        EXPECT_EQ(L, c.L);
        EXPECT_EQ(a, c.A);
        EXPECT_EQ(b, c.B);
    }
}

// Bits 24-31 of a packed colour are not part of it.
TEST(Colour, IgnoresTopByte) {
    int32_t L1, a1, b1, L2, a2, b2;
    rgbToLab(pack(200, 150, 100), L1, a1, b1);
    rgbToLab(pack(200, 150, 100) | 0xFF000000u, L2, a2, b2);
    EXPECT_EQ(greyLevel(pack(200, 150, 100) | 0xFF000000u), 159);
    EXPECT_EQ(L1, L2);
    EXPECT_EQ(a1, a2);
    EXPECT_EQ(b1, b2);
}

// Every colour stays in range; neutral greys truncate their tiny a and b to 0.
TEST(Colour, RangesOverTheWholeCube) {
    for (int r = 0; r < 256; r += 5)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 5) {
                const int32_t grey = greyLevel(pack(r, g, b));
                ASSERT_GE(grey, 0);
                ASSERT_LE(grey, 255);
                int32_t L, A, B;
                rgbToLab(pack(r, g, b), L, A, B);
                ASSERT_GE(L, 0);
                ASSERT_LE(L, 100);
                if (r == g && g == b) {
                    ASSERT_EQ(A, 0);
                    ASSERT_EQ(B, 0);
                }
            }
}

} // namespace
} // namespace mendora
