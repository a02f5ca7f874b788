// Whole runs through the engine entry on generated textured images: what may change, where
// filled colours come from, determinism, and the runs that must change nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "engine/engine.h"
#include "engine_fixture.h"
#include "support/texture.h"

namespace mendora {
namespace {

using testing::discMask;
using testing::texturedImage;

struct FillRun {
    FillOutcome outcome;
    std::vector<uint8_t> output;
    int32_t copied = 0;
    int32_t steps = 0;
};

void countStep(const FillStepTrace& step, void* context) {
    auto* run = static_cast<FillRun*>(context);
    run->copied += step.copied;
    run->steps++;
}

FillRun fill(int32_t w, int32_t h, const std::vector<uint8_t>& input, const uint8_t* mask,
             FillParameters params) {
    FillRun run;
    run.output = input;
    setFillTraceHooks(nullptr, countStep, &run);
    run.outcome = fillImage(w, h, input.data(), run.output.data(), mask, w, params);
    setFillTraceHooks(nullptr, nullptr, nullptr);
    return run;
}

int32_t selectedCount(const std::vector<uint8_t>& mask) {
    int32_t n = 0;
    for (uint8_t m : mask)
        n += m != 0;
    return n;
}

// A sampling area: every step copies from a window wholly inside it, the region is filled
// all the same; an area allowing every pixel fills byte for byte as the module does without.
TEST(FillLoop, CopiesOnlyFromWindowsInsideTheSamplingArea) {
    const int32_t w = 80, h = 60, r = 3;
    const auto input = texturedImage(w, h, 31);
    const auto mask = discMask(w, h, 40, 30, 6, 255);
    // A ring of 12 pixels around the disc, less a notch of columns 28 to 33.
    std::vector<uint8_t> area(mask.size(), 0);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            const int32_t dx = x - 40, dy = y - 30;
            area[static_cast<size_t>(y) * w + x] =
                dx * dx + dy * dy <= 18 * 18 && (x < 28 || x > 33);
        }
    const FillParameters params{0, 0, w, h, r};
    const FillRun plain = fill(w, h, input, mask.data(), params);
    std::vector<uint8_t> everything(area.size(), 1);
    setSamplingArea(everything.data(), w);
    const FillRun allowed = fill(w, h, input, mask.data(), params);
    EXPECT_EQ(allowed.output, plain.output);

    struct Sources {
        const std::vector<uint8_t>* area;
        int32_t outside = 0;
        int32_t steps = 0;
    } sources{&area};
    setSamplingArea(area.data(), w);
    std::vector<uint8_t> output = input;
    setFillTraceHooks(
        nullptr,
        [](const FillStepTrace& step, void* context) {
            auto* seen = static_cast<Sources*>(context);
            seen->steps++;
            for (int32_t dx = -r; dx <= r; dx++)
                for (int32_t dy = -r; dy <= r; dy++)
                    seen->outside +=
                        (*seen->area)[static_cast<size_t>(step.bestY + dy) * w + step.bestX + dx] ==
                        0;
        },
        &sources);
    FillParameters again = params;
    EXPECT_EQ(fillImage(w, h, input.data(), output.data(), mask.data(), w, again),
              FillOutcome::filled);
    setFillTraceHooks(nullptr, nullptr, nullptr);
    setSamplingArea(nullptr, 0);
    EXPECT_GT(sources.steps, 0);
    EXPECT_EQ(sources.outside, 0);
    EXPECT_NE(output, plain.output);

    // An area too thin for any window leaves no source.
    std::vector<uint8_t> thin(area.size(), 0);
    for (int32_t x = 0; x < w; x++)
        thin[static_cast<size_t>(5) * w + x] = 1;
    setSamplingArea(thin.data(), w);
    output = input;
    again = params;
    EXPECT_EQ(fillImage(w, h, input.data(), output.data(), mask.data(), w, again),
              FillOutcome::noSource);
    setSamplingArea(nullptr, 0);
    EXPECT_EQ(output, input);
}

// Two holes, one at an edge, a feathered mask, source restricted to the left part.
TEST(FillLoop, FillsOnlySelectedPixelsFromKnownSourceColours) {
    const int32_t w = 90, h = 64;
    const auto input = texturedImage(w, h, 99);
    auto mask = discMask(w, h, 60, 30, 7, 255);
    for (int32_t y = 40; y < 52; y++)
        for (int32_t x = 0; x < 6; x++)
            mask[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(1 + (x * 40 + y) % 255);
    for (int16_t radius : {2, 3, 5}) {
        SCOPED_TRACE(::testing::Message() << "radius " << radius);
        const FillParameters params{0, 0, 70, 64, radius};
        const FillRun run = fill(w, h, input, mask.data(), params);
        ASSERT_EQ(run.outcome, FillOutcome::filled);
        // Every selected pixel was filled, by exactly one copy.
        EXPECT_EQ(run.copied, selectedCount(mask));

        // Colours of pixels known at the start inside the source rectangle.
        std::set<uint32_t> sourceColours;
        for (int32_t y = 0; y < 64; y++)
            for (int32_t x = 0; x < 70; x++) {
                const size_t i = static_cast<size_t>(y) * w + x;
                if (mask[i] == 0)
                    sourceColours.insert(input[3 * i] | input[3 * i + 1] << 8 |
                                         input[3 * i + 2] << 16);
            }
        for (size_t i = 0; i < mask.size(); i++) {
            const uint32_t colour =
                run.output[3 * i] | run.output[3 * i + 1] << 8 | run.output[3 * i + 2] << 16;
            if (mask[i] == 0) {
                ASSERT_EQ(run.output[3 * i], input[3 * i]);
                ASSERT_EQ(run.output[3 * i + 1], input[3 * i + 1]);
                ASSERT_EQ(run.output[3 * i + 2], input[3 * i + 2]);
            } else {
                ASSERT_TRUE(sourceColours.count(colour)) << "pixel " << i;
            }
        }
        // The same run twice gives the same bytes.
        EXPECT_EQ(fill(w, h, input, mask.data(), params).output, run.output);
    }
}

// Runs that must leave the output exactly as delivered.
TEST(FillLoop, RunsThatChangeNothing) {
    const int32_t w = 40, h = 30;
    const auto input = texturedImage(w, h, 5);
    const std::vector<uint8_t> none(static_cast<size_t>(w) * h, 0);
    const std::vector<uint8_t> all(static_cast<size_t>(w) * h, 1);
    const auto hole = discMask(w, h, 20, 15, 3);

    FillRun run = fill(w, h, input, nullptr, FillParameters{0, 0, 40, 30, 2});
    EXPECT_EQ(run.outcome, FillOutcome::nothingToFill);
    EXPECT_EQ(run.output, input);
    run = fill(w, h, input, none.data(), FillParameters{0, 0, 40, 30, 2});
    EXPECT_EQ(run.outcome, FillOutcome::nothingToFill);
    EXPECT_EQ(run.output, input);

    // Every pixel selected: nothing is known, so nothing can serve as a source.
    run = fill(w, h, input, all.data(), FillParameters{0, 0, 40, 30, 2});
    EXPECT_EQ(run.outcome, FillOutcome::noSource);
    EXPECT_EQ(run.output, input);

    // A source rectangle narrower than the window, a reversed one, a window larger than the
    // image: no candidate, no search with more neighbours than points.
    for (FillParameters params :
         {FillParameters{0, 0, 4, 30, 2}, FillParameters{30, 0, 10, 30, 2},
          FillParameters{0, 0, 40, 30, 20}, FillParameters{0, 0, 40, 30, 32767}}) {
        run = fill(w, h, input, hole.data(), params);
        EXPECT_EQ(run.outcome, FillOutcome::noSource);
        EXPECT_EQ(run.output, input);
        EXPECT_EQ(run.steps, 0);
    }
}

// Radii whose working storage no host process should be asked for are refused before any
// large allocation: a radius of 22 would need 295 MB for each window estimate, so 21 is the
// largest the engine (and the command line, which checks it first) accepts.
TEST(FillLoop, RefusesRadiiBeyondTheWorkingStorageCeiling) {
    static_assert(largestPatchRadius() == 21);
    const int32_t w = 100, h = 100;
    const auto input = texturedImage(w, h, 4);
    const auto mask = discMask(w, h, 50, 50, 4);
    for (int16_t radius : {22, 45}) {
        const FillRun run = fill(w, h, input, mask.data(), FillParameters{0, 0, 100, 100, radius});
        EXPECT_EQ(run.outcome, FillOutcome::outOfMemory) << radius;
        EXPECT_EQ(run.output, input);
    }
}

// Two start steps on the same grids: the second fills its own selection only, although the
// first (whose source rectangle held no window) left its selection unfilled.
TEST(FillLoop, SecondStartOnTheSameGridsFollowsItsOwnMask) {
    const int32_t w = 40, h = 30;
    const auto input = texturedImage(w, h, 13);
    const auto first = discMask(w, h, 10, 10, 3);
    const auto second = discMask(w, h, 28, 18, 3);
    ASSERT_TRUE(allocateFillGrids(w, h));
    std::vector<uint8_t> output = input;
    FillParameters tooSmall{0, 0, 3, 3, 2};
    EXPECT_EQ(markFillStates(input.data(), output.data(), first.data(), w, PixelRect{0, 0, h, w},
                             tooSmall, w, h),
              FillOutcome::noSource);
    FillParameters whole{0, 0, 40, 30, 2};
    EXPECT_EQ(markFillStates(input.data(), output.data(), second.data(), w, PixelRect{0, 0, h, w},
                             whole, w, h),
              FillOutcome::filled);
    releaseFillGrids();
    for (size_t i = 0; i < first.size(); i++)
        if (second[i] == 0) {
            for (int c = 0; c < 3; c++)
                ASSERT_EQ(output[3 * i + c], input[3 * i + c]) << "pixel " << i;
        }
}

// One source window only (fewer candidates than k = 10): the run still fills everything.
TEST(FillLoop, SingleCandidateFillsEverything) {
    const int32_t w = 30, h = 20;
    const auto input = texturedImage(w, h, 11);
    const auto mask = discMask(w, h, 20, 10, 3);
    const FillRun run = fill(w, h, input, mask.data(), FillParameters{0, 0, 5, 5, 2});
    EXPECT_EQ(run.outcome, FillOutcome::filled);
    EXPECT_EQ(run.copied, selectedCount(mask));
}

// The bounds are corrected in place; a radius of 0 or less keeps the radius of the last run
// that asked for a positive one, and the block keeps what the user typed.
TEST(FillLoop, ParameterCorrectionAndRadiusCarry) {
    const int32_t w = 40, h = 30;
    const auto input = texturedImage(w, h, 3);
    const auto mask = discMask(w, h, 20, 15, 2);
    std::vector<uint8_t> output = input;
    FillParameters params{-3, 31, -5, 500, 3};
    EXPECT_EQ(fillImage(w, h, input.data(), output.data(), mask.data(), w, params),
              FillOutcome::filled);
    EXPECT_EQ(params.sourceLeft, 0);
    EXPECT_EQ(params.sourceTop, 0);
    EXPECT_EQ(params.sourceRight, 40);
    EXPECT_EQ(params.sourceBottom, 30);
    EXPECT_EQ(enginePatchRadius(), 3);

    FillParameters zero{0, 0, 40, 30, 0};
    output = input;
    EXPECT_EQ(fillImage(w, h, input.data(), output.data(), mask.data(), w, zero),
              FillOutcome::filled);
    EXPECT_EQ(enginePatchRadius(), 3);
    EXPECT_EQ(zero.patchRadius, 0);
    FillParameters negative{0, 0, 40, 30, -7};
    output = input;
    fillImage(w, h, input.data(), output.data(), mask.data(), w, negative);
    EXPECT_EQ(enginePatchRadius(), 3);

    FillParameters back{0, 0, 40, 30, 4};
    fillImage(w, h, input.data(), output.data(), mask.data(), w, back);
    EXPECT_EQ(enginePatchRadius(), 4);
}

// The mask walk: rows `stride` bytes apart, positions beyond the grid ignored, and a start
// step without grids does nothing.
TEST(FillLoop, MaskStrideAndUnpreparedGrids) {
    const int32_t w = 32, h = 24, stride = 45;
    const auto input = texturedImage(w, h, 8);
    std::vector<uint8_t> wide(static_cast<size_t>(stride) * (h + 5), 0);
    for (int32_t y = 10; y < 14; y++)
        for (int32_t x = 12; x < 16; x++)
            wide[static_cast<size_t>(y) * stride + x] = 200;
    for (int32_t y = 0; y < h + 5; y++)
        for (int32_t x = w; x < stride; x++)
            wide[static_cast<size_t>(y) * stride + x] = 255; // beyond the grid: ignored
    std::vector<uint8_t> output = input;
    FillParameters params{0, 0, 32, 24, 2};
    ASSERT_TRUE(allocateFillGrids(w, h));
    FillRun counted;
    setFillTraceHooks(nullptr, countStep, &counted);
    EXPECT_EQ(markFillStates(input.data(), output.data(), wide.data(), stride,
                             PixelRect{0, 0, h + 5, stride}, params, w, h),
              FillOutcome::filled);
    setFillTraceHooks(nullptr, nullptr, nullptr);
    releaseFillGrids();
    EXPECT_EQ(counted.copied, 16);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++)
            if (!(y >= 10 && y < 14 && x >= 12 && x < 16)) {
                for (int c = 0; c < 3; c++)
                    ASSERT_EQ(output[(static_cast<size_t>(y) * w + x) * 3 + c],
                              input[(static_cast<size_t>(y) * w + x) * 3 + c]);
            }

    output = input;
    EXPECT_EQ(markFillStates(input.data(), output.data(), wide.data(), stride,
                             PixelRect{0, 0, h, w}, params, w, h),
              FillOutcome::notPrepared);
    EXPECT_EQ(output, input);
    releaseFillGrids(); // a second release does nothing
    EXPECT_FALSE(allocateFillGrids(0, 5));
    EXPECT_FALSE(allocateFillGrids(70000, 70000)); // more cells than a 32-bit count holds
}

// The re-rank's tie rules, each reached: on a flat image every difference is 0 but that of
// a source window holding one other L value. Candidate 1 is nearer than candidate 0 (the
// nearer-source rule takes it), candidate 2 as near as candidate 1 (the first one returned
// stays), candidate 3 nearest of all but with a larger difference (the difference decides
// first). Any other rule would pick another candidate.
class Rerank : public EngineGrids {
  protected:
    void setCandidates(const std::vector<SourceCandidate>& list) {
        releaseDescriptorStructures();
        for (const SourceCandidate& c : list)
            appendSourceCandidate(c.x, c.y);
    }
    BestSource rerank(int32_t x0, int32_t y0) {
        std::vector<int32_t> order(static_cast<size_t>(sourceCandidateCount));
        for (int32_t i = 0; i < sourceCandidateCount; i++)
            order[static_cast<size_t>(i)] = i;
        return rerankCandidates(x0, y0, clipWindow(x0, y0), order.data(), sourceCandidateCount);
    }
};

TEST_F(Rerank, EqualDifferencesGoToTheNearerSourceThenToTheFirstReturned) {
    makeGrids(30, 20, 2);
    setLightness(16, 17, 5); // inside the window of candidate 3 only
    setCandidates({{3, 3}, {25, 12}, {5, 8}, {15, 16}});
    const BestSource best = rerank(15, 10);
    EXPECT_EQ(best.x, 25);
    EXPECT_EQ(best.y, 12);
    EXPECT_EQ(best.difference, 0.0);
    EXPECT_EQ(best.squaredDistance, 104);
}

// The plain re-rank: every candidate's whole difference summed in double, as written down.
BestSource plainRerank(int32_t x0, int32_t y0, const WindowExtents& e, const int32_t* indices,
                       int32_t count) {
    BestSource best;
    for (int32_t i = 0; i < count; i++) {
        const SourceCandidate c = sourceCandidate(indices[i]);
        double difference = 0.0;
        for (int32_t x = x0 - e.left; x <= x0 + e.right; x++)
            for (int32_t y = y0 - e.up; y <= y0 + e.down; y++) {
                if (fillStates[x][y] == kToFill)
                    continue;
                const int32_t sx = x - x0 + c.x, sy = y - y0 + c.y;
                const double dL = lightness(x, y) - lightness(sx, sy);
                const double da = colourA(x, y) - colourA(sx, sy);
                const double db = colourB(x, y) - colourB(sx, sy);
                difference += dL * dL + da * da + db * db;
            }
        const int64_t distance = int64_t{c.x - x0} * (c.x - x0) + int64_t{c.y - y0} * (c.y - y0);
        if (difference < best.difference || best.squaredDistance == -1)
            best = BestSource{c.x, c.y, difference, distance};
        else if (difference == best.difference && distance < best.squaredDistance)
            best = BestSource{c.x, c.y, best.difference, distance};
    }
    return best;
}

// The re-rank against the plain one where equal differences abound (one flat colour, a
// repeated tile, two or three values a measure) and on the full ranges, with a random grey
// level that must not count, unknown pixels in the window, targets and sources at the edges
// (the bottom rows: the re-rank reads past a window's last row) and every window height.
TEST_F(Rerank, SameChoiceAsThePlainRerank) {
    uint32_t state = 99;
    for (int32_t radius : {1, 2, 3, 4}) {
        makeGrids(40, 30, radius);
        // values 0: flat, 1: a tile of 3 x 2, else that many values a measure.
        for (int32_t values : {0, 1, 2, 3, 256}) {
            for (int32_t x = 0; x < 40; x++)
                for (int32_t y = 0; y < 30; y++) {
                    int32_t L = 37, a = -5, b = 12;
                    if (values == 1) {
                        L = x % 3 * 40 + y % 2 * 3;
                        a = x % 3 * 90 - 128;
                        b = 127 - y % 2 * 255;
                    } else if (values > 1) {
                        L = static_cast<int32_t>(testing::nextRandom(state) % values) * 100 /
                            (values - 1);
                        L = std::min(L, 100);
                        a = static_cast<int32_t>(testing::nextRandom(state) % values) * 255 /
                                (values - 1) -
                            128;
                        b = 127 - static_cast<int32_t>(testing::nextRandom(state) % values) * 255 /
                                      (values - 1);
                    }
                    const int32_t grey = static_cast<int32_t>(testing::nextRandom(state) % 256);
                    labWords[x][y] = packLab(L, std::min(a, 127), std::max(b, -128), grey);
                    setState(x, y, testing::nextRandom(state) % 5 == 0 ? kToFill : kKnown);
                }
            std::vector<SourceCandidate> list;
            for (int32_t x = radius; x < 40 - radius; x++)
                for (int32_t y = radius; y < 30 - radius; y++)
                    list.push_back({x, y});
            setCandidates(list);
            for (int32_t trial = 0; trial < 40; trial++) {
                const int32_t x0 = static_cast<int32_t>(testing::nextRandom(state) % 40);
                const int32_t y0 = static_cast<int32_t>(testing::nextRandom(state) % 30);
                std::vector<int32_t> order(60);
                for (int32_t& index : order)
                    index = static_cast<int32_t>(testing::nextRandom(state) % list.size());
                const WindowExtents e = clipWindow(x0, y0);
                const BestSource want = plainRerank(x0, y0, e, order.data(), 60);
                const BestSource got = rerankCandidates(x0, y0, e, order.data(), 60);
                ASSERT_EQ(got.x, want.x) << "radius " << radius << " values " << values;
                ASSERT_EQ(got.y, want.y);
                ASSERT_EQ(got.difference, want.difference);
                ASSERT_EQ(got.squaredDistance, want.squaredDistance);
            }
        }
        releaseFillGrids();
    }
}

// Centres 49,995 columns apart: the squared distance needs more than 32 bits.
TEST_F(Rerank, SquaredDistanceBeyondThirtyTwoBits) {
    makeGrids(50000, 5, 2);
    setCandidates({{49997, 2}, {30000, 2}});
    const BestSource best = rerank(2, 2);
    EXPECT_EQ(best.x, 30000);
    EXPECT_EQ(best.squaredDistance, int64_t{29998} * 29998);
    setCandidates({{30000, 2}, {49997, 2}});
    EXPECT_EQ(rerank(2, 2).x, 30000);
}

} // namespace
} // namespace mendora
