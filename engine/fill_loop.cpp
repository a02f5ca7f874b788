// Fill loop.
// In: the marked grids, the candidate list and its kd-tree. Out: every pixel to fill copied
// from the best of the k nearest source windows, in priority order, into the output buffer.
#include <ANN/ANN.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "engine/colour.h"
#include "engine/fill_internal.h"

namespace mendora {

FillSetupHook traceSetupHook = nullptr;
FillStepHook traceStepHook = nullptr;
void* traceHookContext = nullptr;

void setFillTraceHooks(FillSetupHook setup, FillStepHook step, void* context) {
    traceSetupHook = setup;
    traceStepHook = step;
    traceHookContext = context;
}

namespace {

// The search objects of one run, released on every way out of the loop.
struct SearchObjects {
    int32_t k = 0;        // neighbours asked for, as the trace reports it
    int32_t searched = 0; // k, bounded by the number of candidates
    ANNpoint query = nullptr;
    std::unique_ptr<ANNidx[]> indices;
    std::unique_ptr<ANNdist[]> distances;
    ~SearchObjects() {
        if (query != nullptr)
            annDeallocPt(query);
    }
};

// k grows with the image, one neighbour per thousand pixels and at least 10, but is never
// searched beyond the number of candidates: the search cannot return more points than it
// holds. Throws std::bad_alloc.
void setUpSearch(SearchObjects& search, int32_t d) {
    search.k = static_cast<int32_t>(static_cast<int64_t>(gridWidth) * gridHeight / 1000);
    if (search.k < 10)
        search.k = 10;
    search.searched = std::min(search.k, sourceCandidateCount);
    search.query = annAllocPt(d, 0.0);
    search.indices.reset(new ANNidx[static_cast<size_t>(search.searched)]);
    search.distances.reset(new ANNdist[static_cast<size_t>(search.searched)]);
}

// Puts every front pixel into a new queue, in scan order (the insertion order the queue's tie
// rule refers to). Returns the number of front pixels. Throws std::bad_alloc.
int32_t queueInitialFront() {
    delete frontQueue;
    frontQueue = nullptr;
    frontQueue = new TrelHeap(gridWidth * gridHeight, false);
    int32_t initialFront = 0;
    for (int32_t x = 0; x < gridWidth; x++)
        for (int32_t y = 0; y < gridHeight; y++)
            if (fillStates[x][y] == kFront) {
                frontQueue->insert(computePriority(x, y));
                initialFront++;
            }
    return initialFront;
}

// Mean confidence over the clipped window; unknown pixels count in the area but add nothing.
double windowConfidence(int32_t x0, int32_t y0, const WindowExtents& e) {
    double confidenceSum = 0.0;
    for (int32_t x = x0 - e.left; x <= x0 + e.right; x++)
        for (int32_t y = y0 - e.up; y <= y0 + e.down; y++)
            if (fillStates[x][y] != kToFill)
                confidenceSum += confidences[x][y];
    return confidenceSum / ((e.left + e.right + 1) * (e.up + e.down + 1));
}

// Estimates L at the window's unknown pixels (into the L grid, and into `estimates` when given)
// and writes the target descriptor into `query`. Throws std::bad_alloc.
void estimateAndDescribe(int32_t x0, int32_t y0, const WindowExtents& e, int32_t d, double* query,
                         std::vector<int32_t>* estimates) {
    estimateWindow(x0, y0, e.left, e.right, e.up, e.down, estimates);
    describeWindow(x0, y0, WindowVariant::target, d, query);
}

// The known pixels of a target window, column by column (x outer, y inner): their row
// offsets and CIELAB values, gathered once a step instead of once a candidate.
struct KnownTarget {
    struct Column {
        int32_t dx;    // column offset from the centre
        int32_t first; // its first entry in the arrays below
        int32_t end;   // one past its last entry
    };
    std::vector<Column> columns;
    std::vector<int32_t> dy, l, a, b;
};

void gatherKnownTarget(int32_t x0, int32_t y0, const WindowExtents& e, KnownTarget& target) {
    for (int32_t x = x0 - e.left; x <= x0 + e.right; x++) {
        const int32_t first = static_cast<int32_t>(target.dy.size());
        for (int32_t y = y0 - e.up; y <= y0 + e.down; y++)
            if (fillStates[x][y] != kToFill) {
                target.dy.push_back(y - y0);
                target.l.push_back(labL[x][y]);
                target.a.push_back(labA[x][y]);
                target.b.push_back(labB[x][y]);
            }
        target.columns.push_back(
            KnownTarget::Column{x - x0, first, static_cast<int32_t>(target.dy.size())});
    }
}

// Sum of squared CIELAB differences between the known target pixels and the source window
// centred at (cx, cy), in the order x outer, y inner. Once a column ends with the sum above
// `limit` that partial sum is returned: the terms are not negative, so the whole sum is above
// too. Integers: L lies in 0..100 and a, b within -128..127, so a pixel adds less than 2^18
// and a window (at most 43 x 43 pixels, the largest radius run) less than 2^29; summed in
// double every term and partial sum would be exact, so the value equals that double sum.
int64_t boundedDifference(const KnownTarget& target, int32_t cx, int32_t cy, int64_t limit) {
    int64_t sum = 0;
    for (const KnownTarget::Column& column : target.columns) {
        const int32_t sx = cx + column.dx;
        const int32_t *sL = labL[sx] + cy, *sa = labA[sx] + cy, *sb = labB[sx] + cy;
        int32_t columnSum = 0;
        for (int32_t j = column.first; j < column.end; j++) {
            const int32_t dy = target.dy[static_cast<size_t>(j)];
            const int32_t dL = target.l[static_cast<size_t>(j)] - sL[dy];
            const int32_t da = target.a[static_cast<size_t>(j)] - sa[dy];
            const int32_t db = target.b[static_cast<size_t>(j)] - sb[dy];
            columnSum += dL * dL + da * da + db * db;
        }
        sum += columnSum;
        if (sum > limit)
            return sum;
    }
    return sum;
}

// Copies the missing pixels of the window from the source window centred at `best`; front
// pixels inside the window stop being front pixels and leave the queue. Every copied pixel
// gets `confidence`. Returns the number of pixels copied.
int32_t copyFromSource(int32_t x0, int32_t y0, const WindowExtents& e, const BestSource& best,
                       double confidence) {
    int32_t copied = 0;
    fillStates[x0][y0] = kKnown;
    for (int32_t x = x0 - e.left; x <= x0 + e.right; x++)
        for (int32_t y = y0 - e.up; y <= y0 + e.down; y++) {
            char& state = fillStates[x][y];
            if (state == kToFill) {
                const PackedColour colour = readPixel(x - x0 + best.x, y - y0 + best.y);
                writePixel(x, y, colour);
                state = kKnown;
                confidences[x][y] = confidence;
                rgbToLab(colour, labL[x][y], labA[x][y], labB[x][y]);
                greys[x][y] = greyLevel(colour);
                copied++;
            } else if (state == kFront) {
                state = kKnown;
                frontQueue->remove(frontNodes[x][y]);
            }
        }
    return copied;
}

// Recomputes the priority of every front pixel within r of the window, cut to the grid;
// priorities farther away cannot have changed.
void repositionNearbyFront(int32_t x0, int32_t y0, const WindowExtents& e) {
    const int32_t r = engineRadius;
    const int32_t rx0 = std::max(x0 - e.left - r, 0);
    const int32_t rx1 = std::min(x0 + e.right + r, gridWidth - 1);
    const int32_t ry0 = std::max(y0 - e.up - r, 0);
    const int32_t ry1 = std::min(y0 + e.down + r, gridHeight - 1);
    for (int32_t x = rx0; x <= rx1; x++)
        for (int32_t y = ry0; y <= ry1; y++)
            if (fillStates[x][y] == kFront)
                frontQueue->reposition(computePriority(x, y));
}

bool touchesPixelToFill(int32_t x, int32_t y) {
    const int32_t nx0 = x > 0 ? x - 1 : x, nx1 = x < gridWidth - 1 ? x + 1 : x;
    const int32_t ny0 = y > 0 ? y - 1 : y, ny1 = y < gridHeight - 1 ? y + 1 : y;
    for (int32_t i = nx0; i <= nx1; i++)
        for (int32_t j = ny0; j <= ny1; j++)
            if (fillStates[i][j] == kToFill)
                return true;
    return false;
}

// The window is all known now, so only its border ring can touch pixels to fill: those ring
// pixels become front pixels again and enter the queue. Throws std::bad_alloc.
void remarkRing(int32_t x0, int32_t y0, const WindowExtents& e) {
    for (int32_t x = x0 - e.left; x <= x0 + e.right; x++)
        for (int32_t y = y0 - e.up; y <= y0 + e.down; y++) {
            const bool ring =
                x == x0 - e.left || x == x0 + e.right || y == y0 - e.up || y == y0 + e.down;
            if (ring && touchesPixelToFill(x, y)) {
                fillStates[x][y] = kFront;
                frontQueue->insert(computePriority(x, y));
            }
        }
}

// The worker that searches ahead, joined on every way out of the loop.
struct SearchAheadRun {
    SearchAheadRun(int32_t d, int32_t searched) { startSearchAhead(d, searched); }
    ~SearchAheadRun() { stopSearchAhead(); }
    SearchAheadRun(const SearchAheadRun&) = delete;
    SearchAheadRun& operator=(const SearchAheadRun&) = delete;
};

// Queue entries looked at for searching ahead: the top and its two children, the likeliest
// next targets.
constexpr int32_t kAheadEntries = 3;

// Before the step at (x0, y0) writes its window: jobs of windows it meets are dropped, and the
// likeliest next targets are searched ahead when their windows lie apart from this one (the
// step then leaves their queries as they are now).
void searchNextAhead(int32_t x0, int32_t y0, const WindowExtents& e) {
    dropSearchAhead(x0, y0, e);
    for (int32_t i = 0; i < std::min(kAheadEntries, frontQueue->size()); i++) {
        const TrelHeapNode* next = frontQueue->entryAt(i);
        const WindowExtents n = clipWindow(next->x, next->y);
        const bool apart = next->x + n.right < x0 - e.left || x0 + e.right < next->x - n.left ||
                           next->y + n.down < y0 - e.up || y0 + e.down < next->y - n.up;
        if (apart)
            requestSearchAhead(next->x, next->y);
    }
}

// The k nearest source windows of the query, from a search made ahead when there is one for
// exactly this query, else from the index: in two parts when the worker is idle.
void searchSources(int32_t x0, int32_t y0, SearchObjects& search) {
    if (takeSearchAhead(x0, y0, search.query, search.indices.get()))
        return;
    if (searchInParts(search.query, search.indices.get()))
        return;
    sourceIndex->annkSearch(search.query, search.searched, search.indices.get(),
                            search.distances.get(), 0.0);
}

} // namespace

WindowExtents clipWindow(int32_t x0, int32_t y0) {
    const int32_t r = engineRadius;
    return WindowExtents{x0 < r ? x0 : r, x0 > gridWidth - r - 1 ? gridWidth - 1 - x0 : r,
                         y0 < r ? y0 : r, y0 > gridHeight - r - 1 ? gridHeight - 1 - y0 : r};
}

BestSource rerankCandidates(int32_t x0, int32_t y0, const WindowExtents& e, const int32_t* indices,
                            int32_t count) {
    KnownTarget target;
    gatherKnownTarget(x0, y0, e, target);
    BestSource best;
    int64_t bestSum = 0;
    for (int32_t i = 0; i < count; i++) {
        const SourceCandidate& c = sourceCandidates[indices[i]];
        // A candidate whose difference exceeds the best one's can neither win nor tie, so its
        // sum stops there; the first candidate is always taken whole.
        const int64_t limit =
            best.squaredDistance == -1 ? std::numeric_limits<int64_t>::max() : bestSum;
        const int64_t sum = boundedDifference(target, c.x, c.y, limit);
        if (sum > limit)
            continue;
        // 64 bits: beyond about 46,000 pixels apart the square overflows 32 bits.
        const int64_t dx = c.x - x0, dy = c.y - y0;
        const int64_t distance = dx * dx + dy * dy;
        // The sum is the difference exactly (see boundedDifference), so sums are compared.
        if (sum < bestSum || best.squaredDistance == -1) {
            best = BestSource{c.x, c.y, static_cast<double>(sum), distance};
            bestSum = sum;
        } else if (sum == bestSum && distance < best.squaredDistance) {
            best.x = c.x;
            best.y = c.y;
            best.squaredDistance = distance;
        }
    }
    return best;
}

void runFillLoop(int32_t d) {
    SearchObjects search;
    setUpSearch(search, d);
    const int32_t initialFront = queueInitialFront();
    if (traceSetupHook != nullptr)
        traceSetupHook(
            FillSetupTrace{engineRadius, d, search.k, sourceCandidateCount, initialFront},
            traceHookContext);

    const SearchAheadRun ahead(d, search.searched);
    std::vector<int32_t> estimates;
    for (int32_t step = 0; !frontQueue->isEmpty(); step++) {
        const TrelHeapNode* node = frontQueue->popHighest();
        const int32_t x0 = node->x, y0 = node->y;
        const double priority = node->priority;
        const WindowExtents e = clipWindow(x0, y0);
        searchNextAhead(x0, y0, e);
        const double confidence = windowConfidence(x0, y0, e);
        estimates.clear();
        estimateAndDescribe(x0, y0, e, d, search.query,
                            traceStepHook != nullptr ? &estimates : nullptr);
        searchSources(x0, y0, search);
        // searched >= 1 (the entry does not run the loop without candidates), so a best source
        // always exists.
        const BestSource best = rerankCandidates(x0, y0, e, search.indices.get(), search.searched);
        const int32_t copied = copyFromSource(x0, y0, e, best, confidence);
        repositionNearbyFront(x0, y0, e);
        remarkRing(x0, y0, e);

        if (traceStepHook != nullptr)
            traceStepHook(FillStepTrace{step,
                                        x0,
                                        y0,
                                        priority,
                                        e.left,
                                        e.right,
                                        e.up,
                                        e.down,
                                        confidence,
                                        static_cast<int32_t>(estimates.size()),
                                        estimates.data(),
                                        d,
                                        search.query,
                                        search.searched,
                                        search.indices.get(),
                                        best.x,
                                        best.y,
                                        best.difference,
                                        best.squaredDistance,
                                        copied},
                          traceHookContext);
    }
}

} // namespace mendora
