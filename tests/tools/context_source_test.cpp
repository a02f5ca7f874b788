// The source rectangle of a context width: the selection's bounding box grown and clipped.
#include "tools/standin_host/context_source.h"

#include <gtest/gtest.h>

#include <vector>

namespace mendora::runner {
namespace {

// A 20 x 10 mask with rows 24 bytes apart; the bytes past each row's end are set, so a
// rectangle reaching them would show that the stride was not honoured.
constexpr int32_t kWidth = 20;
constexpr int32_t kHeight = 10;
constexpr size_t kStride = 24;

struct Mask {
    std::vector<uint8_t> bytes;
    Mask() : bytes(kStride * kHeight, 0) {
        for (size_t y = 0; y < kHeight; y++)
            for (size_t x = kWidth; x < kStride; x++)
                bytes[y * kStride + x] = 1;
    }
    void select(int32_t x, int32_t y, uint8_t value = 255) { bytes[y * kStride + x] = value; }
    ContextSource rectangle(int32_t context, SourceRectangle& source) const {
        return contextSourceRectangle(bytes.data(), kWidth, kHeight, kStride, context, source);
    }
};

void expectRectangle(const SourceRectangle& source, int32_t left, int32_t top, int32_t right,
                     int32_t bottom) {
    EXPECT_EQ(source.left, left);
    EXPECT_EQ(source.top, top);
    EXPECT_EQ(source.right, right);
    EXPECT_EQ(source.bottom, bottom);
}

TEST(ContextSource, GrowsTheBoundingBoxOfEveryRegionAndClipsIt) {
    Mask mask;
    // Two separate regions: one pixel at (5, 3), any nonzero value, and one at (12, 6).
    mask.select(5, 3, 1);
    mask.select(12, 6);
    SourceRectangle source;
    // Right and bottom exclusive: the box alone is columns 5 to 12, rows 3 to 6.
    ASSERT_EQ(mask.rectangle(1, source), ContextSource::ok);
    expectRectangle(source, 4, 2, 14, 8);
    // Reaching past the left and top edges, then past all four.
    ASSERT_EQ(mask.rectangle(4, source), ContextSource::ok);
    expectRectangle(source, 1, 0, 17, 10);
    ASSERT_EQ(mask.rectangle(kMaxContextWidth, source), ContextSource::ok);
    expectRectangle(source, 0, 0, kWidth, kHeight);

    // Pixels on the image's last column and row.
    Mask corner;
    corner.select(kWidth - 1, kHeight - 1);
    ASSERT_EQ(corner.rectangle(2, source), ContextSource::ok);
    expectRectangle(source, kWidth - 3, kHeight - 3, kWidth, kHeight);
}

TEST(ContextSource, ZeroIsTheWholeImageAndFailuresGiveItToo) {
    Mask mask;
    mask.select(5, 3);
    SourceRectangle source;
    ASSERT_EQ(mask.rectangle(0, source), ContextSource::ok);
    expectRectangle(source, 0, 0, kWidth, kHeight);

    const Mask empty;
    source = SourceRectangle{1, 2, 3, 4};
    EXPECT_EQ(empty.rectangle(0, source), ContextSource::ok);
    expectRectangle(source, 0, 0, kWidth, kHeight);
    source = SourceRectangle{1, 2, 3, 4};
    EXPECT_EQ(empty.rectangle(3, source), ContextSource::nothingSelected);
    expectRectangle(source, 0, 0, kWidth, kHeight);

    for (const int32_t context : {-1, kMaxContextWidth + 1, INT32_MAX, INT32_MIN}) {
        source = SourceRectangle{1, 2, 3, 4};
        EXPECT_EQ(mask.rectangle(context, source), ContextSource::widthOutOfRange) << context;
        expectRectangle(source, 0, 0, kWidth, kHeight);
    }
}

} // namespace
} // namespace mendora::runner
