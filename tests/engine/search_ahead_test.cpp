// Searching ahead through its own interface: a result is handed back only for the query it was
// found for, bit for bit, and equals the loop's own search; a window whose estimate would be
// large is never searched ahead. No timing is involved: each take follows the search.
#include <ANN/ANN.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/workers.h"
#include "engine_fixture.h"

namespace mendora {
namespace {

class SearchAhead : public EngineGrids {
  protected:
    // A w x h grid of L values repeating every 8 pixels (many windows exactly alike), a square
    // hole of `side` pixels at (holeX, holeY), radius r, the index built and the worker started.
    void prepare(int32_t w, int32_t h, int32_t r, int32_t holeX, int32_t holeY, int32_t side) {
        makeGrids(w, h, r);
        for (int32_t x = 0; x < w; x++)
            for (int32_t y = 0; y < h; y++)
                setLightness(x, y, ((x % 8) * 37 + (y % 8) * 11) % 100);
        for (int32_t x = holeX; x < holeX + side; x++)
            for (int32_t y = holeY; y < holeY + side; y++)
                setState(x, y, kToFill);
        buildDctBasis();
        collectSourceCandidates(FillParameters{0, 0, static_cast<int16_t>(w),
                                               static_cast<int16_t>(h), static_cast<int16_t>(r)});
        d = coefficientCount(engineWindowSide);
        buildSourceIndex(d);
        k = std::min(20, sourceCandidateCount);
        forceWorkerCount(2);
        allowSearchAhead(true);
        startSearchAhead(d, k);
    }
    void TearDown() override {
        stopSearchAhead();
        forceWorkerCount(0);
        releaseSourceIndex();
        releaseDescriptorStructures();
        EngineGrids::TearDown();
    }

    // The query the loop computes for (x0, y0) as the grids are now.
    std::vector<double> queryOf(int32_t x0, int32_t y0) const {
        WindowSnapshot window;
        takeSnapshot(x0, y0, window);
        estimateSnapshot(window);
        std::vector<double> query(static_cast<size_t>(d));
        describeSnapshot(window, d, query.data());
        return query;
    }

    std::vector<int32_t> searched(std::vector<double> query) const {
        std::vector<ANNidx> indices(static_cast<size_t>(k));
        std::vector<ANNdist> distances(static_cast<size_t>(k));
        sourceIndex->annkSearch(query.data(), k, indices.data(), distances.data(), 0.0);
        return std::vector<int32_t>(indices.begin(), indices.end());
    }

    int32_t d = 0;
    int32_t k = 0;
};

TEST_F(SearchAhead, HandsBackOnlyTheSearchOfTheSameQuery) {
    prepare(64, 48, 3, 28, 20, 6);
    const int32_t x0 = 27, y0 = 22; // left of the hole
    const std::vector<double> query = queryOf(x0, y0);
    const std::vector<int32_t> unset(static_cast<size_t>(k), -1);

    requestSearchAhead(x0, y0);
    waitForSearchAhead();
    std::vector<int32_t> found = unset;
    ASSERT_TRUE(takeSearchAhead(x0, y0, query.data(), found.data()));
    EXPECT_EQ(found, searched(query));

    // One coefficient one bit off: nothing is handed back, the indices stay untouched.
    requestSearchAhead(x0, y0);
    waitForSearchAhead();
    std::vector<double> nearby = query;
    nearby.back() = std::nextafter(nearby.back(), HUGE_VAL);
    found = unset;
    EXPECT_FALSE(takeSearchAhead(x0, y0, nearby.data(), found.data()));
    EXPECT_EQ(found, unset);

    // A step wrote into the window after the request: the loop's query is another one.
    requestSearchAhead(x0, y0);
    waitForSearchAhead();
    setState(x0 + 1, y0, kKnown);
    setLightness(x0 + 1, y0, 99);
    EXPECT_FALSE(takeSearchAhead(x0, y0, queryOf(x0, y0).data(), found.data()));
    EXPECT_EQ(found, unset);
    // The job went with the take: no second answer for the pixel.
    EXPECT_FALSE(takeSearchAhead(x0, y0, query.data(), found.data()));
}

// Radius 12 (625 cells a window): the estimate of 288 unknowns takes 6 MB and is searched
// ahead; one of 576 unknowns would take 24 MB beside the loop's own and is not.
TEST_F(SearchAhead, NoSecondLargeEstimateBesideTheLoops) {
    prepare(96, 96, 12, 36, 36, 24);
    std::vector<int32_t> found(static_cast<size_t>(k), -1);
    const int32_t edgeX = 35, edgeY = 48;
    requestSearchAhead(edgeX, edgeY);
    waitForSearchAhead();
    EXPECT_TRUE(takeSearchAhead(edgeX, edgeY, queryOf(edgeX, edgeY).data(), found.data()));
    const int32_t innerX = 48, innerY = 48;
    requestSearchAhead(innerX, innerY);
    waitForSearchAhead();
    EXPECT_FALSE(takeSearchAhead(innerX, innerY, queryOf(innerX, innerY).data(), found.data()));
}

} // namespace
} // namespace mendora
