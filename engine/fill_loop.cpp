// Fill loop.
// In: the marked grids, the candidate list and its kd-tree. Out: every pixel to fill copied
// from the best of the k nearest source windows, in priority order, into the output buffer.
#include <ANN/ANN.h>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

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
    // Every front pixel lies in the front's reach, so the queue starts with room for its
    // pixels (it grows when more ever join at once) and the scan stays inside it.
    const int32_t reachPixels =
        (frontReach.right - frontReach.left) * (frontReach.bottom - frontReach.top);
    frontQueue = new TrelHeap(reachPixels, false);
    int32_t initialFront = 0;
    for (int32_t x = frontReach.left; x < frontReach.right; x++)
        for (int32_t y = frontReach.top; y < frontReach.bottom; y++)
            if (fillStates[x][y] == kFront) {
                frontQueue->insert(computePriority(x, y));
                initialFront++;
            }
    return initialFront;
}

// Estimates L at the window's unknown pixels on a copy of the window (into `estimates` too when
// given) and writes the target descriptor into `query`. Throws std::bad_alloc.
void estimateAndDescribe(int32_t x0, int32_t y0, int32_t d, double* query, WindowSnapshot& window,
                         std::vector<int32_t>* estimates) {
    takeSnapshot(x0, y0, window);
    estimateSnapshot(window, estimates);
    describeSnapshot(window, d, query);
}

// The known pixels of a target window, gathered once a step instead of once a candidate:
// column by column (x outer) the window's rows, padded to a multiple of four, as four 16-bit
// lanes a pixel (L, a, b, 0) with a lane mask (all ones in the L, a and b lanes of a known
// pixel, zero elsewhere: pixels to fill, the grey lane, the padding). Columns without a known
// pixel are left out: they add nothing.
struct KnownTarget {
    int32_t up = 0;             // rows above the centre
    int32_t stride = 0;         // rows a column, padded
    std::vector<int32_t> dx;    // column offsets from the centre of the columns kept
    std::vector<int16_t> lanes; // 4 * stride a column kept
    std::vector<int16_t> masks; // the same
};

constexpr int32_t kLanesPerPixel = 4;

void gatherKnownTarget(int32_t x0, int32_t y0, const WindowExtents& e, KnownTarget& target) {
    const int32_t rows = e.up + e.down + 1;
    target.up = e.up;
    target.stride = (rows + 3) / 4 * 4;
    const size_t columnLanes = static_cast<size_t>(kLanesPerPixel * target.stride);
    for (int32_t x = x0 - e.left; x <= x0 + e.right; x++) {
        const char* states = fillStates[x] + (y0 - e.up);
        if (std::all_of(states, states + rows, [](char state) { return state == kToFill; }))
            continue;
        target.dx.push_back(x - x0);
        const size_t at = target.lanes.size();
        target.lanes.resize(at + columnLanes, 0);
        target.masks.resize(at + columnLanes, 0);
        for (int32_t j = 0; j < rows; j++) {
            if (states[j] == kToFill)
                continue;
            const int32_t y = y0 - e.up + j;
            const size_t lane = at + static_cast<size_t>(kLanesPerPixel * j);
            target.lanes[lane] = static_cast<int16_t>(lightness(x, y));
            target.lanes[lane + 1] = static_cast<int16_t>(colourA(x, y));
            target.lanes[lane + 2] = static_cast<int16_t>(colourB(x, y));
            target.masks[lane] = target.masks[lane + 1] = target.masks[lane + 2] = -1;
        }
    }
}

// Sum of squared CIELAB differences between the target lanes and the `stride` source words
// from `source` (which may be read `stride` words far: the grid's columns are padded).
// Integers: a pixel adds less than 2^18, a column (at most 43 rows) less than 2^24, so any
// order of summing gives the same value.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
int32_t columnDifference(const int16_t* lanes, const int16_t* masks, const LabWord* source,
                         int32_t stride) {
    __m128i sums = _mm_setzero_si128();
    for (int32_t i = 0; i < stride; i += 4) {
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        // Each byte sign-extended into a 16-bit lane (L, at most 100, reads the same).
        const __m128i low = _mm_srai_epi16(_mm_unpacklo_epi8(words, words), 8);
        const __m128i high = _mm_srai_epi16(_mm_unpackhi_epi8(words, words), 8);
        const __m128i* t = reinterpret_cast<const __m128i*>(lanes + kLanesPerPixel * i);
        const __m128i* m = reinterpret_cast<const __m128i*>(masks + kLanesPerPixel * i);
        const __m128i dLow =
            _mm_and_si128(_mm_sub_epi16(_mm_loadu_si128(t), low), _mm_loadu_si128(m));
        const __m128i dHigh =
            _mm_and_si128(_mm_sub_epi16(_mm_loadu_si128(t + 1), high), _mm_loadu_si128(m + 1));
        sums = _mm_add_epi32(sums, _mm_madd_epi16(dLow, dLow));
        sums = _mm_add_epi32(sums, _mm_madd_epi16(dHigh, dHigh));
    }
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
    sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
    return _mm_cvtsi128_si32(sums);
}
#else
int32_t columnDifference(const int16_t* lanes, const int16_t* masks, const LabWord* source,
                         int32_t stride) {
    int32_t sum = 0;
    for (int32_t i = 0; i < kLanesPerPixel * stride; i++) {
        const LabWord word = source[i / kLanesPerPixel];
        const int32_t value = static_cast<int8_t>(word >> (8 * (i % kLanesPerPixel)) & 0xFF);
        const int32_t difference = (lanes[i] - value) & masks[i];
        sum += difference * difference;
    }
    return sum;
}
#endif

// Sum of squared CIELAB differences between the known target pixels and the source window
// centred at (cx, cy), column by column. Once a column ends with the sum above `limit` that
// partial sum is returned: the terms are not negative, so the whole sum is above too. A window
// (at most 43 x 43 pixels, the largest radius run) adds less than 2^29; summed in double every
// term and partial sum would be exact, so the value equals that double sum.
int64_t boundedDifference(const KnownTarget& target, int32_t cx, int32_t cy, int64_t limit) {
    int64_t sum = 0;
    const size_t columnLanes = static_cast<size_t>(kLanesPerPixel * target.stride);
    for (size_t c = 0; c < target.dx.size(); c++) {
        const LabWord* source = labWords[cx + target.dx[c]] + (cy - target.up);
        sum += columnDifference(&target.lanes[c * columnLanes], &target.masks[c * columnLanes],
                                source, target.stride);
        if (sum > limit)
            return sum;
    }
    return sum;
}

// Candidates whose source columns are fetched ahead of their sums.
constexpr int32_t kPrefetchAhead = 4;

// Asks the cache for the words the target's columns read at candidate `c` (a hint only).
void prefetchSource(const KnownTarget& target, SourceCandidate c) {
#if defined(__GNUC__)
    for (const int32_t dx : target.dx)
        __builtin_prefetch(labWords[c.x + dx] + (c.y - target.up));
#else
    (void)target;
    (void)c;
#endif
}

// Copies the missing pixels of the window from the source window centred at `best`; front
// pixels inside the window stop being front pixels and leave the queue, their nodes released. Every
// copied pixel gets `confidence`. Returns the number of pixels copied.
int32_t copyFromSource(int32_t x0, int32_t y0, const WindowExtents& e, const BestSource& best,
                       double confidence) {
    int32_t copied = 0;
    fillStates[x0][y0] = kKnown;
    for (int32_t x = x0 - e.left; x <= x0 + e.right; x++)
        for (int32_t y = y0 - e.up; y <= y0 + e.down; y++) {
            char& state = fillStates[x][y];
            if (state == kToFill) {
                const int32_t sx = x - x0 + best.x, sy = y - y0 + best.y;
                writePixel(x, y, readPixel(sx, sy));
                state = kKnown;
                confidenceAt(x, y) = confidence;
                // The source pixel's colour, so its word too (known pixels keep the words of
                // their colours).
                labWords[x][y] = labWords[sx][sy];
                copied++;
            } else if (state == kFront) {
                state = kKnown;
                // A pixel that joins the front again gets a new node: nodes are held for the
                // front of the moment only.
                TrelHeapNode*& node = nodeAt(x, y);
                frontQueue->remove(node);
                delete node;
                node = nullptr;
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

// The loop's own searches split over a crew of threads while the loop runs; joined on every
// way out.
struct SplitSearchRun {
    explicit SplitSearchRun(int32_t k) { startSplitSearches(k); }
    ~SplitSearchRun() { stopSplitSearches(); }
    SplitSearchRun(const SplitSearchRun&) = delete;
    SplitSearchRun& operator=(const SplitSearchRun&) = delete;
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
// exactly this query, else from the index.
void searchSources(int32_t x0, int32_t y0, SearchObjects& search) {
    if (takeSearchAhead(x0, y0, search.query, search.indices.get()))
        return;
    sourceIndex->annkSearch(search.query, search.searched, search.indices.get(),
                            search.distances.get(), 0.0);
}

} // namespace

BestSource rerankCandidates(int32_t x0, int32_t y0, const WindowExtents& e, const int32_t* indices,
                            int32_t count) {
    KnownTarget target;
    gatherKnownTarget(x0, y0, e, target);
    std::vector<SourceCandidate> centres(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; i++)
        centres[static_cast<size_t>(i)] = sourceCandidate(indices[i]);
    BestSource best;
    int64_t bestSum = 0;
    for (int32_t i = 0; i < count; i++) {
        // The candidates lie anywhere in the image: the source columns of one a few ahead are
        // asked for while this one is summed.
        if (i + kPrefetchAhead < count)
            prefetchSource(target, centres[static_cast<size_t>(i + kPrefetchAhead)]);
        const SourceCandidate c = centres[static_cast<size_t>(i)];
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

bool runFillLoop(int32_t d, int64_t regionPixels) {
    SearchObjects search;
    setUpSearch(search, d);
    const int32_t initialFront = queueInitialFront();
    if (traceSetupHook != nullptr)
        traceSetupHook(
            FillSetupTrace{engineRadius, d, search.k, sourceCandidateCount, initialFront},
            traceHookContext);

    const SearchAheadRun ahead(d, search.searched);
    const SplitSearchRun split(search.searched);
    int64_t filled = 0;
    observeProgress(FillStage::filling, filled, regionPixels);
    std::vector<int32_t> estimates;
    WindowSnapshot window;
    for (int32_t step = 0; !frontQueue->isEmpty(); step++) {
        const TrelHeapNode* node = frontQueue->popHighest();
        const int32_t x0 = node->x, y0 = node->y;
        const double priority = node->priority;
        // The pixel leaves the front with this step (see copyFromSource).
        delete node;
        nodeAt(x0, y0) = nullptr;
        const WindowExtents e = clipWindow(x0, y0);
        searchNextAhead(x0, y0, e);
        const double confidence = windowConfidence(x0, y0, e);
        estimates.clear();
        estimateAndDescribe(x0, y0, d, search.query, window,
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
        filled += copied;
        observeProgress(FillStage::filling, filled, regionPixels);
        if (fillStopRequested())
            return false;
    }
    return true;
}

} // namespace mendora
