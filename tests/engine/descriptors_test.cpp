// Descriptors: the coefficient count, the zig-zag order, the cosine basis, candidate
// collection and the window descriptor with its clamped target variant.
#include <ANN/ANN.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "engine/portable_math.h"
#include "engine_fixture.h"

namespace mendora {
namespace {

TEST(CoefficientCount, SmallestTriangularNumberAboveATenth) {
    const int32_t expected[] = {1, 3, 6, 10, 15, 21, 28, 36, 45, 45}; // r = 1 .. 10
    for (int32_t r = 1; r <= 10; r++)
        EXPECT_EQ(coefficientCount(2 * r + 1), expected[r - 1]) << "r = " << r;
}

std::vector<std::pair<int32_t, int32_t>> zigZag(int32_t h, int32_t steps) {
    ZigZagCursor cursor;
    cursor.fx = cursor.fy = 99; // reset must not depend on the counters
    cursor.reset();
    std::vector<std::pair<int32_t, int32_t>> pairs;
    for (int32_t i = 0; i < steps; i++) {
        cursor.step(h);
        pairs.emplace_back(cursor.fx, cursor.fy);
    }
    return pairs;
}

TEST(ZigZagCursor, FullCycleForFiveAndWrap) {
    const std::vector<std::pair<int32_t, int32_t>> cycle = {
        {0, 0}, {1, 0}, {0, 1}, {0, 2}, {1, 1}, {2, 0}, {3, 0}, {2, 1}, {1, 2},
        {0, 3}, {0, 4}, {1, 3}, {2, 2}, {3, 1}, {4, 0}, {4, 1}, {3, 2}, {2, 3},
        {1, 4}, {2, 4}, {3, 3}, {4, 2}, {4, 3}, {3, 4}, {4, 4}};
    auto pairs = zigZag(5, 26);
    EXPECT_EQ(pairs.back(), std::make_pair(0, 0)); // the cycle starts again
    pairs.pop_back();
    EXPECT_EQ(pairs, cycle);
}

TEST(ZigZagCursor, DefaultDescriptorOrderAndEveryPairOnce) {
    const std::vector<std::pair<int32_t, int32_t>> firstTen = {
        {0, 0}, {1, 0}, {0, 1}, {0, 2}, {1, 1}, {2, 0}, {3, 0}, {2, 1}, {1, 2}, {0, 3}};
    EXPECT_EQ(zigZag(9, 10), firstTen);
    for (int32_t h : {3, 7, 9, 13}) {
        std::vector<int> seen(static_cast<size_t>(h * h), 0);
        for (auto [fx, fy] : zigZag(h, h * h))
            seen[static_cast<size_t>(h * fy + fx)]++;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), h * h) << "h = " << h;
    }
}

class Descriptors : public EngineGrids {};

// Every entry against the plain formula, cosine by cosine.
TEST_F(Descriptors, BasisEntriesAreUnnormalisedCosines) {
    const double pi = 3.141592653589793;
    for (int32_t r : {1, 4, 6}) {
        makeGrids(2 * r + 3, 2 * r + 3, r);
        buildDctBasis();
        const int32_t h = engineWindowSide;
        for (int32_t fy = 0; fy < h; fy++)
            for (int32_t fx = 0; fx < h; fx++)
                for (int32_t dy = 0; dy < h; dy++)
                    for (int32_t dx = 0; dx < h; dx++)
                        ASSERT_EQ(descriptorBasis[h * fy + fx][h * dy + dx],
                                  portableCos((dy + 0.5) * pi * fy / h) *
                                      portableCos((dx + 0.5) * pi * fx / h))
                            << "r " << r << " row " << h * fy + fx << " column " << h * dy + dx;
        EXPECT_EQ(descriptorBasis[0][h * h - 1], 1.0);
        releaseFillGrids();
    }
}

// With r = 1 the descriptor is one coefficient, the plain sum of the window's L values. At the
// left edge the target descriptor (from the window's copy) reads column 0 again for the
// missing column.
TEST_F(Descriptors, DcCoefficientAndClampedTarget) {
    makeGrids(6, 6, 1);
    for (int32_t x = 0; x < 6; x++)
        for (int32_t y = 0; y < 6; y++)
            setLightness(x, y, 10 * x + y);
    buildDctBasis();
    double dc = 0;
    describeWindow(2, 2, 1, &dc);
    EXPECT_EQ(dc, 3 * (10 + 20 + 30) + 3 * (1 + 2 + 3));
    WindowSnapshot window;
    takeSnapshot(0, 0, window);
    describeSnapshot(window, 1, &dc);
    // Columns 0, 0, 1 and rows 0, 0, 1.
    EXPECT_EQ(dc, (0 + 0 + 1) * 2 + (10 + 10 + 11));
}

// The index holds each source window's descriptor as the plain describeWindow gives it, bit
// for bit (the nearest point to it is at distance 0), whatever the radius: the batches
// describe several windows and several coefficients at once, and a hole breaks the columns
// into runs of every length.
TEST_F(Descriptors, IndexHoldsThePlainDescriptorOfEverySource) {
    for (int32_t r = 1; r <= 7; r++) {
        const int32_t w = 4 * r + 12, h = 4 * r + 19;
        makeGrids(w, h, r);
        uint32_t seed = 12345;
        for (int32_t x = 0; x < w; x++)
            for (int32_t y = 0; y < h; y++) {
                seed = seed * 1103515245u + 12345u;
                setLightness(x, y, static_cast<int32_t>(seed >> 16) % 101);
            }
        setState(w / 2, h / 3, kToFill);
        buildDctBasis();
        collectSourceCandidates(FillParameters{0, 0, static_cast<int16_t>(w),
                                               static_cast<int16_t>(h), static_cast<int16_t>(r)});
        const int32_t d = coefficientCount(engineWindowSide);
        buildSourceIndex(d);
        std::vector<double> plain(static_cast<size_t>(d));
        for (int32_t p = 0; p < sourceCandidateCount; p++) {
            describeWindow(sourceCandidate(p).x, sourceCandidate(p).y, d, plain.data());
            ANNidx nearest = -1;
            ANNdist distance = -1;
            sourceIndex->annkSearch(plain.data(), 1, &nearest, &distance, 0.0);
            ASSERT_EQ(distance, 0.0) << "r " << r << " candidate " << p;
        }
        releaseSourceIndex();
        releaseDescriptorStructures();
        releaseFillGrids();
    }
}

TEST_F(Descriptors, CandidatesRespectHoleAndHalfOpenBounds) {
    makeGrids(8, 6, 1);
    setState(5, 3, kToFill);
    setState(4, 3, kFront); // front pixels count as known
    collectSourceCandidates(FillParameters{0, 0, 8, 6, 1});
    std::vector<std::pair<int32_t, int32_t>> found;
    for (int32_t i = 0; i < sourceCandidateCount; i++)
        found.emplace_back(sourceCandidate(i).x, sourceCandidate(i).y);
    // Centres 1..6 x 1..4, column-major, minus the nine windows that cover (5, 3).
    EXPECT_EQ(sourceCandidateCount, 6 * 4 - 9);
    EXPECT_EQ(found.front(), std::make_pair(1, 1));
    EXPECT_EQ(found[1], std::make_pair(1, 2));
    EXPECT_EQ(found.back(), std::make_pair(6, 1)); // column 6 keeps only its top window
    // Every candidate, read back from the runs (which break around the hole).
    std::vector<std::pair<int32_t, int32_t>> expected;
    for (int32_t x = 1; x <= 6; x++)
        for (int32_t y = 1; y <= 4; y++)
            if (std::abs(x - 5) > 1 || std::abs(y - 3) > 1)
                expected.emplace_back(x, y);
    EXPECT_EQ(found, expected);
    releaseDescriptorStructures();

    // sourceRight = width: windows reach the last column; one less and they stop before it.
    collectSourceCandidates(FillParameters{5, 0, 8, 3, 1});
    EXPECT_EQ(sourceCandidateCount, 1); // centre (6, 1)
    EXPECT_EQ(sourceCandidate(0).x, 6);
    releaseDescriptorStructures();
    collectSourceCandidates(FillParameters{5, 0, 7, 3, 1});
    EXPECT_EQ(sourceCandidateCount, 0); // narrower than the window
    releaseDescriptorStructures();
    collectSourceCandidates(FillParameters{6, 0, 2, 6, 1});
    EXPECT_EQ(sourceCandidateCount, 0); // left beyond right
    releaseDescriptorStructures();
    // Bounds beyond the grid never let a window leave it.
    collectSourceCandidates(FillParameters{0, 0, 30000, 30000, 1});
    EXPECT_EQ(sourceCandidateCount, 6 * 4 - 9);
}

// With a sampling area, the candidates are exactly the windows of the plain rule (inside the
// source rectangle, no pixel to fill) whose every pixel the area allows, in the same order;
// an area allowing everything gives the plain list.
TEST_F(Descriptors, SamplingAreaKeepsTheWindowsWhollyInsideIt) {
    for (int32_t r = 1; r <= 3; r++) {
        const int32_t w = 23, h = 17, stride = 25;
        makeGrids(w, h, r);
        std::vector<uint8_t> area(static_cast<size_t>(stride) * h, 1);
        uint32_t seed = 777u + static_cast<uint32_t>(r);
        for (int32_t y = 0; y < h; y++)
            for (int32_t x = 0; x < w; x++) {
                seed = seed * 1103515245u + 12345u;
                const uint32_t draw = (seed >> 16) % 64;
                if (draw == 0)
                    setState(x, y, kToFill);
                // Sparse holes in the area, and a band of columns it leaves out.
                area[static_cast<size_t>(y) * stride + x] =
                    draw == 1 || (x >= 14 && x < 16) ? 0 : 1;
            }
        const FillParameters bounds{2, 1, 21, 16, static_cast<int16_t>(r)};
        const auto listed = [] {
            std::vector<std::pair<int32_t, int32_t>> found;
            for (int32_t i = 0; i < sourceCandidateCount; i++)
                found.emplace_back(sourceCandidate(i).x, sourceCandidate(i).y);
            releaseDescriptorStructures();
            return found;
        };
        collectSourceCandidates(bounds);
        const auto plain = listed();
        std::vector<uint8_t> everything(area.size(), 1);
        setSamplingArea(everything.data(), stride);
        collectSourceCandidates(bounds);
        EXPECT_EQ(listed(), plain);
        setSamplingArea(area.data(), stride);
        collectSourceCandidates(bounds);
        const auto inArea = listed();
        setSamplingArea(nullptr, 0);
        std::vector<std::pair<int32_t, int32_t>> expected;
        for (const auto& centre : plain) {
            bool inside = true;
            for (int32_t dx = -r; dx <= r; dx++)
                for (int32_t dy = -r; dy <= r; dy++)
                    inside = inside && area[static_cast<size_t>(centre.second + dy) * stride +
                                            centre.first + dx] != 0;
            if (inside)
                expected.push_back(centre);
        }
        EXPECT_EQ(inArea, expected) << "r " << r;
        EXPECT_LT(inArea.size(), plain.size());
        EXPECT_FALSE(inArea.empty());
        releaseFillGrids();
    }
}

} // namespace
} // namespace mendora
